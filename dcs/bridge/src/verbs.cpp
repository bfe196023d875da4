#include "dcs/bridge/src/verbs.hpp"

#include "core/base/src/log.hpp"
#include "core/ui/src/tray.hpp"
#include "dcs/bridge/src/tray_status.hpp"
#include "dcs/bridge/src/autostart.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/output.hpp"

namespace cli {
int start_with_windows_verb(bool on) {
  std::expected<bridge::Autostart, base::OsError> autostart = bridge::Autostart::for_this_program();
  if (!autostart) {
    base::log(base::Level::Error, "cannot find this program's path: " + autostart.error().text);
    return 1;
  }
  if (std::expected<void, base::OsError> set = autostart->set(on); !set) {
    base::log(base::Level::Error, "cannot change Start with Windows: " + set.error().text);
    return 1;
  }
  bridge::print_line(on ? "Tolvaro DCS Bridge will start with Windows"
                        : "Tolvaro DCS Bridge will not start with Windows");
  return 0;
}

int quit_verb(const QuitOther& quit_other) {
  std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env();
  if (!config) {
    base::log(base::Level::Error, config.error().text());
    return 2;
  }
  switch (quit_other(tray_app::window_class_name(config->page_port))) {
    case tray::QuitOutcome::NotRunning:
      bridge::print_line("Tolvaro DCS Bridge is not running");
      return 0;
    case tray::QuitOutcome::Quit:
      bridge::print_line("Tolvaro DCS Bridge quit");
      return 0;
    case tray::QuitOutcome::TimedOut:
      break;
  }
  static_assert(tray::kQuitWait == std::chrono::seconds(10), "the line below names the wait");
  base::log(base::Level::Error, "Tolvaro DCS Bridge was not seen to quit within 10 seconds");
  return 1;
}

}  // namespace cli
