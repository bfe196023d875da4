// Start with Windows through the program, on the Run key of this test's Wine prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include "dcs/bridge/src/os_string.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace {

using bridge::testing::ProgramResult;
using bridge::testing::run_bridge;

const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* kValueName = L"Tolvaro DCS Bridge";

std::optional<std::wstring> run_value(DWORD* type = nullptr) {
  DWORD size = 0, value_type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_ANY, &value_type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring data(size / 2 + 1, L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_ANY, &value_type, data.data(), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  if (type) *type = value_type;
  data.resize(size / 2);
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  return data;
}

TEST(BridgeProgram, StartWithWindowsWritesAndRemovesTheRunValue) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);

  ProgramResult on = run_bridge({L"start-with-windows", L"on"});
  EXPECT_EQ(on.exit_code, 0);
  EXPECT_EQ(on.out, "Tolvaro DCS Bridge will start with Windows\n");
  EXPECT_EQ(on.err, "");
  DWORD type = 0;
  std::optional<std::wstring> value = run_value(&type);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(*value, L"\"" + bridge::testing::bridge_program_path() + L"\" --autostart");

  // Again: the same value, success.
  ProgramResult again = run_bridge({L"start-with-windows", L"on"});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(run_value(), value);

  ProgramResult off = run_bridge({L"start-with-windows", L"off"});
  EXPECT_EQ(off.exit_code, 0);
  EXPECT_EQ(off.out, "Tolvaro DCS Bridge will not start with Windows\n");
  EXPECT_EQ(off.err, "");
  EXPECT_FALSE(run_value().has_value());

  // Off with nothing to remove is success too.
  ProgramResult off_again = run_bridge({L"start-with-windows", L"off"});
  EXPECT_EQ(off_again.exit_code, 0);
  EXPECT_EQ(off_again.out, "Tolvaro DCS Bridge will not start with Windows\n");
}

}  // namespace
