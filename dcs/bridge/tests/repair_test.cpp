// The repair and add-on flows over an in-memory PC, with the user's answers scripted: what is
// asked in which order, what gets written, and what the closing message says after real installs.
#include <gmock/gmock.h>

#include <chrono>
#include <functional>
#include <initializer_list>

#include "core/ui/tests/scripted_dialogs.hpp"
#include "dcs/bridge/src/repair.hpp"
#include "dcs/bridge/src/wording.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/install_bed.hpp"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using dialogs::DialogAnswer;
using dialogs::testing::Picked;
using dialogs::testing::ScriptedDialogs;
using install::InstallStatus;
using install::testing::InstallBed;
using install::testing::kBandit;
using install::testing::kCollector;
using install::testing::kDcs;
using install::testing::kEagle;
using install::testing::kExport;
using install::testing::kHook;
using install::testing::kReticle;
using machine::FileTime;
using machine::Path;
using machine::testing::FakeMachine;
using machine::testing::Op;
using Lines = std::vector<std::string>;
using Script = std::vector<ScriptedDialogs::Reply>;
using namespace std::chrono_literals;

const DialogAnswer kRepair = DialogAnswer::button(0);
const DialogAnswer kCancel = DialogAnswer::button(1);
const DialogAnswer kBrowse = DialogAnswer::button(0);
const DialogAnswer kSkip = DialogAnswer::button(1);
const DialogAnswer kPickAnother = DialogAnswer::button(0);
const DialogAnswer kInstallAnyway = DialogAnswer::button(1);
const DialogAnswer kKeepOrAdd = DialogAnswer::button(0);
const DialogAnswer kRemoveOrLeaveOut = DialogAnswer::button(1);
const DialogAnswer kClosed = DialogAnswer::closed();
DialogAnswer link(std::size_t i) { return DialogAnswer::choice(i); }
Picked pick(std::string folder) { return Picked{std::move(folder)}; }

const std::string kWhere = "Where does DCS keep its Saved Games folder?";
const std::string kPicker = "picker: Pick the DCS folder under Saved Games";
const std::string kSetUp = "Set up Tolvaro in DCS";
const std::string kRepairHeading = "Repair Tolvaro in DCS";
const std::string kProgramFolder = "That's the DCS program folder";
const std::string kNotDcs = "This doesn't look like a DCS folder";
const std::string kCantUse = "That folder can't be used";
const std::string kMarkerQuestion = "F10 map marker (recommended)";
const std::string kBanditQuestion = "Bandit tool (recommended)";
const std::string kDone = "Done";
const std::string kStopped = "Repair stopped";

const std::string kFlights = "D:\\Flights";
const std::string kBeta = "C:\\Users\\ann\\Saved Games\\DCS.openbeta";
const std::string kNothingChanged = "Everything was already in place. Nothing was changed.";
const std::string kMissionHint = "If DCS is open, restart your mission to pick up the change.";
const std::string kBanditHint = "If DCS is open, restart DCS to load the bandit tool.";

// Ways to lay out the in-memory PC before a flow runs; the PC starts as InstallBed makes it, with
// one installation whose Saved Games\DCS folder DCS wrote to and nothing of Tolvaro's in it.
using Setup = std::function<void(FakeMachine&)>;

