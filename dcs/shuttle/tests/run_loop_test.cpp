// The collector link driven one input at a time with made-up instants: what it makes of each action
// of the state machine, what it tells the status source and when, and what it leaves behind when it
// stops. The collector is a real UDP socket on loopback, read without waiting: a datagram sent on
// loopback is in the receiver's buffer when the send returns.

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>

#include "core/base/tests/log_capture.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/tests/runtime.hpp"
#include "dcs/shuttle/src/run_loop.hpp"
#include "dcs/shuttle/tests/fakes.hpp"

namespace {

using namespace shuttle;
using namespace shuttle::testing;
using base::testing::LogCapture;
namespace action = protocol::action;

std::string hello(bool quiet) {
  return std::string(R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":"installed",)") +
         R"("installedCollectorVersion":8,"isCollectorQuiet":)" + (quiet ? "true" : "false") +
         R"(,"isSimulatorRunning":true}})";
}

net::SharedText text(std::string value) { return std::make_shared<const std::string>(std::move(value)); }

// The page's ends of its two channels, as a page task holds them.
struct TestPage {
  std::optional<net::PageQueue::Receiver> queue;
  std::optional<net::LatestCell::Reader> latest;

  // The texts queued for the page so far.
  std::vector<std::string> take() {
    std::vector<std::string> texts;
    while (auto t = queue->try_receive()) texts.push_back(**t);
    return texts;
  }
  bool queue_closed() { return queue->try_receive().error() == net::kit::ReceiveError::Closed; }
};

class RunLoopTest : public ::testing::Test {
 protected:
  LogCapture log;
  net::testing::Runtime rt;
  FakeCollector collector{rt.executor()};
  std::shared_ptr<RecordingStatus> status = std::make_shared<RecordingStatus>();
  std::shared_ptr<CountingRepair> repair = std::make_shared<CountingRepair>();
  base::Instant t0 = base::Clock::now();
  std::optional<CommandChannel::Sender> commands;
  std::optional<net::PageEventQueue::Sender> events;

  RunLoop make_loop() {
    auto socket = run_loop::open_socket(rt.executor(), 0);
    EXPECT_TRUE(socket) << socket.error().message();
    auto command_channel = CommandChannel::make(rt.executor(), kCommandChannelSize);
    auto event_queue = net::PageEventQueue::make(rt.executor(), net::kPageEventQueueSize);
    commands.emplace(std::move(command_channel.first));
    events.emplace(std::move(event_queue.first));
    return RunLoop(RunLoop::Parts{
        .core = protocol::ShuttleCore(t0),
        .socket = std::move(*socket),
        .collector = udp::endpoint(asio::ip::address_v4::loopback(), collector.port()),
        .commands = std::move(command_channel.second),
        .page_events = std::move(event_queue.second),
        .bridge_version = "0.5.0",
        .status = status,
        .repair = repair,
        .page_server = std::nullopt,
    });
  }

  TestPage connect(RunLoop& loop, protocol::PageId id, base::Instant now, std::size_t queue_size = 64) {
    auto [queue, queue_reader] = net::PageQueue::make(rt.executor(), queue_size);
    auto [latest, latest_reader] = net::LatestCell::make(rt.executor());
    loop.page_event(net::PageEvent{net::PageEvent::Connected{id, std::move(queue), std::move(latest)}}, now);
    return TestPage{std::move(queue_reader), std::move(latest_reader)};
  }

  // Every datagram the collector has been sent so far.
  std::vector<std::string> sent() {
    std::vector<std::string> datagrams;
    while (auto d = collector.try_receive()) datagrams.push_back(*d);
    return datagrams;
  }

