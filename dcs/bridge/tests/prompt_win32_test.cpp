// `install --prompt` from the outside: the Windows program runs as a child of this test, on the
// DCS folders of the test's Wine prefix, and the test finds its dialogs by their process, reads
// them and presses their buttons as a user would. A run that waits for a dialog that never comes
// is killed when its time is up, so that the test fails instead of hanging.
#include "core/base/src/win32.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/tests/ui_testing.hpp"
#include "dcs/bridge/tests/dcs_folders_win32.hpp"
#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/program_runner.hpp"
#include "dcs/install/src/embedded.hpp"

namespace {

using bridge::testing::Lines;
using bridge::testing::log_lines;
using bridge::testing::ProgramResult;
using bridge::testing::RunningBridge;
using bridge::testing::wide;
using ui_testing::Window;

// The id of Wine's folder window's name box.
constexpr int kPickerNameBox = 1152;
constexpr int kFirstLink = ui_testing::kFirstCommandLink;
constexpr int kFirstButton = ui_testing::kFirstButton;

const std::string kQuestionTitle = "Tolvaro DCS Bridge";
const std::string kPickerTitle = "Pick the DCS folder under Saved Games";

using ui_testing::photograph;
ui_testing::DialogView shown(Window dialog) { return ui_testing::read_dialog(dialog); }

class PromptedInstall : public bridge::testing::DcsFolders {
 protected:
  // No DCS installation is known, but Saved Games\DCS is a folder DCS wrote to.
  void without_dcs() {
    eagle_.remove();
    put("Saved Games\\DCS\\Logs\\dcs.log", "log");
  }
  // Starts `install --prompt` with its output on pipes and waits for its first question; 0 when
  // none came in time.
  Window start() {
    bridge_.emplace(std::vector<bridge::OsString>{L"install", L"--prompt"}, std::vector<bridge::testing::EnvVar>{},
                    RunningBridge::Output::pipe);
    return dialog(kQuestionTitle);
  }
  // The program's dialog titled `title`, once it shows; 0 when none came in time.
  Window dialog(const std::string& title) const {
    ui_testing::WindowQuery query;
    query.class_name = "#32770";
    query.title = title;
    query.process_id = static_cast<std::uint32_t>(bridge_->process_id());
    return ui_testing::wait_for_window(query);
  }
  // Waits for the program to end; one still running when the time is up is killed (exit code -1).
  ProgramResult finish() { return bridge_->finish(ui_testing::kDeadline); }

  // What `install --saved-games` prints for `folder` (relative to the test's folder) where the
  // prompted run has not been: that run's files and settings are taken away first.
  ProgramResult install_named_afresh(const std::string& folder) {
    std::filesystem::remove_all(path(folder + "\\Scripts"));
    std::filesystem::remove_all(path("Local\\Tolvaro"));
    return run({L"install", L"--saved-games", wide(at(folder))});
  }

  // Whether the collector script is in `folder`'s Scripts folder as this program has it.
  bool holds_the_collector(const std::string& folder) const {
    return file(folder + "\\Scripts\\Tolvaro\\collectorScript.lua") == std::string(embedded::COLLECTOR_FILE.contents);
  }

  // Sets the modification time of a file to a day in March 2021 (UTC).
  void make_old(const std::string& relative) const {
    const SYSTEMTIME march{2021, 3, 0, 15, 12, 0, 0, 0};
    FILETIME time{};
    ASSERT_TRUE(SystemTimeToFileTime(&march, &time));
    set_modified_time(relative, time);
  }

