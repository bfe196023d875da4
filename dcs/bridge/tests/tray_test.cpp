// Tray mode's bridge worker without a window: the UI thread is a queue that the test drains. The
// link's own operations over a monitor channel that the test holds, and whole worker runs over an
// in-memory PC with pages over WebSocket and a collector over UDP on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <stdexcept>
#include <thread>

#include <boost/asio/io_context.hpp>

#include "core/base/tests/log_capture.hpp"
#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"
#include "dcs/bridge/src/tray.hpp"
#include "dcs/bridge/tests/dcs_pc.hpp"
#include "dcs/bridge/tests/ports.hpp"
#include "dcs/shuttle/tests/fakes.hpp"

namespace {

using namespace net::testing;
using base::testing::LogCapture;
using tray::BridgeEvent;

const std::string kInstallInProgress = "info: an install is in progress; the menu shows the status from before it";
const std::string kMonitorStopped = "error: the simulator monitor has stopped; the menu shows its last status";
const std::string kNotInTime = "warn: the shuttle did not stop in time";

// "level: message" for each line logged since `from`.
std::vector<std::string> lines(const LogCapture& log, std::size_t from = 0) {
  std::vector<std::string> out;
  const std::vector<LogCapture::Entry> entries = log.entries();
  for (std::size_t i = from; i < entries.size(); ++i) out.push_back(entries[i].level + ": " + entries[i].message);
  return out;
}

bool has_line(const LogCapture& log, const std::string& line) {
  const std::vector<std::string> all = lines(log);
  return std::find(all.begin(), all.end(), line) != all.end();
}

std::string name(const BridgeEvent& event) {
  struct Names {
    std::string operator()(const tray::Running&) const { return "Running"; }
    std::string operator()(const tray::DidNotStart& e) const {
      return "DidNotStart(" + e.message + (e.port_taken ? ", port taken)" : ")");
    }
    std::string operator()(const tray::StatusChanged&) const { return "StatusChanged"; }
    std::string operator()(const tray::CollectorQuiet& e) const {
      return e.quiet ? "CollectorQuiet(true)" : "CollectorQuiet(false)";
    }
    std::string operator()(const tray::OpenRepair&) const { return "OpenRepair"; }
    std::string operator()(const tray::StoppedOnError& e) const { return "StoppedOnError(" + e.message + ")"; }
  };
  return std::visit(Names{}, event);
}

void no_window(std::uintptr_t) noexcept {}

// The UI thread's side of the queue, before there is a window.
struct UiSide {
  std::shared_ptr<tray::RequestQueue<BridgeEvent>> queue = std::make_shared<tray::RequestQueue<BridgeEvent>>();
  std::shared_ptr<tray::WindowCell> cell = std::make_shared<tray::WindowCell>(&no_window);
  tray::BridgeEvents events{queue, cell};
  std::deque<BridgeEvent> pending;

  void drain() {
    tray::drain(*queue, [&](BridgeEvent e) { pending.push_back(std::move(e)); }, [] {});
  }

  // Everything posted so far.
  std::vector<BridgeEvent> take_all() {
    drain();
    std::vector<BridgeEvent> all(std::make_move_iterator(pending.begin()), std::make_move_iterator(pending.end()));
    pending.clear();
    return all;
  }

