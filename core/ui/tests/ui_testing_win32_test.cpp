// The UI test harness itself, on the desktop that cmake/wine-ui-run gives the program: the taskbar
// is there and can be photographed, and a popup menu can be driven from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>

#include "core/base/src/win32.hpp"

#include <shellapi.h>

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

// The menu is read from inside the thread that owns it (through the probe's hook, as for another
// process) and picked with the mouse.
TEST(UiHarness, ReadsAnOpenMenuThroughItsOwnerAndClicksAnItem) {
  MenuOwner owner;
  ASSERT_NE(owner.get(), nullptr);
  win32::MenuHandle menu(CreatePopupMenu());
  AppendMenuW(menu.get(), MF_STRING | MF_GRAYED, 11, L"Title");
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, 13, L"Repair\u2026\tnow");
  AppendMenuW(menu.get(), MF_STRING | MF_CHECKED, 14, L"Checked");
  SetMenuDefaultItem(menu.get(), 13, FALSE);

  using Entries = std::vector<ui_testing::MenuEntry>;
  auto probe = std::async(std::launch::async, [owner = owner.get()]() -> std::optional<Entries> {
    const Window open = ui_testing::wait_for_popup_menu();
    std::optional<Entries> entries = open == 0 ? std::nullopt : ui_testing::read_menu(open);
    if (!entries || entries->size() != 4 || !ui_testing::click(entries->at(3).rect))
      PostMessageW(owner, WM_CANCELMODE, 0, 0);  // ends the menu, so that the test ends
    return entries;
  });
  SetForegroundWindow(owner.get());
  const int picked = static_cast<int>(
      TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, 100, 100, 0, owner.get(), nullptr));
  const std::optional<Entries> entries = probe.get();
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 4u);
  struct Seen {
    std::string text;
    int command;
    bool separator, enabled, checked, is_default;
    bool operator==(const Seen&) const = default;
  };
  struct Print {
    static std::string of(const Seen& s) {
      return "{\"" + s.text + "\" " + std::to_string(s.command) + (s.separator ? " separator" : "") +
             (s.enabled ? " enabled" : "") + (s.checked ? " checked" : "") + (s.is_default ? " default" : "") + "}";
    }
  };
  std::vector<Seen> seen;
  for (const ui_testing::MenuEntry& e : *entries)
    seen.push_back({e.text, e.command, e.separator, e.enabled, e.checked, e.is_default});
  EXPECT_EQ(seen, (std::vector<Seen>{{"Title", 11, false, false, false, false},
                                     {"", 0, true, false, false, false},
                                     {"Repair\u2026\tnow", 13, false, true, false, true},
                                     {"Checked", 14, false, true, true, false}}))
      << [&] {
           std::string all;
           for (const Seen& s : seen) all += Print::of(s) + " ";
           return all;
         }();
  for (std::size_t i = 1; i < entries->size(); ++i)
    EXPECT_GE(entries->at(i).rect.top, entries->at(i - 1).rect.bottom) << "items are listed top to bottom";
  EXPECT_EQ(picked, 14);
}

// An icon of this process in the notification area, with its tooltip and a balloon, as the shell
// holds them.
TEST(UiHarness, FindsATrayIconByItsTooltipAndReadsItsBalloon) {
  MenuOwner owner;
  ASSERT_NE(owner.get(), nullptr);
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner.get();
  data.uID = 7;
  data.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wcscpy(data.szTip, L"Harness icon");
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);

  std::optional<ui_testing::TrayIcon> found;
  EXPECT_TRUE(ui_testing::wait_until([&] {
    for (const ui_testing::TrayIcon& icon : ui_testing::tray_icons())
      if (icon.tooltip == "Harness icon") found = icon;
    return found.has_value();
  }));
  ui_testing::WindowQuery taskbar;
  taskbar.class_name = "Shell_TrayWnd";
  const ui_testing::Rect bar = ui_testing::window_rect(ui_testing::wait_for_window(taskbar));
  ASSERT_TRUE(found.has_value());
  EXPECT_GT(found->rect.width(), 0);
  EXPECT_GE(found->rect.top, bar.top) << "the icon is on the taskbar";
  EXPECT_LE(found->rect.right, bar.right);

  data.uFlags = NIF_INFO;
  wcscpy(data.szInfoTitle, L"Harness");
  wcscpy(data.szInfo, L"A balloon\tof the harness");
  ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  EXPECT_TRUE(ui_testing::wait_until([] {
    return std::ranges::count(ui_testing::balloons(), std::string("A balloon\tof the harness"),
                              &ui_testing::Balloon::text) == 1;
  }));

  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_TRUE(ui_testing::wait_until([] {
    return std::ranges::none_of(ui_testing::tray_icons(),
                                [](const ui_testing::TrayIcon& icon) { return icon.tooltip == "Harness icon"; });
  }, std::chrono::seconds(5)));
}

}  // namespace
