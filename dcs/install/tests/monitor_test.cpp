#include "dcs/install/src/monitor.hpp"

#include <gmock/gmock.h>

#include <algorithm>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/base/tests/log_capture.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace monitor {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Entry = base::testing::LogCapture::Entry;
using install::InstallStatus;
using machine::testing::FakeMachine;

// Real time that a test waits at most for the monitor thread before it fails instead of hanging.
constexpr auto kPatience = 10s;

// A clock that stands still until the test moves it. The monitor's waits on it end only on a
// command or when the test moves the time to their deadline, and the test can see each time the
// monitor settles into a wait ("parks") and until when it waits.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(base::Instant start) : now_(start) {}

  base::Instant now() const override {
    std::lock_guard guard(mutex_);
    return now_;
  }

  bool wait_until(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  base::Instant deadline, const std::function<bool()>& ready) const override {
    if (ready()) return true;
    {
      std::lock_guard guard(mutex_);
      if (now_ >= deadline) return false;
      waiter_ = Waiter{&cv, lock.mutex(), deadline};
      ++parks_;
    }
    parked_.notify_all();
    for (;;) {
      cv.wait(lock);
      if (ready()) break;
      std::lock_guard guard(mutex_);
      if (now_ >= deadline) break;
    }
    std::lock_guard guard(mutex_);
    waiter_.reset();
    return ready();
  }

  int parks() const {
    std::lock_guard guard(mutex_);
    return parks_;
  }

  // Waits until the monitor parks for the time after `parks`.
  bool await_park_after(int parks) const {
    std::unique_lock lock(mutex_);
    if (parked_.wait_for(lock, kPatience, [&] { return parks_ > parks && waiter_; })) return true;
    ADD_FAILURE() << "the monitor did not come back to its wait";
    return false;
  }

  // The deadline of the wait the monitor is parked in.
  std::optional<base::Instant> deadline() const {
    std::lock_guard guard(mutex_);
    if (!waiter_) return std::nullopt;
    return waiter_->deadline;
  }

  // Moves the time on and wakes the parked waiter to look at it.
  void set(base::Instant now) {
    std::optional<Waiter> waiter;
    {
      std::lock_guard guard(mutex_);
      now_ = now;
      waiter = waiter_;
    }
    if (!waiter) return;
    // Taken so that the wake-up cannot slip in between the waiter's check and its wait.
    std::lock_guard guard(*waiter->mutex);
    waiter->cv->notify_all();
  }

 private:
  struct Waiter {
    std::condition_variable* cv;
    std::mutex* mutex;
    base::Instant deadline;
  };
  mutable std::mutex mutex_;
  mutable std::condition_variable parked_;
  base::Instant now_;
  mutable std::optional<Waiter> waiter_;
  mutable int parks_ = 0;
};

// The error of a result, none when it holds a value.
template <class T, class E>
std::optional<E> error_of(const std::expected<T, E>& result) {
  if (result) return std::nullopt;
  return result.error();
}

const base::Instant kStart = base::Instant{} + 1000h;
const StatusSummary kInstalled8{8, InstallStatus::installed, false, false};
const StatusSummary kOutdated7{7, InstallStatus::outdated, false, false};

// Sets a promise when destroyed: tells when the monitor dropped its state.
struct DropSignal {
  std::promise<void> dropped;
  ~DropSignal() { dropped.set_value(); }
};

// A monitor thread on a fake clock and an in-memory machine, with a scan whose result the test
// sets and counts.
class MonitorThread : public ::testing::Test {
 protected:
  ~MonitorThread() override { stop(); }

