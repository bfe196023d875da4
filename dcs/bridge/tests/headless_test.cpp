// Headless mode in this process: the first stop among the listeners, the status source and the
// monitor's wake cell, and whole runs over an in-memory PC with stop events that the test fires,
// pages over WebSocket and a collector over UDP on loopback.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core/base/tests/log_capture.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"
#include "dcs/bridge/src/headless.hpp"
#include "dcs/bridge/src/stop_signal.hpp"
#include "dcs/bridge/tests/dcs_pc.hpp"
#include "dcs/bridge/tests/ports.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/export_lua.hpp"
#include "dcs/install/tests/fake_machine.hpp"
#include "dcs/shuttle/tests/fakes.hpp"

namespace base::testing {
void PrintTo(const LogCapture::Entry& entry, std::ostream* out) { *out << entry.level << " " << entry.message; }
}  // namespace base::testing

namespace {

using namespace net::testing;
using base::testing::LogCapture;
using install::InstallStatus;
using stop_signal::StopReason;
using Entry = LogCapture::Entry;
using tcp = asio::ip::tcp;

// Console events that the test fires by hand, on the runtime thread. Listeners for the reasons in
// `failing` cannot be made and carry the error text instead.
class FakeConsole {
 public:
  std::map<StopReason, std::string> failing;

  // Fires before any listener exists are kept for the listeners made later.
  void fire(StopReason reason) {
    fired_->insert(reason);
    if (changed_) changed_->cancel();  // wakes every listener that waits
  }
  int listens() const { return listens_; }

  std::vector<stop_signal::StopListener> listen(const stop_signal::Executor& executor) {
    ++listens_;
    if (!changed_) changed_ = std::make_shared<asio::steady_timer>(executor, asio::steady_timer::time_point::max());
    std::vector<stop_signal::StopListener> listeners;
    for (StopReason reason : {StopReason::CtrlC, StopReason::CtrlBreak, StopReason::ConsoleClosing, StopReason::Logoff,
                              StopReason::SystemShutdown}) {
      if (auto error = failing.find(reason); error != failing.end()) {
        listeners.push_back({reason, std::unexpected(error->second)});
      } else {
        listeners.push_back({reason, std::make_unique<Event>(reason, fired_, changed_)});
      }
    }
    return listeners;
  }

 private:
  class Event final : public stop_signal::StopEvent {
   public:
    Event(StopReason reason, std::shared_ptr<std::set<StopReason>> fired, std::shared_ptr<asio::steady_timer> changed)
        : reason_(reason), fired_(std::move(fired)), changed_(std::move(changed)) {}
    // A cancelled wait throws at the next one.
    asio::awaitable<void> arrived() override {
      auto fired = fired_;
      auto changed = changed_;
      const StopReason reason = reason_;
      while (!fired->contains(reason)) co_await changed->async_wait(asio::as_tuple(asio::use_awaitable));
    }

   private:
    StopReason reason_;
    std::shared_ptr<std::set<StopReason>> fired_;
    std::shared_ptr<asio::steady_timer> changed_;
  };

