#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/base/src/win32.hpp"

#include <commctrl.h>

#include "core/ui/src/wide.hpp"
#include "core/ui/tests/probe_protocol.hpp"
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

std::string utf8(const std::wstring& text) { return wide::from_wide(reinterpret_cast<const char16_t*>(text.c_str())); }

Rect parse_rect(const std::wstring& text) {
  Rect r;
  swscanf(text.c_str(), L"%d,%d,%d,%d", &r.left, &r.top, &r.right, &r.bottom);
  return r;
}

// The probe's hook DLL, loaded once into this process; the system loads it into every process
// whose thread the hook is set on. Its path on the build machine, seen through Wine's drive Z:.
HMODULE probe_hook_module() {
  static HMODULE module = [] {
    std::u16string path = u"Z:" + wide::to_wide(TOLVARO_PROBE_HOOK);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return LoadLibraryW(win32::wz(path));
  }();
  return module;
}

// A message-only window on the calling thread that keeps the text of the WM_COPYDATA it gets.
class ReplyWindow {
 public:
  ReplyWindow() {
    static const ATOM window_class = [] {
      WNDCLASSEXW c{};
      c.cbSize = sizeof c;
      c.lpfnWndProc = &procedure;
      c.hInstance = GetModuleHandleW(nullptr);
      c.lpszClassName = L"TolvaroProbeReply";
      return RegisterClassExW(&c);
    }();
    window_.reset(CreateWindowExW(0, MAKEINTATOM(window_class), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  HWND get() const { return window_.get(); }
  const std::optional<std::wstring>& reply() const { return reply_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<ReplyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && self != nullptr) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      const std::size_t units = data->cbData / sizeof(wchar_t);
      const auto* text = static_cast<const wchar_t*>(data->lpData);
      self->reply_ = std::wstring(text, units > 0 ? units - 1 : 0);
      return TRUE;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }
  win32::WindowHandle window_;
  std::optional<std::wstring> reply_;
};

// Asks `window`, from inside its own process, for what `kind` names; the reply's lines, or none.
std::optional<std::vector<std::vector<std::wstring>>> ask_owner(HWND window, probe::Kind kind) {
  static const UINT request = RegisterWindowMessageW(probe::kRequestMessage);
  HMODULE module = probe_hook_module();
  if (module == nullptr) return std::nullopt;
  // Through a plain pointer: GetProcAddress hands out every function as the same type.
  auto procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, "probe_hook")));
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (procedure == nullptr || thread == 0) return std::nullopt;
  win32::HookHandle hook(SetWindowsHookExW(WH_CALLWNDPROC, procedure, module, thread));
  if (!hook) return std::nullopt;
  ReplyWindow reply;
  DWORD_PTR ignored = 0;
  // The hook's answer is sent to the reply window while this thread waits here.
  if (SendMessageTimeoutW(window, request, reinterpret_cast<WPARAM>(reply.get()), kind, SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &ignored) == 0 ||
      !reply.reply())
    return std::nullopt;
  return probe::split_reply(*reply.reply());
}

// The shell's tooltip windows (the taskbar's process): icon tooltips and balloons.
std::vector<HWND> shell_tooltips() {
  DWORD shell = 0;
  if (HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr)) GetWindowThreadProcessId(taskbar, &shell);
  std::vector<HWND> found;
  if (shell == 0) return found;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr)) != nullptr;) {
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    if (process == shell) found.push_back(w);
  }
  return found;
}

bool is_balloon(HWND tooltip) { return (GetWindowLongW(tooltip, GWL_STYLE) & TTS_BALLOON) != 0; }

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

bool DialogView::says(std::string_view text) const { return std::ranges::find(texts, text) != texts.end(); }

DialogView read_dialog(Window dialog) {
  DialogView view;
  for (const Control& c : controls(dialog)) {
    if (!c.visible) continue;
    view.texts.push_back(c.text);
    if (c.id >= kFirstCommandLink) view.buttons[c.id] = c.text;
  }
  return view;
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

std::optional<std::vector<MenuEntry>> read_menu(Window menu) {
  const auto lines = ask_owner(hwnd(menu), probe::kMenuItems);
  if (!lines || lines->empty()) return std::nullopt;
  std::vector<MenuEntry> entries;
  for (const std::vector<std::wstring>& f : *lines) {
    if (f.size() != 5) return std::nullopt;
    const unsigned type = static_cast<unsigned>(std::stoul(f[1]));
    const unsigned state = static_cast<unsigned>(std::stoul(f[2]));
    MenuEntry e;
    e.command = std::stoi(f[0]);
    e.separator = (type & MFT_SEPARATOR) != 0;
    e.enabled = !e.separator && (state & MFS_DISABLED) == 0;
    e.checked = (state & MFS_CHECKED) != 0;
    e.is_default = (state & MFS_DEFAULT) != 0;
    e.rect = parse_rect(f[3]);
    e.text = utf8(f[4]);
    entries.push_back(std::move(e));
  }
  return entries;
}

std::vector<TrayIcon> tray_icons() {
  std::vector<TrayIcon> icons;
  for (HWND tooltip : shell_tooltips()) {
    if (is_balloon(tooltip)) continue;
    if (const auto lines = ask_owner(tooltip, probe::kTools))
      for (const std::vector<std::wstring>& f : *lines)
        // The tool of a removed icon stays, with an empty rectangle.
        if (f.size() == 2 && parse_rect(f[0]).width() > 0) icons.push_back({parse_rect(f[0]), utf8(f[1])});
  }
  return icons;
}

std::vector<Balloon> balloons() {
  std::vector<Balloon> shown;
  for (HWND tooltip : shell_tooltips()) {
    if (!is_balloon(tooltip) || !IsWindowVisible(tooltip)) continue;
    if (const auto lines = ask_owner(tooltip, probe::kTools))
      for (const std::vector<std::wstring>& f : *lines)
        if (f.size() == 2 && !f[1].empty()) shown.push_back({number(tooltip), utf8(f[1])});
  }
  return shown;
}

bool click(int x, int y, MouseButton button) {
  // A window mapped under the resting pointer may still move it back: wait until it stays put.
  const bool placed = wait_until(
      [&] {
        SetCursorPos(x, y);
        Sleep(30);
        POINT at{};
        return GetCursorPos(&at) && at.x == x && at.y == y;
      },
      std::chrono::seconds(5));
  if (!placed) return false;
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = button == MouseButton::left ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN;
  input[1].mi.dwFlags = button == MouseButton::left ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTUP;
  return SendInput(2, input, sizeof(INPUT)) == 2;
}

bool click(Rect rect, MouseButton button) {
  return click(rect.left + rect.width() / 2, rect.top + rect.height() / 2, button);
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

std::optional<std::string> photograph(Window window, std::string_view name) {
  const Rect rect = window_rect(window);
  if (!wait_until_drawn(rect)) return "the window was never drawn";
  std::expected<std::string, std::string> saved = save_screenshot(name, rect);
  if (!saved) return saved.error();
  return std::nullopt;
}

}  // namespace ui_testing