void put(FakeMachine& f, const std::string& relative, std::string_view bytes) {
  f.add_file(InstallBed::at(relative), bytes);
}
void script(FakeMachine& f) { put(f, kCollector, embedded::COLLECTOR_FILE.contents); }
void hook_line(FakeMachine& f) { put(f, kExport, "x = 1\n" + kHook + "\n"); }
void map_marker(FakeMachine& f) {
  for (const embedded::EmbeddedFile& file : embedded::MAP_MARKER_FILES)
    put(f, "Scripts\\" + std::string(file.relative_path), file.contents);
}
void bandit_tool(FakeMachine& f) { put(f, kBandit, embedded::BANDIT_TOOL_FILE.contents); }
// A bandit tool that an earlier release installed: the program knows those only by their hashes,
// so these bytes were made to hash like the first of them.
void earlier_bandit_tool(FakeMachine& f) { put(f, kBandit, "-- an earlier bandit tool: ptGLODLO6zCuRAjAOrbw.L\n"); }
void installed(FakeMachine& f) {
  script(f);
  hook_line(f);
}
void edited_script(FakeMachine& f) {
  put(f, kCollector, "-- mine\n");
  hook_line(f);
}
void no_installation(FakeMachine& f) { f.remove_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path"); }
// A folder outside Saved Games that DCS wrote to.
void flights(FakeMachine& f) { f.add_folder(kFlights + "\\Config"); }
// A second installation whose user folder, Saved Games\DCS.openbeta, does not exist.
void beta_without_folder(FakeMachine& f) {
  f.add_folder("D:\\DCS Beta");
  f.add_file("D:\\DCS Beta\\dcs_variant.txt", "openbeta");
  f.set_registry(machine::RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World OpenBeta", "Path",
                 "D:\\DCS Beta");
}
Setup all(std::initializer_list<Setup> setups) {
  return [list = std::vector<Setup>(setups)](FakeMachine& f) {
    for (const Setup& s : list)
      if (s) s(f);
  };
}

FileTime utc(std::chrono::sys_days day) { return std::chrono::time_point_cast<machine::FileTicks>(day); }
const FileTime kNow = utc(std::chrono::sys_days{std::chrono::year{2025} / 6 / 15}) + 12h;

// One run of the flow: how the PC looks, the mode, the tray's status and the user's answers.
struct Flow {
  Setup setup;
  bool add_ons = false;
  std::optional<InstallStatus> tray;
  Script script;
};

class Repair : public InstallBed {
 protected:
  void run(const Flow& flow) {
    if (flow.setup) flow.setup(fake_);
    dialogs_ = ScriptedDialogs(flow.script);
    fake_.clear_calls();
    repair::run_repair(machine_, dialogs_, [] { return kNow; }, flow.add_ons, flow.tray);
    EXPECT_TRUE(dialogs_.finished()) << "not every scripted answer was asked for";
  }

  bool has(const std::string& relative, const std::string& folder = kDcs) const {
    return fake_.file(folder + "\\" + relative).has_value();
  }
  bool has_map_marker(const std::string& folder = kDcs) const { return has(kReticle, folder); }

  // The paragraphs of the last message, which must have `heading`.
  Lines closing(const std::string& heading) const {
    const std::vector<dialogs::DialogMessage> messages = dialogs_.messages();
    if (messages.empty() || messages.back().heading != heading) {
      ADD_FAILURE() << "the flow did not end with \"" << heading << "\"";
      return {};
    }
    Lines out;
    const std::string& body = messages.back().body;
    for (std::size_t start = 0;;) {
      const std::size_t end = body.find("\n\n", start);
      out.push_back(body.substr(start, end - start));
      if (end == std::string::npos) return out;
      start = end + 2;
    }
  }

  ScriptedDialogs dialogs_;
};

template <class Case>
std::string name_of(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}
// Failure messages name a case by its name.
template <class Case>
  requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// Plain mode: the repair question for each status a folder can be in, and Cancel or a close
// writes nothing.

struct QuestionCase {
  std::string name;
  Flow flow;
  InstallStatus asked;
  Lines headings;
};

class RepairQuestion : public Repair, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(RepairQuestion, IsAskedForTheFolderWithItsStatus) {
  const QuestionCase& c = GetParam();
  run(c.flow);
  ASSERT_EQ(dialogs_.headings(), c.headings);
  const dialogs::Question expected = wording::repair_question("Saved Games\\DCS", c.asked);
  const dialogs::Question asked = dialogs_.questions().back();
  EXPECT_EQ(asked.heading, expected.heading);
  EXPECT_EQ(asked.body, expected.body);
  EXPECT_EQ(asked.buttons, expected.buttons);
  EXPECT_FALSE(wrote_in_dcs_folder());
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RepairQuestion,
    ::testing::Values(
        QuestionCase{"NewFolder", {nullptr, false, std::nullopt, {kCancel}}, InstallStatus::notInstalled, {kSetUp}},
        QuestionCase{"EditedScript", {edited_script, false, std::nullopt, {kCancel}}, InstallStatus::modified,
                     {kRepairHeading}},
        QuestionCase{"EarlierBanditTool", {all({installed, earlier_bandit_tool}), false, std::nullopt, {kCancel}},
                     InstallStatus::outdated, {kRepairHeading}},
        QuestionCase{"ScriptWithoutItsLine", {script, false, std::nullopt, {kClosed}}, InstallStatus::installFailed,
                     {kRepairHeading}},
        QuestionCase{"EverythingCurrent", {installed, false, std::nullopt, {kCancel}}, InstallStatus::installed,
                     {kRepairHeading}},
        // The folder is in doubt: the user picks it first, and the question says why.
        QuestionCase{"WrongFolderSuspected",
                     {installed, false, InstallStatus::wrongFolderSuspected, {link(0), kCancel}},
                     InstallStatus::wrongFolderSuspected, {kWhere, kRepairHeading}}),
    name_of<QuestionCase>);

// Plain mode's add-on choices after "Repair": a first set-up brings both add-ons, a repair keeps
// what is there and adds nothing.

struct OptionsCase {
  std::string name;
  Setup setup;
  bool map_marker_after;
  bool bandit_tool_after;
  std::optional<Lines> done;  // the closing lines, where they tell what the run did
};

class RepairOptions : public Repair, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(RepairOptions, FollowTheFolderStatus) {
  const OptionsCase& c = GetParam();
  run({c.setup, false, std::nullopt, {kRepair}});
  EXPECT_FALSE(closing(kDone).empty());
  EXPECT_TRUE(has(kCollector));
  EXPECT_EQ(has_map_marker(), c.map_marker_after);
  EXPECT_EQ(has(kBandit), c.bandit_tool_after);
  if (c.done) {
    EXPECT_EQ(closing(kDone), *c.done);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RepairOptions,
    ::testing::Values(
        OptionsCase{"NotInstalledGetsBoth", nullptr, true, true, std::nullopt},
        OptionsCase{"InstalledKeepsTheMapMarkerOnly", all({installed, map_marker}), true, false, std::nullopt},
        OptionsCase{"InstalledKeepsTheBanditToolOnly", all({installed, bandit_tool}), false, true, std::nullopt},
        OptionsCase{"ModifiedAddsNeither", edited_script, false, false, std::nullopt},
        // The earlier bandit tool is brought up to date; the missing map marker stays out.
        OptionsCase{"OutdatedUpdatesWhatIsThere", all({installed, earlier_bandit_tool}), false, true,
                    Lines{"Updated the bandit tool.", kBanditHint, kMissionHint}},
        OptionsCase{"FailedKeepsBoth", all({script, map_marker, bandit_tool}), true, true, std::nullopt}),
    name_of<OptionsCase>);

// Add-ons mode: one question per add-on, its answer deciding the add-on's fate.

struct AddOnsCase {
  std::string name;
  Setup setup;
  DialogAnswer map_marker_answer;
  DialogAnswer bandit_tool_answer;
  Lines map_marker_buttons;
  bool map_marker_after;
  bool bandit_tool_after;
};

class AddOnsMode : public Repair, public ::testing::WithParamInterface<AddOnsCase> {};

TEST_P(AddOnsMode, AppliesEachAnswer) {
  const AddOnsCase& c = GetParam();
  run({c.setup, true, std::nullopt, {c.map_marker_answer, c.bandit_tool_answer}});
  EXPECT_EQ(dialogs_.headings(), (Lines{kMarkerQuestion, kBanditQuestion, kDone}));
  EXPECT_EQ(dialogs_.questions()[0].buttons, c.map_marker_buttons);
  EXPECT_EQ(has_map_marker(), c.map_marker_after);
  EXPECT_EQ(has(kBandit), c.bandit_tool_after);
}

const Lines kInstalledButtons = {"Keep it (recommended)", "Remove it"};
const Lines kMissingButtons = {"Add it (recommended)", "Leave it out"};

INSTANTIATE_TEST_SUITE_P(
    Answers, AddOnsMode,
    ::testing::Values(
        AddOnsCase{"KeepAndRemove", all({installed, map_marker, bandit_tool}), kKeepOrAdd, kRemoveOrLeaveOut,
                   kInstalledButtons, true, false},
        AddOnsCase{"RemoveAndKeep", all({installed, map_marker, bandit_tool}), kRemoveOrLeaveOut, kKeepOrAdd,
                   kInstalledButtons, false, true},
        AddOnsCase{"AddAndLeaveOut", installed, kKeepOrAdd, kRemoveOrLeaveOut, kMissingButtons, true, false},
        AddOnsCase{"LeaveOutAndAdd", installed, kRemoveOrLeaveOut, kKeepOrAdd, kMissingButtons, false, true}),
    name_of<AddOnsCase>);

struct ClosedCase {
  std::string name;
  Script script;
  Lines headings;
};

class AddOnsClosed : public Repair, public ::testing::WithParamInterface<ClosedCase> {};

TEST_P(AddOnsClosed, WritesNothing) {
  const ClosedCase& c = GetParam();
  run({nullptr, true, std::nullopt, c.script});
  EXPECT_EQ(dialogs_.headings(), c.headings);
  EXPECT_FALSE(wrote_in_dcs_folder());
}

INSTANTIATE_TEST_SUITE_P(Questions, AddOnsClosed,
                         ::testing::Values(ClosedCase{"MapMarker", {kClosed}, {kMarkerQuestion}},
                                           ClosedCase{"BanditTool",
                                                      {kKeepOrAdd, kClosed},
                                                      {kMarkerQuestion, kBanditQuestion}}),
                         name_of<ClosedCase>);

// Choosing the folder.

TEST_F(Repair, AWrongFolderIsPutToTheUserEvenWithOneFolder) {
  run({installed, false, InstallStatus::wrongFolderSuspected, {kSkip}});
  EXPECT_EQ(dialogs_.headings(), Lines{kWhere});
  ASSERT_EQ(dialogs_.questions()[0].choices.size(), 1u);
  EXPECT_EQ(dialogs_.questions()[0].choices[0].label, "Saved Games\\DCS");
  EXPECT_FALSE(wrote_in_dcs_folder());
}

TEST_F(Repair, AWrongFolderIsPickedAmongEveryKnownFolderNewestLogFirst) {
  const std::string newer = "D:\\Newer";
  fake_.add_file(std::string(kDcs) + "\\Logs\\dcs.log", "log");
  fake_.set_modified_time(Path(std::string(kDcs) + "\\Logs\\dcs.log"), kNow - 30 * 24h);
  beta_without_folder(fake_);
  // Hand-picked folders, the older one with a log as old as that of Saved Games\DCS.
  fake_.add_file(kFlights + "\\Logs\\dcs.log", "log");
  fake_.set_modified_time(Path(kFlights + "\\Logs\\dcs.log"), kNow - 30 * 24h);
  fake_.add_file(newer + "\\Logs\\dcs.log", "log");
  fake_.set_modified_time(Path(newer + "\\Logs\\dcs.log"), kNow - 3h);
  ASSERT_TRUE(settings::remember(machine_, Path(kFlights)));
  ASSERT_TRUE(settings::remember(machine_, Path(newer)));

  run({nullptr, false, InstallStatus::wrongFolderSuspected, {link(0), kRepair}});
  const std::vector<dialogs::QuestionChoice> choices = dialogs_.questions()[0].choices;
  ASSERT_EQ(choices.size(), 4u);
  EXPECT_EQ(choices[0].label, newer);
  EXPECT_EQ(choices[0].note, "DCS log written today");
  EXPECT_EQ(choices[1].label, "Saved Games\\DCS");
  EXPECT_EQ(choices[1].note, "DCS log last written in May");
  EXPECT_EQ(choices[2].label, kFlights);
  EXPECT_EQ(choices[3].label, "Saved Games\\DCS.openbeta");
  EXPECT_EQ(choices[3].note, "No DCS log yet");
  // The first link is the newest folder, not the first one found.
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kRepairHeading, kDone}));
  EXPECT_TRUE(has(kCollector, newer));
  EXPECT_FALSE(has(kCollector));
}

