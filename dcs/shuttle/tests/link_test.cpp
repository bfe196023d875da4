// The running collector link with the real page server: pages over WebSocket on loopback, a fake
// collector over UDP on loopback, free ports everywhere. Timing is checked only loosely: counts over
// a window with wide bounds, and lower bounds that the link cannot beat.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core/base/tests/log_capture.hpp"
#include "core/net/tests/bridge.hpp"
#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"
#include "core/net/tests/watchdog.hpp"
#include "dcs/shuttle/src/handle.hpp"
#include "dcs/shuttle/tests/fakes.hpp"

namespace {

using namespace shuttle;
using namespace shuttle::testing;
using namespace net::testing;
using net::kit::TaskEnd;
using tcp = asio::ip::tcp;

std::string hello(bool quiet) {
  return std::string(R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":"installed",)") +
         R"("installedCollectorVersion":8,"isCollectorQuiet":)" + (quiet ? "true" : "false") +
         R"(,"isSimulatorRunning":true}})";
}

std::string press(int device, int command) {
  return R"({"type":"writes","sim":"dcs","writes":[{"channel":"clickable","device":")" + std::to_string(device) +
         R"(","address":")" + std::to_string(command) + R"(","value":1,"releaseValue":0}]})";
}

bool is_write(const std::string& datagram) { return datagram.starts_with("clickable "); }

// The next text frame that is not a hello.
asio::awaitable<std::optional<std::string>> next_data(RawClient& page) {
  for (;;) {
    auto text = co_await page.read_text();
    if (!text || !text->starts_with(R"({"type":"hello")")) co_return text;
  }
}

// The frames until the page's Close: the texts among them.
asio::awaitable<std::vector<std::string>> texts_until_close(RawClient& page) {
  std::vector<std::string> texts;
  for (;;) {
    auto frame = co_await page.read_frame();
    if (!frame || frame->opcode == op_close) co_return texts;
    if (frame->opcode == op_text) texts.push_back(frame->payload);
  }
}

asio::awaitable<bool> connectable(std::uint16_t port) {
  const auto executor = co_await asio::this_coro::executor;
  tcp::socket socket(executor);
  auto [ec] = co_await socket.async_connect(tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                            asio::as_tuple(asio::use_awaitable));
  co_return !ec;
}

asio::awaitable<bool> closes_soon(std::uint16_t port) {
  const auto end = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < end) {
    const bool open = co_await connectable(port);
    if (!open) co_return true;
    co_await sleep(20ms);
  }
  co_return false;
}

class LinkTest : public ::testing::Test {
 protected:
  base::testing::LogCapture log;
  Runtime rt;
  FakeCollector collector{rt.executor()};
  std::shared_ptr<RecordingStatus> status = std::make_shared<RecordingStatus>();
  std::shared_ptr<CountingRepair> repair = std::make_shared<CountingRepair>();
  std::uint16_t page_port = 0;

  void TearDown() override {
    if (!HasFailure()) return;
    std::string lines;
    for (const auto& line : log.lines()) lines += line;
    ADD_FAILURE() << "log lines:\n" << lines;
  }

  // The page server and the link on the test's runtime, as the service start-up makes them.
  std::expected<ShuttleHandle, net::BindError> try_start(const asio::any_io_executor& executor,
                                                         std::uint16_t listen_port, std::uint16_t collector_port) {
    auto [events, receiver] = net::PageEventQueue::make(executor, net::kPageEventQueueSize);
    auto server = net::page_server::start(executor, test_config(), std::move(events));
    if (!server) {
      ADD_FAILURE() << "the page server did not start: " << server.error().text();
      return std::unexpected(server.error());
    }
    page_port = server->port();
    return ShuttleHandle::start(executor, listen_port, collector_port, "0.5.0", status, repair, std::move(*server),
                                std::move(receiver));
  }

  std::optional<ShuttleHandle> start() {
    auto handle = try_start(rt.executor(), 0, collector.port());
    if (!handle) {
      ADD_FAILURE() << "the link did not start: " << handle.error().text();
      return std::nullopt;
    }
    return std::move(*handle);
  }

