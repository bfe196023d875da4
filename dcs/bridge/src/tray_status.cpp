#include "dcs/bridge/src/tray_status.hpp"

#include <array>

namespace tray_app {

using install::InstallStatus;

TrayStatus status_of(const std::optional<monitor::StatusSummary>& summary, bool collector_quiet,
                     bool simulator_running) {
  if (!summary) return {"Starting\u2026", std::nullopt, false, false};
  switch (summary->status) {
    case InstallStatus::simulatorNotFound:
      return {"DCS not found", "Tolvaro couldn't find DCS. Click to choose its folder.", true, true};
    case InstallStatus::notInstalled:
      return {"Not set up in DCS", "Tolvaro isn't set up in DCS. Click to fix.", true, true};
    case InstallStatus::outdated:
      return {"DCS script out of date", "The Tolvaro script in DCS is out of date. Click to fix.", true, true};
    case InstallStatus::modified:
      return {"DCS script was changed", std::nullopt, false, true};
    case InstallStatus::installFailed:
      return {"Couldn't write to DCS folder",
              "Tolvaro couldn't write to your DCS folder. Your antivirus may have blocked it.", true, true};
    case InstallStatus::wrongFolderSuspected:
      return {"DCS isn't sending data", "DCS is flying but Tolvaro hears nothing. Click to fix.", true, true};
    case InstallStatus::installed:
      break;
  }
  if (!collector_quiet) return {"Connected to DCS", std::nullopt, false, false};
  if (simulator_running) return {"DCS running, load a mission", std::nullopt, false, false};
  return {"Waiting for DCS", std::nullopt, false, false};
}

std::string detail_line(std::string_view version, const std::optional<monitor::StatusSummary>& summary) {
  std::string line = "Bridge " + std::string(version);
  if (!summary) return line;
  if (summary->collector_version) return line + " \u00B7 Script " + std::to_string(*summary->collector_version);
  return line + " \u00B7 Script not installed";
}

std::string tooltip(const TrayStatus& status) { return std::string(kProductName) + ": " + status.title; }

std::vector<tray::MenuItem> build_menu(const TrayStatus& status, const std::string& detail, bool start_with_windows) {
  using tray::Item;
  const Item repair{"Repair DCS setup\u2026", id_of(MenuCommand::Repair), true, false, status.needs_repair};
  const Item add_ons{"Configure optional add-ons\u2026", id_of(MenuCommand::AddOns)};
  const Item open{"Open Tolvaro", id_of(MenuCommand::OpenWebApp)};
  std::vector<tray::MenuItem> menu;
  menu.emplace_back(Item{status.title, id_of(MenuCommand::Title), false});
  menu.emplace_back(Item{detail, id_of(MenuCommand::Detail), false});
  menu.emplace_back(std::in_place_type<tray::Separator>);
  for (const Item* item : status.needs_repair ? std::array{&repair, &add_ons, &open}
                                              : std::array{&open, &repair, &add_ons})
    menu.push_back(*item);
  menu.push_back(Item{"Start with Windows", id_of(MenuCommand::StartWithWindows), true, start_with_windows});
  menu.emplace_back(std::in_place_type<tray::Separator>);
  menu.push_back(Item{"Quit", id_of(MenuCommand::Quit)});
  return menu;
}

}  // namespace tray_app
