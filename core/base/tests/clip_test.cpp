#include <gtest/gtest.h>

#include "core/base/src/clip.hpp"

namespace {

std::string repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(Clip, CutsAfterTheEightiethCharacterNeverInsideOne) {
  struct Case {
    std::string name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"80 ascii", repeat("a", 80), repeat("a", 80)},
      {"81 ascii", repeat("a", 81), repeat("a", 80) + "..."},
      {"200 ascii", repeat("b", 200), repeat("b", 80) + "..."},
      // 80 Cyrillic characters are 160 bytes and stay whole.
      {"80 two-byte", repeat("\xD0\x96", 80), repeat("\xD0\x96", 80)},
      {"81 two-byte", repeat("\xD0\x96", 81), repeat("\xD0\x96", 80) + "..."},
      {"mixed widths", "a" + repeat("\xE2\x82\xAC", 40) + repeat("\xF0\x9F\x98\x80", 40),
       "a" + repeat("\xE2\x82\xAC", 40) + repeat("\xF0\x9F\x98\x80", 39) + "..."},
      {"79 ascii then four-byte", repeat("c", 79) + "\xF0\x9F\x98\x80" + "z",
       repeat("c", 79) + "\xF0\x9F\x98\x80" + "..."},
      {"replacement characters", repeat("\xEF\xBF\xBD", 81), repeat("\xEF\xBF\xBD", 80) + "..."},
  };
  for (const Case& c : cases) EXPECT_EQ(base::clip(c.input), c.expected) << c.name;
}

TEST(Clip, TruncatedLastCharacterDoesNotReadPastTheEnd) {
  // A lead byte that promises more bytes than are left still ends the walk at the text's end.
  std::string text = repeat("a", 79) + "\xF0\x9F";
  EXPECT_EQ(base::clip(text), text);
}

}  // namespace