  int logged(const std::string& message) {
    int n = 0;
    for (const auto& entry : log.entries())
      if (entry.message == message) ++n;
    return n;
  }
};

const std::string press_25_3001 =
    R"({"type":"writes","sim":"dcs","writes":[{"channel":"clickable","device":"25","address":"3001","value":1,"releaseValue":0}]})";
const std::string two_presses =
    R"({"type":"writes","sim":"dcs","writes":[)"
    R"({"channel":"clickable","device":"25","address":"3002","value":1,"releaseValue":0},)"
    R"({"channel":"clickable","device":"7","address":"3001","value":0.5,"releaseValue":-1}]})";

net::PageEvent page_text(protocol::PageId page, std::string text) {
  return net::PageEvent{net::PageEvent::Text{page, std::move(text)}};
}
net::PageEvent page_closed(protocol::PageId page) { return net::PageEvent{net::PageEvent::Closed{page}}; }

TEST_F(RunLoopTest, AConnectedPageIsLoggedGreetedAndThenCounted) {
  RunLoop loop = make_loop();
  TestPage page = connect(loop, 1, t0);
  EXPECT_EQ(log.entries(), (std::vector<LogCapture::Entry>{{"info", "page 1 connected"}}));
  EXPECT_EQ(page.take(), std::vector<std::string>{hello(true)});
  // The hello is built from the status source before the page is counted.
  EXPECT_EQ(status->calls(), (std::vector<std::string>{"status", "simulator_running", "page_opened"}));
  EXPECT_TRUE(loop.has_link(1));
}

TEST_F(RunLoopTest, TheStatusSourceHearsOfPagesAndTheCollectorInOrder) {
  RunLoop loop = make_loop();
  TestPage page = connect(loop, 1, t0);
  loop.after_input(t0);
  EXPECT_EQ(sent(), std::vector<std::string>{"read loget:LoGetSelfData.Name"});
  status->take_calls();
  page.take();

  // The first packet: data, then a hello that says the collector is heard; the status source learns
  // of it after the timer step of the same pass.
  const base::Instant heard = t0 + 10ms;
  loop.datagram(R"({"v":1})", heard);
  EXPECT_EQ(status->take_calls(), (std::vector<std::string>{"status", "simulator_running"}));
  loop.after_input(heard);
  EXPECT_EQ(status->take_calls(), std::vector<std::string>{"quiet false"});
  EXPECT_EQ(page.take(), (std::vector<std::string>{R"({"type":"data","sim":"dcs","data":{"v":1}})", hello(false)}));

  // A second without packets: quiet again.
  loop.after_input(heard + 1s);
  EXPECT_EQ(status->take_calls(), (std::vector<std::string>{"status", "simulator_running", "quiet true"}));
  EXPECT_EQ(page.take(), std::vector<std::string>{hello(true)});

  // The page goes: counted once, before the core hears of it; a later close of it counts nothing.
  loop.page_event(page_closed(1), heard + 2s);
  EXPECT_EQ(status->take_calls(), std::vector<std::string>{"page_closed"});
  EXPECT_FALSE(loop.has_link(1));
  loop.perform({action::ClosePage{1}});
  EXPECT_TRUE(status->take_calls().empty());

  // A hello for a page without a link is built all the same, and dropped.
  loop.perform({action::SendHello{1, true}});
  EXPECT_EQ(status->take_calls(), (std::vector<std::string>{"status", "simulator_running"}));
}

TEST_F(RunLoopTest, APageThatIsBehindIsWarnedOnceForItsWholeLife) {
  RunLoop loop = make_loop();
  TestPage slow = connect(loop, 1, t0, 3);  // its hello takes one of the three places
  TestPage quick = connect(loop, 2, t0);
  const std::string behind = "page 1 is behind; dropping messages for it";
  auto data = [&](int n) {
    const net::SharedText shared = text("data " + std::to_string(n));
    loop.perform({action::SendToPage{1, shared}, action::SendToPage{2, shared}});
  };
  for (int n = 0; n < 5; ++n) data(n);
  EXPECT_EQ(slow.take(), (std::vector<std::string>{hello(true), "data 0", "data 1"}));
  EXPECT_EQ(quick.take(), (std::vector<std::string>{hello(true), "data 0", "data 1", "data 2", "data 3", "data 4"}));
  EXPECT_EQ(logged(behind), 1);

  // Room again, then behind again: still the one warning, and the page keeps its link.
  for (int n = 5; n < 10; ++n) data(n);
  EXPECT_EQ(slow.take(), (std::vector<std::string>{"data 5", "data 6", "data 7"}));
  EXPECT_EQ(logged(behind), 1);
  EXPECT_EQ(logged("page 2 is behind; dropping messages for it"), 0);
  EXPECT_TRUE(loop.has_link(1));
  EXPECT_EQ(status->count("page_closed"), 0);
}

TEST_F(RunLoopTest, AChannelWithoutReaderRemovesThePageOnce) {
  struct Case {
    const char* name;
    bool drop_queue;  // else the latest cell's reader goes
    protocol::ShuttleAction action;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"data, queue gone", true, action::SendToPage{1, text("data")}, true},
      {"hello, queue gone", true, action::SendHello{1, false}, true},
      {"tick, cell gone", false, action::SendLatest{1, text("tick")}, true},
      {"data, cell gone", false, action::SendToPage{1, text("data")}, false},
      {"tick, queue gone", true, action::SendLatest{1, text("tick")}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    status = std::make_shared<RecordingStatus>();
    RunLoop loop = make_loop();
    TestPage page = connect(loop, 1, t0);
    if (c.drop_queue)
      page.queue.reset();
    else
      page.latest.reset();
    loop.perform({c.action, c.action});
    EXPECT_EQ(loop.has_link(1), !c.removed);
    EXPECT_EQ(status->count("page_closed"), c.removed ? 1 : 0);
    // The page server's report of the page's end comes later and counts nothing more.
    loop.page_event(page_closed(1), t0 + 1ms);
    EXPECT_EQ(status->count("page_closed"), 1);
  }
}

TEST_F(RunLoopTest, ATickReplacesOneThatWasNotSentYet) {
  RunLoop loop = make_loop();
  TestPage page = connect(loop, 1, t0);
  loop.perform({action::SendLatest{1, text("tick 1")}, action::SendLatest{1, text("tick 2")}});
  auto tick = page.latest->try_take();
  ASSERT_TRUE(tick);
  EXPECT_EQ(**tick, "tick 2");
  EXPECT_FALSE(page.latest->try_take());
  EXPECT_EQ(page.take(), std::vector<std::string>{hello(true)});  // ticks never go on the queue
}

TEST_F(RunLoopTest, OtherActionsAreCarriedOutInOrder) {
  RunLoop loop = make_loop();
  loop.perform({action::Log{"first", true}, action::SendToCollector{"clickable 1:3000 1"}, action::OpenRepair{},
                action::Log{"second", false}});
  EXPECT_EQ(log.entries(), (std::vector<LogCapture::Entry>{{"warn", "first"}, {"info", "second"}}));
  EXPECT_EQ(sent(), std::vector<std::string>{"clickable 1:3000 1"});
  EXPECT_EQ(repair->opened, 1);
}

TEST_F(RunLoopTest, FailedSendsToTheCollectorWarnOncePerRun) {
  RunLoop loop = make_loop();
  // Larger than any UDP datagram: the system refuses it.
  const std::string too_big(70000, 'x');
  auto warnings = [&] {
    int n = 0;
    for (const auto& entry : log.entries())
      if (entry.level == "warn" && entry.message.starts_with("sending to the collector failed: ")) ++n;
    return n;
  };
  for (int i = 0; i < 10; ++i) loop.send_to_collector(too_big);
  EXPECT_EQ(warnings(), 1);
  loop.send_to_collector("read loget:LoGetSelfData.Name");
  EXPECT_EQ(sent(), std::vector<std::string>{"read loget:LoGetSelfData.Name"});
  loop.send_to_collector(too_big);
  loop.send_to_collector(too_big);
  EXPECT_EQ(warnings(), 2);
  EXPECT_EQ(log.entries().size(), 2u);
}

TEST_F(RunLoopTest, ResetReceiveErrorsAreIgnoredAndOthersHaveAQuota) {
  RunLoop loop = make_loop();
  for (int i = 0; i < 20; ++i) {
    loop.receive_failed(asio::error::connection_reset);
    loop.receive_failed(asio::error::connection_refused);
  }
  EXPECT_TRUE(log.entries().empty());

  const boost::system::error_code other = asio::error::network_down;
  for (int i = 0; i < 12; ++i) loop.receive_failed(other);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 10u);
  const std::string line = "receiving from the collector failed: " + other.message();
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(entries[i], (LogCapture::Entry{"warn", line}));
  EXPECT_EQ(entries[9], (LogCapture::Entry{"warn", line + " (further ones are not logged)"}));
}

