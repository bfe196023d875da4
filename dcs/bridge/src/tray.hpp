#pragma once

// Tray mode's bridge worker: the thread that runs the network side on a runtime of its own and
// tells the UI thread only through events, and the link through which the UI thread drives it.

#include <expected>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include <boost/asio/awaitable.hpp>

#include "core/net/src/bind_error.hpp"
#include "core/net/src/kit/channel.hpp"
#include "core/ui/src/tray.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/services.hpp"
#include "dcs/bridge/src/status_watch.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/monitor.hpp"
#include "dcs/shuttle/src/handle.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace tray {

// Held while a repair may write files: the simulator monitor skips its scans meanwhile. Guards
// nest; when the last one ends, the monitor is asked for one fresh scan.
class InstallGuard {
 public:
  virtual ~InstallGuard() = default;
};

// The UI thread's hold on the running bridge; called on the UI thread only.
class BridgeLink {
 public:
  virtual ~BridgeLink() = default;

  // The monitor's latest summary; none until the monitor has one.
  virtual std::optional<monitor::StatusSummary> status() = 0;
  virtual bool simulator_running() = 0;
  // Asks the monitor for a fresh check and waits for it, 500 ms at most; `status` reads the result.
  // Skipped while an install is in progress. Says in the log when the menu keeps an older status.
  virtual void refresh_now() = 0;
  virtual std::unique_ptr<InstallGuard> begin_install() = 0;
  // Stops the bridge and waits for the worker to confirm, 1 s at most (a warning after that);
  // whether it confirmed. Later calls return at once with the first call's answer.
  virtual bool stop() = 0;
};

// What the worker, the monitor thread and the relay core tell the UI thread.
struct Running {
  std::unique_ptr<BridgeLink> link;  // the UI thread's from here on
};
struct DidNotStart {
  std::string message;
  bool port_taken = false;  // a port was already in use: another bridge is probably running
};
struct StatusChanged {};
struct CollectorQuiet {
  bool quiet = false;  // true: fell quiet; false: heard again
};
struct OpenRepair {};
struct StoppedOnError {
  std::string message;
};
// Either one DidNotStart, or one Running possibly followed by one StoppedOnError; StatusChanged at
// any time once the monitor runs; CollectorQuiet and OpenRepair while the services run.
using BridgeEvent = std::variant<Running, DidNotStart, StatusChanged, CollectorQuiet, OpenRepair, StoppedOnError>;
using BridgeEvents = TrayEvents<BridgeEvent>;

// The monitor's snapshot and commands, as in headless mode; the tray also hears when the collector
// falls quiet or is heard again.
class TrayStatusSource final : public run::MonitorStatusSource {
 public:
  TrayStatusSource(monitor::CommandSender commands, std::shared_ptr<monitor::MonitorStatus> status,
                   BridgeEvents events)
      : MonitorStatusSource(std::move(commands), std::move(status)), events_(std::move(events)) {}

  void set_collector_quiet(bool quiet) override;

 private:
  BridgeEvents events_;
};

// A page's accepted repair request opens the repair window on the UI thread.
class TrayRepairOpener final : public shuttle::RepairOpener {
 public:
  explicit TrayRepairOpener(BridgeEvents events) : events_(std::move(events)) {}
  void open() override;

 private:
  BridgeEvents events_;
};

// The stop signal from the UI thread into the worker's runtime: a value, or the sender dropped.
using StopChannel = net::kit::Channel<std::monostate>;

// The BridgeLink of a running worker.
class WorkerLink final : public BridgeLink {
 public:
  struct Parts {
    StopChannel::Sender stop;
    std::future<void> done;  // ready once the worker has seen the collector link end
    std::shared_ptr<monitor::MonitorStatus> status;
    monitor::CommandSender commands;
    std::shared_ptr<monitor::InstallActivity> activity;
  };
  explicit WorkerLink(Parts parts);

  std::optional<monitor::StatusSummary> status() override;
  bool simulator_running() override;
  void refresh_now() override;
  std::unique_ptr<InstallGuard> begin_install() override;
  bool stop() override;

 private:
  std::mutex stop_mutex_;
  std::optional<StopChannel::Sender> stop_;  // until the first stop takes it
  bool stopped_in_time_ = false;             // the first stop's answer
  std::mutex done_mutex_;
  std::future<void> done_;
  std::shared_ptr<monitor::MonitorStatus> status_;
  monitor::CommandSender commands_;
  std::shared_ptr<monitor::InstallActivity> activity_;
};

// How the worker starts the network services; run::start_services but in tests.
using StartServices = std::function<boost::asio::awaitable<std::expected<shuttle::ShuttleHandle, net::BindError>>(
    bridge::BridgeConfig, std::shared_ptr<shuttle::StatusSource>, std::shared_ptr<shuttle::RepairOpener>)>;

// The body of the worker thread: runs run_bridge on a single-threaded runtime of its own until it
// completes. When the runtime cannot be built, DidNotStart says so ("cannot start the async
// runtime: {}", port not taken).
void worker_main(bridge::BridgeConfig config, machine::Machine machine, BridgeEvents events,
                 StartServices start = run::start_services);

// The bridge on the runtime it is awaited on: the first scan and process check with their lines,
// the monitor thread (on `machine`), the services; then Running with the link, and the wait for
// the link's stop or the collector link's end. Everything it has to say is posted to `events`.
// It completes only after the monitor thread has been stopped and joined, on every way out.
boost::asio::awaitable<void> run_bridge(bridge::BridgeConfig config, machine::Machine machine, BridgeEvents events,
                                        StartServices start = run::start_services);

}  // namespace tray

namespace monitor {

// The monitor's change callback in tray mode: the collector link sends every page a fresh hello
// once the services run, and the UI thread hears StatusChanged in any case.
void notify_tray(run::RelayWakeCell& cell, const tray::BridgeEvents& events);

}  // namespace monitor
