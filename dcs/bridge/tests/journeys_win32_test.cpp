// The tray program as a pilot meets it: the release build a pilot downloads runs on the Wine desktop
// with its taskbar, on a PC prepared with DCS folders, and each journey goes through the icon, its
// balloons, its menu and its dialogs as a person would, photographing what a person sees. Each
// journey is a test of its own in a fresh Wine prefix (see CMakeLists.txt).
#include "core/base/src/win32.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/ui/tests/ui_testing.hpp"
#include "dcs/bridge/tests/dcs_folders_win32.hpp"
#include "dcs/bridge/tests/page_client.hpp"
#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/tray_program_win32.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/export_lua.hpp"

namespace {

using bridge::testing::Lines;
using bridge::testing::Page;
using bridge::testing::ProgramResult;
using bridge::testing::tray_tooltip;
using bridge::testing::TrayPorts;
using bridge::testing::TrayProgram;
using ui_testing::kFirstButton;
using ui_testing::kFirstCommandLink;
using ui_testing::Window;

const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Pixels of the attention badge's amber disc in a capture.
std::size_t amber_pixels(const ui_testing::Image& image) {
  return static_cast<std::size_t>(std::ranges::count_if(
      image.pixels, [](std::uint32_t p) { return (p & 0xFFFFFF) == 0xF0A800; }));
}

// Whether the icon shows the badge, once it does (or, with `shown` false, once it no longer does).
bool badge_becomes(const ui_testing::TrayIcon& icon, bool shown) {
  return ui_testing::wait_until([&] {
    const auto shot = ui_testing::capture(icon.rect);
    return shot && (amber_pixels(*shot) > 0) == shown;
  });
}

// The end of the taskbar around the icon and a little of the desktop above it, for a picture; within
// the screen, since the screen cannot be captured beyond its edge.
ui_testing::Rect around(const ui_testing::TrayIcon& icon) {
  const ui_testing::Rect screen = ui_testing::screen_rect();
  return {std::max(screen.left, icon.rect.left - 160), std::max(screen.top, icon.rect.top - 12),
          std::min(screen.right, icon.rect.right + 4), std::min(screen.bottom, icon.rect.bottom + 4)};
}

// The Done message's body: the lines with a blank line between them.
std::string done_body(const Lines& lines) {
  std::string body;
  for (const std::string& line : lines) body += (body.empty() ? "" : "\n\n") + line;
  return body;
}

const Lines kEverythingAdded{"Added the Tolvaro script.",
                             "Added the F10 map marker.",
                             "Added the bandit tool.",
                             "Added Tolvaro's line to Export.lua.",
                             "If DCS is open, restart DCS to load the bandit tool.",
                             "If DCS is open, restart your mission to pick up the change."};

class Journey : public bridge::testing::DcsFolders {
 protected:
  Journey() {
    // Saved Games\DCS as DCS leaves it once it has run: Config and a log.
    put("Saved Games\\DCS\\Logs\\dcs.log", "log");
  }
  void SetUp() override {
    const bridge::OsString program = bridge::testing::bridge_program_path();
    ASSERT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES)
        << "no program at " << bridge::testing::utf8(program) << ": build the release with scripts/release";
  }
  void TearDown() override {
    if (tray_ && HasFailure()) ADD_FAILURE() << "standard error:\n" << tray_->process().err();
  }

  // Starts the tray, as a double click does (or as sign-in does, with `--autostart`).
  TrayProgram& start(std::vector<bridge::OsString> args = {}) { return tray_.emplace(ports_, std::move(args)); }

  // Sets the folder up as `install` does from the command line.
  void install_with_the_command_line(const std::string& folder = "Saved Games\\DCS") {
    const ProgramResult installed = run({L"install", L"--saved-games", bridge::testing::wide(at(folder))});
    ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;
  }

  // The menu, opened from the icon with this tooltip.
  std::optional<TrayProgram::Menu> menu_of(std::string_view tooltip) {
    const auto icon = tray_->icon(tooltip);
    if (!icon) return std::nullopt;
    return tray_->open_menu(*icon);
  }