TEST_F(RunLoopTest, FinishReleasesHeldPressesOnceAndQueuesNothing) {
  RunLoop loop = make_loop();
  TestPage page = connect(loop, 1, t0);
  loop.page_event(page_text(1, two_presses), t0);
  EXPECT_EQ(sent(), (std::vector<std::string>{"clickable 25:3002 1", "clickable 7:3001 0.5"}));
  page.take();
  log.clear();

  loop.finish();
  // In ascending (device, command), the log line at info whatever the core's level.
  EXPECT_EQ(sent(), (std::vector<std::string>{"clickable 7:3001 -1", "clickable 25:3002 0"}));
  EXPECT_EQ(log.entries(),
            (std::vector<LogCapture::Entry>{{"info", "released 2 held presses for page 1: the bridge is stopping"}}));
  EXPECT_TRUE(page.take().empty());
  EXPECT_TRUE(loop.has_link(1));

  loop.finish();
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(log.entries().size(), 1u);
}

TEST_F(RunLoopTest, DroppingTheLinkReleasesHeldPresses) {
  std::optional<TestPage> page;
  {
    RunLoop loop = make_loop();
    page = connect(loop, 1, t0);
    loop.page_event(page_text(1, press_25_3001), t0);
    EXPECT_EQ(sent(), std::vector<std::string>{"clickable 25:3001 1"});
  }
  EXPECT_EQ(sent(), std::vector<std::string>{"clickable 25:3001 0"});
  EXPECT_TRUE(log.contains("released 1 held presses for page 1: the bridge is stopping"));
  // The page's channels went with the link.
  page->take();
  EXPECT_TRUE(page->queue_closed());
}

