#include "core/ui/src/tray_plan.hpp"

#include <gtest/gtest.h>

#include <span>
#include <string>

namespace {

using namespace tray;
using namespace tray::plan;

std::u16string text_of(std::span<const char16_t> field) {
  std::u16string out;
  for (char16_t c : field) {
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

TEST(RetrySchedule, DoublesFrom500UpTo30Seconds) {
  std::vector<std::uint32_t> delays{kFirstRetryMs};
  while (delays.size() < 9) delays.push_back(next_retry_delay(delays.back()));
  EXPECT_EQ(delays, (std::vector<std::uint32_t>{500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
  EXPECT_EQ(next_retry_delay(0), 500u);  // a retry that was never armed starts at 500
  EXPECT_EQ(next_retry_delay(0xFFFFFFFFu), 30000u);
}

TEST(IconEdge, StaysWithin16And256) {
  const std::pair<int, std::uint32_t> cases[] = {{-5, 16}, {0, 16}, {16, 16}, {17, 17}, {20, 20}, {32, 32},
                                                 {256, 256}, {257, 256}, {4000, 256}};
  for (auto [width, edge] : cases) EXPECT_EQ(icon_edge(width), edge) << width;
}

TEST(PlanMenu, FlagsCommandsAndDefaults) {
  const std::vector<MenuItem> items{
      Item{"Repair DCS setup\u2026", MenuItemId{3}, true, false, true},
      Separator{},
      Item{"Start with Windows", MenuItemId{5}, true, true, false},
      Item{"Bridge 0.5.0", MenuItemId{0}, false, false, false},
      Item{"Both", MenuItemId{65534}, false, true, true},
  };
  // Two defaults: each entry is made the default as it is appended, so the last one wins.
  EXPECT_EQ(plan_menu(items), (std::vector<MenuEntry>{
                                  {0, 4, "Repair DCS setup\u2026", true},
                                  {kMfSeparator, 0, "", false},
                                  {kMfChecked, 6, "Start with Windows", false},
                                  {kMfGrayed, 1, "Bridge 0.5.0", false},
                                  {kMfChecked | kMfGrayed, 65535, "Both", true},
                              }));
  EXPECT_EQ(kMfChecked, 8u);
  EXPECT_EQ(kMfGrayed, 1u);
}

TEST(PickedItem, CommandMinusOne) {
  EXPECT_EQ(picked_item(0), std::nullopt);
  EXPECT_EQ(picked_item(1), MenuItemId{0});
  EXPECT_EQ(picked_item(65535), MenuItemId{65534});
  EXPECT_EQ(picked_item(65536), std::nullopt);
}

TEST(PlanIcon, FlagsImageAndTip) {
  IconFields fields = plan_icon({"Waiting for DCS", {}, true});
  EXPECT_EQ(fields.flags, 0x87u);
  EXPECT_TRUE(fields.attention);
  EXPECT_EQ(text_of(fields.tip), u"Waiting for DCS");

  // A tooltip of 300 characters shows its first 127 units.
  fields = plan_icon({std::string(300, 't'), {}, false});
  EXPECT_FALSE(fields.attention);
  EXPECT_EQ(text_of(fields.tip), std::u16string(127, u't'));
  EXPECT_EQ(fields.tip[127], 0);
}

TEST(PlanBalloon, PlainAndQuiet) {
  BalloonFields plain = plan_balloon({"Tolvaro DCS Bridge", "Tolvaro isn't set up in DCS. Click to fix.", false});
  EXPECT_EQ(plain.flags, 0x10u);
  EXPECT_EQ(plain.info_flags, 0x00u);
  EXPECT_FALSE(plain.hide_later);
  EXPECT_EQ(text_of(plain.title), u"Tolvaro DCS Bridge");
  EXPECT_EQ(text_of(plain.text), u"Tolvaro isn't set up in DCS. Click to fix.");

  BalloonFields quiet = plan_balloon({"t", "x", true});
  EXPECT_EQ(quiet.flags, 0x50u);
  EXPECT_EQ(quiet.info_flags, 0x10u);
  EXPECT_TRUE(quiet.hide_later);

  BalloonFields big = plan_balloon({std::string(100, 'a'), std::string(400, 'b'), false});
  EXPECT_EQ(text_of(big.title).size(), 63u);
  EXPECT_EQ(text_of(big.text).size(), 255u);
}

TEST(DecodeIconCallback, Version4Events) {
  using Kind = IconCallback::Kind;
  // The anchor sits in wParam as two signed words.
  const std::uintptr_t anchor = (std::uintptr_t{0xFFF6} << 16) | 0x0320;  // x 800, y -10
  struct Case {
    std::intptr_t lparam;
    IconCallback expected;
  };
  const Case cases[] = {
      {0x007B, {Kind::OpenMenu, 800, -10}},               // WM_CONTEXTMENU
      {0x0400, {Kind::OpenMenu, 800, -10}},               // NIN_SELECT
      {0x0401, {Kind::OpenMenu, 800, -10}},               // NIN_KEYSELECT
      {(1 << 16) | 0x007B, {Kind::OpenMenu, 800, -10}},   // the icon id in the high word is not looked at
      {0x0405, {Kind::BalloonClicked, 0, 0}},             // NIN_BALLOONUSERCLICK
      {0x0200, {}},                                       // WM_MOUSEMOVE
      {0x0402, {}},                                       // NIN_BALLOONSHOW
      {0x0404, {}},                                       // NIN_BALLOONTIMEOUT
      {0x0205, {}},                                       // WM_RBUTTONUP: version 4 sends WM_CONTEXTMENU
  };
  for (const Case& c : cases) EXPECT_EQ(decode_icon_callback(anchor, c.lparam), c.expected) << c.lparam;
}

TEST(RegisteredMessage, ARegistrationThatFailedMatchesNothingNotEvenWmNull) {
  struct Case {
    std::uint32_t registered;
    std::uint32_t message;
    bool matches;
  };
  const Case cases[] = {
      {0xC123, 0xC123, true},
      {0xC123, 0xC124, false},
      {0xC123, 0x0000, false},
      {0x0000, 0x0000, false},  // WM_NULL, which the system and menus post
      {0x0000, 0xC123, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(is_registered_message(c.registered, c.message), c.matches) << c.registered << " " << c.message;
}

}  // namespace
