#pragma once

// Headless mode's parts: what the collector link reads and reports through (the simulator
// monitor's snapshot and commands), the repair opener that opens nothing, the monitor's change
// callback, and the whole run on an asynchronous runtime.

#include <functional>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "dcs/bridge/src/environment.hpp"
#include "dcs/bridge/src/status_watch.hpp"
#include "dcs/bridge/src/stop_signal.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace run {

// The hello's facts come from the monitor's snapshot; nothing but the monitor hears of pages and
// the collector.
using HeadlessStatusSource = MonitorStatusSource;

// A page's repair request has no window to open without the tray.
class HeadlessRepairOpener final : public shuttle::RepairOpener {
 public:
  void open() override {}
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