TEST_F(RunLoopTest, TheStopPathReleasesDropsCountsAndThenQueuesNothing) {
  RunLoop loop = make_loop();
  std::vector<TestPage> pages;
  for (protocol::PageId id : {1, 2, 3}) {
    pages.push_back(connect(loop, id, t0));
    loop.page_event(page_text(id, press_25_3001), t0);
  }
  sent();
  status->take_calls();
  log.clear();

  rt.run([&]() -> asio::awaitable<void> { co_await run_loop::shut_down(loop); });

  const auto messages = log.messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), "stopping");
  for (protocol::PageId id : {1, 2, 3})
    EXPECT_EQ(logged("released 1 held presses for page " + std::to_string(id) + ": the bridge is stopping"), 1);
  EXPECT_EQ(sent(), std::vector<std::string>(3, "clickable 25:3001 0"));
  EXPECT_EQ(status->take_calls(), std::vector<std::string>(3, "page_closed"));
  EXPECT_EQ(loop.link_count(), 0u);
  for (TestPage& page : pages) {
    // Only the hello was ever queued, and the page's channels are closed.
    EXPECT_EQ(page.take(), std::vector<std::string>{hello(true)});
    EXPECT_TRUE(page.queue_closed());
    EXPECT_EQ(page.latest->try_take().error(), net::kit::ReceiveError::Closed);
  }
}

// Inputs take turns: a stop that comes while many page events wait is not served after all of them.
TEST_F(RunLoopTest, AStopIsNotHeldBackByQueuedPageEvents) {
  RunLoop loop = make_loop();
  TestPage page = connect(loop, 1, t0);
  log.clear();
  // Each with a key of its own: a subscribe that changes nothing is not logged.
  const auto subscribe = [](int i) {
    return R"({"type":"subscribe","sim":"dcs","keys":["loget:LoGetModelTime)" + std::to_string(i) + R"("]})";
  };
  constexpr int kQueued = 100;
  rt.run([&]() -> asio::awaitable<void> {
    net::kit::Task running = net::kit::Task::spawn(co_await asio::this_coro::executor, run_loop::run(std::move(loop)));
    co_await net::testing::sleep(20ms);  // every loop waits
    // All in one turn: the page events first, then the stop.
    for (int i = 0; i < kQueued; ++i) CO_ASSERT_TRUE(events->try_send(page_text(1, subscribe(i))));
    CO_ASSERT_TRUE(commands->try_send(true));
    co_await running.join();
  });
  const auto messages = log.messages();
  const auto stopping = std::find(messages.begin(), messages.end(), "stopping");
  ASSERT_NE(stopping, messages.end());
  const auto served = std::count(messages.begin(), stopping, "page 1 subscribed to 1 keys");
  EXPECT_LT(served, kQueued / 2) << "page events served before the stop";
}

}  // namespace
