// Tray mode and the UI demo from the outside: the Windows program runs as a child of this test on the
// Wine desktop, and the test finds its icon, balloons, menu and dialogs as a person would, and
// connects pages to it.
#include "core/base/src/win32.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/ui/tests/ui_testing.hpp"
#include "dcs/bridge/tests/dcs_folders_win32.hpp"
#include "dcs/bridge/tests/page_client.hpp"
#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/tray_program_win32.hpp"

namespace {

using bridge::testing::Lines;
using bridge::testing::log_lines;
using bridge::testing::Page;
using bridge::testing::ProgramResult;
using bridge::testing::tray_tooltip;
using bridge::testing::TrayPorts;
using bridge::testing::TrayProgram;
using ui_testing::kFirstButton;
using ui_testing::kFirstCommandLink;
using ui_testing::Window;

const std::string kNotSetUp = tray_tooltip("Not set up in DCS");

std::string hello(std::string_view state) {
  return std::string(R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":")") +
         std::string(state) +
         R"(","installedCollectorVersion":null,"isCollectorQuiet":true,"isSimulatorRunning":false}})";
}

// The name of the month (UTC) that was `days` days ago.
std::string month_days_ago(int days) {
  static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t{};
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10'000'000ULL;
  const FILETIME then{t.LowPart, t.HighPart};
  SYSTEMTIME date{};
  FileTimeToSystemTime(&then, &date);
  return kMonths[date.wMonth - 1];
}

// `quit` for the tray of these ports.
ProgramResult quit(const TrayPorts& ports) { return bridge::testing::run_bridge({L"quit"}, ports.env()); }

class TrayMode : public bridge::testing::DcsFolders {
 protected:
  void TearDown() override {
    for (std::optional<TrayProgram>* p : {&first_, &second_})
      if (*p && HasFailure()) ADD_FAILURE() << "standard error:\n" << (*p)->process().err();
  }

  std::optional<TrayProgram> first_, second_;
};

TEST_F(TrayMode, APlainStartShowsTheIconServesPagesAndQuitEndsIt) {
  const TrayPorts ports = TrayPorts::free();
  first_.emplace(ports);
  ASSERT_TRUE(first_->icon(kNotSetUp)) << "no icon with the tooltip " << kNotSetUp;

  Page page(ports.page);
  ASSERT_TRUE(page.opened());
  EXPECT_EQ(page.read_text(), hello("notInstalled"));

  const ProgramResult quitting = quit(ports);
  EXPECT_EQ(quitting.exit_code, 0);
  EXPECT_EQ(quitting.out, "Tolvaro DCS Bridge quit\n");
  EXPECT_TRUE(page.closed_by_server());
  EXPECT_TRUE(first_->icon_gone());
  const ProgramResult tray = first_->finish();
  EXPECT_EQ(tray.exit_code, 0);
  EXPECT_EQ(log_lines(tray.err), (Lines{"info install status: notInstalled", "info DCS is not running",
                                        "info Tolvaro DCS Bridge 0.5.0 running in the tray: pages on 127.0.0.1:" +
                                            std::to_string(ports.page),
                                        "info page 1 connected", "info stopping",
                                        "info page 1 closed: the bridge is stopping"}));

  const ProgramResult again = quit(ports);
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out, "Tolvaro DCS Bridge is not running\n");
}

TEST_F(TrayMode, ASecondStartOnTheSamePortAsksTheFirstToShowItselfAnotherPortRunsBeside) {
  const TrayPorts ports = TrayPorts::free();
  first_.emplace(ports);
  ASSERT_TRUE(first_->icon(kNotSetUp));

  const ProgramResult second = bridge::testing::run_bridge({}, ports.env());
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_EQ(log_lines(second.err), Lines{"info Tolvaro DCS Bridge is already running; asked it to show itself"});
  EXPECT_TRUE(first_->balloon("Tolvaro DCS Bridge is already running."));

  const TrayPorts other = TrayPorts::free();
  second_.emplace(other);
  EXPECT_TRUE(ui_testing::wait_until([] {
    return std::ranges::count(ui_testing::tray_icons(), kNotSetUp, &ui_testing::TrayIcon::tooltip) == 2;
  })) << "both instances show their icon";
  for (std::uint16_t port : {ports.page, other.page}) {
    Page page(port);
    EXPECT_TRUE(page.opened()) << port;
    EXPECT_EQ(page.read_text(), hello("notInstalled")) << port;
  }

  for (const TrayPorts* p : {&ports, &other}) EXPECT_EQ(quit(*p).exit_code, 0);
  EXPECT_EQ(first_->finish().exit_code, 0);
  EXPECT_EQ(second_->finish().exit_code, 0);
}

