// The dialog texts: the exact words of each question and message, the folder names they show, the
// log-age notes and the user texts of the install errors.
#include <gmock/gmock.h>

#include <chrono>

#include "dcs/bridge/src/wording.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using dialogs::DialogAnswer;
using dialogs::DialogIcon;
using dialogs::Question;
using install::AddOn;
using install::AddOnAction;
using install::InstallError;
using install::InstallStatus;
using machine::FileTime;
using machine::FolderCheckError;
using machine::Path;
using namespace std::chrono_literals;
using std::chrono::sys_days;
using std::chrono::year;

FileTime utc(year y, unsigned month, unsigned day, std::chrono::seconds time_of_day = 0s) {
  return std::chrono::time_point_cast<machine::FileTicks>(
      sys_days{y / std::chrono::month{month} / std::chrono::day{day}} + time_of_day);
}

constexpr machine::FileTicks kTick{1};

TEST(LogAgeNote, GoesByAgeInSecondsThenByMonthAndYear) {
  struct Case {
    const char* what;
    std::optional<FileTime> log;
    FileTime now;
    std::string note;
  };
  const FileTime noon = utc(2025y, 6, 15, 12h);
  const Case cases[] = {
      {"no log", std::nullopt, noon, "No DCS log yet"},
      {"log from the future", noon + 1h, noon, "DCS log written today"},
      {"just written", noon, noon, "DCS log written today"},
      {"a tick short of a day", noon - 86'400s + kTick, noon, "DCS log written today"},
      // The previous calendar day, but less than a day old.
      {"23 hours before 10:00", utc(2025y, 6, 15, 10h) - 23h, utc(2025y, 6, 15, 10h), "DCS log written today"},
      {"a day", noon - 86'400s, noon, "DCS log written yesterday"},
      {"172,799 s", noon - 172'799s, noon, "DCS log written yesterday"},
      {"a tick short of two days", noon - 172'800s + kTick, noon, "DCS log written yesterday"},
      {"two days", noon - 172'800s, noon, "DCS log last written in June"},
      {"March of last year, 200 days ago", utc(2024y, 3, 20), utc(2024y, 3, 20) + 200 * 24h,
       "DCS log last written in March"},
      {"a second short of 300 days, last year", noon - 25'920'000s + 1s, noon, "DCS log last written in August"},
      {"300 days, last year", noon - 25'920'000s, noon, "DCS log last written in August 2024"},
      {"more than 300 days, this year", utc(2025y, 1, 1), utc(2025y, 12, 31, 23h), "DCS log last written in January"},
      {"two years ago", utc(2023y, 3, 5), noon, "DCS log last written in March 2023"},
      // The calendar month is the UTC one.
      {"last second of a month", utc(2025y, 2, 1) - 1s, noon, "DCS log last written in January"},
      {"a file time of zero", utc(1601y, 1, 1), noon, "DCS log last written in January 1601"},
  };
  for (const Case& c : cases) EXPECT_EQ(wording::log_age_note(c.log, c.now), c.note) << c.what;
}

TEST(LogAgeNote, NamesEveryMonth) {
  const std::vector<std::string> months = {"January", "February", "March",     "April",   "May",      "June",
                                           "July",    "August",   "September", "October", "November", "December"};
  for (unsigned m = 1; m <= 12; ++m)
    EXPECT_EQ(wording::log_age_note(utc(2020y, m, 28), utc(2025y, 1, 1)),
              "DCS log last written in " + months[m - 1] + " 2020");
}

TEST(FolderText, NamesFoldersUnderSavedGamesShortly) {
  struct Case {
    std::string folder;
    std::string text;
  };
  const Case cases[] = {
      {"C:\\Users\\ann\\Saved Games\\DCS", "Saved Games\\DCS"},
      {"C:\\Users\\ann\\Saved Games\\DCS.openbeta\\", "Saved Games\\DCS.openbeta\\"},
      {"c:\\users\\ANN\\saved games\\DCS", "Saved Games\\DCS"},
      {"C:\\Users\\ann\\Saved Games", "C:\\Users\\ann\\Saved Games"},
      {"C:\\Users\\ann\\Saved Games2\\DCS", "C:\\Users\\ann\\Saved Games2\\DCS"},
      {"D:\\Games\\DCS", "D:\\Games\\DCS"},
  };
  machine::testing::FakeMachine fake;
  fake.add_folder("C:\\Users\\ann\\Saved Games\\");
  fake.set_known_folder(machine::KnownFolder::SavedGames, "C:\\Users\\ann\\Saved Games\\");
  machine::Machine m = fake.machine();
  for (const Case& c : cases) EXPECT_EQ(wording::folder_text(*m.known_folders, Path(c.folder)), c.text) << c.folder;

  // Without a Saved Games folder every folder is named in full.
  fake.set_known_folder(machine::KnownFolder::SavedGames, std::nullopt);
  EXPECT_EQ(wording::folder_text(*m.known_folders, Path("C:\\Users\\ann\\Saved Games\\DCS")),
            "C:\\Users\\ann\\Saved Games\\DCS");
}

TEST(RepairQuestion, SaysWhatARepairWillDoByStatus) {
  struct Case {
    InstallStatus status;
    std::string heading;
    std::string body;
  };
  const std::string set_up =
      "Tolvaro will be set up in Saved Games\\DCS, with the F10 map marker and the bandit tool (both "
      "recommended).\n\nTo leave either out, use Configure optional add-ons in the tray menu afterwards.";
  const std::string add_ons =
      "\n\nThe optional add-ons stay as they are. To add or remove them, use Configure optional add-ons in the tray "
      "menu.";
  const Case cases[] = {
      {InstallStatus::simulatorNotFound, "Set up Tolvaro in DCS", set_up},
      {InstallStatus::notInstalled, "Set up Tolvaro in DCS", set_up},
      {InstallStatus::wrongFolderSuspected, "Repair Tolvaro in DCS",
       "DCS is flying but Tolvaro hears nothing, so DCS probably reads another folder. Tolvaro will be set up in "
       "Saved Games\\DCS, the folder you picked.\n\nThe optional add-ons there stay as they are, or both go in if "
       "Tolvaro is new there."},
      {InstallStatus::outdated, "Repair Tolvaro in DCS",
       "Installed in Saved Games\\DCS. The Tolvaro script is out of date and will be updated." + add_ons},
      {InstallStatus::modified, "Repair Tolvaro in DCS",
       "Installed in Saved Games\\DCS. The Tolvaro script was changed by hand. It will be replaced, and the changed "
       "copy kept beside it." +
           add_ons},
      {InstallStatus::installFailed, "Repair Tolvaro in DCS",
       "Installed in Saved Games\\DCS. Some of its files are missing or could not be read. They will be written "
       "again." +
           add_ons},
      {InstallStatus::installed, "Repair Tolvaro in DCS",
       "Installed in Saved Games\\DCS. Everything is up to date." + add_ons},
  };
  for (const Case& c : cases) {
    const Question q = wording::repair_question("Saved Games\\DCS", c.status);
    EXPECT_EQ(q.title, "Tolvaro DCS Bridge");
    EXPECT_EQ(q.heading, c.heading) << install::wire_word(c.status);
    EXPECT_EQ(q.body, c.body) << install::wire_word(c.status);
    EXPECT_THAT(q.choices, IsEmpty());
    EXPECT_THAT(q.buttons, ElementsAre("Repair", "Cancel"));
    EXPECT_EQ(q.icon, DialogIcon::None);
  }
}

TEST(PickFolderQuestion, OffersEachFolderWithItsLogAge) {
  const FileTime now = utc(2025y, 6, 15, 12h);
  const wording::PickCandidate candidates[] = {{"Saved Games\\DCS", now - 2h}, {"D:\\Flights", std::nullopt}};
  const Question q = wording::pick_folder_question(candidates, now);
  EXPECT_EQ(q.heading, "Where does DCS keep its Saved Games folder?");
  EXPECT_EQ(q.body, "We couldn't work it out on our own. Pick the folder DCS uses:");
  ASSERT_EQ(q.choices.size(), 2u);
  EXPECT_EQ(q.choices[0].label, "Saved Games\\DCS");
  EXPECT_EQ(q.choices[0].note, "DCS log written today");
  EXPECT_EQ(q.choices[1].label, "D:\\Flights");
  EXPECT_EQ(q.choices[1].note, "No DCS log yet");
  EXPECT_THAT(q.buttons, ElementsAre("Browse\xE2\x80\xA6", "Skip for now"));
  EXPECT_EQ(q.icon, DialogIcon::None);

  // Nothing found: only the two buttons, and the form that says so.
  const Question none = wording::pick_folder_question({}, now);
  EXPECT_EQ(none.body,
            "Tolvaro couldn't find DCS on this PC. Pick the folder DCS uses under Saved Games, usually Saved "
            "Games\\DCS.");
  EXPECT_THAT(none.choices, IsEmpty());
  EXPECT_THAT(none.buttons, ElementsAre("Browse\xE2\x80\xA6", "Skip for now"));
}

TEST(FolderQuestions, HaveTheirWordsAndAWarning) {
  struct Case {
    Question question;
    std::string heading;
    std::string body;
    std::vector<std::string> buttons;
  };
  const Case cases[] = {
      {wording::program_folder_question("D:\\DCS World"), "That's the DCS program folder",
       "You picked D:\\DCS World, where DCS itself is installed.\n\nTolvaro goes in the folder DCS writes to, usually "
       "Saved Games\\DCS under your user folder.",
       {"Pick another folder", "Skip for now"}},
      {wording::not_a_dcs_folder_question("D:\\Empty"), "This doesn't look like a DCS folder",
       "D:\\Empty has no DCS settings or log in it.\n\nIf DCS has never been started on this PC, start it once first, "
       "then try again.",
       {"Pick another folder", "Install here anyway"}},
      {wording::folder_cant_be_used_question("D:\\Gone is not a folder"), "That folder can't be used",
       "D:\\Gone is not a folder", {"Pick another folder", "Skip for now"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.question.title, "Tolvaro DCS Bridge");
    EXPECT_EQ(c.question.heading, c.heading);
    EXPECT_EQ(c.question.body, c.body) << c.heading;
    EXPECT_THAT(c.question.choices, IsEmpty());
    EXPECT_EQ(c.question.buttons, c.buttons) << c.heading;
    EXPECT_EQ(c.question.icon, DialogIcon::Warning) << c.heading;
  }
  const dialogs::FolderRequest picker = wording::folder_picker(Path("C:\\Users\\ann\\Saved Games"));
  EXPECT_EQ(picker.title, "Pick the DCS folder under Saved Games");
  EXPECT_EQ(picker.start_folder, "C:\\Users\\ann\\Saved Games");
  EXPECT_EQ(wording::folder_picker(std::nullopt).start_folder, std::nullopt);
}

TEST(AddOnsQuestion, AsksByAddOnAndWhetherItIsThere) {
  struct Case {
    AddOn add_on;
    bool installed;
    std::string heading;
    std::string body_start;
    std::vector<std::string> buttons;
  };
  const std::string tail = "\n\nYou can change this again any time with Configure optional add-ons in the tray menu.";
  const std::string marker = "Click the F10 map to load a steerpoint into the F-16 and send it to Quessa. ";
  const std::string bandit = "Adds a practice bandit from the F10 map. ";
  const Case cases[] = {
      {AddOn::MapMarker, true, "F10 map marker (recommended)", marker + "It is installed.",
       {"Keep it (recommended)", "Remove it"}},
      {AddOn::MapMarker, false, "F10 map marker (recommended)", marker + "It is not installed.",
       {"Add it (recommended)", "Leave it out"}},
      {AddOn::BanditTool, true, "Bandit tool (recommended)", bandit + "It is installed.",
       {"Keep it (recommended)", "Remove it"}},
      {AddOn::BanditTool, false, "Bandit tool (recommended)",
       bandit + "It is not installed. If you add it, DCS needs a restart to load it.",
       {"Add it (recommended)", "Leave it out"}},
  };
  for (const Case& c : cases) {
    const Question q = wording::addons_question(c.add_on, c.installed);
    EXPECT_EQ(q.heading, c.heading);
    EXPECT_EQ(q.body, c.body_start + tail) << c.heading;
    EXPECT_EQ(q.buttons, c.buttons) << c.heading;
    EXPECT_THAT(q.choices, IsEmpty());
    EXPECT_EQ(q.icon, DialogIcon::None);
  }
}

TEST(AddOnsQuestion, AnswersGiveTheAction) {
  struct Case {
    bool installed;
    DialogAnswer answer;
    std::optional<AddOnAction> action;
  };
  const Case cases[] = {
      {true, DialogAnswer::button(0), AddOnAction::Install},
      {true, DialogAnswer::button(1), AddOnAction::Remove},
      {false, DialogAnswer::button(0), AddOnAction::Install},
      {false, DialogAnswer::button(1), AddOnAction::LeaveAsIs},
      {true, DialogAnswer::closed(), std::nullopt},
      {false, DialogAnswer::closed(), std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wording::addon_action(c.answer, c.installed), c.action)
        << c.installed << " " << dialogs::to_string(c.answer);
}

TEST(InstallErrorText, TellsEachErrorInTheUsersWords) {
  machine::testing::FakeMachine fake;
  const machine::Machine m = fake.machine();
  const machine::KnownFolders& kf = *m.known_folders;
  const Path dcs("C:\\DCS");
  const Path export_lua("C:\\DCS\\Scripts\\Export.lua");
  const InstallError write = InstallError::io_failed(kf, install::Operation::Write, export_lua, machine::IoError{});
  const auto refused = [](FolderCheckError::Kind kind) {
    return InstallError::folder_refused({kind, Path("C:\\DCS")});
  };
  struct Case {
    InstallError error;
    std::string text;
  };
  const Case cases[] = {
      {InstallError::no_install_found(), "No DCS folder was found on this PC."},
      {InstallError::cannot_tell({}), "Tolvaro couldn't tell which DCS folder to use."},
      {refused(FolderCheckError::Kind::NotLocal), "That folder can't be used: it must be on a drive of this PC."},
      {refused(FolderCheckError::Kind::CannotMakeAbsolute),
       "That folder can't be used: it must be on a drive of this PC."},
      {refused(FolderCheckError::Kind::NotAFolder), "That folder doesn't exist."},
      {refused(FolderCheckError::Kind::ProgramFolder), "That is the DCS program folder, not the folder DCS writes to."},
      {refused(FolderCheckError::Kind::NeverWritten), "That folder has no DCS settings or log in it."},
      {InstallError::folder_missing(kf, dcs), "The DCS folder doesn't exist yet. Start DCS once, then try again."},
      {InstallError::lock_held(kf, Path("C:\\lock")),
       "Another install or repair is running. Wait for it to finish, then try again."},
      {InstallError::read_only(kf, export_lua),
       "Export.lua is read-only. Clear its read-only box in Properties, then try again."},
      {InstallError::not_utf8(kf, export_lua), "Export.lua isn't text Tolvaro can change safely, so it was left alone."},
      {InstallError::open_at_end(kf, export_lua),
       "Export.lua isn't text Tolvaro can change safely, so it was left alone."},
      {InstallError::backup_is_folder(kf, Path("C:\\DCS\\Scripts\\Export.lua.Tolvaro-backup")),
       "Export.lua could not be backed up, because a folder has the backup's name."},
      {InstallError::put_back_failed(kf, write, export_lua, write, Path("C:\\DCS\\Scripts\\Export.lua.Tolvaro-backup")),
       "Writing Export.lua failed, and so did putting it back. Its backup, Export.lua.Tolvaro-backup, is beside it."},
      // Export.lua did not exist before, so there is no copy to point to.
      {InstallError::put_back_failed(kf, write, export_lua, write, std::nullopt),
       "Writing Export.lua failed, and so did putting it back."},
      {write, "Tolvaro couldn't write one of its files in your DCS folder. Your antivirus may have blocked it."},
      {InstallError::io_failed(kf, install::Operation::Create, dcs, machine::IoError{}),
       "Tolvaro couldn't create one of its files in your DCS folder. Your antivirus may have blocked it."},
      {InstallError::written_file_gone(kf, export_lua),
       "A file Tolvaro wrote did not stay as written. Security software may have removed or changed it."},
      {InstallError::written_file_differs(kf, export_lua),
       "A file Tolvaro wrote did not stay as written. Security software may have removed or changed it."},
  };
  for (const Case& c : cases) EXPECT_EQ(wording::install_error_text(c.error), c.text) << c.error.text();

  const dialogs::DialogMessage stopped = wording::repair_stopped_message(InstallError::no_install_found());
  EXPECT_EQ(stopped.title, "Tolvaro DCS Bridge");
  EXPECT_EQ(stopped.heading, "Repair stopped");
  EXPECT_EQ(stopped.body, "No DCS folder was found on this PC.");
  EXPECT_EQ(stopped.button, "Close");
}

TEST(Messages, StoppedCouldNotStartAndDone) {
  struct Case {
    dialogs::DialogMessage message;
    std::string heading;
    std::string body;
  };
  const std::vector<std::string> lines = {"Added the bandit tool.", "If DCS is open, restart DCS to load the bandit tool."};
  const Case cases[] = {
      {wording::stopped_dialog("the port closed"), "Tolvaro DCS Bridge stopped",
       "It ran into an error and had to stop: the port closed\n\nStart it again from the Start Menu."},
      {wording::couldnt_start_dialog("TCP port 127.0.0.1:2992 is already in use."), "Tolvaro DCS Bridge couldn't start",
       "TCP port 127.0.0.1:2992 is already in use.\n\nStart it again from the Start Menu. If this keeps happening, "
       "restart your PC."},
      {wording::done_message(lines), "Done",
       "Added the bandit tool.\n\nIf DCS is open, restart DCS to load the bandit tool."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.message.title, "Tolvaro DCS Bridge");
    EXPECT_EQ(c.message.heading, c.heading);
    EXPECT_EQ(c.message.body, c.body) << c.heading;
    EXPECT_EQ(c.message.button, "Close");
  }
}

}  // namespace
