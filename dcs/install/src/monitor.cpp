#include "dcs/install/src/monitor.hpp"

#include <cstdlib>
#include <deque>
#include <string>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/base/src/clip.hpp"
#include "core/base/src/log.hpp"

namespace monitor {

namespace detail {

struct ReplySlot {
  std::mutex mutex;
  std::condition_variable cv;
  std::optional<CheckReply> reply;
  bool sender = true;
  bool receiver = true;
};

struct CommandQueue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<MonitorCommand> items;
  std::size_t senders = 1;
  bool receiver = true;
  bool stopped = false;  // the thread's owner closed the channel for the monitor
};

}  // namespace detail

namespace {

class SteadyClock final : public Clock {
 public:
  base::Instant now() const override { return base::Clock::now(); }
  bool wait_until(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  base::Instant deadline, const std::function<bool()>& ready) const override {
    return cv.wait_until(lock, deadline, ready);
  }
};

}  // namespace

std::shared_ptr<const Clock> steady_clock() {
  static const auto clock = std::make_shared<const SteadyClock>();
  return clock;
}

base::Instant add_duration(base::Instant instant, base::Duration duration) {
  using Rep = base::Duration::rep;
  const Rep a = instant.time_since_epoch().count();
  const Rep b = duration.count();
  if ((b > 0 && a > std::numeric_limits<Rep>::max() - b) ||
      (b < 0 && a < std::numeric_limits<Rep>::min() - b)) {
    base::log(base::Level::Error, "overflow when adding duration to instant");
    std::abort();
  }
  return instant + duration;
}

// Reply one-shot.

ReplyChannel reply_channel() {
  auto slot = std::make_shared<detail::ReplySlot>();
  return ReplyChannel{ReplySender(slot), ReplyReceiver(slot)};
}

ReplySender& ReplySender::operator=(ReplySender&& other) noexcept {
  if (this != &other) {
    close();
    slot_ = std::move(other.slot_);
  }
  return *this;
}

ReplySender::~ReplySender() { close(); }

void ReplySender::close() {
  if (!slot_) return;
  {
    std::lock_guard lock(slot_->mutex);
    slot_->sender = false;
  }
  slot_->cv.notify_all();
  slot_.reset();
}

bool ReplySender::send(CheckReply reply) {
  if (!slot_) return false;
  bool delivered = false;
  {
    std::lock_guard lock(slot_->mutex);
    if (slot_->receiver) {
      slot_->reply = reply;
      delivered = true;
    }
  }
  close();
  return delivered;
}

bool ReplySender::requester_gone() const {
  if (!slot_) return true;
  std::lock_guard lock(slot_->mutex);
  return !slot_->receiver;
}

ReplyReceiver& ReplyReceiver::operator=(ReplyReceiver&& other) noexcept {
  if (this != &other) {
    close();
    slot_ = std::move(other.slot_);
  }
  return *this;
}

ReplyReceiver::~ReplyReceiver() { close(); }

void ReplyReceiver::close() {
  if (!slot_) return;
  {
    std::lock_guard lock(slot_->mutex);
    slot_->receiver = false;
  }
  // Let go only after the unlock: as the last holder this frees the mutex with the slot.
  slot_.reset();
}

std::expected<CheckReply, WaitError> ReplyReceiver::wait_until(base::Instant deadline,
                                                               const Clock& clock) {
  if (!slot_) return std::unexpected(WaitError::Closed);
  std::unique_lock lock(slot_->mutex);
  detail::ReplySlot& slot = *slot_;
  clock.wait_until(lock, slot.cv, deadline, [&] { return slot.reply.has_value() || !slot.sender; });
  if (slot.reply) return *slot.reply;
  if (!slot.sender) return std::unexpected(WaitError::Closed);
  return std::unexpected(WaitError::TimedOut);
}

// Command channel.

CommandChannel command_channel() {
  auto queue = std::make_shared<detail::CommandQueue>();
  return CommandChannel{CommandSender(queue), CommandReceiver(queue)};
}

CommandSender::CommandSender(const CommandSender& other) : queue_(other.queue_) {
  if (!queue_) return;
  std::lock_guard lock(queue_->mutex);
  ++queue_->senders;
}

CommandSender& CommandSender::operator=(CommandSender other) noexcept {
  std::swap(queue_, other.queue_);
  return *this;
}

