// The UI demo's pieces over a scripted dialog service and a fake tray: what each shows and prints.
#include "dcs/bridge/src/demo.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "core/ui/tests/scripted_dialogs.hpp"
#include "dcs/bridge/tests/fake_tray.hpp"

namespace {

using dialogs::DialogAnswer;
using dialogs::testing::ScriptedDialogs;
using Lines = std::vector<std::string>;

// 2026-12-10 12:00 UTC; the second sample log is 200 days older, in May.
const machine::FileTime kNow = std::chrono::sys_days(std::chrono::year{2026} / 12 / 10) + std::chrono::hours(12);

TEST(DemoQuestion, TwoSampleFoldersAndTheAnswer) {
  for (auto [answer, line] : {std::pair{DialogAnswer::choice(1), "answer: Choice(1)"},
                              std::pair{DialogAnswer::button(0), "answer: Button(0)"},
                              std::pair{DialogAnswer::closed(), "answer: Closed"}}) {
    ScriptedDialogs dialogs;
    dialogs.then(answer);
    EXPECT_EQ(demo::question_piece(dialogs, kNow), Lines{line});
    ASSERT_EQ(dialogs.questions().size(), 1u);
    const dialogs::Question q = dialogs.questions()[0];
    EXPECT_EQ(q.heading, "Where does DCS keep its Saved Games folder?");
    ASSERT_EQ(q.choices.size(), 2u);
    EXPECT_EQ(q.choices[0].label, "Saved Games\\DCS");
    EXPECT_EQ(q.choices[0].note, "DCS log written today");
    EXPECT_EQ(q.choices[1].label, "Saved Games\\DCS.openbeta");
    EXPECT_EQ(q.choices[1].note, "DCS log last written in May");
  }
}

TEST(DemoFolder, ThePickedPathInItsDebugForm) {
  ScriptedDialogs picked;
  picked.then_pick("C:\\Users\\Pilot\\Saved Games\\DCS");
  EXPECT_EQ(demo::folder_piece(picked), Lines{"picked: Some(\"C:\\\\Users\\\\Pilot\\\\Saved Games\\\\DCS\")"});
  ASSERT_EQ(picked.folder_requests().size(), 1u);
  EXPECT_EQ(picked.folder_requests()[0].title, "Pick the DCS folder under Saved Games");
  EXPECT_EQ(picked.folder_requests()[0].start_folder, std::nullopt);

  ScriptedDialogs cancelled;
  cancelled.then_pick(std::nullopt);
  EXPECT_EQ(demo::folder_piece(cancelled), Lines{"picked: None"});
}

// Forwards to a scripted dialog service and notes each question in the journal that the printed
// lines go to, so a test sees what was printed before which question.
class JournalDialogs final : public dialogs::Dialogs {
 public:
  JournalDialogs(dialogs::Dialogs& inner, Lines& journal) : inner_(inner), journal_(journal) {}
  DialogAnswer ask(const dialogs::Question& question) override {
    journal_.push_back("asked: " + question.heading);
    return inner_.ask(question);
  }
  std::optional<std::string> pick_folder(const dialogs::FolderRequest& request) override {
    journal_.push_back("picker: " + request.title);
    return inner_.pick_folder(request);
  }
  void tell(const dialogs::DialogMessage& message) override {
    journal_.push_back("told: " + message.heading);
    inner_.tell(message);
  }
  bool bring_top_dialog_to_front() override { return inner_.bring_top_dialog_to_front(); }