  bool logged_before(const std::string& first, const std::string& second) {
    const auto messages = log.messages();
    const auto a = std::find(messages.begin(), messages.end(), first);
    const auto b = std::find(messages.begin(), messages.end(), second);
    return a != messages.end() && b != messages.end() && a < b;
  }

  // g++ 12 destroys a temporary of a co_await expression twice, so conditions are passed as locals.
  asio::awaitable<bool> logged_soon(std::string message) {
    const std::function<bool()> seen = [this, message] { return log.contains(message); };
    const bool found = co_await eventually(seen);
    co_return found;
  }

  static asio::awaitable<bool> soon(const std::function<bool()>& condition) {
    const bool held = co_await eventually(condition);
    co_return held;
  }
};

TEST_F(LinkTest, RelaysBetweenAPageAndTheCollector) {
  auto handle = start();
  ASSERT_TRUE(handle);
  rt.run([&]() -> asio::awaitable<void> {
    // The read line goes out at once and every 200 ms, also with no page open.
    CO_ASSERT_EQ(co_await collector.receive(), std::optional<std::string>("read loget:LoGetSelfData.Name"));
    const auto reads = co_await collector.receive_during(2s);
    for (const auto& datagram : reads) EXPECT_EQ(datagram, "read loget:LoGetSelfData.Name");
    EXPECT_GE(reads.size(), 5u);
    EXPECT_LE(reads.size(), 15u);

    // A page opens and gets its hello: the collector counts as quiet.
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    CO_ASSERT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));
    EXPECT_TRUE(log.contains("page 1 connected"));

    // Its subscribe becomes the read line.
    co_await page.send_frame(op_text, R"({"type":"subscribe","sim":"dcs","keys":["loget:LoGetModelTime","cockpit:25:ARG_1"]})");
    auto line = co_await collector.receive_first([](const std::string& d) { return d != "read loget:LoGetSelfData.Name"; });
    CO_EXPECT_EQ(line, std::optional<std::string>("read loget:LoGetModelTime cockpit:25:ARG_1"));
    EXPECT_TRUE(log.contains("page 1 subscribed to 2 keys"));

    // A packet reaches the page as data, unchanged; the collector is heard.
    collector.send(R"({"t": 1.5})");
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(R"({"type":"data","sim":"dcs","data":{"t": 1.5}})"));
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello(false)));
    const std::function<bool()> heard = [&] { return status->count("quiet false") == 1; };
    CO_EXPECT_TRUE(co_await soon(heard));

    // A second without packets: quiet again.
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));
    const std::function<bool()> quiet = [&] { return status->count("quiet true") == 1; };
    CO_EXPECT_TRUE(co_await soon(quiet));
    EXPECT_TRUE(log.contains("collector is quiet: no packet for 1 second"));

    // The repair window, asked for by the page.
    co_await page.send_frame(op_text, R"({"type":"openRepair"})");
    const std::function<bool()> opened = [&] { return repair->opened == 1; };
    CO_EXPECT_TRUE(co_await soon(opened));

    // A held press is released 2 seconds later.
    const std::string first_press = press(25, 3001);
    co_await page.send_frame(op_text, first_press);
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3001 1"));
    const auto pressed = std::chrono::steady_clock::now();
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3001 0"));
    EXPECT_GE(std::chrono::steady_clock::now() - pressed, 1500ms);
    EXPECT_TRUE(log.contains("released 1 held presses for page 1: the press expired"));

    // A press still held when the link stops is released then, and the page is closed.
    const std::string second_press = press(25, 3002);
    co_await page.send_frame(op_text, second_press);
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3002 1"));
    const TaskEnd end = co_await std::move(*handle).stop();
    EXPECT_EQ(end.how, TaskEnd::How::Finished);
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3002 0"));
    EXPECT_TRUE(logged_before("stopping", "released 1 held presses for page 1: the bridge is stopping"));
    const auto texts = co_await texts_until_close(page);
    EXPECT_TRUE(texts.empty());
    CO_EXPECT_FALSE(co_await connectable(page_port));
  });
  EXPECT_EQ(status->count("page_opened"), 1);
  EXPECT_EQ(status->count("page_closed"), 1);
  EXPECT_FALSE(log.contains("dropping a collector datagram past 2 a poll"));
}

