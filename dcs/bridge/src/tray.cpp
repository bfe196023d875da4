#include "dcs/bridge/src/tray.hpp"

#include <chrono>
#include <cstdint>
#include <utility>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/this_coro.hpp>

#include "core/base/src/clip.hpp"
#include "core/base/src/log.hpp"
#include "core/base/src/time.hpp"
#include "dcs/bridge/src/run.hpp"

namespace tray {

namespace asio = boost::asio;

namespace {

constexpr std::chrono::milliseconds kRefreshWait{500};
constexpr std::chrono::seconds kStopWait{1};

constexpr std::string_view kInstallInProgress = "an install is in progress; the menu shows the status from before it";
constexpr std::string_view kMonitorStopped = "the simulator monitor has stopped; the menu shows its last status";

// One install in progress for the monitor while it lives.
class MonitorInstallGuard final : public InstallGuard {
 public:
  MonitorInstallGuard(monitor::CommandSender commands, std::shared_ptr<monitor::InstallActivity> activity)
      : commands_(std::move(commands)), activity_(std::move(activity)) {}
  MonitorInstallGuard(const MonitorInstallGuard&) = delete;
  MonitorInstallGuard& operator=(const MonitorInstallGuard&) = delete;

  // The last guard to end asks for the scan that the monitor skipped or threw away meanwhile.
  ~MonitorInstallGuard() override {
    if (activity_->installs_in_progress.fetch_sub(1) == 1) (void)commands_.send(monitor::Recheck{});
  }