  // The program's dialog that shows `heading`, photographed as `picture` once it is drawn.
  Window dialog(std::string_view heading, std::string_view picture) {
    const Window d = tray_->dialog(heading);
    if (d == 0) {
      ADD_FAILURE() << "no dialog \"" << heading << "\"";
      return 0;
    }
    EXPECT_EQ(ui_testing::photograph(d, picture), std::nullopt);
    return d;
  }

  // Presses the Done message's Close after checking its lines.
  void close_done(const Lines& lines, std::string_view picture) {
    const Window done = dialog("Done", picture);
    ASSERT_NE(done, 0u);
    const ui_testing::DialogView view = ui_testing::read_dialog(done);
    EXPECT_TRUE(view.says(done_body(lines))) << ::testing::PrintToString(view.texts);
    EXPECT_EQ(view.buttons, (std::map<int, std::string>{{kFirstButton, "Close"}}));
    ASSERT_TRUE(ui_testing::press_button(done, kFirstButton));
    EXPECT_TRUE(ui_testing::wait_for_window_gone(done));
  }

  // Answers "Repair" to the question that sets Tolvaro up in Saved Games\DCS, and closes the Done
  // message that lists everything added; `journey` names their pictures.
  void set_up_saved_games_dcs(const std::string& journey) {
    const Window question = dialog("Set up Tolvaro in DCS", journey + "-repair");
    ASSERT_NE(question, 0u);
    EXPECT_TRUE(ui_testing::read_dialog(question).says(
        "Tolvaro will be set up in Saved Games\\DCS, with the F10 map marker and the bandit tool (both "
        "recommended).\n\nTo leave either out, use Configure optional add-ons in the tray menu afterwards."));
    ASSERT_TRUE(ui_testing::press_button(question, kFirstButton));
    close_done(kEverythingAdded, journey + "-done");
  }

  // Whether `folder` holds this program's collector, map marker and bandit tool.
  bool holds_the_collector(const std::string& folder) const {
    return file(folder + "\\Scripts\\Tolvaro\\collectorScript.lua") == std::string(embedded::COLLECTOR_FILE.contents);
  }
  bool holds_the_map_marker(const std::string& folder) const {
    return exists(folder + "\\Scripts\\Tolvaro\\reticle\\reticle.lua");
  }
  bool holds_the_bandit_tool(const std::string& folder) const {
    return exists(folder + "\\Scripts\\Hooks\\TolvaroBandits.lua");
  }
  bool hooks_export_lua(const std::string& folder) const {
    const std::optional<std::string> text = file(folder + "\\Scripts\\Export.lua");
    return text && text->find(export_lua::HOOK_LINE) != std::string::npos;
  }

  // Quits through the menu and waits for the end.
  void quit_from_the_menu(std::string_view tooltip) {
    const auto menu = menu_of(tooltip);
    ASSERT_TRUE(menu);
    ASSERT_TRUE(TrayProgram::pick(*menu, "Quit"));
    EXPECT_EQ(tray_->finish().exit_code, 0);
  }

  TrayPorts ports_ = TrayPorts::free();
  std::optional<TrayProgram> tray_;
};

const std::string kNotSetUp = tray_tooltip("Not set up in DCS");
const std::string kWaiting = tray_tooltip("Waiting for DCS");