  void start(MonitorStatus::Values initial = {kInstalled8, false}, MonitorTimings timings = {}) {
    status_ = std::make_shared<MonitorStatus>(initial.summary, initial.dcs_running);
    activity_->installs_in_progress = 0;
    activity_->installs_begun = 0;
    fake_.remove_process("DCS.exe");
    if (initial.dcs_running) fake_.add_process("DCS.exe");
    {
      std::lock_guard guard(scan_mutex_);
      next_summary_ = initial.summary.value_or(StatusSummary{});
      during_scan_ = nullptr;
      scans_ = 0;
    }
    changes_ = 0;
    log_.clear();
    auto signal = std::make_shared<DropSignal>();
    dropped_ = signal->dropped.get_future();
    fault_ = std::make_shared<std::promise<std::string>>();
    faulted_ = fault_->get_future();
    CommandChannel channel = command_channel();
    sender_ = std::move(channel.sender);
    MonitorArgs args{
        .machine = fake_.machine(),
        .commands = std::move(channel.receiver),
        .status = status_,
        .activity = activity_,
        .scan = [this](const machine::Machine&) { return scan(); },
        .on_change = [this, signal] { ++changes_; },
        .on_fault = [fault = fault_](std::string_view message) { fault->set_value(std::string(message)); },
        .timings = timings,
        .first_check = kStart + timings.normal_period,
        .clock = clock_,
    };
    int parks = clock_->parks();
    thread_ = spawn(std::move(args));
    clock_->await_park_after(parks);
    fake_.clear_calls();
  }

  // Drops the test's sender and waits for the thread to end.
  void stop() {
    sender_.reset();
    if (!dropped_.valid()) return;
    if (dropped_.wait_for(kPatience) != std::future_status::ready)
      ADD_FAILURE() << "the monitor thread did not end";
    dropped_ = {};
    thread_.stop();
  }

  // The owner ends the thread, whoever still holds a sender; whether the monitor had dropped its
  // state by the time that returned.
  bool stopped_by_owner() {
    thread_.stop();
    return dropped_.wait_for(0s) == std::future_status::ready;
  }

  // Sends a command and waits until the monitor has handled it and waits again.
  void send(MonitorCommand command) {
    int parks = clock_->parks();
    ASSERT_TRUE(sender_->send(std::move(command)));
    clock_->await_park_after(parks);
  }

  // Moves the time to the monitor's next check, lets the check run and returns its time.
  base::Instant tick() {
    std::optional<base::Instant> deadline = clock_->deadline();
    EXPECT_TRUE(deadline);
    if (!deadline) return {};
    int parks = clock_->parks();
    clock_->set(*deadline);
    clock_->await_park_after(parks);
    return *deadline;
  }

  // Seconds from the start to the monitor's next check.
  double next_check() const {
    std::optional<base::Instant> deadline = clock_->deadline();
    return deadline ? base::seconds_between(kStart, *deadline) : -1.0;
  }

  void set_scan_result(StatusSummary summary) {
    std::lock_guard guard(scan_mutex_);
    next_summary_ = summary;
  }
  // Runs inside the next scans, as an install on another thread would.
  void during_scan(std::function<void()> hook) {
    std::lock_guard guard(scan_mutex_);
    during_scan_ = std::move(hook);
  }
  int scans() const {
    std::lock_guard guard(scan_mutex_);
    return scans_;
  }
  // How often the monitor read the process list since the last call.
  int process_reads() {
    auto calls = fake_.calls();
    fake_.clear_calls();
    return static_cast<int>(std::ranges::count_if(
        calls, [](const machine::testing::Call& c) { return c.op == machine::testing::Op::process_list; }));
  }
  int changes() const { return changes_.load(); }
  std::vector<std::string> log_lines() {
    std::vector<std::string> lines = log_.messages();
    log_.clear();
    return lines;
  }

  CheckReply check_now_and_wait() {
    ReplyChannel reply = reply_channel();
    send(CheckNow{std::move(reply.sender)});
    auto got = reply.receiver.wait_until(base::Clock::now() + kPatience);
    EXPECT_TRUE(got);
    return got.value_or(CheckReply::Done);
  }

  FakeMachine fake_;
  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(kStart);
  std::shared_ptr<MonitorStatus> status_;
  std::shared_ptr<InstallActivity> activity_ = std::make_shared<InstallActivity>();
  std::optional<CommandSender> sender_;
  base::testing::LogCapture log_;
  std::shared_ptr<std::promise<std::string>> fault_;
  std::future<std::string> faulted_;  // the fault that ended the monitor

 private:
  StatusSummary scan() {
    std::function<void()> hook;
    StatusSummary result;
    {
      std::lock_guard guard(scan_mutex_);
      ++scans_;
      hook = during_scan_;
      result = next_summary_;
    }
    if (hook) hook();
    return result;
  }