TEST_F(Repair, WithoutAnyDcsFolderOnlyBrowsingOrSkippingIsOffered) {
  run({no_installation, false, std::nullopt, {kSkip}});
  EXPECT_EQ(dialogs_.headings(), Lines{kWhere});
  const dialogs::Question q = dialogs_.questions()[0];
  EXPECT_EQ(q.body,
            "Tolvaro couldn't find DCS on this PC. Pick the folder DCS uses under Saved Games, usually Saved "
            "Games\\DCS.");
  EXPECT_THAT(q.choices, IsEmpty());
  EXPECT_THAT(q.buttons, ElementsAre("Browse\xE2\x80\xA6", "Skip for now"));
  EXPECT_FALSE(wrote_in_dcs_folder());
}

TEST_F(Repair, WithoutAnyDcsFolderABrowsedFolderIsSetUpAndRemembered) {
  run({all({no_installation, flights}), false, std::nullopt, {kBrowse, pick(kFlights), kRepair}});
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kPicker, kSetUp, kDone}));
  EXPECT_EQ(dialogs_.folder_requests()[0].start_folder, install::testing::kSavedGames);
  EXPECT_TRUE(has(kCollector, kFlights));
  EXPECT_TRUE(has_map_marker(kFlights));
  EXPECT_TRUE(has(kBandit, kFlights));
  EXPECT_THAT(settings::read(machine_), ElementsAre(Path(kFlights)));
}

