#include "dcs/bridge/src/headless.hpp"

#include <string>
#include <utility>
#include <variant>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/this_coro.hpp>

#include "core/base/src/log.hpp"
#include "core/base/src/time.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/services.hpp"
#include "dcs/protocol/src/install_status.hpp"

namespace run {

namespace asio = boost::asio;

monitor::StatusSummary summary_of(const install::ScanResult& scan) {
  return {scan.collector_version, scan.status, scan.map_marker, scan.bandit_tool};
}

shuttle::InstallSummary HeadlessStatusSource::status() {
  const std::optional<monitor::StatusSummary> summary = status_->summary();
  if (!summary) return {};
  return {summary->status, summary->collector_version};
}

bool HeadlessStatusSource::simulator_running() { return status_->dcs_running(); }

// A monitor that has ended takes no more commands; nothing here depends on them arriving.
void HeadlessStatusSource::set_collector_quiet(bool quiet) {
  if (quiet) {
    (void)commands_.send(monitor::CollectorQuiet{});
  } else {
    (void)commands_.send(monitor::CollectorHeard{});
  }
}

void HeadlessStatusSource::page_opened() { (void)commands_.send(monitor::PageOpened{}); }

void HeadlessStatusSource::page_closed() { (void)commands_.send(monitor::PageClosed{}); }

void RelayWakeCell::set(shuttle::ShuttleCommands commands) {
  std::lock_guard lock(mutex_);
  if (!commands_) commands_.emplace(std::move(commands));
}

void RelayWakeCell::clear() {
  std::lock_guard lock(mutex_);
  commands_.reset();
}

bool RelayWakeCell::status_changed() {
  std::lock_guard lock(mutex_);
  return commands_ && commands_->status_changed();
}

void notify_headless(RelayWakeCell& cell) { (void)cell.status_changed(); }

namespace {

constexpr std::chrono::seconds kNormalPeriod{15};
constexpr std::chrono::seconds kFastPeriod{1};
constexpr std::chrono::seconds kFastWindow{15};

std::string banner(const bridge::BridgeConfig& config) {
  return "Tolvaro DCS Bridge " + config.version + " running: pages on ws://127.0.0.1:" +
         std::to_string(config.page_port) + "/api/v1, collector replies on UDP " + std::to_string(config.listen_port) +
         ", collector at UDP " + std::to_string(config.collector_port) + ". Ctrl+C stops it.";
}

// Clears the wake cell on every way out, so the monitor thread, which may outlive the runtime,
// never sends to the link's channel after the run.
struct ClearOnExit {
  std::shared_ptr<RelayWakeCell> cell;
  ~ClearOnExit() { cell->clear(); }
};

}  // namespace

asio::awaitable<int> run_until_stopped(HeadlessSetup setup) {
  using namespace asio::experimental::awaitable_operators;

  std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env(setup.env);
  if (!config) {
    base::log(base::Level::error, config.error().text());
    co_return 2;
  }
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  // Listening starts before anything slow, so a Ctrl+C during the scan is kept for the wait.
  std::vector<stop_signal::StopListener> listeners = setup.listen(executor);

  const install::ScanResult scan = install::scan(setup.machine);
  base::info("install status: " + std::string(install::wire_word(scan.status)));
  const bool dcs_running = setup.machine.processes->is_running(monitor::kDcsExe);
  base::info(dcs_running ? "DCS is running" : "DCS is not running");

  auto status = std::make_shared<monitor::MonitorStatus>(summary_of(scan), dcs_running);
  auto activity = std::make_shared<monitor::InstallActivity>();
  monitor::CommandChannel channel = monitor::command_channel();
  auto wake = std::make_shared<RelayWakeCell>();
  ClearOnExit clear_wake{wake};
  monitor::spawn(monitor::MonitorArgs{
                     .machine = setup.monitor_machine(),
                     .commands = std::move(channel.receiver),
                     .status = status,
                     .activity = activity,
                     .scan = [](const machine::Machine& m) { return summary_of(install::scan(m)); },
                     .on_change = [wake] { notify_headless(*wake); },
                     .timings = {kNormalPeriod, kFastPeriod, kFastWindow},
                     .first_check = monitor::add_duration(base::Clock::now(), kNormalPeriod),
                 })
      .detach();

  auto source = std::make_shared<HeadlessStatusSource>(channel.sender, status);
  auto repair = std::make_shared<HeadlessRepairOpener>();
  // Awaited from a named local: g++ 12 can destroy the temporaries of a co_await expression twice.
  asio::awaitable<std::expected<shuttle::ShuttleHandle, net::BindError>> starting =
      start_services(*config, source, repair);
  std::expected<shuttle::ShuttleHandle, net::BindError> started = co_await std::move(starting);
  if (!started) {
    base::log(base::Level::error, "Tolvaro DCS Bridge did not start: " + started.error().text());
    co_return 1;
  }
  shuttle::ShuttleHandle& link = *started;
  wake->set(link.commands());
  base::info(banner(*config));

  asio::awaitable<stop_signal::StopReason> stop = stop_signal::first_stop(listeners);
  asio::awaitable<net::kit::TaskEnd> ended = link.ended();
  const std::variant<stop_signal::StopReason, net::kit::TaskEnd> first =
      co_await (std::move(stop) || std::move(ended));

  if (const auto* end = std::get_if<net::kit::TaskEnd>(&first)) {
    base::log(base::Level::error, "Tolvaro DCS Bridge stopped on an error: " + shuttle::handle::describe_end(*end));
    co_return 1;
  }
  base::info("stopping on " + std::string(stop_signal::reason_text(std::get<stop_signal::StopReason>(first))));
  // No time-out here: the link stops the page server, whose grace periods bound the wait.
  asio::awaitable<net::kit::TaskEnd> stopping = std::move(link).stop();
  const net::kit::TaskEnd end = co_await std::move(stopping);
  if (end.how != net::kit::TaskEnd::How::finished) {
    base::log(base::Level::error, "Tolvaro DCS Bridge stopped on an error: " + shuttle::handle::describe_end(end));
    co_return 1;
  }
  base::info("stopped");
  co_return 0;
}

}  // namespace run
