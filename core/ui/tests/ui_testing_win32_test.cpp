// The UI test harness itself, on the desktop that cmake/wine-ui-run gives the program: the taskbar
// is there and can be photographed, and a popup menu can be driven from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>

#include "core/base/src/win32.hpp"
#include "core/ui/src/wide.hpp"
#include "core/ui/tests/ui_testing.hpp"

namespace {

using ui_testing::Window;

TEST(UiHarness, TheDesktopHasATaskbarAlongItsBottomAndIsPhotographed) {
  ui_testing::WindowQuery taskbar;
  taskbar.class_name = "Shell_TrayWnd";
  const Window bar = ui_testing::wait_for_window(taskbar);
  ASSERT_NE(bar, 0u) << "no taskbar: the program is not on the desktop \"shell\"";
  const ui_testing::Rect screen = ui_testing::screen_rect();
  EXPECT_EQ(screen, (ui_testing::Rect{0, 0, 1024, 768}));
  const ui_testing::Rect place = ui_testing::window_rect(bar);
  EXPECT_EQ(place.bottom, screen.bottom);
  EXPECT_EQ(place.width(), screen.width());

  // The taskbar is drawn: its pixels are not all of one colour.
  const std::expected<ui_testing::Image, std::string> shot = ui_testing::capture(place);
  ASSERT_TRUE(shot) << shot.error();
  std::set<std::uint32_t> colours(shot->pixels.begin(), shot->pixels.end());
  EXPECT_GT(colours.size(), 2u);

  const std::expected<std::string, std::string> file = ui_testing::save_screenshot("desktop", screen);
  ASSERT_TRUE(file) << file.error();
  std::ifstream in(std::filesystem::path(wide::to_wide(*file)), std::ios::binary);
  char signature[8] = {};
  in.read(signature, 8);
  EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1A\n") << *file;
}

// A hidden window of this thread that owns the menu.
class MenuOwner {
 public:
  MenuOwner() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TolvaroHarnessMenuOwner";
    RegisterClassW(&wc);
    window_.reset(CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr));
  }
  HWND get() const { return window_.get(); }

 private:
  win32::WindowHandle window_;
};

TEST(UiHarness, PicksAPopupMenuItemWithTheKeyboard) {
  MenuOwner owner;
  ASSERT_NE(owner.get(), nullptr);
  win32::MenuHandle menu(CreatePopupMenu());
  AppendMenuW(menu.get(), MF_STRING, 11, L"First");
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, 13, L"Second");
  AppendMenuW(menu.get(), MF_STRING, 14, L"Third");

  // Two Downs: the first item, then the next past the separator.
  auto probe = std::async(std::launch::async, [owner = owner.get()] {
    const Window open = ui_testing::wait_for_popup_menu();
    if (open != 0 && ui_testing::pick_menu_item(open, 2)) return true;
    PostMessageW(owner, WM_CANCELMODE, 0, 0);  // ends the menu, so that the test ends
    return false;
  });
  SetForegroundWindow(owner.get());
  const int picked = static_cast<int>(
      TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, 100, 100, 0, owner.get(), nullptr));
  EXPECT_TRUE(probe.get());
  EXPECT_EQ(picked, 13);
}

}  // namespace
