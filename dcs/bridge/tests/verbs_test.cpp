// The check, install and remove verbs over an in-memory PC, and quit over a stand-in for the other
// instance: their exact output lines, log lines and exit codes.
#include <gmock/gmock.h>

#include <functional>

#include "core/base/tests/log_capture.hpp"
#include "core/ui/tests/scripted_dialogs.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/verbs.hpp"
#include "dcs/bridge/tests/output_capture.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/export_lua.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using cli::AddOnAction;
using dialogs::DialogAnswer;
using dialogs::testing::Picked;
using dialogs::testing::ScriptedDialogs;
using cli::InstallArgs;
using install::InstallStatus;
using machine::FolderCandidate;
using machine::Path;
using machine::testing::Fault;
using machine::testing::Op;
using Entry = base::testing::LogCapture::Entry;
using Lines = std::vector<std::string>;

constexpr const char* kProfile = "C:\\Users\\ann";
constexpr const char* kSavedGames = "C:\\Users\\ann\\Saved Games";
constexpr const char* kLocal = "C:\\Users\\ann\\AppData\\Local";
constexpr const char* kDcs = "C:\\Users\\ann\\Saved Games\\DCS";
constexpr const char* kShown = "%USERPROFILE%\\Saved Games\\DCS";
constexpr const char* kBeta = "C:\\Users\\ann\\Saved Games\\DCS.openbeta";
constexpr const char* kBetaShown = "%USERPROFILE%\\Saved Games\\DCS.openbeta";
constexpr const char* kEagle = "Software\\Eagle Dynamics\\DCS World";
constexpr const char* kEagleBeta = "Software\\Eagle Dynamics\\DCS World OpenBeta";
constexpr const char* kSettingsShown = "%USERPROFILE%\\AppData\\Local\\Tolvaro\\DcsBridge\\settings.json";
constexpr const char* kLockShown = "%USERPROFILE%\\AppData\\Local\\Tolvaro\\DcsBridge\\install.lock";

const std::string kHook(export_lua::HOOK_LINE);
const std::string kCollector = "Scripts\\Tolvaro\\collectorScript.lua";
const std::string kBandit = "Scripts\\Hooks\\TolvaroBandits.lua";
const std::string kReticle = "Scripts\\Tolvaro\\reticle\\reticle.lua";
const std::string kReticleDlg = "Scripts\\Tolvaro\\reticle\\reticle.dlg";
const std::string kPromptDlg = "Scripts\\Tolvaro\\reticle\\prompt.dlg";
const std::string kReticlePng = "Scripts\\Tolvaro\\reticle\\reticle.png";
const std::string kExport = "Scripts\\Export.lua";
const std::string kBackup = "Scripts\\Export.lua.Tolvaro-backup";

std::string at(const std::string& folder, const std::string& relative) { return folder + "\\" + relative; }
std::string shown(const std::string& relative) { return at(kShown, relative); }

// The step lines of a full install into `shown_folder`, which holds an Export.lua without the hook
// line and none of the program's files.
Lines fresh_install_lines(const std::string& shown_folder) {
  return {"wrote      " + at(shown_folder, kCollector),
          "wrote      " + at(shown_folder, kReticle),
          "wrote      " + at(shown_folder, kReticleDlg),
          "wrote      " + at(shown_folder, kPromptDlg),
          "wrote      " + at(shown_folder, kReticlePng),
          "wrote      " + at(shown_folder, kBandit),
          "backed up  " + at(shown_folder, kExport) + " to " + at(shown_folder, kBackup),
          "added      the collector line to " + at(shown_folder, kExport)};
}

// The dialogs of `install --prompt`, answering as the test says and noting what was asked.
class FakePrompt : public cli::InstallPrompt {
 public:
  std::optional<Path> pick_folder(const std::vector<FolderCandidate>& candidates) override {
    offered.push_back(candidates);
    return pick ? pick(candidates) : std::nullopt;
  }
  bool confirm_unknown_folder(const Path& folder) override {
    asked.push_back(folder);
    return confirm;
  }
  bool dialog_failed() const override { return failed; }

  std::function<std::optional<Path>(const std::vector<FolderCandidate>&)> pick;
  bool confirm = false;
  bool failed = false;
  std::vector<std::vector<FolderCandidate>> offered;
  std::vector<Path> asked;
};

// A prompt that the verb may own, answering through one that the test keeps.
class LentPrompt final : public cli::InstallPrompt {
 public:
  explicit LentPrompt(cli::InstallPrompt& lent) : lent_(lent) {}
  std::optional<Path> pick_folder(const std::vector<FolderCandidate>& candidates) override {
    return lent_.pick_folder(candidates);
  }
  bool confirm_unknown_folder(const Path& folder) override { return lent_.confirm_unknown_folder(folder); }
  bool dialog_failed() const override { return lent_.dialog_failed(); }