// A picked folder that the folder check refuses gets its own question, and "Pick another folder"
// opens the picker again.
struct RefusedPickCase {
  std::string name;
  Setup setup;
  std::string picked;
  std::string heading;
  std::string body;
};

class RefusedPick : public Repair, public ::testing::WithParamInterface<RefusedPickCase> {};

TEST_P(RefusedPick, IsExplainedAndThePickerOpensAgain) {
  const RefusedPickCase& c = GetParam();
  run({all({no_installation, flights, c.setup}),
       false,
       std::nullopt,
       {kBrowse, pick(c.picked), kPickAnother, pick(kFlights), kRepair}});
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kPicker, c.heading, kPicker, kSetUp, kDone}));
  EXPECT_EQ(dialogs_.questions()[1].body, c.body);
  EXPECT_TRUE(has(kCollector, kFlights));
  EXPECT_EQ(fake_.file(c.picked + "\\" + kCollector), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedPick,
    ::testing::Values(
        RefusedPickCase{"ProgramFolder", [](FakeMachine& f) { f.add_file("D:\\DCS World\\bin\\DCS.exe", "exe"); },
                        "D:\\DCS World", kProgramFolder,
                        "You picked D:\\DCS World, where DCS itself is installed.\n\nTolvaro goes in the folder DCS "
                        "writes to, usually Saved Games\\DCS under your user folder."},
        RefusedPickCase{"NeverWritten", [](FakeMachine& f) { f.add_folder("D:\\Empty"); }, "D:\\Empty", kNotDcs,
                        "D:\\Empty has no DCS settings or log in it.\n\nIf DCS has never been started on this PC, "
                        "start it once first, then try again."},
        RefusedPickCase{"Missing", nullptr, "D:\\Gone", kCantUse, "D:\\Gone is not a folder"}),
    name_of<RefusedPickCase>);