CommandSender::~CommandSender() {
  if (!queue_) return;
  bool last = false;
  {
    std::lock_guard lock(queue_->mutex);
    last = --queue_->senders == 0;
  }
  if (last) queue_->cv.notify_all();
}

bool CommandSender::send(MonitorCommand command) const {
  if (!queue_) return false;
  {
    std::lock_guard lock(queue_->mutex);
    if (!queue_->receiver || queue_->stopped) return false;
    queue_->items.push_back(std::move(command));
  }
  queue_->cv.notify_one();
  return true;
}

CommandReceiver& CommandReceiver::operator=(CommandReceiver&& other) noexcept {
  if (this != &other) {
    close();
    queue_ = std::move(other.queue_);
  }
  return *this;
}

CommandReceiver::~CommandReceiver() { close(); }

void CommandReceiver::close() {
  if (!queue_) return;
  std::deque<MonitorCommand> dropped;
  {
    std::lock_guard lock(queue_->mutex);
    queue_->receiver = false;
    dropped.swap(queue_->items);
  }
  // Dropped outside the lock: their reply senders tell the requesters that the channel closed.
  dropped.clear();
  queue_.reset();
}

std::expected<MonitorCommand, WaitError> CommandReceiver::wait_until(base::Instant deadline,
                                                                     const Clock& clock) {
  if (!queue_) return std::unexpected(WaitError::Closed);
  std::unique_lock lock(queue_->mutex);
  detail::CommandQueue& q = *queue_;
  clock.wait_until(lock, q.cv, deadline, [&] { return !q.items.empty() || q.senders == 0 || q.stopped; });
  if (q.stopped) return std::unexpected(WaitError::Closed);
  if (!q.items.empty()) {
    MonitorCommand command = std::move(q.items.front());
    q.items.pop_front();
    return command;
  }
  if (q.senders == 0) return std::unexpected(WaitError::Closed);
  return std::unexpected(WaitError::TimedOut);
}

std::expected<MonitorCommand, TakeError> CommandReceiver::try_take() {
  if (!queue_) return std::unexpected(TakeError::Closed);
  std::lock_guard lock(queue_->mutex);
  if (queue_->stopped) return std::unexpected(TakeError::Closed);
  if (!queue_->items.empty()) {
    MonitorCommand command = std::move(queue_->items.front());
    queue_->items.pop_front();
    return command;
  }
  if (queue_->senders == 0) return std::unexpected(TakeError::Closed);
  return std::unexpected(TakeError::Empty);
}

// The monitor.

namespace {

// What one pass has to do, gathered from its commands.
struct Pass {
  bool look = false;   // read the process list
  bool timed = false;  // the wait ended at the planned check
  bool heard = false;  // the collector was heard again
  bool asked = false;  // a scan was asked for
  std::vector<ReplySender> replies;
};

class Monitor {
 public:
  explicit Monitor(MonitorArgs args) : a_(std::move(args)), next_check_(a_.first_check) {}

  void run() {
    for (;;) {
      Pass pass;
      auto first = a_.commands.wait_until(next_check_, *a_.clock);
      if (first) {
        apply(std::move(*first), pass);
      } else if (first.error() == WaitError::Closed) {
        return;
      } else {
        pass.look = true;
        pass.timed = true;
      }
      for (;;) {
        auto more = a_.commands.try_take();
        if (more) {
          apply(std::move(*more), pass);
        } else if (more.error() == TakeError::Closed) {
          return;
        } else {
          break;
        }
      }
      run_pass(pass);
    }
  }

 private:
  void apply(MonitorCommand command, Pass& pass) {
    std::visit(
        [&](auto& c) {
          using C = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<C, CheckNow>) {
            pass.asked = true;
            if (c.reply) pass.replies.push_back(std::move(*c.reply));
          } else if constexpr (std::is_same_v<C, PageOpened>) {
            ++open_pages_;
            pass.asked = true;
          } else if constexpr (std::is_same_v<C, PageClosed>) {
            if (open_pages_ > 0) --open_pages_;
          } else if constexpr (std::is_same_v<C, CollectorQuiet>) {
            const base::Instant now = a_.clock->now();
            fast_until_ = add_duration(now, a_.timings.fast_window);
            next_check_ = now;
            fast_ = true;
          } else if constexpr (std::is_same_v<C, CollectorHeard>) {
            fast_until_.reset();
            pass.look = true;
            pass.heard = true;
          } else {
            static_assert(std::is_same_v<C, Recheck>);
            pass.asked = true;
          }
        },
        command);
  }

