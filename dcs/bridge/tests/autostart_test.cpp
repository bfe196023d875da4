#include <gtest/gtest.h>

#include <vector>

#include "dcs/bridge/src/autostart.hpp"

namespace {

using bridge::command_matches;
using bridge::registry_text;

std::vector<std::byte> utf16le(std::u16string_view text, int zeros = 1) {
  std::vector<std::byte> out;
  auto push = [&](char16_t u) {
    out.push_back(std::byte(u & 0xFF));
    out.push_back(std::byte(u >> 8));
  };
  for (char16_t u : text) push(u);
  for (int i = 0; i < zeros; ++i) push(0);
  return out;
}

TEST(Autostart, CommandQuotesThePathAndEndsWithAutostart) {
  bridge::Autostart entry = bridge::Autostart::for_program("C:\\Program Files\\Tolvaro\\TolvaroDcsBridge.exe");
  EXPECT_EQ(entry.command(), "\"C:\\Program Files\\Tolvaro\\TolvaroDcsBridge.exe\" --autostart");
  EXPECT_EQ(entry.run_key(), "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_EQ(entry.value_name(), "Tolvaro DCS Bridge");
}

TEST(Autostart, StoredCommandMatchesIgnoringAsciiCaseOnly) {
  const std::string command = "\"C:\\Users\\J\xC3\xB6rg\\TolvaroDcsBridge.exe\" --autostart";
  struct Case {
    std::string stored;
    bool matches;
  };
  const Case cases[] = {
      {command, true},
      {"\"c:\\users\\j\xC3\xB6RG\\tolvarodcsbridge.EXE\" --AUTOSTART", true},
      // Letters outside ASCII must match exactly.
      {"\"C:\\Users\\J\xC3\x96rg\\TolvaroDcsBridge.exe\" --autostart", false},
      {"\"C:\\Users\\J\xC3\xB6rg\\TolvaroDcsBridge.exe\"", false},
      {"\"D:\\Other\\TolvaroDcsBridge.exe\" --autostart", false},
      {command + " ", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(command_matches(c.stored, command), c.matches) << c.stored;
}

TEST(RegistryText, StringTypesOnlyWithTrailingZerosRemoved) {
  EXPECT_EQ(registry_text(bridge::kRegSz, utf16le(u"\"C:\\x.exe\" --autostart")), "\"C:\\x.exe\" --autostart");
  EXPECT_EQ(registry_text(bridge::kRegExpandSz, utf16le(u"%LOCALAPPDATA%\\x.exe", 3)), "%LOCALAPPDATA%\\x.exe");
  EXPECT_EQ(registry_text(bridge::kRegMultiSz, utf16le(u"abc", 2)), "abc");
  EXPECT_EQ(registry_text(bridge::kRegSz, utf16le(u"no terminator", 0)), "no terminator");
  EXPECT_EQ(registry_text(bridge::kRegSz, {}), "");
  // A stray last byte belongs to no unit.
  std::vector<std::byte> odd = utf16le(u"ab", 0);
  odd.push_back(std::byte{0x41});
  EXPECT_EQ(registry_text(bridge::kRegSz, odd), "ab");
  std::u16string lone = u"x";
  lone.push_back(char16_t(0xD800));
  EXPECT_EQ(registry_text(bridge::kRegSz, utf16le(lone)), "x\xEF\xBF\xBD");
  // REG_DWORD, REG_BINARY and REG_NONE are not text.
  for (std::uint32_t type : {4u, 3u, 0u}) EXPECT_FALSE(registry_text(type, utf16le(u"abc")).has_value()) << type;
}

}  // namespace
