#include "core/ui/src/wide.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

std::u16string field_text(std::span<const char16_t> field) {
  std::u16string out;
  for (char16_t c : field) {
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

TEST(ToWide, EndsWithOneZeroAndTurnsNulIntoBlank) {
  const std::u16string w = wide::to_wide(std::string("a\0b", 3));
  EXPECT_EQ(w, u"a b");
  EXPECT_EQ(w.c_str()[3], u'\0');
}

TEST(ToWide, ConvertsBeyondTheBasicPlaneAndReplacesBrokenBytes) {
  EXPECT_EQ(wide::to_wide("\xC3\xA9\xF0\x9F\x9B\xA9"), u"\u00E9\U0001F6E9");
  EXPECT_EQ(wide::to_wide("x\xFFy"), u"x\uFFFDy");
  EXPECT_EQ(wide::to_wide(""), u"");
}

TEST(FromWide, ReadsUpToTheFirstZeroAndReplacesUnpairedSurrogates) {
  const char16_t text[] = {u'a', 0xD800, u'b', 0, u'c', 0};
  EXPECT_EQ(wide::from_wide(text), "a\xEF\xBF\xBD" "b");
  const char16_t pair[] = {0xD83D, 0xDEE9, 0};
  EXPECT_EQ(wide::from_wide(pair), "\xF0\x9F\x9B\xA9");
  EXPECT_EQ(wide::from_wide(nullptr), "");
}

TEST(FillWide, CutsAtTheFieldAndZeroesTheRest) {
  std::array<char16_t, 128> field;
  field.fill(u'#');
  wide::fill_wide(field, std::string(200, 'x'));
  EXPECT_EQ(field_text(field), std::u16string(127, u'x'));
  EXPECT_EQ(field[127], 0);

  field.fill(u'#');
  wide::fill_wide(field, "short");
  EXPECT_EQ(field_text(field), u"short");
  for (std::size_t i = 5; i < field.size(); ++i) ASSERT_EQ(field[i], 0) << i;
}

TEST(FillWide, WritesASurrogatePairWholeOrNotAtAll) {
  const std::string plane = "\xF0\x9F\x9B\xA9";  // U+1F6E9, two UTF-16 units
  struct Case {
    std::string text;
    std::size_t units;  // written before the terminating zero
  };
  const Case cases[] = {
      {std::string(126, 'x') + plane, 126},        // the pair would be units 127 and 128: left out
      {std::string(125, 'x') + plane, 127},        // fits exactly
      {std::string(126, 'x') + plane + "y", 126},  // nothing after the first one that does not fit
      {std::string(127, 'x') + "y", 127},
  };
  for (const Case& c : cases) {
    std::array<char16_t, 128> field;
    field.fill(u'#');
    wide::fill_wide(field, c.text);
    EXPECT_EQ(field_text(field).size(), c.units) << c.text.size();
    EXPECT_EQ(field[127], 0);
  }
}

TEST(FillWide, TurnsNulIntoBlankAndLeavesAnEmptyFieldAlone) {
  std::array<char16_t, 8> field{};
  wide::fill_wide(field, std::string("a\0b", 3));
  EXPECT_EQ(field_text(field), u"a b");
  wide::fill_wide(std::span<char16_t>(), "anything");  // nothing to write, nothing written
}

}  // namespace