TEST_F(Repair, SkippingAfterARefusedPickEndsTheFlow) {
  fake_.add_file("D:\\DCS World\\bin\\DCS.exe", "exe");
  run({no_installation, false, std::nullopt, {kBrowse, pick("D:\\DCS World"), kSkip}});
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kPicker, kProgramFolder}));
  EXPECT_FALSE(wrote_in_dcs_folder());
}

TEST_F(Repair, AFolderAgreedToInThePickerIsNotAskedAboutAgain) {
  fake_.add_folder("D:\\Empty");
  run({no_installation, false, std::nullopt, {kBrowse, pick("D:\\Empty"), kInstallAnyway, kRepair}});
  // The engine asks for consent when it checks the folder and again when it installs.
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kPicker, kNotDcs, kSetUp, kDone}));
  EXPECT_TRUE(has(kCollector, "D:\\Empty"));
  EXPECT_THAT(settings::read(machine_), ElementsAre(Path("D:\\Empty")));
}

TEST_F(Repair, ConsentHoldsForTheSameFolderOnly) {
  ScriptedDialogs dialogs({kInstallAnyway, kPickAnother});
  repair::RepairContext context{machine_, dialogs, [] { return kNow; }, std::nullopt, false};
  EXPECT_TRUE(repair::confirm_unknown_folder(context, Path("D:\\Empty")));
  // Named differently, the same folder.
  EXPECT_TRUE(repair::confirm_unknown_folder(context, Path("d:\\EMPTY\\")));
  EXPECT_FALSE(repair::confirm_unknown_folder(context, Path("D:\\Other")));
  EXPECT_EQ(dialogs.headings(), (Lines{kNotDcs, kNotDcs}));
  EXPECT_EQ(dialogs.questions()[1].body.substr(0, 9), "D:\\Other ");
  EXPECT_TRUE(dialogs.finished());
}

