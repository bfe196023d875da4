#pragma once

// The start-up's handle on the collector link task: starts it, carries the two commands that the
// rest of the program gives it (the status changed; stop), stops it and tells how it ended.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include "core/net/src/bind_error.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/src/page_event.hpp"
#include "core/net/src/page_server.hpp"
#include "dcs/shuttle/src/run_loop.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace shuttle {

// A sending end of the link's command channel, for the status-changed notice. Copies may be sent to
// and used on any thread, also after the link's runtime (its io_context) is gone: they find the
// link ended then.
class ShuttleCommands {
 public:
  explicit ShuttleCommands(std::optional<CommandChannel::Sender> sender) : sender_(std::move(sender)) {}

  // Tells the link that the install status or the simulator state changed, without waiting. False
  // when the notice was dropped because 8 commands are still pending or the link has ended; that
  // loses nothing, since one pending notice makes the link send fresh hellos anyway.
  bool status_changed();

 private:
  std::optional<CommandChannel::Sender> sender_;
};

class ShuttleHandle {
 public:
  // Binds the link's UDP socket on 127.0.0.1 at `listen_port` (0: any free port), builds the relay
  // state machine and the link, and spawns it on `executor`, whose runtime then runs it. Every
  // datagram goes to 127.0.0.1 at `collector_port`. Called after the page server has started; the
  // link owns it from here on. When the socket cannot be opened, everything handed in is dropped
  // (which stops the page server) and the BindError names UDP and `listen_port`.
  static std::expected<ShuttleHandle, net::BindError> start(const boost::asio::any_io_executor& executor,
                                                            std::uint16_t listen_port, std::uint16_t collector_port,
                                                            std::string bridge_version,
                                                            std::shared_ptr<StatusSource> status,
                                                            std::shared_ptr<RepairOpener> repair,
                                                            net::PageServer page_server,
                                                            net::PageEventQueue::Receiver page_events);

  ShuttleHandle(ShuttleHandle&&) noexcept = default;
  ShuttleHandle& operator=(ShuttleHandle&&) noexcept = default;

  // A sender for the simulator monitor's change callback.
  ShuttleCommands commands() const;

  // The port the link's socket is bound to.
  std::uint16_t listen_port() const { return listen_port_; }

  // The end of the link's task, once it has come (waits; does not stop the link).
  boost::asio::awaitable<net::kit::TaskEnd> ended();

  // Queues the stop command (waiting for room; a link that has ended already is no error) and
  // returns the end of the task, with no time-out of its own. A clean end means that the held
  // presses were released, the page links dropped and the page server stopped. Runtime thread only.
  // The handle is spent afterwards.
  boost::asio::awaitable<net::kit::TaskEnd> stop() &&;

  // Dropping the handle without stop() closes its sending end; once every ShuttleCommands is gone
  // too, the link stops as if told to. The task is not cancelled.

 private:
  ShuttleHandle(CommandChannel::Sender commands, net::kit::Task task, std::uint16_t listen_port)
      : commands_(std::move(commands)), task_(std::move(task)), listen_port_(listen_port) {}

  std::optional<CommandChannel::Sender> commands_;
  net::kit::Task task_;
  std::uint16_t listen_port_ = 0;
};

namespace handle {

// How the link's task ended, in words: "the shuttle stopped on its own", "the shuttle's task ended:
// {}" (cancelled) or "the shuttle panicked: {}" (failed; "no message" when the fault had none).
std::string describe_end(const net::kit::TaskEnd& end);

}  // namespace handle
}  // namespace shuttle
