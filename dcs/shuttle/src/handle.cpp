#include "dcs/shuttle/src/handle.hpp"

#include <utility>

#include <boost/asio/ip/address_v4.hpp>

#include "core/base/src/time.hpp"
#include "dcs/protocol/src/shuttle.hpp"

namespace shuttle {

namespace asio = boost::asio;
namespace kit = net::kit;
using udp = asio::ip::udp;

bool ShuttleCommands::status_changed() {
  if (!sender_) return false;
  return sender_->try_send(false).has_value();
}

std::expected<ShuttleHandle, net::BindError> ShuttleHandle::start(const asio::any_io_executor& executor,
                                                                  std::uint16_t listen_port,
                                                                  std::uint16_t collector_port,
                                                                  std::string bridge_version,
                                                                  std::shared_ptr<StatusSource> status,
                                                                  std::shared_ptr<RepairOpener> repair,
                                                                  net::PageServer page_server,
                                                                  net::PageEventQueue::Receiver page_events) {
  auto socket = run_loop::open_socket(executor, listen_port);
  if (!socket) return std::unexpected(net::BindError::from(net::Protocol::Udp, listen_port, socket.error()));

  auto [sender, receiver] = CommandChannel::make(executor, kCommandChannelSize);
  RunLoop loop(RunLoop::Parts{
      .core = protocol::ShuttleCore(base::Clock::now()),
      .socket = std::move(*socket),
      .collector = udp::endpoint(asio::ip::address_v4::loopback(), collector_port),
      .commands = std::move(receiver),
      .page_events = std::move(page_events),
      .bridge_version = std::move(bridge_version),
      .status = std::move(status),
      .repair = std::move(repair),
      .page_server = std::move(page_server),
  });
  const std::uint16_t bound = loop.local_port();
  kit::Task task = kit::Task::spawn(executor, run_loop::run(std::move(loop)));
  return ShuttleHandle(std::move(sender), std::move(task), bound);
}

ShuttleCommands ShuttleHandle::commands() const {
  if (!commands_) return ShuttleCommands(std::nullopt);
  return ShuttleCommands(*commands_);
}

asio::awaitable<kit::TaskEnd> ShuttleHandle::ended() {
  kit::Task task = task_;
  co_return co_await task.join();
}

asio::awaitable<kit::TaskEnd> ShuttleHandle::stop() && {
  std::optional<CommandChannel::Sender> commands = std::move(commands_);
  commands_.reset();
  kit::Task task = std::move(task_);
  task_ = kit::Task();
  if (commands) {
    // A link that has ended already gives the stop back; its end is there to be read all the same.
    auto sent = co_await commands->send(true);
    (void)sent;
    commands.reset();
  }
  co_return co_await task.join();
}

namespace handle {

std::string describe_end(const kit::TaskEnd& end) {
  switch (end.how) {
    case kit::TaskEnd::How::Finished: return "the shuttle stopped on its own";
    case kit::TaskEnd::How::Cancelled: return "the shuttle's task ended: " + end.text();
    case kit::TaskEnd::How::Failed: return "the shuttle panicked: " + end.text();
  }
  return "the shuttle panicked: " + end.text();
}

}  // namespace handle
}  // namespace shuttle