// The engine refuses the folder chosen among several: "Pick another folder" opens the picker.
TEST_F(Repair, AFolderTheEngineRefusesCanBeReplacedByAnother) {
  run({beta_without_folder, false, std::nullopt, {link(1), kPickAnother, pick(kDcs), kRepair}});
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kCantUse, kPicker, kSetUp, kDone}));
  EXPECT_EQ(dialogs_.questions()[1].body, kBeta + " is not a folder");
  EXPECT_EQ(dialogs_.questions()[2].body.substr(0, 43), "Tolvaro will be set up in Saved Games\\DCS, ");
  EXPECT_TRUE(has(kCollector));
  EXPECT_EQ(fake_.kind(kBeta), machine::PathKind::Missing);
}

TEST_F(Repair, SkippingAFolderTheEngineRefusesEndsTheFlow) {
  run({beta_without_folder, false, std::nullopt, {link(1), kSkip}});
  EXPECT_EQ(dialogs_.headings(), (Lines{kWhere, kCantUse}));
  EXPECT_FALSE(wrote_in_dcs_folder());
}

TEST_F(Repair, SkippingTheChoiceAmongSeveralFoldersEndsTheFlow) {
  run({beta_without_folder, false, std::nullopt, {kSkip}});
  EXPECT_EQ(dialogs_.headings(), Lines{kWhere});
  EXPECT_FALSE(wrote_in_dcs_folder());
}

// The closing message, from what real installs on the in-memory PC did.

struct DoneCase {
  std::string name;
  Flow flow;
  Lines lines;
};

class DoneLines : public Repair, public ::testing::WithParamInterface<DoneCase> {};

TEST_P(DoneLines, SayWhatTheInstallDid) {
  const DoneCase& c = GetParam();
  run(c.flow);
  EXPECT_EQ(closing(kDone), c.lines);
}

