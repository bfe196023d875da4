#pragma once

// The collector link task: the one task that owns the UDP socket to the collector, the relay state
// machine, the links to every open page and the page server. A loop for each of its inputs (its
// deadline, its command channel, the page events, the socket) feeds the state machine and carries
// out what comes back.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

#include "core/base/src/time.hpp"
#include "core/net/src/kit/channel.hpp"
#include "core/net/src/page_event.hpp"
#include "core/net/src/page_server.hpp"
#include "dcs/protocol/src/shuttle.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace shuttle {

// One boolean per command: false, the install status or the simulator state changed; true, stop.
// Other threads send into it; a channel without senders stops the link as well.
using CommandChannel = net::kit::Channel<bool>;
inline constexpr std::size_t kCommandChannelSize = 8;

// The largest UDP payload over IPv4.
inline constexpr std::size_t kReceiveBufferSize = 65507;

// The link's end of one open page's channels. Dropping it closes both, which the page task takes as
// "the bridge closed it".
struct PageLink {
  net::PageQueue::Sender queue;
  net::LatestCell::Writer latest;
  bool behind_warned = false;  // the one "is behind" warning of this page was written
};

class RunLoop;

namespace run_loop {
boost::asio::awaitable<void> run(RunLoop loop);
boost::asio::awaitable<void> shut_down(RunLoop& loop);
}  // namespace run_loop

// The state of the collector link task. Dropping it releases every held press (finish), also when
// the task is cancelled. When its runtime goes before a stop, the presses are released as the
// runtime shuts down, which destroys the task's frames as well.
class RunLoop {
 public:
  struct State;  // the link's state, kept apart so that a RunLoop moves without its contents moving

  struct Parts {
    protocol::ShuttleCore core;
    boost::asio::ip::udp::socket socket;        // bound, non-blocking (run_loop::open_socket)
    boost::asio::ip::udp::endpoint collector;   // every datagram goes there
    CommandChannel::Receiver commands;
    net::PageEventQueue::Receiver page_events;
    std::string bridge_version;
    std::shared_ptr<StatusSource> status;
    std::shared_ptr<RepairOpener> repair;
    std::optional<net::PageServer> page_server;
  };

  explicit RunLoop(Parts parts);
  RunLoop(RunLoop&&) noexcept;
  RunLoop& operator=(RunLoop&&) = delete;
  ~RunLoop();

  // One input each, at `now`. The main loop follows every input with after_input.
  void page_event(net::PageEvent event, base::Instant now);
  void datagram(std::string_view bytes, base::Instant now);
  void receive_failed(const boost::system::error_code& error);
  void status_changed(base::Instant now);
  // The timer step that follows every input, then the collector's quiet flag to the status source
  // when it changed.
  void after_input(base::Instant now);

  // Carries out one handle() call's actions in order.
  void perform(const protocol::ShuttleActions& actions);
  // One datagram to the collector, without waiting; one warning per run of failures.
  void send_to_collector(std::string_view bytes);
  // Onto the page's queue without waiting; dropped when the page is unknown, gone or behind.
  void send_to_page(protocol::PageId page, net::SharedText text);
  // Forgets the page's link, if any, and then tells the status source once.
  void remove_page(protocol::PageId page);
  // Releases every held press: only the collector sends and the log lines of the stop are carried
  // out. A second call finds nothing to release.
  void finish();

  const protocol::ShuttleCore& core() const;
  bool has_link(protocol::PageId page) const;
  std::size_t link_count() const;
  std::uint16_t local_port() const;

 private:
  friend boost::asio::awaitable<void> run_loop::run(RunLoop loop);
  friend boost::asio::awaitable<void> run_loop::shut_down(RunLoop& loop);

  // The loops over the inputs until a stop command or a closed command channel.
  boost::asio::awaitable<void> serve();
  boost::asio::awaitable<void> command_loop();
  boost::asio::awaitable<void> page_event_loop();
  boost::asio::awaitable<void> datagram_loop();
  boost::asio::awaitable<void> deadline_loop();
  void page_connected(net::PageEvent::Connected connected, base::Instant now);
  void send_hello(protocol::PageId page, bool collector_quiet);
  void send_latest(protocol::PageId page, net::SharedText text);

  std::unique_ptr<State> state_;
};

namespace run_loop {

// The link's socket: UDP on 127.0.0.1 at `port` (0: any free port), non-blocking, and on Windows
// told not to fail receives after a datagram to a closed port was refused.
std::expected<boost::asio::ip::udp::socket, boost::system::error_code> open_socket(
    const boost::asio::any_io_executor& executor, std::uint16_t port);

// The collector link task: serves until stopped, then takes the stop path.
boost::asio::awaitable<void> run(RunLoop loop);

// The stop path: logs "stopping", releases every held press, drops the page links and tells the
// status source of each, then stops the page server and waits for it.
boost::asio::awaitable<void> shut_down(RunLoop& loop);

// Receive errors that only say an earlier datagram found no listener; Windows reports them on a
// later receive of the same socket. They are not worth a word.
bool is_reset_error(const boost::system::error_code& error);

}  // namespace run_loop
}  // namespace shuttle