  // The next event other than StatusChanged, which the monitor may post at any time; nothing when
  // none came within `patience`.
  std::optional<BridgeEvent> next() {
    const auto end = std::chrono::steady_clock::now() + patience;
    for (;;) {
      drain();
      while (!pending.empty()) {
        BridgeEvent event = std::move(pending.front());
        pending.pop_front();
        if (!std::holds_alternative<tray::StatusChanged>(event)) return event;
      }
      if (std::chrono::steady_clock::now() > end) return std::nullopt;
      std::this_thread::sleep_for(5ms);
    }
  }
};

std::vector<std::string> names(const std::vector<BridgeEvent>& events) {
  std::vector<std::string> out;
  for (const BridgeEvent& e : events) out.push_back(name(e));
  return out;
}

// The commands queued so far, as variant indexes.
std::vector<std::size_t> queued(monitor::CommandReceiver& receiver) {
  std::vector<std::size_t> kinds;
  while (auto command = receiver.try_take()) kinds.push_back(command->index());
  return kinds;
}

std::size_t kind(const monitor::MonitorCommand& command) { return command.index(); }
const std::size_t kCheckNow = kind(monitor::CheckNow{});
const std::size_t kRecheck = kind(monitor::Recheck{});

TEST(TrayStatusSource, TellsTheUiThreadAndTheMonitorWhenTheCollectorFallsQuietOrIsHeard) {
  UiSide ui;
  monitor::CommandChannel channel = monitor::command_channel();
  tray::TrayStatusSource source(channel.sender, std::make_shared<monitor::MonitorStatus>(), ui.events);
  source.set_collector_quiet(true);
  source.page_opened();
  source.set_collector_quiet(false);
  source.page_closed();

  EXPECT_EQ(names(ui.take_all()), (std::vector<std::string>{"CollectorQuiet(true)", "CollectorQuiet(false)"}));
  EXPECT_EQ(queued(channel.receiver),
            (std::vector<std::size_t>{kind(monitor::CollectorQuiet{}), kind(monitor::PageOpened{}),
                                      kind(monitor::CollectorHeard{}), kind(monitor::PageClosed{})}));

  // A monitor that has ended does not keep the UI thread from hearing.
  { monitor::CommandReceiver gone = std::move(channel.receiver); }
  source.set_collector_quiet(true);
  EXPECT_EQ(names(ui.take_all()), std::vector<std::string>{"CollectorQuiet(true)"});
}

TEST(NotifyTray, PostsStatusChangedAndWakesTheRelayOnlyOnceTheServicesRun) {
  for (const bool services_up : {false, true}) {
    SCOPED_TRACE(services_up ? "services up" : "services not up yet");
    asio::io_context context;
    auto [sender, receiver] = shuttle::CommandChannel::make(context.get_executor(), shuttle::kCommandChannelSize);
    UiSide ui;
    run::RelayWakeCell cell;
    if (services_up) cell.set(shuttle::ShuttleCommands(sender));

    std::thread monitor_thread([&] { monitor::notify_tray(cell, ui.events); });
    monitor_thread.join();

    EXPECT_EQ(names(ui.take_all()), std::vector<std::string>{"StatusChanged"});
    std::vector<bool> notices;
    while (auto notice = receiver.try_receive()) notices.push_back(*notice);
    EXPECT_EQ(notices, services_up ? std::vector<bool>{false} : std::vector<bool>{});
  }
}

// A WorkerLink whose monitor is the test: its commands wait in `monitor` until the test takes them.
struct LinkBed {
  asio::io_context context;  // the stop channel's runtime; never run here
  monitor::CommandChannel monitor = monitor::command_channel();
  std::shared_ptr<monitor::InstallActivity> activity = std::make_shared<monitor::InstallActivity>();
  std::pair<tray::StopChannel::Sender, tray::StopChannel::Receiver> stop =
      tray::StopChannel::make(context.get_executor(), 1);
  std::promise<void> done;
  tray::WorkerLink link{{
      .stop = std::move(stop.first),
      .done = done.get_future(),
      .status = std::make_shared<monitor::MonitorStatus>(),
      .commands = monitor.sender,
      .activity = activity,
  }};