  std::shared_ptr<std::set<StopReason>> fired_ = std::make_shared<std::set<StopReason>>();
  std::shared_ptr<asio::steady_timer> changed_;  // never rings: cancelled at every fire
  int listens_ = 0;
};

// Fires the events one after another, a little apart.
asio::awaitable<void> fire_in_turn(FakeConsole* console, std::vector<StopReason> reasons) {
  for (StopReason r : reasons) {
    co_await sleep(20ms);
    console->fire(r);
  }
}

TEST(FirstStop, WarnsForTheListenersItLacksAndTakesTheFirstEvent) {
  struct Case {
    std::map<StopReason, std::string> failing;
    std::vector<StopReason> fired_before;  // before the wait starts
    std::vector<StopReason> fired_during;  // one after another while it waits
    StopReason first;
    std::vector<Entry> lines;
  };
  const std::vector<Entry> all_missing = {
      {"warn", "cannot listen for Ctrl+C: e1"},          {"warn", "cannot listen for Ctrl+Break: e2"},
      {"warn", "cannot listen for the console closing: e3"}, {"warn", "cannot listen for logoff: e4"},
      {"warn", "cannot listen for system shutdown: e5"},
  };
  const Case cases[] = {
      {{}, {}, {StopReason::SystemShutdown, StopReason::CtrlC}, StopReason::SystemShutdown, {}},
      {{{StopReason::Logoff, "not here"}, {StopReason::CtrlBreak, "no break"}},
       {},
       {StopReason::CtrlC},
       StopReason::CtrlC,
       {{"warn", "cannot listen for Ctrl+Break: no break"}, {"warn", "cannot listen for logoff: not here"}}},
      // An event that came before anyone waited is kept.
      {{{StopReason::CtrlC, "e"}}, {StopReason::ConsoleClosing}, {}, StopReason::ConsoleClosing,
       {{"warn", "cannot listen for Ctrl+C: e"}}},
      // Nothing to listen with: the wait ends at once.
      {{{StopReason::CtrlC, "e1"},
        {StopReason::CtrlBreak, "e2"},
        {StopReason::ConsoleClosing, "e3"},
        {StopReason::Logoff, "e4"},
        {StopReason::SystemShutdown, "e5"}},
       {},
       {},
       StopReason::NoStopSignal,
       all_missing},
  };
  for (const Case& c : cases) {
    LogCapture log;
    Runtime rt;
    FakeConsole console;
    console.failing = c.failing;
    std::optional<StopReason> first;
    rt.run([&]() -> asio::awaitable<void> {
      const auto executor = co_await asio::this_coro::executor;
      std::vector<stop_signal::StopListener> listeners = console.listen(executor);
      for (StopReason r : c.fired_before) console.fire(r);
      EXPECT_TRUE(log.entries().empty()) << "nothing is logged before the wait";
      net::kit::Task firing = net::kit::Task::spawn(executor, fire_in_turn(&console, c.fired_during));
      asio::awaitable<StopReason> waiting = stop_signal::first_stop(listeners);
      first = co_await std::move(waiting);
      co_await firing.join();
    });
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(log.entries(), c.lines);
  }
}

TEST(StopReason, Texts) {
  const std::pair<StopReason, std::string_view> texts[] = {
      {StopReason::CtrlC, "Ctrl+C"},
      {StopReason::CtrlBreak, "Ctrl+Break"},
      {StopReason::ConsoleClosing, "the console closing"},
      {StopReason::Logoff, "logoff"},
      {StopReason::SystemShutdown, "system shutdown"},
      {StopReason::NoStopSignal, "no stop signal could be listened for"},
  };
  for (auto [reason, text] : texts) EXPECT_EQ(stop_signal::reason_text(reason), text);
}

TEST(HeadlessStatusSource, ReadsTheSnapshotAndSendsTheMonitorItsCommands) {
  monitor::CommandChannel channel = monitor::command_channel();
  auto status = std::make_shared<monitor::MonitorStatus>();
  run::HeadlessStatusSource source(channel.sender, status);

  // No summary stored yet.
  EXPECT_EQ(source.status(), (shuttle::InstallSummary{InstallStatus::simulatorNotFound, std::nullopt}));
  EXPECT_FALSE(source.simulator_running());
  status->exchange({monitor::StatusSummary{8, InstallStatus::outdated, true, false}, true});
  EXPECT_EQ(source.status(), (shuttle::InstallSummary{InstallStatus::outdated, 8}));
  EXPECT_TRUE(source.simulator_running());

  source.set_collector_quiet(true);
  source.set_collector_quiet(false);
  source.page_opened();
  source.page_closed();
  std::vector<std::size_t> kinds;
  while (auto command = channel.receiver.try_take()) kinds.push_back(command->index());
  const monitor::MonitorCommand expected[] = {monitor::CollectorQuiet{}, monitor::CollectorHeard{},
                                              monitor::PageOpened{}, monitor::PageClosed{}};
  ASSERT_EQ(kinds.size(), std::size(expected));
  for (std::size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(kinds[i], expected[i].index()) << i;

  // Once the monitor has ended, the news goes nowhere, without a fault.
  { monitor::CommandReceiver gone = std::move(channel.receiver); }
  source.page_opened();
  source.set_collector_quiet(true);
  EXPECT_EQ(source.status(), (shuttle::InstallSummary{InstallStatus::outdated, 8}));
}

TEST(RelayWakeCell, ReachesTheLinkOnlyWhileItIsSet) {
  Runtime rt;
  auto [sender, receiver] = shuttle::CommandChannel::make(rt.executor(), shuttle::kCommandChannelSize);
  run::RelayWakeCell cell;
  // Before the services have started there is nobody to tell.
  run::notify_headless(cell);
  EXPECT_FALSE(cell.status_changed());

  cell.set(shuttle::ShuttleCommands(sender));
  // From the monitor's thread: eight notices fit, the ninth is dropped.
  std::vector<bool> sent;
  std::thread monitor_thread([&] {
    run::notify_headless(cell);
    for (int i = 0; i < 8; ++i) sent.push_back(cell.status_changed());
  });
  monitor_thread.join();
  EXPECT_EQ(sent, (std::vector<bool>{true, true, true, true, true, true, true, false}));
  using Received = std::expected<bool, net::kit::ReceiveError>;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(receiver.try_receive(), Received(false));

  cell.clear();
  EXPECT_FALSE(cell.status_changed());
  EXPECT_EQ(receiver.try_receive(), Received(std::unexpected(net::kit::ReceiveError::Empty)));
}

// Environment variables as a test sets them.
class FakeEnvironment : public bridge::Environment {
 public:
  void set(std::string name, std::string_view value) { vars_[std::move(name)] = bridge::to_os(value); }
  std::optional<bridge::OsString> get(std::string_view name) const override {
    auto it = vars_.find(std::string(name));
    if (it == vars_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, bridge::OsString> vars_;
};

std::string hello(std::string_view state, std::string_view version, bool quiet) {
  return std::string(R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":")") +
         std::string(state) + R"(","installedCollectorVersion":)" + std::string(version) +
         R"(,"isCollectorQuiet":)" + (quiet ? "true" : "false") + R"(,"isSimulatorRunning":false}})";
}

// The run on an in-memory PC with one DCS user folder where nothing is installed yet.
class HeadlessRun : public ::testing::Test {
 protected:
  HeadlessRun() {
    bridge::testing::add_one_dcs(fake);
    env.set("TOLVARO_DCS_PAGE_PORT", std::to_string(page_port));
    env.set("TOLVARO_DCS_LISTEN_PORT", std::to_string(listen_port));
    env.set("TOLVARO_DCS_COLLECTOR_PORT", std::to_string(collector.port()));
  }

  void TearDown() override {
    if (!HasFailure()) return;
    std::string lines;
    for (const auto& line : log.lines()) lines += line;
    ADD_FAILURE() << "log lines:\n" << lines;
  }

  void install_collector() {
    fake.add_file(std::string(bridge::testing::kDcs) + "\\Scripts\\Tolvaro\\collectorScript.lua", embedded::COLLECTOR_FILE.contents);
    fake.add_file(std::string(bridge::testing::kDcs) + "\\Scripts\\Export.lua", std::string(export_lua::HOOK_LINE) + "\r\n");
  }

  run::HeadlessSetup setup() {
    return {.machine = machine,
            .monitor_machine = [this] { return monitor_end.watch(fake.machine()); },
            .env = env,
            .listen = [this](const stop_signal::Executor& e) { return console.listen(e); }};
  }

  // The run as a task of the test's runtime; its exit code lands in `code`.
  static asio::awaitable<void> run_into(run::HeadlessSetup setup, std::optional<int>* code) {
    asio::awaitable<int> running = run::run_until_stopped(std::move(setup));
    *code = co_await std::move(running);
  }
  net::kit::Task start(const asio::any_io_executor& executor) {
    return net::kit::Task::spawn(executor, run_into(setup(), &code));
  }

  asio::awaitable<bool> logged_soon(std::string message) {
    const std::function<bool()> seen = [this, message] { return log.contains(message); };
    const bool found = co_await eventually(seen);
    co_return found;
  }

  std::string banner() const {
    return "Tolvaro DCS Bridge 0.5.0 running: pages on ws://127.0.0.1:" + std::to_string(page_port) +
           "/api/v1, collector replies on UDP " + std::to_string(listen_port) + ", collector at UDP " +
           std::to_string(collector.port()) + ". Ctrl+C stops it.";
  }

  LogCapture log;
  Runtime rt;
  shuttle::testing::FakeCollector collector{rt.executor()};
  FakeConsole console;
  machine::testing::FakeMachine fake;
  machine::Machine machine = fake.machine();
  FakeEnvironment env;
  std::uint16_t page_port = bridge::testing::free_tcp_port();
  std::uint16_t listen_port = bridge::testing::free_udp_port();
  std::optional<int> code;
  bridge::testing::MonitorEnd monitor_end;
};

TEST_F(HeadlessRun, ServesPagesAndTheCollectorUntilCtrlC) {
  rt.run([&]() -> asio::awaitable<void> {
    const auto executor = co_await asio::this_coro::executor;
    net::kit::Task run = start(executor);
    CO_ASSERT_TRUE(co_await logged_soon(banner()));
    CO_EXPECT_EQ(log.entries(), (std::vector<Entry>{{"info", "install status: notInstalled"},
                                                    {"info", "DCS is not running"},
                                                    {"info", banner()}}));
    CO_EXPECT_EQ(co_await collector.receive(), std::optional<std::string>("read loget:LoGetSelfData.Name"));

    // The collector is installed from elsewhere; the page that opens next makes the monitor look.
    install_collector();
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello("notInstalled", "null", true)));
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello("installed", "8", true)));
    CO_EXPECT_TRUE(log.contains("install status: installed"));

    // A repair request opens nothing: the relay core's own line is all there is of it.
    const std::size_t lines_before = log.entries().size();
    co_await page.send_frame(op_text, R"({"type":"openRepair"})");
    co_await page.send_frame(op_text, R"({"type":"subscribe","sim":"dcs","keys":["loget:LoGetModelTime"]})");
    const auto subscribed = [](const std::string& d) { return d == "read loget:LoGetModelTime"; };
    auto line = co_await collector.receive_first(subscribed);
    CO_EXPECT_TRUE(line);
    const std::vector<Entry> entries = log.entries();
    CO_EXPECT_EQ(std::vector<Entry>(entries.begin() + static_cast<std::ptrdiff_t>(lines_before), entries.end()),
                 (std::vector<Entry>{{"info", "page 1 asked for the repair window"},
                                     {"info", "page 1 subscribed to 1 keys"}}));

    console.fire(StopReason::CtrlC);
    auto frame = co_await page.read_frame();
    while (frame && frame->opcode != op_close) frame = co_await page.read_frame();
    CO_EXPECT_TRUE(frame);
    co_await page.answer_close();
    co_await run.join();
  });
  EXPECT_EQ(code, 0);
  auto entries = log.entries();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(entries.back(), (Entry{"info", "stopped"}));
  const auto stopping_on = std::find(entries.begin(), entries.end(), Entry{"info", "stopping on Ctrl+C"});
  const auto stopping = std::find(entries.begin(), entries.end(), Entry{"info", "stopping"});
  const auto page_closed = std::find(entries.begin(), entries.end(), Entry{"info", "page 1 closed: the bridge is stopping"});
  EXPECT_LT(stopping_on, stopping);
  EXPECT_LT(stopping, page_closed);
  EXPECT_LT(page_closed, entries.end());
  EXPECT_EQ(console.listens(), 1);
}

