#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/src/tray.hpp"
#include "dcs/install/src/monitor.hpp"

// How the install state shows in the tray: the title, the problem balloon, the badge, the detail
// line and the menu. Pure: the controller feeds it what the bridge link reports.
namespace tray_app {

inline constexpr std::string_view kProductName = "Tolvaro DCS Bridge";

// The tray window's class, one per page port: it finds the instance that serves a port.
inline std::string window_class_name(std::uint16_t page_port) {
  return "TolvaroDcsBridge." + std::to_string(page_port);
}

// The tray menu's items; 0 and 1 are the two header rows.
enum class MenuCommand : std::uint16_t {
  Title = 0,
  Detail = 1,
  Repair = 2,
  AddOns = 3,
  OpenWebApp = 4,
  StartWithWindows = 5,
  Quit = 6,
};
constexpr tray::MenuItemId id_of(MenuCommand c) { return tray::MenuItemId{static_cast<std::uint16_t>(c)}; }

struct TrayStatus {
  std::string title;
  std::optional<std::string> balloon;
  bool attention = false;     // the icon with the badge
  bool needs_repair = false;  // repair first in the menu, and its default item
  bool operator==(const TrayStatus&) const = default;
};

// The row for the monitor's summary (none: "Starting…"); for `installed`, the collector's quiet
// flag and whether DCS runs pick the row.
TrayStatus status_of(const std::optional<monitor::StatusSummary>& summary, bool collector_quiet,
                     bool simulator_running);

// "Bridge {version} · Script {n}", "Bridge {version} · Script not installed", or "Bridge {version}"
// before there is a status.
std::string detail_line(std::string_view version, const std::optional<monitor::StatusSummary>& summary);

// "Tolvaro DCS Bridge: {title}".
std::string tooltip(const TrayStatus& status);

// Title and detail (disabled), then repair first when the setup needs it, Start with Windows, Quit.
std::vector<tray::MenuItem> build_menu(const TrayStatus& status, const std::string& detail, bool start_with_windows);

}  // namespace tray_app
