#include "dcs/bridge/src/status_watch.hpp"

#include <chrono>
#include <string>
#include <utility>

#include "core/base/src/log.hpp"
#include "core/base/src/time.hpp"
#include "dcs/protocol/src/install_status.hpp"

namespace run {

monitor::StatusSummary summary_of(const install::ScanResult& scan) {
  return {scan.collector_version, scan.status, scan.map_marker, scan.bandit_tool};
}

shuttle::InstallSummary MonitorStatusSource::status() {
  const std::optional<monitor::StatusSummary> summary = status_->summary();
  if (!summary) return {};
  return {summary->status, summary->collector_version};
}

bool MonitorStatusSource::simulator_running() { return status_->dcs_running(); }

// A monitor that has ended takes no more commands; nothing here depends on them arriving.
void MonitorStatusSource::set_collector_quiet(bool quiet) {
  if (quiet) {
    (void)commands_.send(monitor::CollectorQuiet{});
  } else {
    (void)commands_.send(monitor::CollectorHeard{});
  }
}

void MonitorStatusSource::page_opened() { (void)commands_.send(monitor::PageOpened{}); }

void MonitorStatusSource::page_closed() { (void)commands_.send(monitor::PageClosed{}); }

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

monitor::MonitorStatus::Values first_look(const machine::Machine& machine) {
  const install::ScanResult scan = install::scan(machine);
  base::info("install status: " + std::string(install::wire_word(scan.status)));
  const bool dcs_running = machine.processes->is_running(monitor::kDcsExe);
  base::info(dcs_running ? "DCS is running" : "DCS is not running");
  return {summary_of(scan), dcs_running};
}

namespace {

constexpr std::chrono::seconds kNormalPeriod{15};
constexpr std::chrono::seconds kFastPeriod{1};
constexpr std::chrono::seconds kFastWindow{15};

}  // namespace

MonitorShare start_monitor(monitor::MonitorStatus::Values first, machine::Machine monitor_machine,
                           std::function<void(RelayWakeCell&)> notify, monitor::FaultCallback on_fault) {
  auto status = std::make_shared<monitor::MonitorStatus>(std::move(first.summary), first.dcs_running);
  auto activity = std::make_shared<monitor::InstallActivity>();
  monitor::CommandChannel channel = monitor::command_channel();
  auto wake = std::make_shared<RelayWakeCell>();
  monitor::Thread thread = monitor::spawn(monitor::MonitorArgs{
      .machine = std::move(monitor_machine),
      .commands = std::move(channel.receiver),
      .status = status,
      .activity = activity,
      .scan = [](const machine::Machine& m) { return summary_of(install::scan(m)); },
      .on_change = [wake, notify = std::move(notify)] { notify(*wake); },
      .on_fault = std::move(on_fault),
      .timings = {kNormalPeriod, kFastPeriod, kFastWindow},
      .first_check = monitor::add_duration(base::Clock::now(), kNormalPeriod),
  });
  return {std::move(thread), std::move(status), std::move(activity), std::move(channel.sender), std::move(wake)};
}

}  // namespace run
