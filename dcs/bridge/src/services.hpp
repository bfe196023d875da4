#pragma once

// The bridge's network services, started the same way by both modes: the page server and the
// collector link, joined by the page-event queue.

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "core/net/src/bind_error.hpp"
#include "core/net/src/page_server.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/shuttle/src/handle.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace run {

// The page server's settings for `config`: the bridge's path and page limits, the page port and
// the allowed Origins.
net::PageServerConfig page_server_config(const bridge::BridgeConfig& config);

// Binds the page listener (TCP, 127.0.0.1 at the page port) and then the collector link's socket
// (UDP, 127.0.0.1 at the listen port), and spawns the accept loop and the link on the runtime this
// is awaited on, which then runs them. The link owns the page server and stops it when it stops.
// On a bind failure nothing is left running (a page server already started is released) and the
// error names the protocol and port; it is not logged here. The page listener is bound first, so
// with both ports taken the TCP error is the one returned.
boost::asio::awaitable<std::expected<shuttle::ShuttleHandle, net::BindError>> start_services(
    bridge::BridgeConfig config, std::shared_ptr<shuttle::StatusSource> status,
    std::shared_ptr<shuttle::RepairOpener> repair);

// Stops the link (the stop command, then the wait for its task, with no time-out of its own) and
// says how that went: nothing after a clean end, else the end text ("the shuttle's task ended: {}"
// or "the shuttle panicked: {}").
boost::asio::awaitable<std::optional<std::string>> stop_link(shuttle::ShuttleHandle link);

}  // namespace run