  std::optional<RunningBridge> bridge_;
};

TEST_F(PromptedInstall, WithoutDcsTheUserBrowsesToTheFolderAndItIsInstalledThere) {
  without_dcs();
  const Window question = start();
  ASSERT_NE(question, 0u) << "no question; standard error: " << bridge_->err();
  const ui_testing::DialogView asked = shown(question);
  EXPECT_EQ(asked.buttons, (std::map<int, std::string>{{kFirstButton, "Browse…"}, {kFirstButton + 1, "Skip for now"}}));
  EXPECT_TRUE(asked.says("Where does DCS keep its Saved Games folder?"));
  EXPECT_TRUE(asked.says("Tolvaro couldn't find DCS on this PC. Pick the folder DCS uses under Saved Games, "
                         "usually Saved Games\\DCS."));
  EXPECT_EQ(photograph(question, "install-prompt-no-dcs"), std::nullopt);
  ASSERT_TRUE(ui_testing::press_button(question, kFirstButton));

  // A name relative to the folder the window opens in: it is found only if that is Saved Games.
  const Window picker = dialog(kPickerTitle);
  ASSERT_NE(picker, 0u);
  ASSERT_TRUE(ui_testing::set_control_text(picker, kPickerNameBox, "DCS"));
  ASSERT_TRUE(ui_testing::press_button(picker, IDOK));

  const ProgramResult prompted = finish();
  EXPECT_EQ(prompted.exit_code, 0);
  EXPECT_EQ(prompted.err, "");
  EXPECT_TRUE(holds_the_collector("Saved Games\\DCS"));
  EXPECT_TRUE(exists("Saved Games\\DCS\\Scripts\\Hooks\\TolvaroBandits.lua"));
  EXPECT_TRUE(exists("Saved Games\\DCS\\Scripts\\Tolvaro\\reticle\\reticle.lua"));
  EXPECT_TRUE(exists("Local\\Tolvaro\\DcsBridge\\settings.json"));

  // The same lines as naming the folder on the command line, remembering it included.
  const ProgramResult named = install_named_afresh("Saved Games\\DCS");
  EXPECT_EQ(named.exit_code, 0);
  EXPECT_EQ(prompted.out, named.out);
  EXPECT_TRUE(
      prompted.out.ends_with("remembered this folder in " + at("Local\\Tolvaro\\DcsBridge\\settings.json") + "\n"))
      << prompted.out;
}

TEST_F(PromptedInstall, SkippingTheQuestionWritesNothing) {
  without_dcs();
  const Window question = start();
  ASSERT_NE(question, 0u) << "no question; standard error: " << bridge_->err();
  ASSERT_TRUE(ui_testing::press_button(question, kFirstButton + 1));

  const ProgramResult skipped = finish();
  EXPECT_EQ(skipped.exit_code, 10);
  EXPECT_EQ(skipped.out, "");
  EXPECT_EQ(log_lines(skipped.err),
            Lines{"error no DCS install was found. Pass the DCS folder under Saved Games with --saved-games."});
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts"));
  EXPECT_FALSE(exists("Local\\Tolvaro\\DcsBridge\\settings.json"));
}

TEST_F(PromptedInstall, WithTwoDcsFoldersTheUserPicksOneNewestLogFirst) {
  add_open_beta();
  put("Saved Games\\DCS\\Logs\\dcs.log", "log");
  make_old("Saved Games\\DCS\\Logs\\dcs.log");

  const Window question = start();
  ASSERT_NE(question, 0u) << "no question; standard error: " << bridge_->err();
  const ui_testing::DialogView asked = shown(question);
  // A command link shows its note on a second line.
  EXPECT_EQ(asked.buttons, (std::map<int, std::string>{
                               {kFirstLink, "Saved Games\\DCS.openbeta\nDCS log written today"},
                               {kFirstLink + 1, "Saved Games\\DCS\nDCS log last written in March 2021"},
                               {kFirstButton, "Browse…"},
                               {kFirstButton + 1, "Skip for now"},
                           }));
  EXPECT_TRUE(asked.says("Where does DCS keep its Saved Games folder?"));
  EXPECT_TRUE(asked.says("We couldn't work it out on our own. Pick the folder DCS uses:"));
  EXPECT_EQ(photograph(question, "install-prompt-two-folders"), std::nullopt);
  ASSERT_TRUE(ui_testing::press_button(question, kFirstLink + 1));

  const ProgramResult prompted = finish();
  EXPECT_EQ(prompted.exit_code, 0);
  EXPECT_EQ(prompted.err, "");
  EXPECT_TRUE(holds_the_collector("Saved Games\\DCS"));
  EXPECT_FALSE(exists("Saved Games\\DCS.openbeta\\Scripts"));

  const ProgramResult named = install_named_afresh("Saved Games\\DCS");
  EXPECT_EQ(named.exit_code, 0);
  EXPECT_EQ(prompted.out, named.out);
}

}  // namespace
