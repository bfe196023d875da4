// The Win32 owners and the text of a system error, on the real system (Wine).
#include <gtest/gtest.h>

#include <string>

#include "core/base/src/os_error.hpp"
#include "core/base/src/win32.hpp"

namespace {

// Whether `h` still names an open kernel object of this process.
bool is_open(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

TEST(Win32Owners, AHandleIsClosedWhenItsOwnerEndsAndMovesWithIt) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    win32::Handle first(raw);
    win32::Handle second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), raw);
    EXPECT_TRUE(is_open(raw));
  }
  EXPECT_FALSE(is_open(raw));
}

TEST(Win32Owners, ReleaseHandsTheValueBackAndResetClosesTheOld) {
  win32::Handle owner(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE kept = owner.release();
  EXPECT_FALSE(owner.valid());
  EXPECT_TRUE(is_open(kept));
  HANDLE other = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  owner.reset(kept);
  owner.reset(other);
  EXPECT_FALSE(is_open(kept));
  EXPECT_TRUE(is_open(other));
  *owner.out() = nullptr;  // out() closes what was held before the call fills it
  EXPECT_FALSE(is_open(other));
}

TEST(Win32Owners, InvalidValuesAreNeverClosed) {
  win32::Handle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  win32::FindHandle find(FindFirstFileW(L"C:\\no-such-folder-here\\*", nullptr));
  EXPECT_FALSE(find.valid());
}

TEST(Win32Owners, RegistryKeyAndMenu) {
  win32::RegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.out()), ERROR_SUCCESS);
  EXPECT_TRUE(key.valid());
  win32::MenuHandle menu(CreatePopupMenu());
  ASSERT_TRUE(menu.valid());
  HMENU raw = menu.get();
  menu.reset();
  EXPECT_FALSE(IsMenu(raw));
}

TEST(OsErrorText, SystemMessageWithoutLineEndAndTheCode) {
  base::OsError error = base::os_error(ERROR_ACCESS_DENIED);
  EXPECT_EQ(error.code, 5u);
  EXPECT_TRUE(error.text.ends_with(" (os error 5)")) << error.text;
  EXPECT_EQ(error.text.find('\r'), std::string::npos);
  EXPECT_EQ(error.text.find('\n'), std::string::npos);
  EXPECT_GT(error.text.size(), std::string(" (os error 5)").size());
}

TEST(OsErrorText, ACodeWithoutMessageIsNamed) {
  EXPECT_EQ(base::os_error(0x2FFFFFFF).text, "Windows error 805306367 (os error 805306367)");
}

TEST(OsErrorText, Win32CodesAsHresults) {
  for (std::uint32_t code : {0u, 5u, 1410u, 0xFFFFu, 0x2FFFFFFFu, 0x80004005u, 0x800704C7u}) {
    const auto expected = static_cast<std::uint32_t>(HRESULT_FROM_WIN32(code));
    EXPECT_EQ(base::hresult_from_win32(code), expected) << std::hex << code;
  }
  const base::OsError denied = base::hresult_error(ERROR_ACCESS_DENIED);
  EXPECT_EQ(denied.code, 0x80070005u);
  EXPECT_EQ(denied.text, base::os_error(ERROR_ACCESS_DENIED).text);
}

}  // namespace