 private:
  monitor::CommandSender commands_;
  std::shared_ptr<monitor::InstallActivity> activity_;
};

// Whether the worker said it was done by `deadline`. A worker that went without saying so breaks
// the promise, which the future tells only by throwing.
bool done_by(std::future<void>& done, base::Instant deadline) {
  if (!done.valid() || done.wait_until(deadline) != std::future_status::ready) return false;
  try {
    done.get();
    return true;
  } catch (const std::future_error&) {
    return false;
  }
}

}  // namespace

void TrayStatusSource::set_collector_quiet(bool quiet) {
  MonitorStatusSource::set_collector_quiet(quiet);
  events_.send(CollectorQuiet{quiet});
}

void TrayRepairOpener::open() { events_.send(OpenRepair{}); }

WorkerLink::WorkerLink(Parts parts)
    : stop_(std::move(parts.stop)),
      done_(std::move(parts.done)),
      status_(std::move(parts.status)),
      commands_(std::move(parts.commands)),
      activity_(std::move(parts.activity)) {}

std::optional<monitor::StatusSummary> WorkerLink::status() { return status_->summary(); }

bool WorkerLink::simulator_running() { return status_->dcs_running(); }

void WorkerLink::refresh_now() {
  if (activity_->installs_in_progress.load() != 0) {
    base::info(kInstallInProgress);
    return;
  }
  monitor::ReplyChannel reply = monitor::reply_channel();
  if (!commands_.send(monitor::CheckNow{std::move(reply.sender)})) {
    base::log(base::Level::Error, kMonitorStopped);
    return;
  }
  const std::expected<monitor::CheckReply, monitor::WaitError> answer =
      reply.receiver.wait_until(monitor::add_duration(base::Clock::now(), kRefreshWait));
  if (answer) {
    if (*answer == monitor::CheckReply::Skipped) base::info(kInstallInProgress);
  } else if (answer.error() == monitor::WaitError::TimedOut) {
    base::warn("the install check took too long; the menu shows the last one");
  } else {
    base::log(base::Level::Error, kMonitorStopped);
  }
}

std::unique_ptr<InstallGuard> WorkerLink::begin_install() {
  activity_->installs_begun.fetch_add(1);
  activity_->installs_in_progress.fetch_add(1);
  return std::make_unique<MonitorInstallGuard>(commands_, activity_);
}

bool WorkerLink::stop() {
  std::optional<StopChannel::Sender> stop;
  {
    std::lock_guard lock(stop_mutex_);
    stop.swap(stop_);
  }
  std::lock_guard lock(done_mutex_);
  if (!stop) return stopped_in_time_;
  // Refused only when the worker has ended already, and then its done message is there.
  (void)stop->try_send(std::monostate{});
  stop.reset();
  stopped_in_time_ = done_by(done_, monitor::add_duration(base::Clock::now(), kStopWait));
  if (!stopped_in_time_) base::warn("the shuttle did not stop in time");
  return stopped_in_time_;
}

void worker_main(bridge::BridgeConfig config, machine::Machine machine, BridgeEvents events, StartServices start) {
  // The thread's top: a fault that escapes the bridge is told like any other stop on an error,
  // rather than ending the process with nothing said and the icon left behind.
  std::string fault;
  try {
    const std::expected<void, std::string> ran =
        run::run_on_runtime(run_bridge(std::move(config), std::move(machine), events, std::move(start)));
    if (!ran) events.send(DidNotStart{"cannot start the async runtime: " + ran.error(), false});
    return;
  } catch (const std::exception& e) {
    fault = e.what();
  } catch (...) {
  }
  if (fault.empty()) fault = "no message";
  base::log(base::Level::Error, "an internal error in the bridge worker: " + base::clip(fault));
  events.send(StoppedOnError{"an internal error in its bridge: " + base::clip(fault)});
}

asio::awaitable<void> run_bridge(bridge::BridgeConfig config, machine::Machine machine, BridgeEvents events,
                                 StartServices start) {
  using namespace asio::experimental::awaitable_operators;

  // The first look is the worker's; the monitor takes the machine over after it.
  const monitor::MonitorStatus::Values first = run::first_look(machine);
  run::MonitorShare share = run::start_monitor(
      first, std::move(machine), [events](run::RelayWakeCell& cell) { monitor::notify_tray(cell, events); },
      [events](std::string_view fault) {
        events.send(StoppedOnError{"an internal error in its simulator monitor: " + base::clip(fault)});
      });
  run::ClearOnExit clear_wake{share.wake};

  auto source = std::make_shared<TrayStatusSource>(share.commands, share.status, events);
  auto repair = std::make_shared<TrayRepairOpener>(events);
  const std::string version = config.version;
  const std::uint16_t page_port = config.page_port;
  // Awaited from a named local: g++ 12 can destroy the temporaries of a co_await expression twice.
  asio::awaitable<std::expected<shuttle::ShuttleHandle, net::BindError>> starting =
      start(std::move(config), source, repair);
  std::expected<shuttle::ShuttleHandle, net::BindError> started = co_await std::move(starting);
  if (!started) {
    events.send(DidNotStart{started.error().text(), started.error().in_use});
    co_return;
  }
  shuttle::ShuttleHandle& link = *started;
  share.wake->set(link.commands());
  base::info("Tolvaro DCS Bridge " + version + " running in the tray: pages on 127.0.0.1:" + std::to_string(page_port));

  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  auto [stop_sender, stop_receiver] = StopChannel::make(executor, 1);
  std::promise<void> done;
  events.send(Running{std::make_unique<WorkerLink>(WorkerLink::Parts{
      .stop = std::move(stop_sender),
      .done = done.get_future(),
      .status = share.status,
      .commands = share.commands,
      .activity = share.activity,
  })});

  // A stop value, a dropped sender and a closed channel all end the wait as a stop.
  asio::awaitable<void> stop_asked = stop_receiver.wait();
  asio::awaitable<net::kit::TaskEnd> ended = link.ended();
  const std::variant<std::monostate, net::kit::TaskEnd> first_end =
      co_await (std::move(stop_asked) || std::move(ended));

  std::optional<std::string> end_text;
  if (const auto* end = std::get_if<net::kit::TaskEnd>(&first_end)) {
    end_text = shuttle::handle::describe_end(*end);
  } else {
    asio::awaitable<std::optional<std::string>> stopping = run::stop_link(std::move(link));
    end_text = co_await std::move(stopping);
  }
  done.set_value();
  if (end_text) events.send(StoppedOnError{std::move(*end_text)});
}

}  // namespace tray

namespace monitor {

void notify_tray(run::RelayWakeCell& cell, const tray::BridgeEvents& events) {
  (void)cell.status_changed();
  events.send(tray::StatusChanged{});
}

}  // namespace monitor