TEST_F(TrayMode, APageAskingForTheRepairOpensTheRepairQuestion) {
  const TrayPorts ports = TrayPorts::free();
  first_.emplace(ports);
  ASSERT_TRUE(first_->icon(kNotSetUp));
  Page page(ports.page);
  ASSERT_TRUE(page.opened());
  ASSERT_TRUE(page.send_text(R"({"type":"openRepair"})"));

  const Window question = first_->dialog("Set up Tolvaro in DCS");
  ASSERT_NE(question, 0u) << "no repair question";
  const ui_testing::DialogView view = ui_testing::read_dialog(question);
  EXPECT_EQ(view.buttons, (std::map<int, std::string>{{kFirstButton, "Repair"}, {kFirstButton + 1, "Cancel"}}));
  EXPECT_TRUE(view.says("Tolvaro will be set up in Saved Games\\DCS, with the F10 map marker and the bandit tool "
                        "(both recommended).\n\nTo leave either out, use Configure optional add-ons in the tray "
                        "menu afterwards."));
  ASSERT_TRUE(ui_testing::press_button(question, kFirstButton + 1));
  EXPECT_TRUE(ui_testing::wait_for_window_gone(question));
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts")) << "a cancelled repair writes nothing";
  EXPECT_EQ(quit(ports).exit_code, 0);
  EXPECT_EQ(first_->finish().exit_code, 0);
}

// ---- ui-demo: each piece shown by the program, answered as a person would ----

class UiDemo : public ::testing::Test {
 protected:
  void TearDown() override {
    if (demo_ && HasFailure()) ADD_FAILURE() << "standard error:\n" << demo_->process().err();
  }
  TrayProgram& start(const wchar_t* piece) { return demo_.emplace(TrayPorts::free(), std::vector<bridge::OsString>{L"ui-demo", piece}); }
  std::optional<TrayProgram> demo_;
};

TEST_F(UiDemo, QuestionPrintsTheChosenFolder) {
  TrayProgram& demo = start(L"question");
  const Window question = demo.dialog("Where does DCS keep its Saved Games folder?");
  ASSERT_NE(question, 0u);
  EXPECT_EQ(ui_testing::read_dialog(question).buttons,
            (std::map<int, std::string>{{kFirstCommandLink, "Saved Games\\DCS\nDCS log written today"},
                                        {kFirstCommandLink + 1,
                                         "Saved Games\\DCS.openbeta\nDCS log last written in " + month_days_ago(200)},
                                        {kFirstButton, "Browse…"},
                                        {kFirstButton + 1, "Skip for now"}}));
  ASSERT_TRUE(ui_testing::press_button(question, kFirstCommandLink + 1));
  const ProgramResult ended = demo.finish();
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_EQ(ended.out, "answer: Choice(1)\n");
}

TEST_F(UiDemo, FolderPrintsNoneWhenThePickerIsCancelled) {
  TrayProgram& demo = start(L"folder");
  const Window picker = demo.folder_window();
  ASSERT_NE(picker, 0u);
  ASSERT_TRUE(ui_testing::press_button(picker, IDCANCEL));
  const ProgramResult ended = demo.finish();
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_EQ(ended.out, "picked: None\n");
}

TEST_F(UiDemo, RepairAsksTheRepairThenBothAddOnsAndWritesNothing) {
  TrayProgram& demo = start(L"repair");
  const Window repair = demo.dialog("Repair Tolvaro in DCS");
  ASSERT_NE(repair, 0u);
  ASSERT_TRUE(ui_testing::press_button(repair, kFirstButton));
  const Window marker = demo.dialog("F10 map marker (recommended)");
  ASSERT_NE(marker, 0u);
  EXPECT_EQ(ui_testing::read_dialog(marker).buttons,
            (std::map<int, std::string>{{kFirstButton, "Keep it (recommended)"}, {kFirstButton + 1, "Remove it"}}));
  ASSERT_TRUE(ui_testing::press_button(marker, kFirstButton + 1));
  const Window bandit = demo.dialog("Bandit tool (recommended)");
  ASSERT_NE(bandit, 0u);
  EXPECT_EQ(ui_testing::read_dialog(bandit).buttons,
            (std::map<int, std::string>{{kFirstButton, "Add it (recommended)"}, {kFirstButton + 1, "Leave it out"}}));
  ASSERT_TRUE(ui_testing::press_button(bandit, kFirstButton));
  const ProgramResult ended = demo.finish();
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_EQ(ended.out,
            "repair: Button(0)\n"
            "optional add-ons: Some(Options { map_marker: Remove, bandit_tool: Install }) (nothing is written)\n"
            "F10 map marker (recommended)\n"
            "Bandit tool (recommended)\n");
}