// Each of the map marker's four files edited by hand.
void edited_map_marker(FakeMachine& f) {
  for (const embedded::EmbeddedFile& file : embedded::MAP_MARKER_FILES)
    put(f, "Scripts\\" + std::string(file.relative_path), "-- mine\n");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DoneLines,
    ::testing::Values(
        DoneCase{"FirstSetUp",
                 {nullptr, false, std::nullopt, {kRepair}},
                 {"Added the Tolvaro script.", "Added the F10 map marker.", "Added the bandit tool.",
                  "Added Tolvaro's line to Export.lua.", kBanditHint, kMissionHint}},
        DoneCase{"FirstSetUpBesideOtherExports",
                 {[](FakeMachine& f) { put(f, kExport, "x = 1\n"); }, false, std::nullopt, {kRepair}},
                 {"Added the Tolvaro script.", "Added the F10 map marker.", "Added the bandit tool.",
                  "Backed up Export.lua first.", "Added Tolvaro's line to Export.lua.", kBanditHint, kMissionHint}},
        DoneCase{"NothingToDo",
                 {all({installed, map_marker, bandit_tool}), false, std::nullopt, {kRepair}},
                 {kNothingChanged}},
        DoneCase{"KeepingBothAddOns",
                 {all({installed, map_marker, bandit_tool}), true, std::nullopt, {kKeepOrAdd, kKeepOrAdd}},
                 {kNothingChanged}},
        // Finding the user's own line changes nothing, so nothing needs a restart either.
        DoneCase{"OwnLineOnly",
                 {[](FakeMachine& f) {
                    script(f);
                    put(f, kExport, "dofile(lfs.writedir() .. 'Scripts/Tolvaro/collectorScript.lua')\n");
                  },
                  false,
                  std::nullopt,
                  {kRepair}},
                 {kNothingChanged}},
        DoneCase{"OwnLineWithoutTheScript",
                 {[](FakeMachine& f) {
                    put(f, kExport, "dofile(lfs.writedir() .. 'Scripts/Tolvaro/collectorScript.lua')\n");
                  },
                  false,
                  std::nullopt,
                  {kRepair}},
                 {"Added the Tolvaro script.", "Left your own Tolvaro line in Export.lua as it is.", kMissionHint}},
        DoneCase{"EditedScript",
                 {edited_script, false, std::nullopt, {kRepair}},
                 {"Kept your edited copy of the Tolvaro script beside it.", "Updated the Tolvaro script.",
                  kMissionHint}},
        // The bandit tool stays as it was, so DCS itself needs no restart.
        DoneCase{"EditedScriptBesideTheBanditTool",
                 {all({edited_script, bandit_tool}), false, std::nullopt, {kRepair}},
                 {"Kept your edited copy of the Tolvaro script beside it.", "Updated the Tolvaro script.",
                  kMissionHint}},
        // Four files written, one line.
        DoneCase{"EditedMapMarker",
                 {all({installed, edited_map_marker}), false, std::nullopt, {kRepair}},
                 {"Kept your edited copy of the F10 map marker beside it.", "Updated the F10 map marker.",
                  kMissionHint}},
        DoneCase{"EditedBanditTool",
                 {all({installed, [](FakeMachine& f) { put(f, kBandit, "-- mine\n"); }}),
                  false,
                  std::nullopt,
                  {kRepair}},
                 {"Kept your edited copy of the bandit tool beside it.", "Updated the bandit tool.", kBanditHint,
                  kMissionHint}},
        DoneCase{"AddingTheBanditTool",
                 {installed, true, std::nullopt, {kRemoveOrLeaveOut, kKeepOrAdd}},
                 {"Added the bandit tool.", kBanditHint, kMissionHint}},
        DoneCase{"RemovingTheBanditTool",
                 {all({installed, bandit_tool}), true, std::nullopt, {kRemoveOrLeaveOut, kRemoveOrLeaveOut}},
                 {"Removed the bandit tool.", kMissionHint}},
        DoneCase{"RemovingTheMapMarker",
                 {all({installed, map_marker}), true, std::nullopt, {kRemoveOrLeaveOut, kRemoveOrLeaveOut}},
                 {"Removed the F10 map marker.", kMissionHint}},
        DoneCase{"RemovingTheMapMarkerBesideAFileOfTheUsers",
                 {all({installed, map_marker, [](FakeMachine& f) { put(f, "Scripts\\Tolvaro\\reticle\\notes.txt", "x"); }}),
                  true,
                  std::nullopt,
                  {kRemoveOrLeaveOut, kRemoveOrLeaveOut}},
                 {"Removed the F10 map marker.",
                  "Kept the folder of the F10 map marker, which holds files that are not Tolvaro's.", kMissionHint}},
        DoneCase{"ExtraHookLines",
                 {[](FakeMachine& f) {
                    script(f);
                    put(f, kExport, kHook + "\n" + kHook + "\n");
                  },
                  false,
                  std::nullopt,
                  {kRepair}},
                 {"Backed up Export.lua first.", "Removed extra copies of Tolvaro's line from Export.lua.",
                  kMissionHint}}),
    name_of<DoneCase>);

