#include <gtest/gtest.h>

#include "dcs/bridge/src/os_string.hpp"
#include "dcs/bridge/src/quote.hpp"

namespace {

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

TEST(OsString, TextOfRawArguments) {
  EXPECT_EQ(bridge::to_text(bridge::to_os("J\xC3\xB6rg")), "J\xC3\xB6rg");
  bridge::OsString bad = bridge::to_os("x");
  bad.push_back(static_cast<bridge::OsChar>(sizeof(bridge::OsChar) == 2 ? 0xDC00 : 0x80));
  EXPECT_EQ(bridge::to_text(bad), "x" + kFffd);
  EXPECT_FALSE(bridge::to_text_if_unicode(bad).has_value());
  EXPECT_EQ(bridge::to_text_if_unicode(bridge::to_os("ok")), "ok");
}

}  // namespace
