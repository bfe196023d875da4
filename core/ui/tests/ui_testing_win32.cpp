#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/base/src/win32.hpp"
#include "core/ui/src/wide.hpp"
#include "core/ui/tests/ui_testing.hpp"

namespace ui_testing {

namespace {

HWND hwnd(Window w) { return reinterpret_cast<HWND>(w); }
Window number(HWND h) { return reinterpret_cast<Window>(h); }

// Another thread's window answers WM_GETTEXT only while its thread takes messages; a thread that
// is stuck must not stop the test as well.
constexpr UINT kSendTimeoutMs = 5000;

std::string text_of(HWND window) {
  DWORD_PTR length = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length) == 0)
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &copied) == 0)
    return {};
  return wide::from_wide(reinterpret_cast<const char16_t*>(text.c_str()));
}

std::string class_of(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return wide::from_wide(reinterpret_cast<const char16_t*>(name));
}

bool matches(HWND window, const WindowQuery& q) {
  if (q.visible_only && !IsWindowVisible(window)) return false;
  for (Window known : q.except)
    if (hwnd(known) == window) return false;
  if (q.process_id) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != *q.process_id) return false;
  }
  if (q.class_name && class_of(window) != *q.class_name) return false;
  return !q.title || text_of(window) == *q.title;
}

// Window enumeration: appends each window to the std::vector<HWND> at `into`.
BOOL CALLBACK collect(HWND window, LPARAM into) {
  reinterpret_cast<std::vector<HWND>*>(into)->push_back(window);
  return TRUE;
}

}  // namespace

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::uint32_t this_process() { return GetCurrentProcessId(); }

std::vector<Window> find_windows(const WindowQuery& query) {
  // EnumWindows lists top-level windows front to back.
  std::vector<HWND> all;
  EnumWindows(&collect, reinterpret_cast<LPARAM>(&all));
  std::vector<Window> found;
  for (HWND window : all)
    if (matches(window, query)) found.push_back(number(window));
  return found;
}

Window wait_for_window(const WindowQuery& query, std::chrono::milliseconds deadline) {
  Window found = 0;
  wait_until(
      [&] {
        const std::vector<Window> windows = find_windows(query);
        if (!windows.empty()) found = windows.front();
        return found != 0;
      },
      deadline);
  return found;
}

bool wait_for_window_gone(Window window, std::chrono::milliseconds deadline) {
  return wait_until([&] { return !window_exists(window); }, deadline);
}

bool window_exists(Window window) { return IsWindow(hwnd(window)) != 0; }
std::string window_text(Window window) { return text_of(hwnd(window)); }
std::string window_class(Window window) { return class_of(hwnd(window)); }

Rect window_rect(Window window) {
  RECT r{};
  GetWindowRect(hwnd(window), &r);
  return {r.left, r.top, r.right, r.bottom};
}

Window foreground_window() { return number(GetForegroundWindow()); }
bool bring_to_front(Window window) { return SetForegroundWindow(hwnd(window)) != 0; }

std::vector<Control> controls(Window dialog) {
  std::vector<HWND> children;
  EnumChildWindows(hwnd(dialog), &collect, reinterpret_cast<LPARAM>(&children));
  std::vector<Control> found;
  for (HWND child : children)
    found.push_back({number(child), GetDlgCtrlID(child), class_of(child), text_of(child), IsWindowVisible(child) != 0});
  return found;
}

std::optional<Control> control(Window dialog, int id) {
  for (Control& c : controls(dialog))
    if (c.id == id && c.visible) return std::move(c);
  return std::nullopt;
}

bool press_button(Window dialog, int id) {
  const std::optional<Control> button = control(dialog, id);
  return button && PostMessageW(hwnd(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                static_cast<LPARAM>(button->window)) != 0;
}

bool set_control_text(Window dialog, int id, std::string_view text) {
  const std::optional<Control> target = control(dialog, id);
  if (!target) return false;
  const std::u16string units = wide::to_wide(text);
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(hwnd(target->window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(win32::wz(units)),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0 &&
         result == TRUE;
}

bool close_window(Window window) { return PostMessageW(hwnd(window), WM_CLOSE, 0, 0) != 0; }

Window wait_for_popup_menu(std::chrono::milliseconds deadline) {
  WindowQuery menu;
  menu.class_name = "#32768";
  return wait_for_window(menu, deadline);
}

bool pick_menu_item(Window menu, int downs) {
  // Posted, not sent and not injected: a menu's modal loop reads its keys from its queue, and
  // keyboard input through SendInput does not reach it under Wine.
  for (int i = 0; i < downs; ++i)
    if (PostMessageW(hwnd(menu), WM_KEYDOWN, VK_DOWN, 0) == 0) return false;
  return PostMessageW(hwnd(menu), WM_KEYDOWN, VK_RETURN, 0) != 0;
}

Rect screen_rect() {
  return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
          GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
          GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

std::expected<Image, std::string> capture(Rect rect) {
  if (rect.width() <= 0 || rect.height() <= 0) return std::unexpected("empty rectangle");
  win32::DeviceContext screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
  if (!screen) return std::unexpected("no screen device context");
  // The bitmap is owned before the memory context that selects it, so that it outlives it.
  win32::GdiObject bitmap(CreateCompatibleBitmap(screen.get(), rect.width(), rect.height()));
  win32::DeviceContext memory(CreateCompatibleDC(screen.get()));
  if (!bitmap || !memory) return std::unexpected("no bitmap to capture into");
  SelectObject(memory.get(), bitmap.get());
  if (!BitBlt(memory.get(), 0, 0, rect.width(), rect.height(), screen.get(), rect.left, rect.top, SRCCOPY))
    return std::unexpected("BitBlt failed");
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = rect.width();
  info.bmiHeader.biHeight = -rect.height();  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  Image image{static_cast<std::uint32_t>(rect.width()), static_cast<std::uint32_t>(rect.height()), {}};
  image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
  if (GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, image.height, image.pixels.data(), &info,
                DIB_RGB_COLORS) != static_cast<int>(image.height))
    return std::unexpected("GetDIBits failed");
  return image;
}

std::optional<Image> wait_until_drawn(Rect rect, std::chrono::milliseconds deadline) {
  std::optional<Image> last;
  std::optional<Image> steady;
  wait_until(
      [&] {
        std::expected<Image, std::string> now = capture(rect);
        if (!now) return false;
        const std::set<std::uint32_t> colours(now->pixels.begin(), now->pixels.end());
        if (last && last->pixels == now->pixels && colours.size() > 2) steady = std::move(*now);
        else last = std::move(*now);
        return steady.has_value();
      },
      deadline);
  return steady;
}

std::expected<std::string, std::string> save_screenshot(std::string_view name, Rect rect) {
  const wchar_t* folder = _wgetenv(L"TOLVARO_ARTIFACTS");
  if (folder == nullptr || *folder == L'\0') return std::unexpected("TOLVARO_ARTIFACTS is not set");
  std::expected<Image, std::string> image = capture(rect);
  if (!image) return std::unexpected(image.error());
  const std::string path = wide::from_wide(reinterpret_cast<const char16_t*>(folder)) + "\\" + std::string(name) + ".png";
  const std::vector<std::uint8_t> png = encode_png(*image);
  std::ofstream file(std::filesystem::path(wide::to_wide(path)), std::ios::binary);
  file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  file.close();
  if (!file) return std::unexpected("cannot write " + path);
  return path;
}

}  // namespace ui_testing