  mutable std::mutex scan_mutex_;
  StatusSummary next_summary_;
  std::function<void()> during_scan_;
  int scans_ = 0;
  std::atomic<int> changes_{0};
  Thread thread_;
  std::future<void> dropped_;
};

TEST_F(MonitorThread, TimedChecksOnlyReadTheProcessListWhileDcsIsDownAndNoPageIsOpen) {
  start();
  EXPECT_EQ(next_check(), 15.0);
  for (double at : {15.0, 30.0, 45.0}) {
    EXPECT_EQ(base::seconds_between(kStart, tick()), at);
    EXPECT_EQ(process_reads(), 1) << at;
    EXPECT_EQ(next_check(), at + 15.0);
  }
  EXPECT_EQ(scans(), 0);
  EXPECT_EQ(changes(), 0);
  EXPECT_THAT(log_lines(), IsEmpty());
}

TEST_F(MonitorThread, TimedChecksScanWhileDcsRuns) {
  start({kInstalled8, true});
  tick();
  tick();
  EXPECT_EQ(process_reads(), 2);
  EXPECT_EQ(scans(), 2);
  EXPECT_EQ(next_check(), 45.0);
}

// The commands that ask for a scan do it at once, without reading the process list and without
// moving the planned check.
TEST_F(MonitorThread, AskingCommandsScanAtOnce) {
  start();
  send(CheckNow{});
  EXPECT_EQ(scans(), 1);
  send(PageOpened{});
  EXPECT_EQ(scans(), 2);
  send(Recheck{});
  EXPECT_EQ(scans(), 3);
  EXPECT_EQ(process_reads(), 0);
  EXPECT_EQ(next_check(), 15.0);
}

TEST_F(MonitorThread, EveryTimedCheckScansWhileAPageIsOpen) {
  start();
  send(PageOpened{});
  send(PageOpened{});
  ASSERT_EQ(scans(), 2);
  tick();
  EXPECT_EQ(scans(), 3);
  send(PageClosed{});
  tick();
  EXPECT_EQ(scans(), 4);
  send(PageClosed{});
  tick();
  EXPECT_EQ(scans(), 4);  // no page open any more
  EXPECT_EQ(process_reads(), 3);
}

TEST_F(MonitorThread, PageClosedBelowZeroStaysAtZero) {
  start();
  send(PageClosed{});
  send(PageClosed{});
  send(PageOpened{});
  send(PageClosed{});
  ASSERT_EQ(scans(), 1);
  tick();
  EXPECT_EQ(scans(), 1);  // a count gone below zero would still see a page open
}

TEST_F(MonitorThread, CollectorQuietWhileDcsRunsChecksEverySecondForFifteenSeconds) {
  start({kInstalled8, true});
  clock_->set(kStart + 4s);
  send(CollectorQuiet{});
  // The immediate check ran at once.
  EXPECT_EQ(process_reads(), 1);
  EXPECT_EQ(next_check(), 5.0);
  for (int second = 5; second <= 19; ++second) {
    EXPECT_EQ(base::seconds_between(kStart, tick()), second);
    EXPECT_EQ(process_reads(), 1) << second;
  }
  // The window has passed: back to the normal period.
  EXPECT_EQ(next_check(), 34.0);
  EXPECT_EQ(scans(), 0);  // the fast checks only read the process list
  tick();
  EXPECT_EQ(scans(), 1);  // a normal timed check with DCS running
  EXPECT_EQ(next_check(), 49.0);
}

TEST_F(MonitorThread, CollectorQuietWhileDcsIsDownChecksOnceThenEveryFifteenSeconds) {
  start();
  clock_->set(kStart + 4s);
  send(CollectorQuiet{});
  EXPECT_EQ(process_reads(), 1);
  EXPECT_EQ(next_check(), 19.0);
  tick();
  EXPECT_EQ(next_check(), 34.0);
  EXPECT_EQ(scans(), 0);
}