// 1. A new PC with DCS installed but never set up.
TEST_F(Journey, NewPcWithDcsNeverSetUp) {
  TrayProgram& tray = start();
  const auto icon = tray.icon(kNotSetUp);
  ASSERT_TRUE(icon) << "no icon with the tooltip " << kNotSetUp;
  EXPECT_TRUE(badge_becomes(*icon, true)) << "the icon shows the badge";
  EXPECT_TRUE(ui_testing::save_screenshot("journey1-tray-not-set-up", around(*icon)));

  const auto balloon = tray.balloon("Tolvaro isn't set up in DCS. Click to fix.");
  ASSERT_TRUE(balloon);
  EXPECT_EQ(ui_testing::photograph(balloon->window, "journey1-balloon"), std::nullopt);

  const auto menu = tray.open_menu(*icon);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->labels(), (Lines{"Not set up in DCS", "Bridge 0.5.0 · Script not installed", "-",
                                   "Repair DCS setup…", "Configure optional add-ons…", "Open Tolvaro",
                                   "Start with Windows", "-", "Quit"}));
  EXPECT_TRUE(menu->item("Repair DCS setup…")->is_default);
  EXPECT_FALSE(menu->item("Not set up in DCS")->enabled);
  EXPECT_EQ(ui_testing::photograph(menu->window, "journey1-menu"), std::nullopt);
  ASSERT_TRUE(TrayProgram::pick(*menu, "Repair DCS setup…"));

  set_up_saved_games_dcs("journey1");

  EXPECT_TRUE(holds_the_collector("Saved Games\\DCS"));
  EXPECT_TRUE(holds_the_map_marker("Saved Games\\DCS"));
  EXPECT_TRUE(holds_the_bandit_tool("Saved Games\\DCS"));
  EXPECT_TRUE(hooks_export_lua("Saved Games\\DCS"));

  const auto waiting = tray.icon(kWaiting);
  ASSERT_TRUE(waiting) << "the tooltip follows the new status";
  EXPECT_TRUE(badge_becomes(*waiting, false)) << "the badge is gone";
  EXPECT_TRUE(ui_testing::save_screenshot("journey1-tray-waiting", around(*waiting)));
  const auto after = tray.open_menu(*waiting);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->labels()[0], "Waiting for DCS");
  EXPECT_EQ(after->labels()[3], "Open Tolvaro") << "nothing to repair: the web app comes first";
  EXPECT_EQ(ui_testing::photograph(after->window, "journey1-menu-waiting"), std::nullopt);
  ASSERT_TRUE(TrayProgram::pick(*after, "Quit"));
  EXPECT_EQ(tray.finish().exit_code, 0);
}

// 2. Two DCS folders, release and open beta, and nothing that tells which one DCS uses; the repair
// starts from the balloon.
TEST_F(Journey, TwoDcsFoldersTheUserPicksOne) {
  add_open_beta();
  // The release was last flown the day before.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= 30ULL * 3600 * 10'000'000;
  set_modified_time("Saved Games\\DCS\\Logs\\dcs.log", {time.LowPart, time.HighPart});
  TrayProgram& tray = start();
  // This time the pilot clicks the balloon.
  ASSERT_TRUE(tray.balloon("Tolvaro isn't set up in DCS. Click to fix."));
  ASSERT_TRUE(tray.click_balloon());

  const Window pick = dialog("Where does DCS keep its Saved Games folder?", "journey2-pick-folder");
  ASSERT_NE(pick, 0u);
  const ui_testing::DialogView view = ui_testing::read_dialog(pick);
  EXPECT_TRUE(view.says("We couldn't work it out on our own. Pick the folder DCS uses:"));
  EXPECT_EQ(view.buttons, (std::map<int, std::string>{
                              {kFirstCommandLink, "Saved Games\\DCS.openbeta\nDCS log written today"},
                              {kFirstCommandLink + 1, "Saved Games\\DCS\nDCS log written yesterday"},
                              {kFirstButton, "Browse…"},
                              {kFirstButton + 1, "Skip for now"},
                          }));
  ASSERT_TRUE(ui_testing::press_button(pick, kFirstCommandLink + 1));

  set_up_saved_games_dcs("journey2");

  EXPECT_TRUE(holds_the_collector("Saved Games\\DCS"));
  EXPECT_TRUE(hooks_export_lua("Saved Games\\DCS"));
  EXPECT_FALSE(exists("Saved Games\\DCS.openbeta\\Scripts")) << "the other folder is left alone";
  quit_from_the_menu(kWaiting);
}