  void run_pass(Pass& pass) {
    const MonitorStatus::Values before = a_.status->values();

    bool running = before.dcs_running;
    bool started = false;
    if (pass.look) {
      running = a_.machine.processes->is_running(kDcsExe);
      started = running && !before.dcs_running;
    }

    // Timed checks rescan only while DCS runs or a page is open, and those of the fast stretch
    // only when DCS has just started or the collector was heard.
    const bool trigger = started || pass.heard;
    bool due = pass.timed ? (!fast_ || trigger) && (trigger || running || open_pages_ > 0) : trigger;
    due = due || pass.asked;

    CheckReply reply = CheckReply::Done;
    std::optional<StatusSummary> summary = before.summary;
    if (due) {
      if (a_.activity->installs_in_progress.load() != 0) {
        reply = CheckReply::Skipped;
      } else {
        const std::uint64_t begun = a_.activity->installs_begun.load();
        StatusSummary scanned = a_.scan(a_.machine);
        // A scan that overlapped an install may have seen half-written files; the install's own
        // recheck brings a fresh one.
        if (a_.activity->installs_in_progress.load() != 0 ||
            a_.activity->installs_begun.load() != begun) {
          reply = CheckReply::Skipped;
        } else {
          summary = scanned;
        }
      }
    }

    const MonitorStatus::Values old = a_.status->exchange({summary, running});
    report(old, MonitorStatus::Values{summary, running});

    if (pass.look) plan_next_check(running);

    for (ReplySender& sender : pass.replies) sender.send(reply);
    pass.replies.clear();
  }

  void report(const MonitorStatus::Values& old, const MonitorStatus::Values& now) {
    const bool status_changed = old.summary.has_value() != now.summary.has_value() ||
                                (now.summary && (old.summary->status != now.summary->status ||
                                                 old.summary->collector_version !=
                                                     now.summary->collector_version));
    const bool running_changed = old.dcs_running != now.dcs_running;
    if (status_changed && now.summary)
      base::info("install status: " + std::string(install::wire_word(now.summary->status)));
    if (running_changed) base::info(now.dcs_running ? "DCS is running" : "DCS is not running");
    if ((status_changed || running_changed) && a_.on_change) a_.on_change();
  }

  void plan_next_check(bool running) {
    const base::Instant now = a_.clock->now();
    if (running && fast_until_ && now < *fast_until_) {
      next_check_ = add_duration(now, a_.timings.fast_period);
      fast_ = true;
    } else {
      fast_until_.reset();
      next_check_ = add_duration(now, a_.timings.normal_period);
      fast_ = false;
    }
  }

  MonitorArgs a_;
  base::Instant next_check_;
  std::optional<base::Instant> fast_until_;
  std::uint64_t open_pages_ = 0;
  bool fast_ = false;  // the checks come every fast period
};

}  // namespace

void run(MonitorArgs args) {
  if (!args.clock) args.clock = steady_clock();
  Monitor(std::move(args)).run();
}

namespace {

// The thread's top: a fault that escapes the monitor is logged and told, and ends only the monitor.
void run_guarded(MonitorArgs args) noexcept {
  FaultCallback on_fault;
  std::string message;
  try {
    on_fault = args.on_fault;
    run(std::move(args));
    return;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
  }
  try {
    if (message.empty()) message = "no message";
    base::log(base::Level::Error, "an internal error in the simulator monitor: " + base::clip(message));
    if (on_fault) on_fault(message);
  } catch (...) {
    // Nothing more can be told; the monitor has ended all the same.
  }
}

}  // namespace

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    stop();
    thread_ = std::move(other.thread_);
    queue_ = std::move(other.queue_);
  }
  return *this;
}

void Thread::stop() noexcept {
  if (queue_) {
    {
      std::lock_guard lock(queue_->mutex);
      queue_->stopped = true;
    }
    queue_->cv.notify_all();
    queue_.reset();
  }
  if (thread_.joinable()) thread_.join();
}

Thread spawn(MonitorArgs args) {
  std::shared_ptr<detail::CommandQueue> queue = args.commands.queue_;
  try {
    return Thread(std::thread([args = std::move(args)]() mutable { run_guarded(std::move(args)); }),
                  std::move(queue));
  } catch (const std::system_error& e) {
    base::log(base::Level::Error,
              std::string("cannot start the simulator monitor thread: ") + e.what());
    std::abort();
  }
}

}  // namespace monitor