TEST_F(MonitorThread, TheFastStretchEndsWhenDcsStops) {
  start({kInstalled8, true});
  send(CollectorQuiet{});
  tick();
  ASSERT_EQ(next_check(), 2.0);
  fake_.remove_process("DCS.exe");
  tick();
  EXPECT_EQ(next_check(), 17.0);
  EXPECT_THAT(log_lines(), ElementsAre("DCS is not running"));
  EXPECT_EQ(changes(), 1);
  EXPECT_EQ(scans(), 0);
}

TEST_F(MonitorThread, DcsStartingAtAFastCheckScans) {
  start({kInstalled8, false});
  fake_.add_process("DCS.exe");
  set_scan_result(kOutdated7);
  send(CollectorQuiet{});
  EXPECT_EQ(scans(), 1);
  EXPECT_THAT(log_lines(), ElementsAre("install status: outdated", "DCS is running"));
  EXPECT_EQ(changes(), 1);
  EXPECT_EQ(next_check(), 1.0);  // DCS runs: the fast stretch goes on
  tick();
  tick();
  EXPECT_EQ(scans(), 1);
}

TEST_F(MonitorThread, CollectorHeardEndsTheFastStretchLooksAndScans) {
  start({kInstalled8, true});
  send(CollectorQuiet{});
  tick();
  tick();
  ASSERT_EQ(next_check(), 3.0);
  ASSERT_EQ(process_reads(), 3);
  ASSERT_EQ(scans(), 0);
  send(CollectorHeard{});
  EXPECT_EQ(process_reads(), 1);
  EXPECT_EQ(scans(), 1);
  EXPECT_EQ(next_check(), 17.0);
}

TEST_F(MonitorThread, CollectorHeardWithoutAFastStretchAlsoScans) {
  start();
  clock_->set(kStart + 3s);
  send(CollectorHeard{});
  EXPECT_EQ(process_reads(), 1);
  EXPECT_EQ(scans(), 1);
  EXPECT_EQ(next_check(), 18.0);
}

TEST_F(MonitorThread, CheckNowIsAnsweredAfterItsPass) {
  start();
  set_scan_result(kOutdated7);
  EXPECT_EQ(check_now_and_wait(), CheckReply::Done);
  EXPECT_EQ(scans(), 1);
  EXPECT_EQ(status_->summary(), kOutdated7);
}

TEST_F(MonitorThread, CheckNowDuringAnInstallIsSkippedWithoutAScan) {
  start();
  activity_->installs_begun = 1;
  activity_->installs_in_progress = 1;
  EXPECT_EQ(check_now_and_wait(), CheckReply::Skipped);
  EXPECT_EQ(scans(), 0);
}

// An install that begins while a scan runs makes the scan's result worthless, whether the install
// is still running or already over when the scan ends.
TEST_F(MonitorThread, AnInstallBegunDuringTheScanThrowsTheResultAway) {
  struct Case {
    const char* name;
    bool still_running;
  };
  for (Case c : {Case{"still running", true}, Case{"already over", false}}) {
    SCOPED_TRACE(c.name);
    start();
    set_scan_result(kOutdated7);
    during_scan([this, c] {
      ++activity_->installs_begun;
      if (c.still_running) ++activity_->installs_in_progress;
    });
    EXPECT_EQ(check_now_and_wait(), CheckReply::Skipped);
    EXPECT_EQ(scans(), 1);
    EXPECT_EQ(status_->summary(), kInstalled8);
    EXPECT_THAT(log_lines(), IsEmpty());
    EXPECT_EQ(changes(), 0);
    // The install's end brings a fresh scan that counts.
    during_scan(nullptr);
    activity_->installs_in_progress = 0;
    send(Recheck{});
    EXPECT_EQ(status_->summary(), kOutdated7);
    EXPECT_THAT(log_lines(), ElementsAre("install status: outdated"));
    stop();
  }
}

TEST_F(MonitorThread, PassesWithoutChangeLogNothingAndDoNotCallBack) {
  start({kInstalled8, true});
  send(CheckNow{});
  tick();
  tick();
  ASSERT_EQ(scans(), 3);
  EXPECT_THAT(log_lines(), IsEmpty());
  EXPECT_EQ(changes(), 0);
}