// 3. A collector that the pilot edited by hand.
TEST_F(Journey, AHandEditedCollectorIsReplacedAndKept) {
  install_with_the_command_line();
  const std::string collector = "Saved Games\\DCS\\Scripts\\Tolvaro\\collectorScript.lua";
  const std::string edited = *file(collector) + "-- my own change\n";
  put(collector, edited);

  // Started as at sign-in, so that no "is running" notice shows either.
  TrayProgram& tray = start({L"--autostart"});
  const std::string changed = tray_tooltip("DCS script was changed");
  const auto icon = tray.icon(changed);
  ASSERT_TRUE(icon);
  EXPECT_TRUE(badge_becomes(*icon, false)) << "no badge";
  // A balloon shows about two seconds after it is asked for; give it more than that.
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_EQ(ui_testing::balloons().size(), 0u) << "no balloon for a changed script";

  const auto menu = tray.open_menu(*icon);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->labels()[3], "Repair DCS setup…");
  EXPECT_TRUE(menu->item("Repair DCS setup…")->is_default);
  ASSERT_TRUE(TrayProgram::pick(*menu, "Repair DCS setup…"));

  const Window question = dialog("Repair Tolvaro in DCS", "journey3-repair");
  ASSERT_NE(question, 0u);
  EXPECT_TRUE(ui_testing::read_dialog(question).says(
      "Installed in Saved Games\\DCS. The Tolvaro script was changed by hand. It will be replaced, and the changed "
      "copy kept beside it.\n\nThe optional add-ons stay as they are. To add or remove them, use Configure optional "
      "add-ons in the tray menu."));
  ASSERT_TRUE(ui_testing::press_button(question, kFirstButton));
  close_done({"Kept your edited copy of the Tolvaro script beside it.", "Updated the Tolvaro script.",
              "If DCS is open, restart your mission to pick up the change."},
             "journey3-done");

  EXPECT_TRUE(holds_the_collector("Saved Games\\DCS"));
  EXPECT_EQ(file(collector + ".hand-edited"), edited) << "the edited copy is beside it";
  quit_from_the_menu(kWaiting);
}

// 4. The optional add-ons: the bandit tool goes, the map marker stays.
TEST_F(Journey, ConfigureOptionalAddOns) {
  install_with_the_command_line();
  start();
  const auto menu = menu_of(kWaiting);
  ASSERT_TRUE(menu);
  ASSERT_TRUE(TrayProgram::pick(*menu, "Configure optional add-ons…"));

  const Window marker = dialog("F10 map marker (recommended)", "journey4-map-marker");
  ASSERT_NE(marker, 0u);
  EXPECT_TRUE(ui_testing::read_dialog(marker).says(
      "Click the F10 map to load a steerpoint into the F-16 and send it to Quessa. It is installed.\n\nYou can "
      "change this again any time with Configure optional add-ons in the tray menu."));
  EXPECT_EQ(ui_testing::read_dialog(marker).buttons,
            (std::map<int, std::string>{{kFirstButton, "Keep it (recommended)"}, {kFirstButton + 1, "Remove it"}}));
  ASSERT_TRUE(ui_testing::press_button(marker, kFirstButton));

  const Window bandit = dialog("Bandit tool (recommended)", "journey4-bandit-tool");
  ASSERT_NE(bandit, 0u);
  EXPECT_TRUE(ui_testing::read_dialog(bandit).says(
      "Adds a practice bandit from the F10 map. It is installed.\n\nYou can change this again any time with "
      "Configure optional add-ons in the tray menu."));
  ASSERT_TRUE(ui_testing::press_button(bandit, kFirstButton + 1));
  // The restart hint for the bandit tool belongs to a run that writes it.
  close_done({"Removed the bandit tool.", "If DCS is open, restart your mission to pick up the change."},
             "journey4-done");

  EXPECT_FALSE(holds_the_bandit_tool("Saved Games\\DCS"));
  EXPECT_TRUE(holds_the_map_marker("Saved Games\\DCS"));
  EXPECT_TRUE(holds_the_collector("Saved Games\\DCS"));
  quit_from_the_menu(kWaiting);
}

// 5. The web app asks for the repair while the tray runs.
TEST_F(Journey, APageAsksForTheRepair) {
  TrayProgram& tray = start();
  ASSERT_TRUE(tray.icon(kNotSetUp));
  Page page(ports_.page);
  ASSERT_TRUE(page.opened());
  ASSERT_TRUE(page.read_text_starting(R"({"type":"hello")"));
  ASSERT_TRUE(page.send_text(R"({"type":"openRepair"})"));
  const Window question = tray.dialog("Set up Tolvaro in DCS");
  ASSERT_NE(question, 0u) << "the repair question appears";

  // The pilot goes back to the browser; the page asks again once the bridge takes a request again
  // (one every 5 seconds), and the open question comes to the front instead of a second one.
  ui_testing::WindowQuery taskbar;
  taskbar.class_name = "Shell_TrayWnd";
  ASSERT_TRUE(ui_testing::bring_to_front(ui_testing::wait_for_window(taskbar)));
  ASSERT_NE(ui_testing::foreground_window(), question);
  std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  ASSERT_TRUE(page.send_text(R"({"type":"openRepair"})"));
  EXPECT_TRUE(ui_testing::wait_until([&] { return ui_testing::foreground_window() == question; }))
      << "the open question is raised";
  EXPECT_EQ(tray.dialogs(), std::vector<Window>{question}) << "no second repair";

  ASSERT_TRUE(ui_testing::press_button(question, kFirstButton + 1));
  EXPECT_TRUE(ui_testing::wait_for_window_gone(question));
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts"));
  quit_from_the_menu(kNotSetUp);
}