  std::vector<std::size_t> commands() { return queued(monitor.receiver); }
};

TEST(WorkerLink, RefreshNowSaysWhyTheMenuKeepsAnOlderStatus) {
  enum class Monitor { busy_installing, gone, answers_done, answers_skipped, drops_the_reply, silent };
  struct Case {
    Monitor monitor;
    std::vector<std::string> lines;
    std::vector<std::size_t> asked;  // what reached the monitor
  };
  const Case cases[] = {
      {Monitor::busy_installing, {kInstallInProgress}, {}},
      {Monitor::gone, {kMonitorStopped}, {}},
      {Monitor::answers_done, {}, {kCheckNow}},
      {Monitor::answers_skipped, {kInstallInProgress}, {kCheckNow}},
      {Monitor::drops_the_reply, {kMonitorStopped}, {kCheckNow}},
      {Monitor::silent, {"warn: the install check took too long; the menu shows the last one"}, {kCheckNow}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.monitor));
    LogCapture log;
    LinkBed bed;
    std::unique_ptr<tray::InstallGuard> guard;
    if (c.monitor == Monitor::busy_installing) guard = bed.link.begin_install();
    if (c.monitor == Monitor::gone) { monitor::CommandReceiver gone = std::move(bed.monitor.receiver); }

    std::vector<std::size_t> asked;
    std::thread monitor_thread;
    if (c.monitor == Monitor::answers_done || c.monitor == Monitor::answers_skipped ||
        c.monitor == Monitor::drops_the_reply) {
      monitor_thread = std::thread([&] {
        auto command = bed.monitor.receiver.wait_until(base::Clock::now() + patience, *monitor::steady_clock());
        if (!command) return;
        asked.push_back(command->index());
        auto* check = std::get_if<monitor::CheckNow>(&*command);
        if (!check || !check->reply) return;
        if (c.monitor == Monitor::answers_done) (void)check->reply->send(monitor::CheckReply::Done);
        if (c.monitor == Monitor::answers_skipped) (void)check->reply->send(monitor::CheckReply::Skipped);
      });
    }
    bed.link.refresh_now();
    if (monitor_thread.joinable()) monitor_thread.join();
    if (c.monitor != Monitor::gone) {
      const std::vector<std::size_t> queued = bed.commands();
      asked.insert(asked.end(), queued.begin(), queued.end());
    }

    EXPECT_EQ(lines(log), c.lines);
    EXPECT_EQ(asked, c.asked);
  }
}

TEST(WorkerLink, NestedInstallGuardsAskForOneRecheckWhenTheLastEnds) {
  for (const bool first_ends_first : {true, false}) {
    SCOPED_TRACE(first_ends_first ? "first taken ends first" : "last taken ends first");
    LinkBed bed;
    std::unique_ptr<tray::InstallGuard> guards[2] = {bed.link.begin_install(), bed.link.begin_install()};
    EXPECT_EQ(bed.activity->installs_in_progress.load(), 2u);
    EXPECT_EQ(bed.activity->installs_begun.load(), 2u);

    guards[first_ends_first ? 0 : 1].reset();
    EXPECT_EQ(bed.commands(), std::vector<std::size_t>{}) << "one guard is still held";
    EXPECT_EQ(bed.activity->installs_in_progress.load(), 1u);

    guards[first_ends_first ? 1 : 0].reset();
    EXPECT_EQ(bed.commands(), std::vector<std::size_t>{kRecheck});
    EXPECT_EQ(bed.activity->installs_in_progress.load(), 0u);
    EXPECT_EQ(bed.activity->installs_begun.load(), 2u) << "it only grows";
  }
}

// The failure of a link whose status source breaks while it runs.
class BreakingStatus final : public shuttle::StatusSource {
 public:
  explicit BreakingStatus(std::shared_ptr<shuttle::StatusSource> inner) : inner_(std::move(inner)) {}
  shuttle::InstallSummary status() override { throw std::runtime_error("the status source broke"); }
  bool simulator_running() override { return inner_->simulator_running(); }
  void set_collector_quiet(bool quiet) override { inner_->set_collector_quiet(quiet); }
  void page_opened() override { inner_->page_opened(); }
  void page_closed() override { inner_->page_closed(); }

 private:
  std::shared_ptr<shuttle::StatusSource> inner_;
};

using Started = std::expected<shuttle::ShuttleHandle, net::BindError>;

// The services with a status source that breaks at the first hello.
asio::awaitable<Started> start_breaking(bridge::BridgeConfig config, std::shared_ptr<shuttle::StatusSource> status,
                                        std::shared_ptr<shuttle::RepairOpener> repair) {
  asio::awaitable<Started> starting =
      run::start_services(std::move(config), std::make_shared<BreakingStatus>(std::move(status)), std::move(repair));
  co_return co_await std::move(starting);
}