 private:
  dialogs::Dialogs& inner_;
  Lines& journal_;
};

TEST(DemoRepair, TheRepairAnswerIsPrintedBeforeTheAddOnQuestionsAndTheRestAfterThem) {
  struct Case {
    std::vector<DialogAnswer> answers;
    std::string repair_line;
    std::string add_ons_line;
    bool bandit_asked;
  };
  const Case cases[] = {
      {{DialogAnswer::button(0), DialogAnswer::button(0), DialogAnswer::button(0)}, "repair: Button(0)",
       "optional add-ons: Some(Options { map_marker: Install, bandit_tool: Install }) (nothing is written)", true},
      {{DialogAnswer::closed(), DialogAnswer::button(1), DialogAnswer::button(1)}, "repair: Closed",
       "optional add-ons: Some(Options { map_marker: Remove, bandit_tool: LeaveAsIs }) (nothing is written)", true},
      // A closed add-on question asks no further one.
      {{DialogAnswer::button(1), DialogAnswer::closed()}, "repair: Button(1)",
       "optional add-ons: None (nothing is written)", false},
      {{DialogAnswer::button(0), DialogAnswer::button(0), DialogAnswer::closed()}, "repair: Button(0)",
       "optional add-ons: None (nothing is written)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.repair_line + " / " + c.add_ons_line);
    ScriptedDialogs scripted;
    for (const DialogAnswer& a : c.answers) scripted.then(a);
    Lines journal;
    JournalDialogs dialogs(scripted, journal);
    demo::repair_piece(dialogs,
                       [&journal](std::string_view line) { journal.push_back("printed: " + std::string(line)); });
    Lines expected{"asked: Repair Tolvaro in DCS", "printed: " + c.repair_line, "asked: F10 map marker (recommended)"};
    if (c.bandit_asked) expected.push_back("asked: Bandit tool (recommended)");
    for (const std::string& line : {c.add_ons_line, std::string("F10 map marker (recommended)"),
                                    std::string("Bandit tool (recommended)")})
      expected.push_back("printed: " + line);
    EXPECT_EQ(journal, expected);
    EXPECT_TRUE(scripted.finished());
  }
}

TEST(DemoResult, TheSampleReportLines) {
  ScriptedDialogs dialogs;
  demo::result_piece(dialogs);
  ASSERT_EQ(dialogs.messages().size(), 1u);
  const dialogs::DialogMessage m = dialogs.messages()[0];
  EXPECT_EQ(m.title, "Tolvaro DCS Bridge");
  EXPECT_EQ(m.heading, "Done");
  EXPECT_EQ(m.button, "Close");
  EXPECT_EQ(m.body,
            "wrote C:\\Users\\Pilot\\Saved Games\\DCS\\Scripts\\Tolvaro\\collectorScript.lua\n"
            "removed C:\\Users\\Pilot\\Saved Games\\DCS\\Scripts\\Tolvaro\\reticle\n\n"
            "If DCS is open, restart your mission to pick up the change.");
}

TEST(DemoTray, EachTrayPieceShowsItsRowAndOneBalloon) {
  struct Case {
    cli::DemoKind kind;
    std::string tooltip;
    bool attention;
    std::string first_action;  // the menu's first entry after the separator
    tray::Notification balloon;
  };
  const Case cases[] = {
      {cli::DemoKind::tray, "Tolvaro DCS Bridge: DCS script out of date", true, "Repair DCS setup\u2026",
       {"Tolvaro DCS Bridge", "The Tolvaro script in DCS is out of date. Click to fix.", false}},
      {cli::DemoKind::notification, "Tolvaro DCS Bridge: Connected to DCS", false, "Open Tolvaro",
       {"Tolvaro DCS Bridge", "Tolvaro DCS Bridge is already running.", false}},
      {cli::DemoKind::running, "Tolvaro DCS Bridge: Connected to DCS", false, "Open Tolvaro",
       {"Tolvaro DCS Bridge is running",
        "It lives in the notification area, near the clock. Right-click its icon for options.", true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tooltip);
    std::optional<demo::DemoTray> settings = demo::demo_tray(c.kind);
    ASSERT_TRUE(settings.has_value());
    bridge::testing::FakeTray tray;
    EXPECT_EQ(demo::handle_tray_event(*settings, tray, tray::Started{}), std::nullopt);
    ASSERT_EQ(tray.contents.size(), 1u);
    EXPECT_EQ(tray.shown().tooltip, c.tooltip);
    EXPECT_EQ(tray.shown().attention, c.attention);
    EXPECT_EQ(std::get<tray::Item>(tray.shown().menu[1]).label, "Bridge 1.0.0 \u00B7 Script 6");
    EXPECT_EQ(std::get<tray::Item>(tray.shown().menu[3]).label, c.first_action);
    EXPECT_TRUE(std::get<tray::Item>(tray.shown().menu[6]).checked) << "Start with Windows shows as on";
    ASSERT_EQ(tray.balloons.size(), 1u);
    EXPECT_EQ(tray.balloons[0].title, c.balloon.title);
    EXPECT_EQ(tray.balloons[0].text, c.balloon.text);
    EXPECT_EQ(tray.balloons[0].quiet, c.balloon.quiet);
  }
  for (cli::DemoKind dialog_piece :
       {cli::DemoKind::question, cli::DemoKind::folder, cli::DemoKind::repair, cli::DemoKind::result})
    EXPECT_EQ(demo::demo_tray(dialog_piece), std::nullopt);
}

TEST(DemoTray, QuitFromTheMenuEndsItAndEveryOtherEventIsPrinted) {
  const demo::DemoTray settings = *demo::demo_tray(cli::DemoKind::tray);
  bridge::testing::FakeTray tray;
  struct Case {
    tray::TrayEvent<demo::DemoMessage> event;
    std::optional<std::string> line;
  };
  const Case cases[] = {
      {tray::TrayReady{}, "event: TrayReady"},
      {tray::MenuOpening{}, "event: MenuOpening"},
      {tray::MenuItemClicked{tray::MenuItemId{4}}, "event: MenuItemClicked(MenuItemId(4))"},
      {tray::MenuItemClicked{tray::MenuItemId{2}}, "event: MenuItemClicked(MenuItemId(2))"},
      {tray::NotificationClicked{}, "event: NotificationClicked"},
      {tray::MenuItemClicked{tray::MenuItemId{6}}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(demo::handle_tray_event(settings, tray, c.event), c.line);
  EXPECT_EQ(tray.quits, 1);
  EXPECT_TRUE(tray.contents.empty()) << "only Started shows the row";
}

}  // namespace
