#pragma once

// The tray program from the outside, as a person meets it on the Wine desktop: its icon and tooltip
// in the notification area, its menu opened with a right click and picked with the mouse, its
// balloons, its dialogs, and pages that connect to it. Every wait polls until its condition holds
// or the UI probe's deadline passes.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/tests/ui_testing.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace bridge::testing {

// The tooltip of the program's icon: "Tolvaro DCS Bridge: " and the status title.
std::string tray_tooltip(std::string_view title);

// The program's ports, free on this machine, and the environment that gives them to it.
struct TrayPorts {
  std::uint16_t page;
  std::uint16_t listen;
  std::uint16_t collector;
  static TrayPorts free();
  std::vector<EnvVar> env() const;
};

class TrayProgram {
 public:
  // Starts the program with `args` (none: the tray) on `ports`, with standard output on a pipe.
  explicit TrayProgram(TrayPorts ports, std::vector<OsString> args = {}, std::vector<EnvVar> env = {});

  RunningBridge& process() { return process_; }
  const TrayPorts& ports() const { return ports_; }
  std::uint32_t process_id() const { return static_cast<std::uint32_t>(process_.process_id()); }

  // The program's hidden window (its class names the page port), once it exists; 0 if none came.
  ui_testing::Window window() const;

  // The icon the shell shows with exactly this tooltip, once there is one.
  std::optional<ui_testing::TrayIcon> icon(std::string_view tooltip) const;
  // Whether no icon with a tooltip of this program ("Tolvaro DCS Bridge…") is shown, within the deadline.
  bool icon_gone() const;

  // The balloon with this text, once the shell shows it.
  std::optional<ui_testing::Balloon> balloon(std::string_view text) const;
  // Wine never sends a balloon click; this sends the program what the shell sends for one.
  bool click_balloon() const;

  struct Menu {
    ui_testing::Window window = 0;
    std::vector<ui_testing::MenuEntry> entries;
    // The labels in order, "-" for a separator.
    std::vector<std::string> labels() const;
    const ui_testing::MenuEntry* item(std::string_view label) const;
  };
  // Right-clicks the icon and reads the menu that opens; none when no menu came.
  std::optional<Menu> open_menu(const ui_testing::TrayIcon& icon) const;
  // Clicks the menu's item with this label; false when it has none.
  static bool pick(const Menu& menu, std::string_view label);

  // The program's dialog titled "Tolvaro DCS Bridge" that shows `heading`, once one does.
  ui_testing::Window dialog(std::string_view heading) const;
  // The program's dialogs (#32770) shown now.
  std::vector<ui_testing::Window> dialogs() const;
  // The program's folder window (the folder picker), once it shows.
  ui_testing::Window folder_window() const;

  // Waits for the program to end; one still running after `limit` is killed (exit code -1).
  ProgramResult finish(std::chrono::milliseconds limit = ui_testing::kDeadline) { return process_.finish(limit); }

 private:
  TrayPorts ports_;
  RunningBridge process_;
};

}  // namespace bridge::testing