// The services, whose link has ended before the worker waits on it.
asio::awaitable<Started> start_ended(bridge::BridgeConfig config, std::shared_ptr<shuttle::StatusSource> status,
                                     std::shared_ptr<shuttle::RepairOpener> repair) {
  asio::awaitable<Started> starting = run::start_services(std::move(config), std::move(status), std::move(repair));
  Started started = co_await std::move(starting);
  if (!started) co_return started;
  asio::awaitable<net::kit::TaskEnd> stopping = std::move(*started).stop();
  co_await std::move(stopping);
  co_return std::move(started);  // spent: its task has ended
}

// Services that cannot be started for a fault of the program's own.
asio::awaitable<Started> start_throwing(bridge::BridgeConfig, std::shared_ptr<shuttle::StatusSource>,
                                        std::shared_ptr<shuttle::RepairOpener>) {
  throw std::runtime_error("out of luck");
  co_return std::unexpected(net::BindError{});
}

// A process list that works for the worker's first look and then fails, as the monitor's first
// look at the processes finds.
class ProcessListThatBreaks final : public machine::ProcessList {
 public:
  explicit ProcessListThatBreaks(std::unique_ptr<machine::ProcessList> inner) : inner_(std::move(inner)) {}
  bool is_running(std::string_view exe_name) const override {
    if (calls_++ > 0) throw std::runtime_error("the process list broke");
    return inner_->is_running(exe_name);
  }

 private:
  std::unique_ptr<machine::ProcessList> inner_;
  mutable std::atomic<int> calls_ = 0;
};

// Whole worker runs on an in-memory PC with one DCS user folder where nothing is installed.
class TrayWorker : public ::testing::Test {
 protected:
  TrayWorker() { bridge::testing::add_one_dcs(fake); }

  ~TrayWorker() override {
    link.reset();  // lets the worker go, if a test kept it
    if (worker.joinable()) worker.join();
  }

  void TearDown() override {
    if (!HasFailure()) return;
    std::string all;
    for (const auto& line : log.lines()) all += line;
    ADD_FAILURE() << "log lines:\n" << all;
  }

  bridge::BridgeConfig config() const {
    return {.version = std::string(bridge::kBridgeVersion),
            .page_port = page_port,
            .listen_port = listen_port,
            .collector_port = collector.port(),
            .allowed_origins = bridge::BridgeConfig::default_allowed_origins()};
  }

  void start(tray::StartServices services = run::start_services) {
    monitor_end = {};
    worker = std::thread([this, services = std::move(services)] {
      tray::worker_main(config(), monitor_end.watch(fake.machine()), ui.events, services);
    });
  }

  // Waits for Running and keeps its link in `link`.
  bool running() {
    std::optional<BridgeEvent> event = ui.next();
    if (!event || !std::holds_alternative<tray::Running>(*event)) {
      ADD_FAILURE() << "expected Running, got " << (event ? name(*event) : "nothing");
      return false;
    }
    link = std::move(std::get<tray::Running>(*event).link);
    return link != nullptr;
  }

  // The worker has ended: what it posted after the events taken so far, StatusChanged left out.
  std::vector<std::string> posted_until_the_end() {
    worker.join();
    std::vector<std::string> rest;
    for (const BridgeEvent& e : ui.take_all())
      if (!std::holds_alternative<tray::StatusChanged>(e)) rest.push_back(name(e));
    return rest;
  }

  std::string banner() const {
    return "info: Tolvaro DCS Bridge 0.5.0 running in the tray: pages on 127.0.0.1:" + std::to_string(page_port);
  }

  LogCapture log;
  Runtime rt;
  shuttle::testing::FakeCollector collector{rt.executor()};
  machine::testing::FakeMachine fake;
  UiSide ui;
  std::uint16_t page_port = bridge::testing::free_tcp_port();
  std::uint16_t listen_port = bridge::testing::free_udp_port();
  std::unique_ptr<tray::BridgeLink> link;
  std::thread worker;
  bridge::testing::MonitorEnd monitor_end;  // of the worker last started
};

