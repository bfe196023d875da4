// Tray mode on Windows: one instance per page port, the bridge worker, the tray window, and what is
// left to tell the user after the window has gone.
#include "core/base/src/win32.hpp"

#include "core/base/src/log.hpp"
#include "core/ui/src/dialog_host.hpp"
#include "core/ui/src/wide.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/repair.hpp"
#include "dcs/bridge/src/tray_app.hpp"
#include "dcs/bridge/src/wording.hpp"

namespace tray_app {

void open_url(std::string_view address) {
  const auto failed = [&](DWORD code) {
    base::warn("cannot open " + std::string(address) + ": " + base::os_error(code).text);
  };
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return failed(length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
  const std::string system_folder = wide::from_wide(reinterpret_cast<const char16_t*>(folder));
  // rundll32 hands the address to the user's browser; the program does not wait for it.
  const std::u16string program = wide::to_wide(rundll32_path(system_folder));
  std::u16string command = wide::to_wide(open_url_command(system_folder, address));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(win32::wz(program), reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &started))
    return failed(GetLastError());
  win32::Handle process(started.hProcess);
  win32::Handle thread(started.hThread);
}

int run(std::shared_ptr<const machine::Machine> machine, bool announce) {
  std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env();
  if (!config) {
    base::log(base::Level::Error, config.error().text());
    return 2;
  }
  const std::string class_name = window_class_name(config->page_port);
  const std::uint32_t show_yourself = tray::show_yourself_message(class_name);
  if (tray::ask_other_instance_to_show(class_name, show_yourself)) {
    base::info("Tolvaro DCS Bridge is already running; asked it to show itself");
    return 1;
  }

  std::unique_ptr<bridge::AutostartSetting> autostart;
  if (std::expected<bridge::Autostart, base::OsError> entry = bridge::Autostart::for_this_program()) {
    autostart = std::make_unique<bridge::Autostart>(std::move(*entry));
  } else {
    base::warn("cannot find this program's path: " + entry.error().text);
    autostart = std::make_unique<PathlessAutostart>();
  }

  TrayApp app(std::string(bridge::kBridgeVersion), *autostart, &open_url,
              [&machine](bool add_ons, std::optional<install::InstallStatus> status, tray::TrayUi& ui) {
                repair::run_repair(*machine, ui, repair::utc_now, add_ons, status);
              },
              announce);
  // The worker hands the services on to the monitor thread: both hold the machine rather than borrow
  // it. Once the window is gone, the bridge is stopped and the worker joined.
  auto worker = [config = *config, machine](tray::BridgeEvents events) {
    tray::worker_main(config, machine::share(machine), std::move(events));
  };
  std::expected<void, tray::UiError> ran = tray::run<tray::BridgeEvent>(
      class_name, std::move(worker),
      [&app](tray::TrayUi& ui, tray::TrayEvent<tray::BridgeEvent> event) { app.handle_event(ui, std::move(event)); },
      [&app] {
        app.stop_bridge();
        return !app.bridge_left_running();
      });
  const int code = ran && !app.failed() ? 0 : 1;
  if (!ran) {
    const dialogs::DialogMessage told =
        ran.error().kind == tray::UiError::Kind::CallbackPanicked
            ? wording::stopped_dialog("an internal error in its window")
            : wording::couldnt_start_dialog("Windows refused its tray icon: " + ran.error().text() + ".");
    base::log(base::Level::Error, "the tray stopped: " + ran.error().text());
    dialogs::DialogHost standalone;
    standalone.tell(told);
  }
  // A worker that did not stop in time may still be running: returning from main would run the
  // exit-time handlers beside it, which can deadlock with its own end. Everything is written
  // already (log lines, settings, the Run value), so the process ends here.
  if (app.bridge_left_running()) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  return code;
}

}  // namespace tray_app
