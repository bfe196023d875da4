// Windows fails a receive on a UDP socket after one of its datagrams found no listener. A Linux
// socket that is asked for ICMP errors (IP_RECVERR) does the same, which lets the link's real
// receive path be driven here into those errors: while DCS is not running they come with every
// poll, and must neither fill the log nor stop the link.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include "core/base/tests/log_capture.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "dcs/shuttle/src/run_loop.hpp"
#include "dcs/shuttle/tests/fakes.hpp"

namespace {

using namespace shuttle;
using namespace shuttle::testing;
using namespace net::testing;

TEST(ResetErrors, AreNotLoggedAndTheLinkGoesOn) {
  base::testing::LogCapture log;
  Runtime rt;
  auto status = std::make_shared<RecordingStatus>();

  std::uint16_t closed_port = 0;
  {
    udp::socket gone(rt.executor(), udp::endpoint(asio::ip::address_v4::loopback(), 0));
    closed_port = gone.local_endpoint().port();
  }
  auto socket = run_loop::open_socket(rt.executor(), 0);
  ASSERT_TRUE(socket);
  const int on = 1;
  ASSERT_EQ(::setsockopt(socket->native_handle(), IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
  const std::uint16_t link_port = socket->local_endpoint().port();

  auto [commands, command_receiver] = CommandChannel::make(rt.executor(), kCommandChannelSize);
  auto [events, event_receiver] = net::PageEventQueue::make(rt.executor(), net::kPageEventQueueSize);
  RunLoop loop(RunLoop::Parts{
      .core = protocol::ShuttleCore(base::Clock::now()),
      .socket = std::move(*socket),
      .collector = udp::endpoint(asio::ip::address_v4::loopback(), closed_port),
      .commands = std::move(command_receiver),
      .page_events = std::move(event_receiver),
      .bridge_version = "0.5.0",
      .status = status,
      .repair = std::make_shared<CountingRepair>(),
      .page_server = std::nullopt,
  });
  net::kit::Task task = net::kit::Task::spawn(rt.executor(), run_loop::run(std::move(loop)));

  rt.run([&]() -> asio::awaitable<void> {
    // Several polls are refused; then a packet still comes through.
    co_await sleep(1500ms);
    udp::socket other(co_await asio::this_coro::executor, udp::endpoint(asio::ip::address_v4::loopback(), 0));
    const std::string packet = R"({"late":true})";
    other.send_to(asio::buffer(packet), udp::endpoint(asio::ip::address_v4::loopback(), link_port));
    const std::function<bool()> heard = [&] { return log.contains("collector packets are arriving"); };
    const bool arrived = co_await eventually(heard);
    EXPECT_TRUE(arrived);
    auto stop = co_await commands.send(true);
    EXPECT_TRUE(stop.has_value());
    const net::kit::TaskEnd end = co_await task.join();
    EXPECT_EQ(end.how, net::kit::TaskEnd::How::Finished);
  });
  for (const auto& entry : log.entries()) {
    EXPECT_FALSE(entry.message.starts_with("receiving from the collector failed")) << entry.message;
    EXPECT_FALSE(entry.message.starts_with("sending to the collector failed")) << entry.message;
  }
  EXPECT_TRUE(log.contains("stopping"));
}

}  // namespace