TEST_F(TrayWorker, ServesPagesAndTellsTheUiThreadWhatTheyAndTheCollectorDo) {
  start();
  ASSERT_TRUE(running());
  const std::vector<std::string> start_lines = lines(log);
  ASSERT_GE(start_lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(start_lines.begin(), start_lines.begin() + 3),
            (std::vector<std::string>{"info: install status: notInstalled", "info: DCS is not running", banner()}));
  ASSERT_TRUE(link->status().has_value()) << "the first scan gave the monitor its summary";
  EXPECT_EQ(link->status()->status, install::InstallStatus::notInstalled);
  EXPECT_FALSE(link->simulator_running());

  rt.run([&]() -> asio::awaitable<void> {
    CO_EXPECT_EQ(co_await collector.receive(), std::optional<std::string>("read loget:LoGetSelfData.Name"));
    collector.send(R"({"name":"F-16C_50"})");
    auto page = co_await RawClient::connect(page_port);
    CO_ASSERT_TRUE(co_await page.open());
    const std::optional<std::string> hello = co_await page.read_text();
    CO_ASSERT_TRUE(hello);
    CO_EXPECT_TRUE(hello->find(R"("installState":"notInstalled")") != std::string::npos);
    co_await page.send_frame(op_text, R"({"type":"openRepair"})");
  });

  std::vector<std::string> seen;
  for (int i = 0; i < 2; ++i) {
    std::optional<BridgeEvent> event = ui.next();
    ASSERT_TRUE(event);
    seen.push_back(name(*event));
  }
  std::ranges::sort(seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"CollectorQuiet(false)", "OpenRepair"}));

  link->stop();
  EXPECT_TRUE(log.contains("stopping"));
  EXPECT_FALSE(has_line(log, kNotInTime));
  EXPECT_EQ(posted_until_the_end(), std::vector<std::string>{});
}

TEST_F(TrayWorker, StopsWhenTheUiThreadStopsOrDropsTheLink) {
  enum class LetGo { stop, stop_twice, drop };
  for (const LetGo let_go : {LetGo::stop, LetGo::stop_twice, LetGo::drop}) {
    SCOPED_TRACE(static_cast<int>(let_go));
    log.clear();
    start();
    ASSERT_TRUE(running());
    if (let_go == LetGo::drop) {
      link.reset();
    } else {
      link->stop();
      // The worker confirms only once the link has stopped.
      EXPECT_TRUE(log.contains("stopping"));
    }
    if (let_go == LetGo::stop_twice) {
      const std::size_t logged = log.entries().size();
      link->stop();
      EXPECT_EQ(lines(log, logged), std::vector<std::string>{});
    }
    EXPECT_EQ(posted_until_the_end(), std::vector<std::string>{});
    EXPECT_TRUE(log.contains("stopping"));
    EXPECT_FALSE(has_line(log, kNotInTime));
    link.reset();
  }
}

// The UI thread still holds the link, and with it a command sender of the monitor's: the monitor
// has ended all the same once the worker is done.
TEST_F(TrayWorker, TheMonitorHasEndedWhenTheWorkerReturns) {
  enum class End { stopped, link_ended, did_not_start };
  for (const End end : {End::stopped, End::link_ended, End::did_not_start}) {
    SCOPED_TRACE(static_cast<int>(end));
    std::optional<bridge::testing::HeldPorts> held;
    if (end == End::did_not_start) held.emplace(rt.context, page_port, listen_port);
    start(end == End::link_ended ? tray::StartServices(start_ended) : tray::StartServices(run::start_services));
    if (end != End::did_not_start) {
      ASSERT_TRUE(running());
      if (end == End::stopped) EXPECT_TRUE(link->stop());
    }
    worker.join();
    EXPECT_TRUE(monitor_end.ended());
    link.reset();
  }
}

TEST_F(TrayWorker, AFaultThatEscapesTheBridgeIsAStopOnError) {
  start(start_throwing);
  EXPECT_EQ(posted_until_the_end(),
            std::vector<std::string>{"StoppedOnError(an internal error in its bridge: out of luck)"});
  EXPECT_TRUE(has_line(log, "error: an internal error in the bridge worker: out of luck"));
  EXPECT_TRUE(monitor_end.ended());
}