TEST_F(LinkTest, AThirdDatagramInOnePollWaitsForTheNextPoll) {
  auto handle = start();
  ASSERT_TRUE(handle);
  rt.run([&]() -> asio::awaitable<void> {
    CO_ASSERT_TRUE(co_await collector.receive());
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    CO_ASSERT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));

    // Right after a fresh read line, three packets: the link has not run in between.
    collector.drain();
    CO_ASSERT_TRUE(co_await collector.receive());
    for (const char* packet : {R"({"n":1})", R"({"n":2})", R"({"n":3})"}) collector.send(packet);
    CO_EXPECT_EQ(co_await next_data(page), std::optional<std::string>(R"({"type":"data","sim":"dcs","data":{"n":1}})"));
    CO_EXPECT_EQ(co_await next_data(page), std::optional<std::string>(R"({"type":"data","sim":"dcs","data":{"n":2}})"));
    CO_EXPECT_EQ(co_await next_data(page), std::optional<std::string>(R"({"type":"data","sim":"dcs","data":{"n":3}})"));
    // The third was read only after the next read line had gone out, which is waiting here.
    const auto waiting = collector.try_receive();
    CO_EXPECT_TRUE(waiting && is_read_line(*waiting));
    const TaskEnd end = co_await std::move(*handle).stop();
    EXPECT_EQ(end.how, TaskEnd::How::Finished);
  });
  EXPECT_FALSE(log.contains("dropping a collector datagram past 2 a poll"));
}

TEST_F(LinkTest, AListenPortInUseIsRefusedAndThePageListenerClosed) {
  udp::socket taken(rt.executor(), udp::endpoint(asio::ip::address_v4::loopback(), 0));
  const std::uint16_t port = taken.local_endpoint().port();
  auto handle = try_start(rt.executor(), port, collector.port());
  ASSERT_FALSE(handle);
  EXPECT_EQ(handle.error().text(), "UDP port 127.0.0.1:" + std::to_string(port) +
                                       " is already in use. Tolvaro DCS Bridge, or the older Node bridge, is "
                                       "probably already running.");
  EXPECT_EQ(handle.error().protocol, net::Protocol::Udp);
  EXPECT_EQ(handle.error().port, port);
  EXPECT_TRUE(handle.error().in_use);
  rt.run([&]() -> asio::awaitable<void> { CO_EXPECT_TRUE(co_await closes_soon(page_port)); });
  EXPECT_TRUE(status->calls().empty());
}

TEST_F(LinkTest, StatusNoticesQueueUpToEightAndComeFromAnyThread) {
  auto handle = start();
  ASSERT_TRUE(handle);
  rt.run([&]() -> asio::awaitable<void> {
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    CO_ASSERT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));

    // Nine in a row, before the link can take one: eight are queued, the ninth dropped.
    std::vector<bool> queued;
    ShuttleCommands commands = handle->commands();
    for (int i = 0; i < 9; ++i) queued.push_back(commands.status_changed());
    EXPECT_EQ(queued, (std::vector<bool>{true, true, true, true, true, true, true, true, false}));
    for (int i = 0; i < 8; ++i) CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));

    // From the simulator monitor's thread.
    std::thread monitor([commands = handle->commands()]() mutable { EXPECT_TRUE(commands.status_changed()); });
    monitor.join();
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));

    const TaskEnd end = co_await std::move(*handle).stop();
    EXPECT_EQ(end.how, TaskEnd::How::Finished);
    const auto rest = co_await texts_until_close(page);
    EXPECT_TRUE(rest.empty()) << rest.size() << " more texts";
  });
  EXPECT_EQ(status->count("status"), 10);
}