// An install error stops the flow with its text, from real failing installs.

struct StoppedCase {
  std::string name;
  Setup setup;
  std::string text;
};

class RepairStopped : public Repair, public ::testing::WithParamInterface<StoppedCase> {};

TEST_P(RepairStopped, SaysWhy) {
  const StoppedCase& c = GetParam();
  run({c.setup, false, std::nullopt, {kRepair}});
  EXPECT_EQ(dialogs_.headings().size(), 2u);
  EXPECT_EQ(closing(kStopped), Lines{c.text});
}

const std::string kExportLua = InstallBed::at(kExport);

INSTANTIATE_TEST_SUITE_P(
    Errors, RepairStopped,
    ::testing::Values(
        StoppedCase{"LockHeld",
                    [](FakeMachine& f) { f.fail({Op::lock, "", machine::kErrorSharingViolation}); },
                    "Another install or repair is running. Wait for it to finish, then try again."},
        StoppedCase{"ReadOnlyExportLua",
                    [](FakeMachine& f) {
                      put(f, kExport, "x = 1\n");
                      f.set_read_only(kExportLua);
                    },
                    "Export.lua is read-only. Clear its read-only box in Properties, then try again."},
        StoppedCase{"Utf16ExportLua", [](FakeMachine& f) { put(f, kExport, std::string("\xFF\xFEx\0", 4)); },
                    "Export.lua isn't text Tolvaro can change safely, so it was left alone."},
        StoppedCase{"ExportLuaEndsInsideAComment", [](FakeMachine& f) { put(f, kExport, "--[[ open\n"); },
                    "Export.lua isn't text Tolvaro can change safely, so it was left alone."},
        StoppedCase{"BackupNameTakenByAFolder",
                    [](FakeMachine& f) {
                      put(f, kExport, "x = 1\n");
                      f.add_folder(InstallBed::at("Scripts\\Export.lua.Tolvaro-backup"));
                    },
                    "Export.lua could not be backed up, because a folder has the backup's name."},
        StoppedCase{"WriteBlocked",
                    [](FakeMachine& f) { f.fail({Op::write_atomic_create, InstallBed::at(kCollector)}); },
                    "Tolvaro couldn't write one of its files in your DCS folder. Your antivirus may have blocked "
                    "it."},
        StoppedCase{"WrittenFileRemoved",
                    [](FakeMachine& f) {
                      f.after_each([&f](Op op, const Path& path) {
                        if (op == Op::write_atomic_create && path == Path(InstallBed::at(kCollector))) f.remove(path);
                      });
                    },
                    "A file Tolvaro wrote did not stay as written. Security software may have removed or changed "
                    "it."},
        StoppedCase{"PutBackFailedBesideTheBackup",
                    [](FakeMachine& f) {
                      put(f, kExport, "x = 1\n");
                      f.fail({Op::write_in_place, kExportLua, machine::kErrorAccessDenied, 2, 3});
                    },
                    "Writing Export.lua failed, and so did putting it back. Its backup, Export.lua.Tolvaro-backup, "
                    "is beside it."},
        // Export.lua was new, so there is no backup to point to.
        StoppedCase{"PutBackFailedWithoutBackup",
                    [](FakeMachine& f) {
                      f.after_each([&f](Op op, const Path& path) {
                        if (op == Op::write_new && path == Path(kExportLua)) f.add_file(kExportLua, "garbled");
                      });
                      f.fail({Op::remove_file, kExportLua});
                    },
                    "Writing Export.lua failed, and so did putting it back."}),
    name_of<StoppedCase>);

}  // namespace