TEST_F(TrayWorker, AFaultThatEndsTheMonitorIsAStopOnError) {
  machine::Machine machine = fake.machine();
  machine.processes = std::make_unique<ProcessListThatBreaks>(std::move(machine.processes));
  worker = std::thread([this, machine = std::make_shared<machine::Machine>(std::move(machine))]() mutable {
    tray::worker_main(config(), std::move(*machine), ui.events, run::start_services);
  });
  ASSERT_TRUE(running());
  // Heard, the collector makes the monitor look at the processes.
  rt.run([&]() -> asio::awaitable<void> {
    CO_EXPECT_TRUE(co_await collector.receive());
    collector.send(R"({"name":"F-16C_50"})");
  });
  std::vector<std::string> seen;
  for (int i = 0; i < 2; ++i) {
    std::optional<BridgeEvent> event = ui.next();
    ASSERT_TRUE(event);
    seen.push_back(name(*event));
  }
  std::ranges::sort(seen);  // the monitor and the relay core post from their own threads
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "CollectorQuiet(false)",
                      "StoppedOnError(an internal error in its simulator monitor: the process list broke)"}));
  EXPECT_TRUE(has_line(log, "error: an internal error in the simulator monitor: the process list broke"));
  // As the UI thread does on StoppedOnError: the link is dropped, which stops the worker.
  link.reset();
  EXPECT_EQ(posted_until_the_end(), std::vector<std::string>{});
}

TEST_F(TrayWorker, APortInUseIsDidNotStartWithThePortTaken) {
  bridge::testing::HeldPorts held(rt.context, page_port, listen_port);
  const std::string tcp_taken = bridge::testing::in_use_text("TCP", page_port);
  const std::string udp_taken = bridge::testing::in_use_text("UDP", listen_port);

  for (const std::string& message : {tcp_taken, udp_taken}) {
    log.clear();
    start();
    EXPECT_EQ(posted_until_the_end(), std::vector<std::string>{"DidNotStart(" + message + ", port taken)"});
    EXPECT_EQ(lines(log), (std::vector<std::string>{"info: install status: notInstalled", "info: DCS is not running"}));
    held.page.close();  // next, the UDP port is the one in the way
  }
}

TEST_F(TrayWorker, ALinkThatEndsByItselfIsAStopOnError) {
  struct Case {
    tray::StartServices services;
    bool page_opens;  // what makes the link end
    std::string message;
  };
  const Case cases[] = {
      {start_ended, false, "the shuttle stopped on its own"},
      {start_breaking, true, "the shuttle panicked: the status source broke"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    log.clear();
    start(c.services);
    ASSERT_TRUE(running());
    if (c.page_opens) {
      rt.run([&]() -> asio::awaitable<void> {
        auto page = co_await RawClient::connect(page_port);
        co_await page.open();
      });
    }
    std::optional<BridgeEvent> event = ui.next();
    ASSERT_TRUE(event);
    EXPECT_EQ(name(*event), "StoppedOnError(" + c.message + ")");

    // The worker has said it is done: stopping now finds nothing to wait for.
    link->stop();
    EXPECT_FALSE(has_line(log, kNotInTime));
    EXPECT_EQ(posted_until_the_end(), std::vector<std::string>{});
    link.reset();
  }
}

TEST_F(TrayWorker, TheMenusRefreshAsksTheMonitorUnlessAnInstallIsInProgress) {
  start();
  ASSERT_TRUE(running());
  // Any call but the process list, which the monitor also reads on its timed checks.
  const auto scanned = [&] {
    const std::vector<machine::testing::Call> calls = fake.calls();
    return std::any_of(calls.begin(), calls.end(), [](const machine::testing::Call& call) {
      return call.op != machine::testing::Op::process_list;
    });
  };

  fake.clear_calls();
  std::size_t logged = log.entries().size();
  link->refresh_now();
  EXPECT_TRUE(scanned()) << "answered after a scan";
  EXPECT_EQ(lines(log, logged), std::vector<std::string>{});

  std::unique_ptr<tray::InstallGuard> guard = link->begin_install();
  fake.clear_calls();
  logged = log.entries().size();
  link->refresh_now();
  EXPECT_EQ(lines(log, logged), std::vector<std::string>{kInstallInProgress});
  EXPECT_FALSE(scanned());

  // The end of the install brings the scan that the monitor held back.
  guard.reset();
  const auto end = std::chrono::steady_clock::now() + patience;
  while (!scanned() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(scanned());
  link->stop();
}

}  // namespace