TEST_F(LinkTest, DroppingTheHandleStopsTheLinkLikeAStop) {
  auto handle = start();
  ASSERT_TRUE(handle);
  rt.run([&]() -> asio::awaitable<void> {
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    CO_ASSERT_TRUE(co_await page.read_text());
    const std::string writes = press(25, 3001);
    co_await page.send_frame(op_text, writes);
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3001 1"));

    handle.reset();
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3001 0"));
    const std::string stopping = "stopping";
    CO_EXPECT_TRUE(co_await logged_soon(stopping));
    const auto texts = co_await texts_until_close(page);
    EXPECT_TRUE(texts.empty());
    CO_EXPECT_TRUE(co_await closes_soon(page_port));
  });
  EXPECT_TRUE(logged_before("stopping", "released 1 held presses for page 1: the bridge is stopping"));
  EXPECT_EQ(status->count("page_closed"), 1);
}

TEST_F(LinkTest, StopOnALinkThatFailedGivesItsFault) {
  status->fault = "status source broke";
  auto handle = start();
  ASSERT_TRUE(handle);
  rt.run([&]() -> asio::awaitable<void> {
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    // The page's hello asks the status source, which throws: the link's task fails.
    auto ended = co_await within(patience, handle->ended());
    CO_EXPECT_TRUE(ended.has_value());
    const TaskEnd end = co_await std::move(*handle).stop();
    EXPECT_EQ(end.how, TaskEnd::How::Failed);
    EXPECT_EQ(shuttle::handle::describe_end(end), "the shuttle panicked: status source broke");
    // The page server went with the link.
    CO_EXPECT_TRUE(co_await page.closed_by_server());
  });
}

// A link that never reaches its stop path: cancelled, or its runtime goes away. Either way the
// presses that a page holds are released.
class UnstoppedLinkTest : public LinkTest {
 protected:
  // Opens a page on the link and holds a press; `client` keeps the page's connection.
  static asio::awaitable<void> hold_press(std::uint16_t port, std::optional<RawClient>* client, FakeCollector* collector,
                                          bool* held) {
    auto page = co_await RawClient::connect(port);
    const bool open = co_await page.open();
    if (!open) co_return;
    auto greeting = co_await page.read_text();
    if (!greeting) co_return;
    const std::string writes = press(25, 3001);
    co_await page.send_frame(op_text, writes);
    auto sent = co_await collector->receive_first(is_write);
    *held = sent == std::optional<std::string>("clickable 25:3001 1");
    client->emplace(std::move(page));
  }
};

TEST_F(UnstoppedLinkTest, ACancelledLinkReleasesHeldPresses) {
  auto [events, receiver] = net::PageEventQueue::make(rt.executor(), net::kPageEventQueueSize);
  auto server = net::page_server::start(rt.executor(), test_config(), std::move(events));
  ASSERT_TRUE(server);
  page_port = server->port();
  auto socket = run_loop::open_socket(rt.executor(), 0);
  ASSERT_TRUE(socket);
  auto [commands, command_receiver] = CommandChannel::make(rt.executor(), kCommandChannelSize);
  RunLoop loop(RunLoop::Parts{
      .core = protocol::ShuttleCore(base::Clock::now()),
      .socket = std::move(*socket),
      .collector = udp::endpoint(asio::ip::address_v4::loopback(), collector.port()),
      .commands = std::move(command_receiver),
      .page_events = std::move(receiver),
      .bridge_version = "0.5.0",
      .status = status,
      .repair = repair,
      .page_server = std::move(*server),
  });
  net::kit::Task task = net::kit::Task::spawn(rt.executor(), run_loop::run(std::move(loop)));
  rt.run([&]() -> asio::awaitable<void> {
    std::optional<RawClient> page;
    bool held = false;
    co_await hold_press(page_port, &page, &collector, &held);
    CO_ASSERT_TRUE(held);
    task.abort();
    const TaskEnd end = co_await task.join();
    EXPECT_EQ(end.how, TaskEnd::How::Cancelled);
    EXPECT_EQ(shuttle::handle::describe_end(end), "the shuttle's task ended: the task was cancelled");
    CO_EXPECT_EQ(co_await collector.receive_first(is_write), std::optional<std::string>("clickable 25:3001 0"));
    CO_EXPECT_TRUE(co_await page->closed_by_server());
  });
  EXPECT_TRUE(log.contains("released 1 held presses for page 1: the bridge is stopping"));
  EXPECT_FALSE(log.contains("stopping"));
}

