#include <gtest/gtest.h>

#include "dcs/bridge/src/os_string.hpp"
#include "dcs/bridge/src/quote.hpp"
#include "dcs/bridge/src/unicode.hpp"

namespace {

using namespace bridge::unicode;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Quoted, EscapesWhatWouldNotShowOnOneLine) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"yes", "\"yes\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\DCS", "\"C:\\\\DCS\""},
      {"a\tb\rc\nd", "\"a\\tb\\rc\\nd\""},
      {std::string("nul\0", 4), "\"nul\\u{0}\""},
      {"esc\x1B[31m", "\"esc\\u{1b}[31m\""},
      {"del\x7F", "\"del\\u{7f}\""},
      {"next line\xC2\x85", "\"next line\\u{85}\""},
      {"line sep\xE2\x80\xA8", "\"line sep\\u{2028}\""},
      // A right-to-left override would turn the rest of the line around.
      {"evil\xE2\x80\xAEtxt", "\"evil\\u{202e}txt\""},
      {"bom\xEF\xBB\xBF", "\"bom\\u{feff}\""},
      // Printable text outside ASCII stays as it is.
      {"Gr\xC3\xBC\xC3\x9F \xE2\x9C\x88 \xF0\x9F\x9B\xA9", "\"Gr\xC3\xBC\xC3\x9F \xE2\x9C\x88 \xF0\x9F\x9B\xA9\""},
      {"bad" + kFffd, "\"bad" + kFffd + "\""},
  };
  for (const Case& c : cases) EXPECT_EQ(bridge::quoted(c.input), c.expected) << c.expected;
}

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
    EXPECT_EQ(utf16_lossy(c.input), c.expected) << c.name;
    EXPECT_EQ(is_valid_utf16(c.input), c.expected.find(kFffd) == std::string::npos) << c.name;
  }
}

TEST(Utf8ToUtf16, RoundTripsAndMakesSurrogatePairs) {
  EXPECT_EQ(utf8_to_utf16("C:\\Users\\J\xC3\xB6rg \xF0\x9F\x98\x80"), u"C:\\Users\\J\u00f6rg \U0001F600");
  EXPECT_EQ(utf8_to_utf16("a\xFF"), u"a\uFFFD");
}

TEST(OsString, TextOfRawArguments) {
  EXPECT_EQ(bridge::to_text(bridge::to_os("J\xC3\xB6rg")), "J\xC3\xB6rg");
  bridge::OsString bad = bridge::to_os("x");
  bad.push_back(static_cast<bridge::OsChar>(sizeof(bridge::OsChar) == 2 ? 0xDC00 : 0x80));
  EXPECT_EQ(bridge::to_text(bad), "x" + kFffd);
  EXPECT_FALSE(bridge::to_text_if_unicode(bad).has_value());
  EXPECT_EQ(bridge::to_text_if_unicode(bridge::to_os("ok")), "ok");
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
