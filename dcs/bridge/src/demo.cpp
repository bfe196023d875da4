#include "dcs/bridge/src/demo.hpp"

#include <chrono>

#include "dcs/bridge/src/tray_status.hpp"
#include "dcs/bridge/src/wording.hpp"

namespace demo {
namespace {

constexpr std::string_view kDemoVersion = "1.0.0";
constexpr std::uint32_t kDemoCollectorVersion = 6;

// An optional path as a debugger shows it: None, or Some("...") with backslashes and quotes escaped.
std::string debug_path(const std::optional<std::string>& path) {
  if (!path) return "None";
  std::string out = "Some(\"";
  for (char c : *path) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\")";
}

}  // namespace

std::vector<std::string> question_piece(dialogs::Dialogs& dialogs, machine::FileTime now) {
  const std::vector<wording::PickCandidate> candidates{
      {"Saved Games\\DCS", now},
      {"Saved Games\\DCS.openbeta", now - std::chrono::days(200)},
  };
  return {"answer: " + dialogs::to_string(dialogs.ask(wording::pick_folder_question(candidates, now)))};
}

std::vector<std::string> folder_piece(dialogs::Dialogs& dialogs) {
  return {"picked: " + debug_path(dialogs.pick_folder({std::string(wording::kFolderPickerTitle), std::nullopt}))};
}

void repair_piece(dialogs::Dialogs& dialogs, const PrintLine& print) {
  const dialogs::DialogAnswer repair =
      dialogs.ask(wording::repair_question("Saved Games\\DCS", install::InstallStatus::outdated));
  print("repair: " + dialogs::to_string(repair));
  std::string add_ons = "None";
  if (std::optional<install::AddOnAction> marker = wording::addon_action(
          dialogs.ask(wording::addons_question(install::AddOn::MapMarker, true)), true)) {
    if (std::optional<install::AddOnAction> bandit = wording::addon_action(
            dialogs.ask(wording::addons_question(install::AddOn::BanditTool, false)), false)) {
      add_ons = "Some(Options { map_marker: " + std::string(install::to_string(*marker)) +
                ", bandit_tool: " + std::string(install::to_string(*bandit)) + " })";
    }
  }
  print("optional add-ons: " + add_ons + " (nothing is written)");
  print("F10 map marker (recommended)");
  print("Bandit tool (recommended)");
}

void result_piece(dialogs::Dialogs& dialogs) {
  dialogs.tell({std::string(wording::kTitle), "Done",
                "wrote C:\\Users\\Pilot\\Saved Games\\DCS\\Scripts\\Tolvaro\\collectorScript.lua\n"
                "removed C:\\Users\\Pilot\\Saved Games\\DCS\\Scripts\\Tolvaro\\reticle\n"
                "\n"
                "If DCS is open, restart your mission to pick up the change.",
                "Close"});
}

std::optional<DemoTray> demo_tray(cli::DemoKind kind) {
  switch (kind) {
    case cli::DemoKind::tray:
      return DemoTray{install::InstallStatus::outdated, false};
    case cli::DemoKind::notification:
      return DemoTray{install::InstallStatus::installed, false};
    case cli::DemoKind::running:
      return DemoTray{install::InstallStatus::installed, true};
    default:
      return std::nullopt;
  }
}

std::optional<std::string> handle_tray_event(const DemoTray& settings, tray::TrayUi& ui,
                                             const tray::TrayEvent<DemoMessage>& event) {
  using tray_app::MenuCommand;
  if (std::holds_alternative<tray::Started>(event)) {
    const monitor::StatusSummary summary{kDemoCollectorVersion, settings.status, true, true};
    // `installed` shows as connected: the collector is heard.
    const tray_app::TrayStatus row = tray_app::status_of(summary, false, true);
    const std::string detail = tray_app::detail_line(kDemoVersion, summary);
    ui.set_content({tray_app::tooltip(row), tray_app::build_menu(row, detail, true), row.attention});
    if (row.balloon)
      ui.notify({std::string(tray_app::kProductName), *row.balloon, false});
    else if (settings.announce)
      ui.notify({"Tolvaro DCS Bridge is running",
                 "It lives in the notification area, near the clock. Right-click its icon for options.", true});
    else
      ui.notify({std::string(tray_app::kProductName), "Tolvaro DCS Bridge is already running.", false});
    return std::nullopt;
  }
  if (const auto* clicked = std::get_if<tray::MenuItemClicked>(&event);
      clicked && clicked->id == tray_app::id_of(MenuCommand::Quit)) {
    ui.quit();
    return std::nullopt;
  }
  return "event: " + tray::to_string(event);
}

}  // namespace demo