TEST_F(UnstoppedLinkTest, ARuntimeThatGoesAwayReleasesHeldPresses) {
  std::optional<ShuttleCommands> monitor;  // as the simulator monitor's thread keeps it
  {
    // Made before the runtime, so that it watches down to the runtime's destruction, which never
    // returned on Windows while the link's task waited in the runtime kit.
    Watchdog watchdog("destroying a runtime under a running link");
    asio::io_context context;
    auto started = try_start(context.get_executor(), 0, collector.port());
    ASSERT_TRUE(started);
    std::optional<ShuttleHandle> handle(std::move(*started));
    monitor.emplace(handle->commands());
    std::optional<RawClient> page;
    bool held = false;
    bool done = false;
    asio::co_spawn(context, hold_press(page_port, &page, &collector, &held), [&](std::exception_ptr) { done = true; });
    // The collector's socket belongs to the test's own runtime, which runs here too.
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!done && std::chrono::steady_clock::now() < end) {
      for (asio::io_context* runtime : {&context, &rt.context}) {
        runtime->restart();
        runtime->run_for(5ms);
      }
    }
    rt.context.restart();
    ASSERT_TRUE(held);
    collector.drain();  // the read lines so far
    // The page and the handle go first, the runtime last, without ever running again.
    page.reset();
    handle.reset();
  }
  std::optional<std::string> release;
  while (auto datagram = collector.try_receive())
    if (is_write(*datagram)) release = datagram;
  EXPECT_EQ(release, std::optional<std::string>("clickable 25:3001 0"));
  EXPECT_TRUE(log.contains("released 1 held presses for page 1: the bridge is stopping"));
  // The link's frames went with the runtime, and with them its share of the status source.
  EXPECT_EQ(status.use_count(), 1);
  EXPECT_EQ(repair.use_count(), 1);
  // A notice after the runtime went finds the link closed instead of waking a runtime that is gone.
  EXPECT_FALSE(monitor->status_changed());
}

TEST_F(LinkTest, AClosedCollectorPortFillsNoLog) {
  // A port that nobody listens on, as while DCS is not running.
  std::uint16_t closed_port = 0;
  {
    udp::socket gone(rt.executor(), udp::endpoint(asio::ip::address_v4::loopback(), 0));
    closed_port = gone.local_endpoint().port();
  }
  auto handle = try_start(rt.executor(), 0, closed_port);
  ASSERT_TRUE(handle);
  rt.run([&]() -> asio::awaitable<void> {
    // Several polls go nowhere; then a packet still comes through.
    co_await sleep(1500ms);
    udp::socket other(co_await asio::this_coro::executor, udp::endpoint(asio::ip::address_v4::loopback(), 0));
    const std::string packet = R"({"late":true})";
    other.send_to(asio::buffer(packet), udp::endpoint(asio::ip::address_v4::loopback(), handle->listen_port()));
    const std::string arriving = "collector packets are arriving";
    CO_EXPECT_TRUE(co_await logged_soon(arriving));
    const TaskEnd end = co_await std::move(*handle).stop();
    EXPECT_EQ(end.how, TaskEnd::How::Finished);
  });
  for (const auto& entry : log.entries()) {
    EXPECT_FALSE(entry.message.starts_with("receiving from the collector failed")) << entry.message;
    EXPECT_FALSE(entry.message.starts_with("sending to the collector failed")) << entry.message;
  }
}

TEST(DescribeEnd, TellsHowTheLinkEnded) {
  struct Case {
    TaskEnd end;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{TaskEnd::How::Finished, ""}, "the shuttle stopped on its own"},
      {{TaskEnd::How::Cancelled, ""}, "the shuttle's task ended: the task was cancelled"},
      {{TaskEnd::How::Failed, "status source broke"}, "the shuttle panicked: status source broke"},
      {{TaskEnd::How::Failed, ""}, "the shuttle panicked: no message"},
  };
  for (const Case& c : cases) EXPECT_EQ(shuttle::handle::describe_end(c.end), c.text);
}

}  // namespace
