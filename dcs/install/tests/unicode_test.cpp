#include <gtest/gtest.h>

#include "dcs/install/src/unicode.hpp"

namespace machine {
namespace {

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

}  // namespace
}  // namespace machine
