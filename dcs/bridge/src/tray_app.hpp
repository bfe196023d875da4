#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/src/tray.hpp"
#include "dcs/bridge/src/autostart.hpp"
#include "dcs/bridge/src/tray.hpp"
#include "dcs/bridge/src/tray_status.hpp"
#include "dcs/install/src/machine.hpp"

// Tray mode: the program in the notification area, with its status, menu, balloons, repair flows
// and Start with Windows, one instance per page port.
namespace tray_app {

// Tray mode over `machine`: the bridge with its tray icon until the user quits. `announce` shows
// the one-time "is running" notice (false when started at sign-in). Returns 0, 1, or 2 on a
// configuration error. The repair flows and the bridge worker (with its monitor thread) share
// `machine`; both threads have ended when it returns, or the process ends instead.
int run(std::shared_ptr<const machine::Machine> machine, bool announce);

// Opens a web address in the user's browser; a failure is only logged.
void open_url(std::string_view address);

// The command line that hands `address` to the browser through the system's own rundll32, named by
// its full path in `system_folder` (the folder GetSystemDirectoryW gives): a bare "rundll32.exe"
// would be looked for first in this program's folder, where anything may lie beside a download.
std::string open_url_command(std::string_view system_folder, std::string_view address);
// The program that command starts.
std::string rundll32_path(std::string_view system_folder);

// Opens a web address.
using OpenUrl = std::function<void(std::string_view address)>;
// Runs the repair flow (add-ons mode or not) for the tray's current install status, over the tray's
// dialogs; returns when its last dialog is closed.
using RunRepair =
    std::function<void(bool add_ons, std::optional<install::InstallStatus> status, tray::TrayUi& ui)>;

// The application behind the tray window: turns every window event and every message of the bridge
// worker into tray updates, balloons, menu actions and the repair flow. Lives on the UI thread; its
// handler is entered again while a repair's dialogs run, so no state is held across a dialog.
class TrayApp {
 public:
  TrayApp(std::string version, bridge::AutostartSetting& autostart, OpenUrl open_url, RunRepair run_repair,
          bool announce);

  void handle_event(tray::TrayUi& ui, tray::TrayEvent<tray::BridgeEvent> event);

  // Shows the current status: tooltip, menu, badge, and the balloons owed.
  void refresh(tray::TrayUi& ui);
  // Runs the repair flow unless one is open already, which is then raised instead.
  void start_repair(tray::TrayUi& ui, bool add_ons);
  // A balloon titled with the product; when it was shown, clicking it continues the repair or not.
  void notify(tray::TrayUi& ui, std::string_view text, bool clicks_repair);
  // Stops the bridge (waiting up to 1 s) and lets go of it.
  void stop_bridge();

  // The bridge did not start or stopped on an error: the program ends with 1.
  bool failed() const { return failed_; }
  // A stop of the bridge gave up waiting: its worker may still run.
  bool bridge_left_running() const { return bridge_left_running_; }

 private:
  // The link, lent out for one call at a time: a second use while one is active is a fault.
  template <class Use>
  void with_link(Use&& use);

  std::string version_;
  bridge::AutostartSetting& autostart_;
  OpenUrl open_url_;
  RunRepair run_repair_;
  std::unique_ptr<tray::BridgeLink> link_;
  bool link_in_use_ = false;
  std::vector<install::InstallStatus> notified_;
  bool collector_quiet_ = true;
  bool click_repairs_ = false;
  bool busy_ = false;
  bool failed_ = false;
  bool bridge_left_running_ = false;
  bool announce_;
};

// The Start-with-Windows entry when this program's path is unknown: it reports the bare program
// name's entry as the registry has it, and turns it off, but refuses to turn it on, since a Run
// value without a path would start nothing at sign-in.
class PathlessAutostart final : public bridge::AutostartSetting {
 public:
  // Over fallback_entry() in the registry.
  PathlessAutostart();
  // Over `entry`, which stands for the fallback entry.
  explicit PathlessAutostart(std::unique_ptr<bridge::AutostartSetting> entry);

  // The bare program name's entry: the usual Run key and value name, the command
  // "TolvaroDcsBridge.exe".
  static bridge::Autostart fallback_entry();

  bool is_enabled() const override;
  std::expected<void, base::OsError> set(bool on) override;

 private:
  std::unique_ptr<bridge::AutostartSetting> entry_;
};

}  // namespace tray_app