TEST_F(MonitorThread, AddOnFlagsAloneAreStoredButNotReported) {
  start();
  StatusSummary with_add_ons = kInstalled8;
  with_add_ons.map_marker = true;
  with_add_ons.bandit_tool = true;
  set_scan_result(with_add_ons);
  send(CheckNow{});
  EXPECT_EQ(status_->summary(), with_add_ons);
  EXPECT_THAT(log_lines(), IsEmpty());
  EXPECT_EQ(changes(), 0);
}

TEST_F(MonitorThread, ANewCollectorVersionLogsTheSameStatusAgain) {
  struct Case {
    const char* name;
    std::optional<std::uint32_t> before, after;
  };
  for (Case c : {Case{"newer", 8, 9}, Case{"version lost", 8, std::nullopt},
                 Case{"version found", std::nullopt, 8}}) {
    SCOPED_TRACE(c.name);
    start({StatusSummary{c.before, InstallStatus::installed}, false});
    set_scan_result(StatusSummary{c.after, InstallStatus::installed});
    send(CheckNow{});
    EXPECT_THAT(log_lines(), ElementsAre("install status: installed"));
    EXPECT_EQ(changes(), 1);
    stop();
  }
}

TEST_F(MonitorThread, ChangesAreLoggedAndCalledBackOncePerPass) {
  start({std::nullopt, false});
  // The first summary stored counts as a change.
  set_scan_result(kInstalled8);
  send(CheckNow{});
  EXPECT_THAT(log_lines(), ElementsAre("install status: installed"));
  EXPECT_EQ(changes(), 1);

  // Status and DCS change in one pass: both lines, one call.
  fake_.add_process("DCS.exe");
  set_scan_result(kOutdated7);
  tick();
  EXPECT_THAT(log_lines(), ElementsAre("install status: outdated", "DCS is running"));
  EXPECT_EQ(changes(), 2);
  EXPECT_EQ(status_->values(), (MonitorStatus::Values{kOutdated7, true}));

  fake_.remove_process("DCS.exe");
  tick();
  EXPECT_THAT(log_lines(), ElementsAre("DCS is not running"));
  EXPECT_EQ(changes(), 3);
  EXPECT_FALSE(status_->dcs_running());
}

TEST_F(MonitorThread, LogLinesAreInfo) {
  start({kInstalled8, false});
  fake_.add_process("DCS.exe");
  set_scan_result(kOutdated7);
  tick();
  EXPECT_THAT(log_.entries(), ElementsAre(Entry{"info", "install status: outdated"},
                                          Entry{"info", "DCS is running"}));
}

// A pass that did not look keeps the stored DCS flag; the process list is not read.
TEST_F(MonitorThread, PassesWithoutALookKeepTheStoredDcsFlag) {
  start({kInstalled8, true});
  fake_.remove_process("DCS.exe");
  send(CheckNow{});
  EXPECT_TRUE(status_->dcs_running());
  EXPECT_EQ(process_reads(), 0);
  EXPECT_EQ(changes(), 0);
}

TEST_F(MonitorThread, CommandsWaitingTogetherMakeOnePass) {
  start();
  ReplyChannel first = reply_channel();
  ReplyChannel second = reply_channel();
  ReplyChannel third = reply_channel();
  auto later = std::make_shared<std::vector<ReplySender>>();
  later->push_back(std::move(second.sender));
  later->push_back(std::move(third.sender));
  // Queued while the first pass scans, so that the monitor finds them waiting together.
  during_scan([this, copy = *sender_, later] {
    during_scan(nullptr);
    EXPECT_TRUE(copy.send(PageOpened{}));
    for (ReplySender& reply : *later) EXPECT_TRUE(copy.send(CheckNow{std::move(reply)}));
    later->clear();
  });
  send(CheckNow{std::move(first.sender)});
  EXPECT_EQ(scans(), 2);
  for (ReplyReceiver* r : {&first.receiver, &second.receiver, &third.receiver})
    EXPECT_EQ(r->wait_until(base::Clock::now() + kPatience), CheckReply::Done);
}

