#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <variant>

#include "core/base/src/time.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/protocol/src/install_status.hpp"

// The simulator monitor: a plain thread that keeps the install status of the PC and whether DCS
// is running current in a shared snapshot, and calls back on every change. It is driven only by
// its command channel, its deadline and the install activity counters.
namespace monitor {

// The process whose presence means that DCS is running.
inline constexpr std::string_view kDcsExe = "DCS.exe";

struct MonitorTimings {
  base::Duration normal_period = std::chrono::seconds(15);
  base::Duration fast_period = std::chrono::seconds(1);  // after the collector fell quiet
  base::Duration fast_window = std::chrono::seconds(15);
};

// What the monitor keeps of an install scan.
struct StatusSummary {
  std::optional<std::uint32_t> collector_version;
  install::InstallStatus status = install::InstallStatus::simulatorNotFound;
  bool map_marker = false;
  bool bandit_tool = false;
  friend bool operator==(const StatusSummary&, const StatusSummary&) = default;
};

// The snapshot shared by the monitor and every reader (hello, tray), under one mutex that is held
// only to copy values in or out.
class MonitorStatus {
 public:
  struct Values {
    std::optional<StatusSummary> summary;  // absent until a first one is stored
    bool dcs_running = false;
    friend bool operator==(const Values&, const Values&) = default;
  };

  MonitorStatus() = default;
  MonitorStatus(std::optional<StatusSummary> summary, bool dcs_running)
      : values_{std::move(summary), dcs_running} {}
  MonitorStatus(const MonitorStatus&) = delete;
  MonitorStatus& operator=(const MonitorStatus&) = delete;

  Values values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  std::optional<StatusSummary> summary() const { return values().summary; }
  bool dcs_running() const { return values().dcs_running; }

  // Stores `next` and returns the values it replaced.
  Values exchange(Values next) {
    std::lock_guard lock(mutex_);
    std::swap(values_, next);
    return next;
  }

 private:
  mutable std::mutex mutex_;
  Values values_;
};

// Shared with the tray's install guards, which move them; the monitor only reads them, before and
// after each scan, to keep a scan that overlapped an install from being stored.
struct InstallActivity {
  std::atomic<std::uint64_t> installs_in_progress{0};  // guards alive now
  std::atomic<std::uint64_t> installs_begun{0};        // guards ever taken; only grows
};

// The time source of the monitor and its waits, replaceable so tests can drive the cadence.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual base::Instant now() const = 0;
  // Blocks on `cv`, whose mutex `lock` holds, until `ready()` holds or this clock reaches
  // `deadline`; returns `ready()`. `ready` is only called with the lock held, and the lock is held
  // again on return. Whoever changes what `ready` looks at notifies `cv` under that mutex.
  virtual bool wait_until(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          base::Instant deadline, const std::function<bool()>& ready) const = 0;
};

// The program's steady clock.
std::shared_ptr<const Clock> steady_clock();

// `instant` + `duration`. An overflow cannot happen with real timings; if it does, the program
// stops with "overflow when adding duration to instant".
base::Instant add_duration(base::Instant instant, base::Duration duration);

enum class WaitError { TimedOut, Closed };
enum class TakeError { Empty, Closed };

// The one answer to a `CheckNow` that carried a reply sender.
enum class CheckReply {
  Done,     // the pass ran its scan, or needed none
  Skipped,  // an install was in progress: no scan, or its result was thrown away
};

namespace detail {
struct ReplySlot;
struct CommandQueue;
}  // namespace detail

struct ReplyChannel;
ReplyChannel reply_channel();
struct CommandChannel;
CommandChannel command_channel();
struct MonitorArgs;
class Thread;
Thread spawn(MonitorArgs args);

// The monitor's end of a one-shot reply. Dropping it unanswered closes the reply channel.
class ReplySender {
 public:
  ReplySender(ReplySender&&) noexcept = default;
  ReplySender& operator=(ReplySender&& other) noexcept;
  ~ReplySender();

  // Sends the reply, once; false when the requester has gone (or it was sent already).
  bool send(CheckReply reply);
  bool requester_gone() const;

 private:
  friend ReplyChannel reply_channel();
  explicit ReplySender(std::shared_ptr<detail::ReplySlot> slot) : slot_(std::move(slot)) {}
  void close();
  std::shared_ptr<detail::ReplySlot> slot_;
};

// The requester's end of a one-shot reply. Dropping it makes the sender's `send` give false.
class ReplyReceiver {
 public:
  ReplyReceiver(ReplyReceiver&&) noexcept = default;
  ReplyReceiver& operator=(ReplyReceiver&& other) noexcept;
  ~ReplyReceiver();

  // The reply; `Closed` when the sender was dropped without answering (the monitor ended),
  // `TimedOut` when `deadline` came first.
  std::expected<CheckReply, WaitError> wait_until(base::Instant deadline,
                                                  const Clock& clock = *steady_clock());

 private:
  friend ReplyChannel reply_channel();
  explicit ReplyReceiver(std::shared_ptr<detail::ReplySlot> slot) : slot_(std::move(slot)) {}
  void close();
  std::shared_ptr<detail::ReplySlot> slot_;
};