// 6. Start with Windows, ticked and unticked from the menu.
TEST_F(Journey, StartWithWindowsFromTheMenu) {
  bridge::testing::SavedValue run_value(HKEY_CURRENT_USER, bridge::testing::wide(kRunKey), L"Tolvaro DCS Bridge");
  run_value.remove();
  start();
  const auto before = menu_of(kNotSetUp);
  ASSERT_TRUE(before);
  EXPECT_FALSE(before->item("Start with Windows")->checked);
  ASSERT_TRUE(TrayProgram::pick(*before, "Start with Windows"));

  // The Run value names this program and starts it as at sign-in.
  const std::wstring expected = L"\"" + bridge::testing::bridge_program_path() + L"\" --autostart";
  std::wstring value;
  EXPECT_TRUE(ui_testing::wait_until([&] {
    wchar_t data[2048] = {};
    DWORD size = sizeof data;
    value = RegGetValueW(HKEY_CURRENT_USER, bridge::testing::wide(kRunKey).c_str(), L"Tolvaro DCS Bridge",
                         RRF_RT_REG_SZ, nullptr, data, &size) == ERROR_SUCCESS
                ? data
                : L"";
    return !value.empty();
  }));
  EXPECT_EQ(bridge::testing::utf8(value), bridge::testing::utf8(expected));
  const auto ticked = menu_of(kNotSetUp);
  ASSERT_TRUE(ticked);
  EXPECT_TRUE(ticked->item("Start with Windows")->checked);
  EXPECT_EQ(ui_testing::photograph(ticked->window, "journey6-menu-start-with-windows"), std::nullopt);
  ASSERT_TRUE(TrayProgram::pick(*ticked, "Start with Windows"));

  EXPECT_TRUE(ui_testing::wait_until([&] {
    return RegGetValueW(HKEY_CURRENT_USER, bridge::testing::wide(kRunKey).c_str(), L"Tolvaro DCS Bridge",
                        RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND;
  })) << "the Run value is gone";
  const auto unticked = menu_of(kNotSetUp);
  ASSERT_TRUE(unticked);
  EXPECT_FALSE(unticked->item("Start with Windows")->checked);
  ASSERT_TRUE(TrayProgram::pick(*unticked, "Quit"));
  EXPECT_EQ(tray_->finish().exit_code, 0);
}

// 7. Quit, from the menu and with the quit verb: the icon goes and the pages are closed.
TEST_F(Journey, QuitFromTheMenuAndWithTheQuitVerb) {
  {
    TrayProgram& tray = start();
    const auto icon = tray.icon(kNotSetUp);
    ASSERT_TRUE(icon);
    Page page(ports_.page);
    ASSERT_TRUE(page.opened());
    const auto menu = tray.open_menu(*icon);
    ASSERT_TRUE(menu);
    ASSERT_TRUE(TrayProgram::pick(*menu, "Quit"));
    EXPECT_TRUE(page.closed_by_server());
    EXPECT_TRUE(tray.icon_gone());
    EXPECT_EQ(tray.finish().exit_code, 0);
  }
  {
    TrayProgram& tray = start();
    ASSERT_TRUE(tray.icon(kNotSetUp));
    Page page(ports_.page);
    ASSERT_TRUE(page.opened());
    const ProgramResult quit = bridge::testing::run_bridge({L"quit"}, ports_.env());
    EXPECT_EQ(quit.exit_code, 0);
    EXPECT_EQ(quit.out, "Tolvaro DCS Bridge quit\n");
    EXPECT_TRUE(page.closed_by_server());
    EXPECT_TRUE(tray.icon_gone());
    EXPECT_EQ(tray.finish().exit_code, 0);
  }
}

}  // namespace