TEST_F(MonitorThread, TheThreadEndsOnceEverySenderIsGone) {
  start();
  std::optional<CommandSender> copy = *sender_;
  sender_.reset();
  // One sender is left: the monitor still works.
  int parks = clock_->parks();
  ASSERT_TRUE(copy->send(CheckNow{}));
  clock_->await_park_after(parks);
  EXPECT_EQ(scans(), 1);
  copy.reset();
  stop();
}

TEST_F(MonitorThread, ItsOwnerEndsItAlsoWhileSendersRemain) {
  start();
  const CommandSender kept = *sender_;
  EXPECT_TRUE(stopped_by_owner()) << "joined, so the monitor has dropped its state";
  ReplyChannel reply = reply_channel();
  EXPECT_FALSE(kept.send(CheckNow{std::move(reply.sender)}));
  EXPECT_EQ(error_of(reply.receiver.wait_until(base::Clock::now() + kPatience)), WaitError::Closed);
  EXPECT_EQ(scans(), 0);
}

TEST_F(MonitorThread, AFaultEndsOnlyTheMonitorWhichLogsAndTellsIt) {
  start();
  during_scan([] { throw std::runtime_error("the disk went away"); });
  ASSERT_TRUE(sender_->send(CheckNow{}));
  ASSERT_EQ(faulted_.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(faulted_.get(), "the disk went away");
  EXPECT_TRUE(log_.contains("an internal error in the simulator monitor: the disk went away"));
  EXPECT_FALSE(sender_->send(CheckNow{})) << "an ended monitor takes no more commands";
}

TEST_F(MonitorThread, ARequesterWhoLeftIsIgnored) {
  start();
  ReplyChannel reply = reply_channel();
  { ReplyReceiver gone = std::move(reply.receiver); }
  send(CheckNow{std::move(reply.sender)});
  EXPECT_EQ(scans(), 1);
  send(CheckNow{});
  EXPECT_EQ(scans(), 2);
}

// On the real clock, with short timings: the timed checks come by themselves.
TEST(MonitorRealClock, TimedChecksComeByThemselves) {
  base::testing::LogCapture log;
  FakeMachine fake;
  fake.add_process("DCS.exe");
  auto status = std::make_shared<MonitorStatus>(kInstalled8, false);
  std::promise<void> changed;
  CommandChannel channel = command_channel();
  MonitorTimings timings{10ms, 5ms, 20ms};
  Thread thread = spawn(MonitorArgs{
      .machine = fake.machine(),
      .commands = std::move(channel.receiver),
      .status = status,
      .activity = std::make_shared<InstallActivity>(),
      .scan = [](const machine::Machine&) { return kInstalled8; },
      .on_change = [&changed, done = false]() mutable {
        if (!std::exchange(done, true)) changed.set_value();
      },
      .timings = timings,
      .first_check = base::Clock::now() + timings.normal_period,
  });
  EXPECT_EQ(changed.get_future().wait_for(kPatience), std::future_status::ready);
  EXPECT_TRUE(status->dcs_running());
  // A check asked for on the real clock is answered.
  ReplyChannel reply = reply_channel();
  EXPECT_TRUE(channel.sender.send(CheckNow{std::move(reply.sender)}));
  EXPECT_EQ(reply.receiver.wait_until(base::Clock::now() + kPatience), CheckReply::Done);
  { CommandSender last = std::move(channel.sender); }
  thread.stop();
  EXPECT_TRUE(log.contains("DCS is running"));
}

// The channels on their own.

TEST(CommandChannelTest, WaitEndsAtOnceWhenTheDeadlineHasPassed) {
  CommandChannel channel = command_channel();
  auto got = channel.receiver.wait_until(base::Clock::now() - 1s, *steady_clock());
  EXPECT_EQ(error_of(got), WaitError::TimedOut);
  EXPECT_EQ(error_of(channel.receiver.try_take()), TakeError::Empty);
}

TEST(CommandChannelTest, QueuedCommandsComeOutInOrderBeforeTheClose) {
  CommandChannel channel = command_channel();
  ASSERT_TRUE(channel.sender.send(PageOpened{}));
  ASSERT_TRUE(channel.sender.send(PageClosed{}));
  { CommandSender gone = std::move(channel.sender); }
  auto first = channel.receiver.wait_until(base::Clock::now() + kPatience, *steady_clock());
  ASSERT_TRUE(first);
  EXPECT_TRUE(std::holds_alternative<PageOpened>(*first));
  auto second = channel.receiver.try_take();
  ASSERT_TRUE(second);
  EXPECT_TRUE(std::holds_alternative<PageClosed>(*second));
  EXPECT_EQ(error_of(channel.receiver.try_take()), TakeError::Closed);
  EXPECT_EQ(error_of(channel.receiver.wait_until(base::Clock::now() + kPatience, *steady_clock())),
            WaitError::Closed);
}

TEST(CommandChannelTest, TheLastSenderGoingWakesAWaitingReceiver) {
  CommandChannel channel = command_channel();
  std::optional<CommandSender> sender = std::move(channel.sender);
  std::thread dropper([&] { sender.reset(); });
  auto got = channel.receiver.wait_until(base::Clock::now() + kPatience, *steady_clock());
  dropper.join();
  EXPECT_EQ(error_of(got), WaitError::Closed);
}

TEST(CommandChannelTest, CommandsFromOtherThreadsWakeTheReceiver) {
  CommandChannel channel = command_channel();
  constexpr int kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([sender = channel.sender] {
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(sender.send(Recheck{}));
    });
  { CommandSender gone = std::move(channel.sender); }
  int received = 0;
  for (;;) {
    auto got = channel.receiver.wait_until(base::Clock::now() + kPatience, *steady_clock());
    if (!got) {
      EXPECT_EQ(error_of(got), WaitError::Closed);
      break;
    }
    ++received;
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(received, 3 * kEach);
}

TEST(CommandChannelTest, AGoneReceiverRefusesCommandsAndClosesTheirReplies) {
  CommandChannel channel = command_channel();
  ReplyChannel queued = reply_channel();
  ReplyChannel late = reply_channel();
  ASSERT_TRUE(channel.sender.send(CheckNow{std::move(queued.sender)}));
  { CommandReceiver gone = std::move(channel.receiver); }
  EXPECT_FALSE(channel.sender.send(CheckNow{std::move(late.sender)}));
  EXPECT_EQ(error_of(queued.receiver.wait_until(base::Clock::now() + kPatience)), WaitError::Closed);
  EXPECT_EQ(error_of(late.receiver.wait_until(base::Clock::now() + kPatience)), WaitError::Closed);
}

TEST(ReplyChannelTest, TellsAReplyATimeOutAndAClosedChannelApart) {
  {
    ReplyChannel reply = reply_channel();
    EXPECT_EQ(error_of(reply.receiver.wait_until(base::Clock::now())), WaitError::TimedOut);
    EXPECT_TRUE(reply.sender.send(CheckReply::Skipped));
    EXPECT_EQ(reply.receiver.wait_until(base::Clock::now()), CheckReply::Skipped);
  }
  {
    ReplyChannel reply = reply_channel();
    std::thread answer([sender = std::move(reply.sender)]() mutable { sender.send(CheckReply::Done); });
    EXPECT_EQ(reply.receiver.wait_until(base::Clock::now() + kPatience), CheckReply::Done);
    answer.join();
  }
  {
    ReplyChannel reply = reply_channel();
    std::thread drop([sender = std::move(reply.sender)] {});
    EXPECT_EQ(error_of(reply.receiver.wait_until(base::Clock::now() + kPatience)), WaitError::Closed);
    drop.join();
  }
}

TEST(ReplyChannelTest, TheSenderLearnsThatTheRequesterHasGone) {
  ReplyChannel reply = reply_channel();
  EXPECT_FALSE(reply.sender.requester_gone());
  { ReplyReceiver gone = std::move(reply.receiver); }
  EXPECT_TRUE(reply.sender.requester_gone());
  EXPECT_FALSE(reply.sender.send(CheckReply::Done));
}

TEST(AddDuration, AddsAndStopsTheProgramOnOverflow) {
  EXPECT_EQ(add_duration(kStart, 15s), kStart + 15s);
  EXPECT_DEATH(add_duration(base::Instant::max() - 1s, 15s), "overflow when adding duration to instant");
}

}  // namespace
}  // namespace monitor