TEST_F(UiDemo, ResultShowsTheReportLinesAndPrintsNothing) {
  TrayProgram& demo = start(L"result");
  const Window done = demo.dialog("Done");
  ASSERT_NE(done, 0u);
  EXPECT_TRUE(ui_testing::read_dialog(done).says(
      "wrote C:\\Users\\Pilot\\Saved Games\\DCS\\Scripts\\Tolvaro\\collectorScript.lua\n"
      "removed C:\\Users\\Pilot\\Saved Games\\DCS\\Scripts\\Tolvaro\\reticle\n\n"
      "If DCS is open, restart your mission to pick up the change."));
  ASSERT_TRUE(ui_testing::press_button(done, kFirstButton));
  const ProgramResult ended = demo.finish();
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_EQ(ended.out, "");
}

TEST_F(UiDemo, TrayShowsTheOutOfDateRowAndPrintsWhatIsPicked) {
  TrayProgram& demo = start(L"tray");
  const auto icon = demo.icon(tray_tooltip("DCS script out of date"));
  ASSERT_TRUE(icon);
  EXPECT_TRUE(demo.balloon("The Tolvaro script in DCS is out of date. Click to fix."));
  const auto menu = demo.open_menu(*icon);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->labels(), (Lines{"DCS script out of date", "Bridge 1.0.0 · Script 6", "-", "Repair DCS setup…",
                                   "Configure optional add-ons…", "Open Tolvaro", "Start with Windows", "-", "Quit"}));
  EXPECT_TRUE(menu->item("Repair DCS setup…")->is_default);
  EXPECT_TRUE(menu->item("Start with Windows")->checked);
  ASSERT_TRUE(TrayProgram::pick(*menu, "Open Tolvaro"));

  const auto again = demo.open_menu(*icon);
  ASSERT_TRUE(again);
  ASSERT_TRUE(TrayProgram::pick(*again, "Quit"));
  const ProgramResult ended = demo.finish();
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_EQ(ended.out, "event: TrayReady\nevent: MenuOpening\nevent: MenuItemClicked(MenuItemId(4))\nevent: MenuOpening\n");
}

TEST_F(UiDemo, RunningAndNotificationShowTheirNoticesBesideEachOtherAndEndByThemselvesAfterAMinute) {
  TrayProgram& running = start(L"running");
  TrayProgram notification(TrayPorts::free(), {L"ui-demo", L"notification"});
  const std::string connected = tray_tooltip("Connected to DCS");
  EXPECT_TRUE(ui_testing::wait_until([&] {
    return std::ranges::count(ui_testing::tray_icons(), connected, &ui_testing::TrayIcon::tooltip) == 2;
  })) << "two demo trays run side by side";

  const std::string notice = "It lives in the notification area, near the clock. Right-click its icon for options.";
  const bool noticed = running.balloon(notice).has_value();
  EXPECT_TRUE(noticed);
  if (!noticed) (void)ui_testing::save_screenshot("demo-no-balloon", ui_testing::screen_rect());
  EXPECT_TRUE(ui_testing::wait_until([&] {
    return std::ranges::count(ui_testing::balloons(), notice, &ui_testing::Balloon::text) == 0;
  })) << "the quiet notice is taken down";
  EXPECT_TRUE(notification.balloon("Tolvaro DCS Bridge is already running."));

  // Nobody quits them: each closes itself after a minute.
  EXPECT_EQ(running.finish(std::chrono::seconds(90)).exit_code, 0);
  EXPECT_EQ(notification.finish(std::chrono::seconds(90)).exit_code, 0);
}

}  // namespace