TEST_F(HeadlessRun, AnEventDuringStartUpOrNoListenerAtAllStopsItRightAfterTheBanner) {
  struct Case {
    std::map<StopReason, std::string> failing;
    std::optional<StopReason> fired_at_start;
    std::vector<Entry> after_banner;
  };
  const Case cases[] = {
      {{}, StopReason::ConsoleClosing, {{"info", "stopping on the console closing"}}},
      {{{StopReason::CtrlC, "c"},
        {StopReason::CtrlBreak, "b"},
        {StopReason::ConsoleClosing, "x"},
        {StopReason::Logoff, "l"},
        {StopReason::SystemShutdown, "s"}},
       std::nullopt,
       {{"warn", "cannot listen for Ctrl+C: c"},
        {"warn", "cannot listen for Ctrl+Break: b"},
        {"warn", "cannot listen for the console closing: x"},
        {"warn", "cannot listen for logoff: l"},
        {"warn", "cannot listen for system shutdown: s"},
        {"info", "stopping on no stop signal could be listened for"}}},
  };
  for (const Case& c : cases) {
    log.clear();
    code.reset();
    console.failing = c.failing;
    if (c.fired_at_start) console.fire(*c.fired_at_start);
    rt.run([&]() -> asio::awaitable<void> {
      const auto executor = co_await asio::this_coro::executor;
      net::kit::Task run = start(executor);
      co_await run.join();
    });
    EXPECT_EQ(code, 0);
    std::vector<Entry> expected = {{"info", "install status: notInstalled"}, {"info", "DCS is not running"},
                                   {"info", banner()}};
    expected.insert(expected.end(), c.after_banner.begin(), c.after_banner.end());
    expected.push_back({"info", "stopping"});
    expected.push_back({"info", "stopped"});
    EXPECT_EQ(log.entries(), expected);
  }
}

