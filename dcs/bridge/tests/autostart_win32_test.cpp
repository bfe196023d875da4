// Start with Windows on the registry of this test's own Wine prefix.
#include <gtest/gtest.h>

#include <string>

#include "core/base/src/win32.hpp"
#include "dcs/bridge/src/autostart.hpp"
#include "dcs/bridge/src/os_string.hpp"

namespace {

using bridge::Autostart;
using bridge::to_os;

// A key of its own, so that a test can remove the whole key.
const std::string kTestKey = "Software\\Tolvaro\\AutostartTest\\Run";

void delete_test_key() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tolvaro\\AutostartTest"); }

struct Stored {
  DWORD type = 0;
  std::wstring text;
  DWORD size = 0;
};

std::optional<Stored> read_value(const std::string& key, const std::string& name) {
  Stored stored;
  DWORD size = 0;
  std::wstring wkey = to_os(key), wname = to_os(name);
  if (RegGetValueW(HKEY_CURRENT_USER, wkey.c_str(), wname.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &stored.type,
                   nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring data(size / 2 + 1, L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, wkey.c_str(), wname.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &stored.type,
                   data.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  stored.size = size;
  data.resize(size / 2);
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  stored.text = data;
  return stored;
}

void write_raw(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
  win32::RegKey handle;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, to_os(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            handle.out(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(handle.get(), to_os(name).c_str(), 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

void write_text(const std::string& key, const std::string& name, const std::string& text) {
  std::wstring wide = to_os(text);
  write_raw(key, name, REG_SZ, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

class AutostartRegistry : public ::testing::Test {
 protected:
  void SetUp() override { delete_test_key(); }
  void TearDown() override { delete_test_key(); }
  Autostart entry{kTestKey, "Tolvaro DCS Bridge", "\"C:\\Tolvaro\\TolvaroDcsBridge.exe\" --autostart"};
};

TEST_F(AutostartRegistry, OnWritesTheCommandAsRegSzAndOffDeletesIt) {
  EXPECT_FALSE(entry.is_enabled());
  ASSERT_TRUE(entry.set(true).has_value());
  std::optional<Stored> stored = read_value(kTestKey, "Tolvaro DCS Bridge");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored->text, L"\"C:\\Tolvaro\\TolvaroDcsBridge.exe\" --autostart");
  // One terminating zero, counted in the size.
  EXPECT_EQ(stored->size, (stored->text.size() + 1) * sizeof(wchar_t));
  EXPECT_TRUE(entry.is_enabled());

  // A second on writes the same again.
  ASSERT_TRUE(entry.set(true).has_value());
  EXPECT_EQ(read_value(kTestKey, "Tolvaro DCS Bridge")->text, stored->text);

  ASSERT_TRUE(entry.set(false).has_value());
  EXPECT_FALSE(read_value(kTestKey, "Tolvaro DCS Bridge").has_value());
  EXPECT_FALSE(entry.is_enabled());
}

TEST_F(AutostartRegistry, OffWithoutValueOrKeyIsSuccess) {
  ASSERT_TRUE(entry.set(false).has_value());  // no key at all
  write_text(kTestKey, "Someone Else", "x.exe");
  ASSERT_TRUE(entry.set(false).has_value());  // key, but no value
  EXPECT_EQ(read_value(kTestKey, "Someone Else")->text, L"x.exe");
}

TEST_F(AutostartRegistry, WhatCountsAsEnabled) {
  struct Case {
    std::string name;
    std::string stored;
    bool enabled;
  };
  const Case cases[] = {
      {"other letter case", "\"c:\\TOLVARO\\tolvarodcsbridge.exe\" --AutoStart", true},
      {"another copy", "\"D:\\Tolvaro\\TolvaroDcsBridge.exe\" --autostart", false},
      {"without --autostart", "\"C:\\Tolvaro\\TolvaroDcsBridge.exe\"", false},
  };
  for (const Case& c : cases) {
    write_text(kTestKey, "Tolvaro DCS Bridge", c.stored);
    EXPECT_EQ(entry.is_enabled(), c.enabled) << c.name;
  }
  // Turning on puts this program's command over someone else's.
  ASSERT_TRUE(entry.set(true).has_value());
  EXPECT_EQ(read_value(kTestKey, "Tolvaro DCS Bridge")->text, to_os(entry.command()));
}

TEST_F(AutostartRegistry, NonStringValueIsOff) {
  DWORD number = 1;
  write_raw(kTestKey, "Tolvaro DCS Bridge", REG_DWORD, &number, sizeof number);
  EXPECT_FALSE(entry.is_enabled());
  std::wstring text = to_os(entry.command());
  write_raw(kTestKey, "Tolvaro DCS Bridge", REG_BINARY, text.c_str(), static_cast<DWORD>(text.size() * 2));
  EXPECT_FALSE(entry.is_enabled());
  write_raw(kTestKey, "Tolvaro DCS Bridge", REG_EXPAND_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
  EXPECT_TRUE(entry.is_enabled());
}

TEST_F(AutostartRegistry, LongCommandGrowsTheReadBuffer) {
  // Over 1023 UTF-16 units, past the first 2048-byte read.
  std::string path = "C:\\" + std::string(1500, 'd') + "\\TolvaroDcsBridge.exe";
  Autostart long_entry(kTestKey, "Tolvaro DCS Bridge", bridge::autostart_command(path));
  ASSERT_TRUE(long_entry.set(true).has_value());
  EXPECT_TRUE(long_entry.is_enabled());
  // The same length with one letter different still reads as off.
  Autostart other(kTestKey, "Tolvaro DCS Bridge", bridge::autostart_command("C:\\" + std::string(1500, 'e') +
                                                                            "\\TolvaroDcsBridge.exe"));
  EXPECT_FALSE(other.is_enabled());
}

TEST(AutostartForThisProgram, UsesThisProgramsPath) {
  std::expected<Autostart, base::OsError> entry = Autostart::for_this_program();
  ASSERT_TRUE(entry.has_value()) << entry.error().text;
  wchar_t path[4096];
  DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  EXPECT_EQ(entry->command(), "\"" + bridge::to_text(std::wstring_view(path, length)) + "\" --autostart");
  EXPECT_EQ(entry->run_key(), "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_EQ(entry->value_name(), "Tolvaro DCS Bridge");
}

}  // namespace
