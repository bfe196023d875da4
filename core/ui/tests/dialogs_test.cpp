#include "core/ui/src/dialogs.hpp"

#include <gtest/gtest.h>

namespace {

using dialogs::DialogAnswer;
using dialogs::DialogIcon;
using dialogs::TaskDialogButton;

TEST(PlanQuestion, ButtonsOnly) {
  dialogs::Question q{"Tolvaro DCS Bridge", "Heading", "Body", {}, {"Repair", "Not now"}, DialogIcon::Warning};
  dialogs::TaskDialogPlan plan = dialogs::plan_question(q);
  EXPECT_EQ(plan.buttons, (std::vector<TaskDialogButton>{{2000, "Repair"}, {2001, "Not now"}}));
  EXPECT_EQ(plan.flags, 0x08u);
  EXPECT_EQ(plan.default_button, 2000);
  EXPECT_EQ(plan.icon, DialogIcon::Warning);
  EXPECT_EQ(plan.title, "Tolvaro DCS Bridge");
  EXPECT_EQ(plan.heading, "Heading");
  EXPECT_EQ(plan.body, "Body");
}

TEST(PlanQuestion, ChoicesComeFirstAsCommandLinksWithTheirNotes) {
  dialogs::Question q{"t", "h", "b", {{"Release", "last used today"}, {"Browse\u2026", std::nullopt}}, {"Skip"}, {}};
  dialogs::TaskDialogPlan plan = dialogs::plan_question(q);
  EXPECT_EQ(plan.buttons,
            (std::vector<TaskDialogButton>{{1000, "Release\nlast used today"}, {1001, "Browse\u2026"}, {2000, "Skip"}}));
  EXPECT_EQ(plan.flags, 0x18u);
  EXPECT_EQ(plan.default_button, 1000);
  EXPECT_EQ(plan.icon, DialogIcon::None);
}

TEST(PlanQuestion, ChoicesWithoutButtons) {
  dialogs::Question q{"t", "h", "b", {{"One", std::nullopt}}, {}, {}};
  dialogs::TaskDialogPlan plan = dialogs::plan_question(q);
  EXPECT_EQ(plan.buttons, (std::vector<TaskDialogButton>{{1000, "One"}}));
  EXPECT_EQ(plan.flags, 0x18u);
  EXPECT_EQ(plan.default_button, 1000);
}

TEST(PlanMessage, OneButtonNoIcon) {
  dialogs::TaskDialogPlan plan = dialogs::plan_message({"t", "Done", "Wrote 3 files.", "OK"});
  EXPECT_EQ(plan.buttons, (std::vector<TaskDialogButton>{{2000, "OK"}}));
  EXPECT_EQ(plan.flags, 0x08u);
  EXPECT_EQ(plan.default_button, 2000);
  EXPECT_EQ(plan.icon, DialogIcon::None);
  EXPECT_EQ(plan.heading, "Done");
}

TEST(AnswerOf, MapsPressedIds) {
  struct Case {
    int pressed;
    DialogAnswer answer;
    const char* text;
  };
  const Case cases[] = {
      {1000, DialogAnswer::choice(0), "Choice(0)"}, {1999, DialogAnswer::choice(999), "Choice(999)"},
      {2000, DialogAnswer::button(0), "Button(0)"}, {2003, DialogAnswer::button(3), "Button(3)"},
      {2 /* IDCANCEL */, DialogAnswer::closed(), "Closed"}, {0, DialogAnswer::closed(), "Closed"},
      {999, DialogAnswer::closed(), "Closed"},      {-1, DialogAnswer::closed(), "Closed"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dialogs::answer_of(c.pressed), c.answer) << c.pressed;
    EXPECT_EQ(dialogs::to_string(dialogs::answer_of(c.pressed)), c.text) << c.pressed;
  }
}

}  // namespace