 private:
  cli::InstallPrompt& lent_;
};

// A PC with one DCS installation whose user folder DCS has written to.
class Verbs : public ::testing::Test {
 public:
  Verbs() {
    install::testing::forget_logged_once();
    fake_.add_drive('D');
    fake_.add_folder(kSavedGames);
    fake_.add_folder(kLocal);
    fake_.set_known_folder(machine::KnownFolder::Profile, kProfile);
    fake_.set_known_folder(machine::KnownFolder::SavedGames, kSavedGames);
    fake_.set_known_folder(machine::KnownFolder::LocalAppData, kLocal);
    fake_.add_folder("D:\\DCS World");
    fake_.set_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path", "D:\\DCS World");
    fake_.add_folder(std::string(kDcs) + "\\Config");
  }

  void put(const std::string& relative, std::string_view bytes, const std::string& folder = kDcs) {
    fake_.add_file(at(folder, relative), bytes);
  }
  std::optional<std::string> file(const std::string& relative, const std::string& folder = kDcs) const {
    return fake_.file(at(folder, relative));
  }
  void put_current_files(const std::string& folder = kDcs) {
    put(kCollector, embedded::COLLECTOR_FILE.contents, folder);
    put(kBandit, embedded::BANDIT_TOOL_FILE.contents, folder);
    for (const embedded::EmbeddedFile& f : embedded::MAP_MARKER_FILES)
      put("Scripts\\" + std::string(f.relative_path), f.contents, folder);
  }
  void add_second_installation() {
    fake_.add_folder("D:\\DCS Beta");
    fake_.add_file("D:\\DCS Beta\\dcs_variant.txt", "openbeta");
    fake_.add_file(std::string(kBeta) + "\\Logs\\dcs.log", "log");
    fake_.set_registry(machine::RegistryRoot::CurrentUser, kEagleBeta, "Path", "D:\\DCS Beta");
  }
  void remove_installation() { fake_.remove_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path"); }

  // Whether any call wrote, removed or created something outside local app data.
  bool wrote_anything() const {
    for (const machine::testing::Call& call : fake_.calls()) {
      const bool writes = call.op == Op::create_dir || call.op == Op::write_atomic_create || call.op == Op::write_new ||
                          call.op == Op::write_in_place || call.op == Op::remove_file || call.op == Op::remove_dir ||
                          call.op == Op::lock;
      if (writes) return true;
    }
    return false;
  }

  // The verb with `prompt` as its dialogs, lent for the run; `prompts_made` counts the times the
  // verb made them.
  int install(InstallArgs args = {}, cli::InstallPrompt* prompt = nullptr) {
    return cli::install_verb(machine_, args, [this, prompt]() -> std::unique_ptr<cli::InstallPrompt> {
      ++prompts_made;
      if (!prompt) {
        ADD_FAILURE() << "the verb made dialogs that the test did not foresee";
        return nullptr;
      }
      return std::make_unique<LentPrompt>(*prompt);
    });
  }
  static InstallArgs with_folder(std::string_view folder) {
    InstallArgs args;
    args.saved_games = bridge::to_os(folder);
    return args;
  }
  static InstallArgs prompted() {
    InstallArgs args;
    args.prompt = true;
    return args;
  }

  Lines out() const { return output_.lines(); }
  // Each log line as "level message".
  Lines logged() const {
    Lines out;
    for (const Entry& e : log_.entries()) out.push_back(e.level + " " + e.message);
    return out;
  }

  machine::testing::FakeMachine fake_;
  machine::Machine machine_ = fake_.machine();
  base::testing::LogCapture log_;
  bridge::testing::OutputCapture output_;
  int prompts_made = 0;
};

// check

TEST(CheckLines, EveryStatusGivesItsWordAndExitCode) {
  struct Case {
    InstallStatus status;
    std::string word;
    int exit_code;
  };
  const Case cases[] = {
      {InstallStatus::simulatorNotFound, "simulatorNotFound", 10},
      {InstallStatus::notInstalled, "notInstalled", 11},
      {InstallStatus::outdated, "outdated", 12},
      {InstallStatus::modified, "modified", 13},
      {InstallStatus::installFailed, "installFailed", 14},
      {InstallStatus::wrongFolderSuspected, "wrongFolderSuspected", 15},
      {InstallStatus::installed, "installed", 0},
  };
  machine::testing::FakeMachine fake;
  fake.add_folder(kProfile);
  fake.set_known_folder(machine::KnownFolder::Profile, kProfile);
  machine::Machine m = fake.machine();
  for (const Case& c : cases) {
    install::ScanResult scan;
    scan.status = c.status;
    if (c.status != InstallStatus::simulatorNotFound) {
      install::FolderStatus folder;
      folder.status = c.status;
      folder.collector_version = 7;
      folder.map_marker = true;
      scan.folders.push_back({{Path(kDcs), Path("D:\\DCS World")}, folder});
      scan.chosen = Path(kDcs);
      scan.collector_version = 7;
      scan.map_marker = true;
    }
    Lines expected = {"state:             " + c.word};
    if (scan.chosen) expected.push_back("folder:            " + std::string(kShown));
    expected.push_back(scan.collector_version ? "collector version: 7 (this bridge has 8)"
                                              : "collector version: none (this bridge has 8)");
    expected.push_back(scan.map_marker ? "map marker:        present" : "map marker:        absent");
    expected.push_back("bandit tool:       absent");
    expected.push_back("DCS running:       no");
    EXPECT_EQ(cli::check_lines(*m.known_folders, scan, false), expected) << c.word;
    EXPECT_EQ(cli::check_exit_code(c.status), c.exit_code) << c.word;
  }
}

TEST(CheckLines, SeveralFoldersAreEachListedWithTheirProblems) {
  machine::testing::FakeMachine fake;
  fake.add_folder(kProfile);
  fake.set_known_folder(machine::KnownFolder::Profile, kProfile);
  machine::Machine m = fake.machine();
  install::ScanResult scan;
  install::FolderStatus dcs;
  dcs.status = InstallStatus::outdated;
  dcs.problems = {"first problem", "second problem"};
  install::FolderStatus beta;
  beta.status = InstallStatus::modified;
  beta.problems = {"beta problem"};
  beta.bandit_tool = true;
  scan.folders = {{{Path(kDcs), Path("D:\\DCS World")}, dcs}, {{Path(kBeta), std::nullopt}, beta}};
  scan.chosen = Path(kBeta);
  scan.status = InstallStatus::modified;
  scan.bandit_tool = true;
  EXPECT_EQ(
      cli::check_lines(*m.known_folders, scan, true),
      (Lines{"state:             modified", "folder:            " + std::string(kBetaShown),
             "collector version: none (this bridge has 8)", "map marker:        absent", "bandit tool:       present",
             "DCS running:       yes", "also checked:      " + std::string(kShown) + " (outdated)", "  first problem",
             "  second problem", "also checked:      " + std::string(kBetaShown) + " (modified)", "  beta problem"}));
}

TEST_F(Verbs, CheckTellsTheStateOfThePc) {
  struct Case {
    std::string name;
    std::function<void(Verbs&)> set_up;
    Lines lines;
    int exit_code;
  };
  const std::string none = "collector version: none (this bridge has 8)";
  const std::string absent_marker = "map marker:        absent", absent_bandit = "bandit tool:       absent";
  const std::string folder = "folder:            " + std::string(kShown);
  const Case cases[] = {
      {"no DCS anywhere",
       [](Verbs& t) { t.remove_installation(); },
       {"state:             simulatorNotFound", none, absent_marker, absent_bandit, "DCS running:       no"},
       10},
      {"nothing installed",
       [](Verbs&) {},
       {"state:             notInstalled", folder, none, absent_marker, absent_bandit, "DCS running:       no"},
       11},
      {"installed, DCS running",
       [](Verbs& t) {
         t.put_current_files();
         t.put(kExport, kHook + "\n");
         t.fake_.add_process("dcs.EXE");
       },
       {"state:             installed", folder, "collector version: 8 (this bridge has 8)",
        "map marker:        present", "bandit tool:       present", "DCS running:       yes"},
       0},
      {"edited bandit tool",
       [](Verbs& t) {
         t.put(kCollector, embedded::COLLECTOR_FILE.contents);
         t.put(kBandit, "-- my bandits\n");
         t.put(kExport, kHook + "\n");
       },
       {"state:             modified", folder, "collector version: 8 (this bridge has 8)", absent_marker,
        "bandit tool:       present", "DCS running:       no", "  " + shown(kBandit) + " was edited"},
       13},
      {"hook line without the collector",
       [](Verbs& t) { t.put(kExport, kHook + "\n"); },
       {"state:             installFailed", folder, none, absent_marker, absent_bandit, "DCS running:       no",
        "  " + shown(kCollector) + " is missing"},
       14},
      {"the user's own line, which holds a line break",
       [](Verbs& t) {
         t.put(kCollector, embedded::COLLECTOR_FILE.contents);
         t.put(kExport, "dofile(lfs.writedir() .. [[Scripts\\Tolvaro\\collectorScript.lua]]) -- mine\n");
       },
       {"state:             installed", folder, "collector version: 8 (this bridge has 8)", absent_marker,
        absent_bandit, "DCS running:       no",
        "  " + shown(kExport) +
            " loads the collector with a line of its own; it counts as installed, \n"
            "                         and remove leaves it in place"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.remove(kDcs);
    fake_.add_folder(std::string(kDcs) + "\\Config");
    fake_.set_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path", "D:\\DCS World");
    fake_.remove_process("dcs.EXE");
    output_.clear();
    c.set_up(*this);
    fake_.clear_calls();
    EXPECT_EQ(cli::check_verb(machine_), c.exit_code);
    EXPECT_EQ(out(), c.lines);
    EXPECT_FALSE(wrote_anything());
  }
}

TEST_F(Verbs, CheckWithTwoFoldersListsBoth) {
  add_second_installation();
  put_current_files(kBeta);
  put(kExport, kHook + "\n", kBeta);
  EXPECT_EQ(cli::check_verb(machine_), 0);
  EXPECT_EQ(out(), (Lines{"state:             installed", "folder:            " + std::string(kBetaShown),
                          "collector version: 8 (this bridge has 8)", "map marker:        present",
                          "bandit tool:       present", "DCS running:       no",
                          "also checked:      " + std::string(kShown) + " (notInstalled)",
                          "also checked:      " + std::string(kBetaShown) + " (installed)"}));
}

// install

TEST_F(Verbs, InstallIntoTheOneDiscoveredFolder) {
  put(kExport, "x = 1\n");
  EXPECT_EQ(install(), 0);
  EXPECT_EQ(out(), fresh_install_lines(kShown));
  EXPECT_THAT(logged(), IsEmpty());
  EXPECT_EQ(file(kExport), "x = 1\n" + kHook + "\n");
  EXPECT_EQ(file(kReticlePng), std::string(embedded::MAP_MARKER_FILES[3].contents));

  // Then check says installed.
  output_.clear();
  EXPECT_EQ(cli::check_verb(machine_), 0);
  EXPECT_EQ(out().front(), "state:             installed");
}

TEST_F(Verbs, InstallWhileDcsRunsSaysWhatToRestart) {
  fake_.add_process("DCS.exe");
  InstallArgs args;
  args.map_marker = AddOnAction::Remove;
  args.bandit_tool = AddOnAction::Remove;
  EXPECT_EQ(install(args), 0);
  EXPECT_EQ(out(), (Lines{"wrote      " + shown(kCollector), "added      the collector line to " + shown(kExport),
                          "DCS is running: restart the mission to load the collector, and DCS for the bandit tool."}));
}

TEST_F(Verbs, AddOnsTurnedOffAreTakenOut) {
  put_current_files();
  put(kExport, kHook + "\n");
  InstallArgs args;
  args.map_marker = AddOnAction::Remove;
  args.bandit_tool = AddOnAction::Remove;
  EXPECT_EQ(install(args), 0);
  EXPECT_EQ(out(), (Lines{"unchanged  " + shown(kCollector), "removed    " + shown(kReticle),
                          "removed    " + shown(kReticleDlg), "removed    " + shown(kPromptDlg),
                          "removed    " + shown(kReticlePng), "removed    " + shown(kBandit),
                          "removed    " + shown("Scripts\\Tolvaro\\reticle"), "unchanged  " + shown(kExport)}));
  EXPECT_EQ(file(kBandit), std::nullopt);
}

TEST_F(Verbs, AFolderGivenByHandIsRememberedOrSaysWhyNot) {
  fake_.add_folder("D:\\Flight\\Config");
  EXPECT_EQ(install(with_folder("D:\\Flight")), 0);
  Lines expected = fresh_install_lines("D:\\Flight");
  expected.erase(expected.end() - 2);  // no Export.lua there: nothing to back up
  expected.push_back("remembered this folder in " + std::string(kSettingsShown));
  EXPECT_EQ(out(), expected);
  EXPECT_THAT(logged(), IsEmpty());

  // The next one cannot be written down; the install still succeeds.
  fake_.add_folder("D:\\Other\\Config");
  fake_.fail({Op::write_atomic_create, std::string(kLocal) + "\\Tolvaro\\DcsBridge\\settings.json"});
  output_.clear();
  EXPECT_EQ(install(with_folder("D:\\Other")), 0);
  EXPECT_EQ(out().back(), "added      the collector line to D:\\Other\\" + kExport);
  EXPECT_THAT(logged(), ElementsAre("warn could not remember the folder: cannot write " + std::string(kSettingsShown) +
                                    ": Access is denied. (os error 5) (writing through " + kLocal +
                                    "\\Tolvaro\\DcsBridge\\settings.json.tolvaro-new)"));
}

TEST_F(Verbs, TheFolderArgumentIsPassedOnExactly) {
  // On Windows an argument may hold an unpaired surrogate, which the folder's name keeps; elsewhere
  // the bytes are read as UTF-8 and an invalid one stands for U+FFFD.
  bridge::OsString raw = bridge::to_os("D:\\Odd ");
  std::u16string folder = u"D:\\Odd ";
  if constexpr (sizeof(bridge::OsChar) == 2) {
    raw.push_back(static_cast<bridge::OsChar>(0xDC01));
    folder.push_back(u'\xDC01');
  } else {
    raw.push_back(static_cast<bridge::OsChar>(0xFF));
    folder.push_back(u'\xFFFD');
  }
  EXPECT_EQ(bridge::to_path(raw), Path(folder));

  fake_.add_folder(Path(folder).join("Config"));
  InstallArgs args;
  args.saved_games = raw;
  args.map_marker = AddOnAction::Remove;
  args.bandit_tool = AddOnAction::Remove;
  EXPECT_EQ(install(args), 0);
  EXPECT_EQ(fake_.file(Path(folder).join(kCollector)), std::string(embedded::COLLECTOR_FILE.contents));
}

TEST_F(Verbs, NoInstallationFound) {
  remove_installation();
  EXPECT_EQ(install(), 10);
  EXPECT_THAT(out(), IsEmpty());
  EXPECT_THAT(logged(), ElementsAre("error no DCS install was found. Pass the DCS folder under Saved Games "
                                    "with --saved-games."));
}

TEST_F(Verbs, TwoFoldersAndNoPickerListsThemAndWritesNothing) {
  add_second_installation();
  fake_.clear_calls();
  EXPECT_EQ(install(), 3);
  EXPECT_EQ(out(), (Lines{"found      " + std::string(kShown), "found      " + std::string(kBetaShown)}));
  EXPECT_THAT(logged(), ElementsAre("error cannot tell which folder; pass --saved-games"));
  EXPECT_EQ(file(kCollector), std::nullopt);
  EXPECT_EQ(file(kCollector, kBeta), std::nullopt);
}

TEST_F(Verbs, AFolderDcsNeverWroteToNeedsTheFlag) {
  fake_.add_folder("D:\\Empty");
  EXPECT_EQ(install(with_folder("D:\\Empty")), 2);
  EXPECT_THAT(out(), IsEmpty());
  EXPECT_THAT(
      logged(),
      ElementsAre("error D:\\Empty has no Config folder and no Logs\\dcs.log, so DCS has probably never written "
                  "to it. The DCS folder under Saved Games is usually C:\\Users\\<you>\\Saved Games\\DCS. "
                  "To install there anyway, add --allow-unknown-folder."));
  EXPECT_EQ(fake_.kind("D:\\Empty\\Scripts"), machine::PathKind::Missing);

  log_.clear();
  InstallArgs args = with_folder("D:\\Empty");
  args.allow_unknown_folder = true;
  EXPECT_EQ(install(args), 0);
  EXPECT_EQ(logged().front(), "warn D:\\Empty has no sign that DCS ever wrote to it; installing there as asked");
  EXPECT_EQ(out().back(), "remembered this folder in " + std::string(kSettingsShown));
  EXPECT_EQ(fake_.file("D:\\Empty\\" + kCollector), std::string(embedded::COLLECTOR_FILE.contents));
}

TEST_F(Verbs, OtherRefusedFoldersGiveTheCheckText) {
  fake_.add_file("D:\\DCS World\\bin\\DCS.exe", "MZ");
  struct Case {
    std::string folder;
    std::string line;
  };
  const Case cases[] = {
      {"D:\\Nowhere", "D:\\Nowhere is not a folder"},
      {"D:\\DCS World",
       "D:\\DCS World is where DCS itself is installed. Pick the DCS folder under Saved Games instead, such as "
       "C:\\Users\\<you>\\Saved Games\\DCS: the one with Config and Logs folders in it."},
      {"\\\\server\\share\\DCS", "\\\\server\\share\\DCS, is not a folder on a local drive such as C:"},
  };
  for (const Case& c : cases) {
    log_.clear();
    InstallArgs args = with_folder(c.folder);
    args.allow_unknown_folder = true;  // overrides only "never written"
    EXPECT_EQ(install(args), 2) << c.folder;
    EXPECT_THAT(logged(), ElementsAre("error " + c.line)) << c.folder;
  }
  EXPECT_THAT(out(), IsEmpty());
}

TEST_F(Verbs, AnotherRunHoldingTheLockTurnsTheInstallAway) {
  machine::Machine other = fake_.machine();
  std::expected<install::InstallLock, install::InstallError> held = install::take_install_lock(other);
  ASSERT_TRUE(held);
  EXPECT_EQ(install(), 4);
  EXPECT_THAT(out(), IsEmpty());
  EXPECT_THAT(logged(), ElementsAre("error another install or remove is running (it holds " + std::string(kLockShown) +
                                    "). Wait for it to finish."));
  EXPECT_EQ(file(kCollector), std::nullopt);
}

TEST_F(Verbs, OtherFailuresExitWith1AndKeepTheStepsReported) {
  put(kExport, "x = 1\n");
  fake_.set_read_only(at(kDcs, kExport));
  EXPECT_EQ(install(), 1);
  EXPECT_THAT(out(), IsEmpty());
  EXPECT_THAT(logged(), ElementsAre("error Export.lua is read-only: " + shown(kExport) +
                                    ". Clear its read-only box in Properties, then try again."));

  fake_.set_read_only(at(kDcs, kExport), false);
  fake_.fail({Op::write_atomic_create, at(kDcs, kBandit)});
  log_.clear();
  EXPECT_EQ(install(), 1);
  Lines expected = fresh_install_lines(kShown);
  expected.resize(5);  // the bandit tool's write fails
  EXPECT_EQ(out(), expected);
  EXPECT_THAT(logged(),
              ElementsAre("error cannot write " + shown(kBandit) +
                          ": Access is denied. (os error 5) (writing through " + at(kDcs, kBandit) + ".tolvaro-new)"));
  EXPECT_EQ(file(kExport), "x = 1\n");
}

// install --prompt

TEST_F(Verbs, PromptMakesTheDialogsOnceBeforeAnythingAndNoneMakesAFaultNotAnInstall) {
  // No folder found: the folder window, then the consent for the folder picked, over one set of
  // dialogs.
  remove_installation();
  fake_.add_folder("D:\\Empty");
  FakePrompt prompt;
  prompt.pick = [](const std::vector<FolderCandidate>&) { return std::optional<Path>(Path("D:\\Empty")); };
  EXPECT_EQ(install(prompted(), &prompt), 2);
  EXPECT_EQ(prompt.offered.size(), 1u);
  EXPECT_THAT(prompt.asked, ElementsAre(Path("D:\\Empty")));
  EXPECT_EQ(prompts_made, 1);

  // Dialogs that could not be made are an internal fault, met before the PC is looked at.
  add_second_installation();
  fake_.clear_calls();
  EXPECT_THROW(cli::install_verb(machine_, prompted(), [] { return std::unique_ptr<cli::InstallPrompt>(); }),
               std::logic_error);
  EXPECT_THAT(fake_.calls(), IsEmpty());
  EXPECT_THAT(out(), IsEmpty());
}

TEST_F(Verbs, PromptLetsTheUserPickAmongSeveralFolders) {
  add_second_installation();
  FakePrompt prompt;
  prompt.pick = [](const std::vector<FolderCandidate>&) { return std::optional<Path>(Path(kBeta)); };
  EXPECT_EQ(install(prompted(), &prompt), 0);
  ASSERT_EQ(prompt.offered.size(), 1u);
  ASSERT_EQ(prompt.offered[0].size(), 2u);
  EXPECT_EQ(prompt.offered[0][0].saved_games, Path(kDcs));
  EXPECT_EQ(prompt.offered[0][1].saved_games, Path(kBeta));
  Lines expected = fresh_install_lines(kBetaShown);
  expected.erase(expected.end() - 2);
  EXPECT_EQ(out(), expected);  // discovery finds the folder: nothing to remember
  EXPECT_EQ(file(kCollector, kBeta), std::string(embedded::COLLECTOR_FILE.contents));

  // Skipping the choice is the same failure as without the prompt.
  FakePrompt skipping;
  output_.clear();
  EXPECT_EQ(install(prompted(), &skipping), 3);
  EXPECT_EQ(out(), (Lines{"found      " + std::string(kShown), "found      " + std::string(kBetaShown)}));
}

TEST_F(Verbs, PromptAsksForTheFolderWhenNoneIsFound) {
  remove_installation();
  fake_.add_folder("D:\\Flight\\Logs");
  fake_.add_file("D:\\Flight\\Logs\\dcs.log", "log");
  FakePrompt prompt;
  prompt.pick = [](const std::vector<FolderCandidate>&) { return std::optional<Path>(Path("D:\\Flight")); };
  EXPECT_EQ(install(prompted(), &prompt), 0);
  ASSERT_EQ(prompt.offered.size(), 1u);
  EXPECT_THAT(prompt.offered[0], IsEmpty());
  Lines expected = fresh_install_lines("D:\\Flight");
  expected.erase(expected.end() - 2);
  expected.push_back("remembered this folder in " + std::string(kSettingsShown));
  EXPECT_EQ(out(), expected);

  // Nothing picked: the first failure stands.
  fake_.remove(std::string(kLocal) + "\\Tolvaro");
  FakePrompt skipping;
  output_.clear();
  EXPECT_EQ(install(prompted(), &skipping), 10);
  EXPECT_EQ(skipping.offered.size(), 1u);
  EXPECT_THAT(out(), IsEmpty());
  EXPECT_EQ(logged().back(),
            "error no DCS install was found. Pass the DCS folder under Saved Games with --saved-games.");
}

TEST_F(Verbs, PromptAsksBeforeUsingAFolderDcsNeverWroteTo) {
  fake_.add_folder("D:\\Empty");
  InstallArgs args = with_folder("D:\\Empty");
  args.prompt = true;
  FakePrompt declining;
  EXPECT_EQ(install(args, &declining), 2);
  EXPECT_THAT(declining.asked, ElementsAre(Path("D:\\Empty")));
  EXPECT_EQ(fake_.kind("D:\\Empty\\Scripts"), machine::PathKind::Missing);

  FakePrompt agreeing;
  agreeing.confirm = true;
  EXPECT_EQ(install(args, &agreeing), 0);
  EXPECT_THAT(agreeing.asked, ElementsAre(Path("D:\\Empty")));
  EXPECT_EQ(fake_.file("D:\\Empty\\" + kCollector), std::string(embedded::COLLECTOR_FILE.contents));
}

TEST_F(Verbs, AFailedDialogFailsTheRunWhateverItsResult) {
  add_second_installation();
  FakePrompt prompt;
  prompt.pick = [&prompt](const std::vector<FolderCandidate>&) {
    prompt.failed = true;
    return std::optional<Path>(Path(kBeta));
  };
  EXPECT_EQ(install(prompted(), &prompt), 1);
  EXPECT_EQ(logged().back(), "error a dialog failed; the install may be incomplete");
  EXPECT_EQ(out().size(), 7u);  // the steps were reported as they happened
}

// The prompt over dialogs: the repair flow's folder question, picker and consent.
TEST_F(Verbs, PromptOverDialogsBrowsesForTheFolderWhenNoneIsFound) {
  remove_installation();
  fake_.add_file("D:\\Flight\\Logs\\dcs.log", "log");
  fake_.add_folder("D:\\Empty");
  struct Case {
    std::vector<ScriptedDialogs::Reply> script;
    int exit_code;
    std::vector<std::string> headings;
    std::string folder;  // where the collector lands; empty: nowhere
  };
  const std::string where = "Where does DCS keep its Saved Games folder?";
  const std::string picker = "picker: Pick the DCS folder under Saved Games";
  const Case cases[] = {
      {{DialogAnswer::button(1)}, 10, {where}, ""},
      {{DialogAnswer::button(0), Picked{std::nullopt}}, 10, {where, picker}, ""},
      {{DialogAnswer::button(0), Picked{"D:\\Flight"}}, 0, {where, picker}, "D:\\Flight"},
      // Agreed to in the picker, so the install itself does not ask again.
      {{DialogAnswer::button(0), Picked{"D:\\Empty"}, DialogAnswer::button(1)},
       0,
       {where, picker, "This doesn't look like a DCS folder"},
       "D:\\Empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    fake_.remove(std::string(kLocal) + "\\Tolvaro");
    auto owned = std::make_unique<ScriptedDialogs>(c.script);
    ScriptedDialogs& dialogs = *owned;
    std::unique_ptr<cli::InstallPrompt> prompt =
        cli::make_dialog_prompt(machine_, std::move(owned), [] { return machine::FileTime{}; });
    output_.clear();
    EXPECT_EQ(install(prompted(), prompt.get()), c.exit_code);
    EXPECT_EQ(dialogs.headings(), c.headings);
    EXPECT_TRUE(dialogs.finished());
    for (const std::string folder : {"D:\\Flight", "D:\\Empty"})
      EXPECT_EQ(file(kCollector, folder).has_value(), folder == c.folder) << folder;
    if (c.folder.empty()) {
      EXPECT_THAT(out(), IsEmpty());
      continue;
    }
    Lines expected = fresh_install_lines(c.folder);
    expected.erase(expected.end() - 2);
    expected.push_back("remembered this folder in " + std::string(kSettingsShown));
    EXPECT_EQ(out(), expected);
    fake_.remove(c.folder + "\\Scripts");
  }
}

TEST_F(Verbs, WithoutPromptNoDialogsAreMade) {
  add_second_installation();
  FakePrompt prompt;
  EXPECT_EQ(install(InstallArgs{}, &prompt), 3);
  EXPECT_EQ(prompts_made, 0);
  EXPECT_THAT(prompt.offered, IsEmpty());
}

// remove

TEST_F(Verbs, RemoveWithNoFolderSaysSo) {
  remove_installation();
  EXPECT_EQ(cli::remove_verb(machine_), 0);
  EXPECT_EQ(out(), (Lines{"no DCS folder found; nothing to remove"}));
  EXPECT_THAT(logged(), IsEmpty());
}

TEST_F(Verbs, RemoveTakesEverythingOutAndGivesExportLuaBack) {
  const std::string original = "-- mine\r\nlocal x = 1";
  put(kExport, original);
  ASSERT_EQ(install(), 0);
  output_.clear();
  EXPECT_EQ(cli::remove_verb(machine_), 0);
  EXPECT_EQ(out(),
            (Lines{"removed    the collector line from " + shown(kExport), "removed    " + shown(kCollector),
                   "removed    " + shown(kBandit), "removed    " + shown(kReticle), "removed    " + shown(kReticleDlg),
                   "removed    " + shown(kPromptDlg), "removed    " + shown(kReticlePng),
                   "removed    " + shown("Scripts\\Tolvaro\\reticle"), "removed    " + shown("Scripts\\Tolvaro")}));
  EXPECT_EQ(file(kExport), original);
  EXPECT_THAT(logged(), IsEmpty());
}

TEST_F(Verbs, RemoveGoesOnAfterAFailedFolderAndReportsItAtTheEnd) {
  // A hand-picked folder beside the discovered one; the discovered one fails.
  fake_.add_folder("D:\\Flight\\Config");
  ASSERT_EQ(install(with_folder("D:\\Flight")), 0);
  put_current_files();
  put(kExport, kHook + "\n");
  fake_.fail({Op::remove_file, at(kDcs, kBandit)});
  output_.clear();
  log_.clear();
  EXPECT_EQ(cli::remove_verb(machine_), 1);
  const Lines got = out();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got[0], "backed up  " + shown(kExport) + " to " + shown(kBackup));
  EXPECT_EQ(got[1], "removed    the collector line from " + shown(kExport));
  EXPECT_EQ(got[2], "removed    " + shown(kCollector));
  EXPECT_EQ(got[3], "removed    D:\\Flight\\" + kExport);  // the file was the program's own
  EXPECT_EQ(got.back(), "removed    D:\\Flight\\Scripts\\Tolvaro");
  EXPECT_THAT(logged(), ElementsAre("error removing from " + std::string(kShown) + ": cannot remove " + shown(kBandit) +
                                    ": Access is denied. (os error 5)"));
  EXPECT_EQ(fake_.kind("D:\\Flight\\Scripts\\Tolvaro"), machine::PathKind::Missing);
}

TEST_F(Verbs, RemoveNeedsTheLock) {
  put_current_files();
  {
    machine::Machine other = fake_.machine();
    std::expected<install::InstallLock, install::InstallError> held = install::take_install_lock(other);
    ASSERT_TRUE(held);
    EXPECT_EQ(cli::remove_verb(machine_), 4);
    EXPECT_THAT(logged(), ElementsAre("error another install or remove is running (it holds " +
                                      std::string(kLockShown) + "). Wait for it to finish."));
  }
  log_.clear();
  fake_.fail({Op::lock, ""});
  EXPECT_EQ(cli::remove_verb(machine_), 1);
  EXPECT_THAT(logged(),
              ElementsAre("error cannot lock " + std::string(kLockShown) + ": Access is denied. (os error 5)"));
  EXPECT_THAT(out(), IsEmpty());
  EXPECT_EQ(file(kCollector), std::string(embedded::COLLECTOR_FILE.contents));
}

// quit

TEST(QuitVerb, EachOutcomeOfClosingTheOtherTrayHasItsLineAndExitCode) {
  const std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env();
  ASSERT_TRUE(config.has_value()) << "the test's environment sets a bad port";
  const std::string tray_class = "TolvaroDcsBridge." + std::to_string(config->page_port);
  struct Case {
    tray::QuitOutcome outcome;
    int exit_code;
    Lines out;
    std::vector<Entry> logged;
  };
  const Case cases[] = {
      {tray::QuitOutcome::NotRunning, 0, {"Tolvaro DCS Bridge is not running"}, {}},
      {tray::QuitOutcome::Quit, 0, {"Tolvaro DCS Bridge quit"}, {}},
      {tray::QuitOutcome::TimedOut, 1, {}, {{"error", "Tolvaro DCS Bridge was not seen to quit within 10 seconds"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exit_code);
    base::testing::LogCapture log;
    bridge::testing::OutputCapture output;
    std::vector<std::string> closed;
    EXPECT_EQ(cli::quit_verb([&](std::string_view class_name) {
                closed.emplace_back(class_name);
                return c.outcome;
              }),
              c.exit_code);
    EXPECT_EQ(closed, Lines{tray_class}) << "the tray window of the page port, once";
    EXPECT_EQ(output.lines(), c.out);
    EXPECT_EQ(log.entries(), c.logged);
  }
}

}  // namespace
