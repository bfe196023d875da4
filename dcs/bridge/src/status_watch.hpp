#pragma once

// What both modes share around the simulator monitor: the first look at the PC, the snapshot,
// counters and command channel that the monitor thread keeps current, the cell through which it
// wakes the collector link, and the status source that the link reads the snapshot through.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/monitor.hpp"
#include "dcs/install/src/scan.hpp"
#include "dcs/shuttle/src/handle.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace run {

// What the monitor keeps of a scan.
monitor::StatusSummary summary_of(const install::ScanResult& scan);

// The hello's facts come from the monitor's snapshot; page and collector news go to the monitor as
// commands. Every call returns at once: a copy under the snapshot's lock, or a queued command.
class MonitorStatusSource : public shuttle::StatusSource {
 public:
  MonitorStatusSource(monitor::CommandSender commands, std::shared_ptr<monitor::MonitorStatus> status)
      : commands_(std::move(commands)), status_(std::move(status)) {}

  // simulatorNotFound without a version until the snapshot holds a summary.
  shuttle::InstallSummary status() override;
  bool simulator_running() override;
  void set_collector_quiet(bool quiet) override;
  void page_opened() override;
  void page_closed() override;

 private:
  monitor::CommandSender commands_;
  std::shared_ptr<monitor::MonitorStatus> status_;
};

// Where the monitor thread finds the collector link once the services run: set once, from the
// runtime thread; read from the monitor thread. Thread-safe.
class RelayWakeCell {
 public:
  void set(shuttle::ShuttleCommands commands);
  // Forgets the link, so that no later notice reaches a runtime that is going away.
  void clear();
  // Tells the link that the status changed, without waiting; false when there is no link yet, or
  // the notice was dropped (the link has 8 pending commands, or has ended).
  bool status_changed();

 private:
  std::mutex mutex_;
  std::optional<shuttle::ShuttleCommands> commands_;
};

// Empties the wake cell on every way out of a run, before the monitor thread is stopped, so that
// the monitor never sends to the link's channel once the link is going.
struct ClearOnExit {
  std::shared_ptr<RelayWakeCell> cell;
  ~ClearOnExit() { cell->clear(); }
};

// The first install scan and process check over `machine`, each followed by its line: "install
// status: {}" with the status word, then "DCS is running" or "DCS is not running".
monitor::MonitorStatus::Values first_look(const machine::Machine& machine);

// What a mode shares with the monitor thread. Each piece lives as long as its last holder; the
// thread itself is the mode's, stopped and joined when the share ends (declared first, so that it
// goes last).
struct MonitorShare {
  monitor::Thread thread;
  std::shared_ptr<monitor::MonitorStatus> status;
  std::shared_ptr<monitor::InstallActivity> activity;  // both counters 0 at the start
  monitor::CommandSender commands;
  std::shared_ptr<RelayWakeCell> wake;  // empty until the services run
};

// Creates the shared state from `first` and starts the monitor thread on `monitor_machine`: it
// checks every 15 s (the first time 15 s from now), every second for 15 s after the collector fell
// quiet, and calls `notify` with the wake cell on its own thread at every change, and `on_fault`
// if a fault ends it. It runs until the returned share ends.
MonitorShare start_monitor(monitor::MonitorStatus::Values first, machine::Machine monitor_machine,
                           std::function<void(RelayWakeCell&)> notify, monitor::FaultCallback on_fault = {});

}  // namespace run
