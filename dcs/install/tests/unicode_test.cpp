#include <gtest/gtest.h>

#include "dcs/install/src/unicode.hpp"

namespace machine {
namespace {

TEST(Utf8Decoding, ReplacesEachMaximalInvalidSequenceOnce) {
  struct Case {
    std::string bytes;
    std::u32string text;
  };
  const Case cases[] = {
      {"plain", U"plain"},
      {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", U"\u00E4\u20AC\U0001F600"},
      {"a\xFF" "b", U"a\uFFFDb"},
      {"\xE2\x82" "x", U"\uFFFDx"},         // a cut three-byte sequence is one replacement
      {"\xF0\x9F\x98", U"\uFFFD"},          // cut at the end
      {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate is not UTF-8
      {"\xC0\xAF", U"\uFFFD\uFFFD"},        // overlong
      {"\x80\x80", U"\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(decode_utf8(c.bytes), c.text) << c.bytes;
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(utf16_to_utf8(u"C:\\\xD83D\xDE00"), "C:\\\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf16_to_utf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16_to_utf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80\xC3\xA4"), (std::u16string{0xD83D, 0xDE00, 0xE4}));
  EXPECT_EQ(utf8_to_utf16("x\xFF"), (std::u16string{u'x', 0xFFFD}));
}

TEST(LowerCase, FullUnicodeLowerCasingWithoutLocale) {
  struct Case {
    const char* text;
    const char* lower;
  };
  const Case cases[] = {
      {"C:\\USERS\\ANN", "c:\\users\\ann"},
      {"\xC3\x84\xC3\x96\xC3\x9C", "\xC3\xA4\xC3\xB6\xC3\xBC"},          // ÄÖÜ
      {"\xD0\x98\xD0\x93\xD0\xA0\xD0\xAB", "\xD0\xB8\xD0\xB3\xD1\x80\xD1\x8B"},  // ИГРЫ
      {"\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89"},                          // ΣΩ, no final-sigma rule
      {"\xC4\xB0", "i\xCC\x87"},                                         // İ: two characters
      {"\xE2\x84\xAA", "k"},                                             // Kelvin sign
      {"\xE1\xBA\x9E", "\xC3\x9F"},                                      // capital sharp s
      {"\xEF\xBC\xA1", "\xEF\xBD\x81"},                                  // fullwidth A
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                          // Deseret, beyond the BMP
      {"\xC7\x85", "\xC7\x86"},                                          // title-case Dž
      {"already lower \xC3\x9F", "already lower \xC3\x9F"},
  };
  for (const Case& c : cases) EXPECT_EQ(lower_full(c.text), c.lower) << c.text;
}

TEST(LowerCase, EveryUpperCaseLatinAndGreekLetterHasALowerCase) {
  for (char32_t c = 0x0391; c <= 0x03A9; ++c) {
    if (c == 0x03A2) continue;  // unassigned
    EXPECT_EQ(simple_lower(c), c + 0x20) << static_cast<unsigned>(c);
  }
  for (char32_t c = 0x0100; c <= 0x012F; c += 2) EXPECT_EQ(simple_lower(c), c + 1);
  EXPECT_EQ(simple_lower(0x0178), 0x00FFu);  // Ÿ
  EXPECT_EQ(simple_lower(0x0130), 0x0130u);  // only the full mapping changes İ
  EXPECT_EQ(simple_lower(0xFFFD), 0xFFFDu);
}

TEST(WhiteSpace, FollowsTheUnicodeProperty) {
  for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028,
                     0x2029, 0x202F, 0x205F, 0x3000})
    EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
  for (char32_t c : {0x00, 0x1F, 0x41, 0x200B, 0xFEFF, 0x180E}) EXPECT_FALSE(is_white_space(c)) << static_cast<unsigned>(c);
  EXPECT_EQ(trim_white_space(U"\u3000 \tD:\\DCS\u00A0\r\n"), U"D:\\DCS");
  EXPECT_EQ(trim_white_space(U" \t "), U"");
}

}  // namespace
}  // namespace machine
