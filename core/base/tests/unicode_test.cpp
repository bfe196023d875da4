#include "core/base/src/unicode.hpp"

#include <gtest/gtest.h>

#include <string>

namespace base::unicode {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

struct ValidityCase {
  std::string bytes;
  bool valid;
  std::string lossy;
};

class Utf8Test : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(Utf8Test, ValidityAndLossyDecoding) {
  const ValidityCase& c = GetParam();
  EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
  EXPECT_EQ(utf8_lossy(c.bytes), c.lossy);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Test,
    ::testing::Values(
        ValidityCase{"", true, ""}, ValidityCase{"plain {}", true, "plain {}"},
        ValidityCase{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        ValidityCase{"\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},  // U+10FFFF, the last one
        // A lone continuation byte and bytes that never start a character.
        ValidityCase{"a\x80z", false, "a" + kFffd + "z"},
        ValidityCase{"\xFF\xFE", false, kFffd + kFffd},
        // Overlong forms, surrogates and values past U+10FFFF: each bad byte is replaced on its
        // own, since none of them can start or continue a well-formed sequence.
        ValidityCase{"\xC0\x80", false, kFffd + kFffd},
        ValidityCase{"\xE0\x80\x80", false, kFffd + kFffd + kFffd},
        ValidityCase{"\xED\xA0\x80", false, kFffd + kFffd + kFffd},
        ValidityCase{"\xF4\x90\x80\x80", false, kFffd + kFffd + kFffd + kFffd},
        // A cut-off sequence is one maximal part, replaced once.
        ValidityCase{"x\xE2\x82", false, "x" + kFffd},
        ValidityCase{"\xF0\x9F\x98z", false, kFffd + "z"},
        ValidityCase{"\xE2\x82\xE2\x82\xAC", false, kFffd + "\xE2\x82\xAC"}));

TEST(Utf8Lossy, EachIllFormedSubpartBecomesOneReplacement) {
  struct Case {
    std::string name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"ascii", "plain", "plain"},
      {"valid multi-byte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"stray continuation", "a\x80z", "a" + kFffd + "z"},
      {"bad lead", "\xFF", kFffd},
      {"overlong two-byte", "\xC0\xAF", kFffd + kFffd},
      {"overlong three-byte", "\xE0\x80\xAF", kFffd + kFffd + kFffd},
      {"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"above U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"truncated three-byte is one subpart", "\xE2\x82z", kFffd + "z"},
      {"truncated at the end", "ok\xF0\x9F\x98", "ok" + kFffd},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_lossy(c.input), c.expected) << c.name;
    EXPECT_EQ(is_valid_utf8(c.input), c.input == c.expected) << c.name;
  }
}

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

TEST(Utf16Lossy, UnpairedSurrogatesBecomeReplacements) {
  struct Case {
    std::string name;
    std::u16string input;
    std::string expected;
  };
  const Case cases[] = {
      {"ascii", u"DCS", "DCS"},
      {"bmp", u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
      {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"lone high", std::u16string{u'a', char16_t(0xD83D), u'b'}, "a" + kFffd + "b"},
      {"lone low", std::u16string{char16_t(0xDE00)}, kFffd},
      {"high at the end", std::u16string{u'x', char16_t(0xD800)}, "x" + kFffd},
      {"swapped pair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, kFffd + kFffd},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf16_to_utf8(c.input), c.expected) << c.name;
    EXPECT_EQ(is_valid_utf16(c.input), c.expected.find(kFffd) == std::string::npos) << c.name;
  }
}

TEST(Utf8ToUtf16, RoundTripsAndMakesSurrogatePairs) {
  EXPECT_EQ(utf8_to_utf16("C:\\Users\\J\xC3\xB6rg \xF0\x9F\x98\x80"), u"C:\\Users\\J\u00f6rg \U0001F600");
  EXPECT_EQ(utf8_to_utf16("a\xFF"), u"a\uFFFD");
}

TEST(EncodeUtf16, OneUnitOrASurrogatePairAndReplacementsForWhatIsNoScalarValue) {
  struct Case {
    char32_t value;
    std::u16string units;
  };
  const Case cases[] = {
      {0x0000, std::u16string(1, u'\0')},
      {0x00E9, u"\u00E9"},
      {0xFFFF, std::u16string{0xFFFF}},
      {0x10000, std::u16string{0xD800, 0xDC00}},
      {0x1F6E9, std::u16string{0xD83D, 0xDEE9}},
      {0x10FFFF, std::u16string{0xDBFF, 0xDFFF}},
      {0xD800, u"\uFFFD"},  // a surrogate on its own is no scalar value
      {0xDFFF, u"\uFFFD"},
      {0x110000, u"\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(encode_utf16(c.value).view(), c.units) << std::hex << unsigned{c.value};
}

TEST(WhiteSpace, FollowsTheUnicodeProperty) {
  for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028,
                     0x2029, 0x202F, 0x205F, 0x3000})
    EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
  for (char32_t c : {0x00, 0x1F, 0x41, 0x200B, 0xFEFF, 0x180E}) EXPECT_FALSE(is_white_space(c)) << static_cast<unsigned>(c);
  EXPECT_EQ(trim_white_space(U"\u3000 \tD:\\DCS\u00A0\r\n"), U"D:\\DCS");
  EXPECT_EQ(trim_white_space(U" \t "), U"");
}

TEST(TrimWhiteSpace, UnicodeWhiteSpaceAtBothEnds) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"  a b  ", "a b"},
      {"\xC2\xA0x\xC2\x85", "x"},                        // no-break space, next line
      {"\xE3\x80\x80x\xE2\x80\xAF", "x"},                // ideographic space, narrow no-break space
      {"\xE1\x9A\x80\xE2\x80\x80x\xE2\x80\x8A\xE2\x81\x9F", "x"},  // ogham, en quad, hair, math space
      {"\xE2\x80\xA8x\xE2\x80\xA9", "x"},                // line and paragraph separators
      // Not white space: zero width space and the byte order mark stay.
      {"\xE2\x80\x8Bx\xEF\xBB\xBF", "\xE2\x80\x8Bx\xEF\xBB\xBF"},
      {"\xC3\xA9", "\xC3\xA9"},
  };
  for (const Case& c : cases) EXPECT_EQ(trim_white_space(c.input), c.expected) << c.input;
}

}  // namespace
}  // namespace base::unicode