struct ReplyChannel {
  ReplySender sender;
  ReplyReceiver receiver;
};
ReplyChannel reply_channel();

// Asks for a scan in the coming pass; the reply, when asked for, is sent after that pass.
struct CheckNow {
  std::optional<ReplySender> reply;
};
// A page opened: one more open page, and a scan.
struct PageOpened {};
// A page closed: one open page less, never below 0.
struct PageClosed {};
// The collector fell quiet: check at once, then every fast period while DCS runs, for the fast
// window.
struct CollectorQuiet {};
// The collector is heard again: the fast checks end; look at the processes and scan at once.
struct CollectorHeard {};
// The last install guard ended: scan.
struct Recheck {};

using MonitorCommand =
    std::variant<CheckNow, PageOpened, PageClosed, CollectorQuiet, CollectorHeard, Recheck>;

// A sending end of the monitor's unbounded command channel. Copies are further senders; the
// channel closes for the monitor once every sender is gone.
class CommandSender {
 public:
  CommandSender(const CommandSender& other);
  CommandSender(CommandSender&&) noexcept = default;
  CommandSender& operator=(CommandSender other) noexcept;
  ~CommandSender();

  // Queues the command without blocking, from any thread; false when the monitor has ended, and
  // the command (with any reply sender in it) is dropped.
  bool send(MonitorCommand command) const;

 private:
  friend CommandChannel command_channel();
  explicit CommandSender(std::shared_ptr<detail::CommandQueue> queue) : queue_(std::move(queue)) {}
  std::shared_ptr<detail::CommandQueue> queue_;
};

// The monitor's only receiving end. Dropping it drops the queued commands and makes every later
// send fail.
class CommandReceiver {
 public:
  CommandReceiver(CommandReceiver&&) noexcept = default;
  CommandReceiver& operator=(CommandReceiver&& other) noexcept;
  ~CommandReceiver();

  // The next command, waiting until `deadline` of `clock` at most (no wait once it has passed).
  // Queued commands are given out before `Closed` is reported.
  std::expected<MonitorCommand, WaitError> wait_until(base::Instant deadline, const Clock& clock);
  // The next command if one is queued, without waiting.
  std::expected<MonitorCommand, TakeError> try_take();

 private:
  friend Thread spawn(MonitorArgs args);
  friend CommandChannel command_channel();
  explicit CommandReceiver(std::shared_ptr<detail::CommandQueue> queue) : queue_(std::move(queue)) {}
  void close();
  std::shared_ptr<detail::CommandQueue> queue_;
};

struct CommandChannel {
  CommandSender sender;
  CommandReceiver receiver;
};
CommandChannel command_channel();

// The install scan as the monitor runs it: the summary of a scan of the machine. Never fails;
// problems are logged inside it.
using ScanFunction = std::function<StatusSummary(const machine::Machine&)>;
// Called on the monitor thread after a pass that changed the install status, the collector
// version or whether DCS is running.
using ChangeCallback = std::function<void()>;
// Called on the monitor thread when a fault (an exception from a scan, a callback or the monitor
// itself) has ended it, with the fault's message; the line "an internal error in the simulator
// monitor: {}" is logged first.
using FaultCallback = std::function<void(std::string_view message)>;

struct MonitorArgs {
  machine::Machine machine;  // the monitor's own
  CommandReceiver commands;
  std::shared_ptr<MonitorStatus> status;  // holds the first scan's values
  std::shared_ptr<InstallActivity> activity;
  ScanFunction scan;
  ChangeCallback on_change;
  FaultCallback on_fault;  // may be empty
  MonitorTimings timings;
  base::Instant first_check;  // normally now + the normal period
  std::shared_ptr<const Clock> clock = steady_clock();
};

// Runs the monitor on the calling thread until every command sender has been dropped, or its
// thread's owner stops it.
void run(MonitorArgs args);

// The monitor's thread, owned: it is never left running when its owner ends. Stopping closes the
// command channel on the monitor's side, as if every sender had gone, whoever still holds one: the
// pass in progress is finished, the monitor ends at its next wait (commands still queued are
// dropped, and their requesters see the channel closed), and later sends fail. Then the thread is
// joined. A thread that ends with the process still running threads would race the runtime's exit.
class Thread {
 public:
  Thread() = default;
  Thread(Thread&&) noexcept = default;
  Thread& operator=(Thread&& other) noexcept;
  ~Thread() { stop(); }

  // Stops and joins the thread; returns once it has ended. Later calls return at once.
  void stop() noexcept;

 private:
  friend Thread spawn(MonitorArgs args);
  Thread(std::thread thread, std::shared_ptr<detail::CommandQueue> queue)
      : thread_(std::move(thread)), queue_(std::move(queue)) {}

  std::thread thread_;
  std::shared_ptr<detail::CommandQueue> queue_;
};

// Starts `run` on a new thread. It ends by itself once every command sender is gone, and at the
// latest when the returned owner ends; a fault ends it too (see FaultCallback), and never the
// process. A thread that cannot be started is fatal.
Thread spawn(MonitorArgs args);

}  // namespace monitor
