#pragma once

// Headless mode's parts: what the collector link reads and reports through (the simulator
// monitor's snapshot and commands), the repair opener that opens nothing, the monitor's change
// callback, and the whole run on an asynchronous runtime.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "dcs/bridge/src/environment.hpp"
#include "dcs/bridge/src/stop_signal.hpp"
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
class HeadlessStatusSource final : public shuttle::StatusSource {
 public:
  HeadlessStatusSource(monitor::CommandSender commands, std::shared_ptr<monitor::MonitorStatus> status)
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

// A page's repair request has no window to open without the tray.
class HeadlessRepairOpener final : public shuttle::RepairOpener {
 public:
  void open() override {}
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

// The monitor's change callback in headless mode: the link sends every page a fresh hello. Does
// nothing before the services have started.
void notify_headless(RelayWakeCell& cell);

// What a headless run works with; the program gives the system's, tests their own.
struct HeadlessSetup {
  const machine::Machine& machine;                   // the first scan and process check
  std::function<machine::Machine()> monitor_machine;  // makes the monitor's own
  const bridge::Environment& env;                    // the configuration
  // Makes the stop listeners, in the order Ctrl+C, Ctrl+Break, console closing, logoff, shutdown.
  std::function<std::vector<stop_signal::StopListener>(const stop_signal::Executor&)> listen =
      stop_signal::console_listeners;
};

// The whole headless run on the runtime it is awaited on: configuration, stop listeners, the first
// scan and process check with their lines, the monitor thread, the services and the banner, then
// the wait for the first stop event or the link's end, and the stop. Returns the exit code: 0 after
// an orderly stop, 1 when the services did not start or the link ended on its own or on an error,
// 2 on a configuration error. The monitor thread is left to end by itself once its senders are gone.
boost::asio::awaitable<int> run_until_stopped(HeadlessSetup setup);

}  // namespace run