TEST_F(HeadlessRun, APortInUseStopsItWithExit1) {
  bridge::testing::HeldPorts held(rt.context, page_port, listen_port);
  const std::string tcp_error = "Tolvaro DCS Bridge did not start: " + bridge::testing::in_use_text("TCP", page_port);
  const std::string udp_error = "Tolvaro DCS Bridge did not start: " + bridge::testing::in_use_text("UDP", listen_port);

  for (const std::string& error : {tcp_error, udp_error}) {
    log.clear();
    code.reset();
    rt.run([&]() -> asio::awaitable<void> {
      const auto executor = co_await asio::this_coro::executor;
      net::kit::Task run = start(executor);
      co_await run.join();
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(log.entries(), (std::vector<Entry>{{"info", "install status: notInstalled"},
                                                 {"info", "DCS is not running"},
                                                 {"error", error}}));
    // With the page port free again, the UDP port is the one in the way; the page listener that
    // was open then is closed again.
    held.page.close();
  }
  rt.run([&]() -> asio::awaitable<void> {
    const auto executor = co_await asio::this_coro::executor;
    tcp::socket probe(executor);
    auto [ec] = co_await probe.async_connect({asio::ip::address_v4::loopback(), page_port},
                                             asio::as_tuple(asio::use_awaitable));
    EXPECT_TRUE(ec) << "the page port still accepts connections";
  });
}

TEST_F(HeadlessRun, TheMonitorHasEndedWhenTheRunCompletes) {
  for (const bool port_taken : {false, true}) {
    SCOPED_TRACE(port_taken ? "did not start" : "stopped on Ctrl+C");
    monitor_end = {};
    code.reset();
    std::optional<bridge::testing::HeldPorts> held;
    if (port_taken) held.emplace(rt.context, page_port, listen_port);
    rt.run([&]() -> asio::awaitable<void> {
      const auto executor = co_await asio::this_coro::executor;
      net::kit::Task run = start(executor);
      if (!port_taken) {
        CO_ASSERT_TRUE(co_await logged_soon(banner()));
        console.fire(StopReason::CtrlC);
      }
      co_await run.join();
      CO_EXPECT_TRUE(monitor_end.ended());
    });
    EXPECT_EQ(code, port_taken ? 1 : 0);
  }
}

TEST_F(HeadlessRun, ABadPortVariableStopsItBeforeAnythingElse) {
  env.set("TOLVARO_DCS_COLLECTOR_PORT", "70000");
  fake.clear_calls();
  rt.run([&]() -> asio::awaitable<void> {
    const auto executor = co_await asio::this_coro::executor;
    net::kit::Task run = start(executor);
    co_await run.join();
  });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(log.entries(),
            (std::vector<Entry>{{"error", "TOLVARO_DCS_COLLECTOR_PORT=\"70000\" is not a port from 1 to 65535"}}));
  EXPECT_EQ(console.listens(), 0);
  EXPECT_TRUE(fake.calls().empty()) << "no scan";
}

}  // namespace
