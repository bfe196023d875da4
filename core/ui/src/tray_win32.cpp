// The tray window: the hidden window and its message loop, the notification-area icon with its
// retry, menu and balloons, and the two single-instance operations.
#include "core/base/src/win32.hpp"

#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "core/base/src/log.hpp"
#include "core/ui/src/dialog_host.hpp"
#include "core/ui/src/icon_win32.hpp"
#include "core/ui/src/tray.hpp"
#include "core/ui/src/tray_plan.hpp"
#include "core/ui/src/ui_thread.hpp"
#include "core/ui/src/wide.hpp"

namespace tray {
namespace {

using ui_thread::WM_DIALOG_BEHIND;
using ui_thread::WM_TRAY_EVENTS;
using ui_thread::WM_TRAY_ICON;
using ui_thread::WM_TRAY_READY;

static_assert(plan::kNifMessage == NIF_MESSAGE && plan::kNifIcon == NIF_ICON && plan::kNifTip == NIF_TIP &&
              plan::kNifInfo == NIF_INFO && plan::kNifRealtime == NIF_REALTIME && plan::kNifShowTip == NIF_SHOWTIP);
static_assert(plan::kNiifNone == NIIF_NONE && plan::kNiifNoSound == NIIF_NOSOUND);
static_assert(plan::kMfGrayed == MF_GRAYED && plan::kMfChecked == MF_CHECKED && plan::kMfSeparator == MF_SEPARATOR);
static_assert(plan::kTrackFlags == (TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD));
static_assert(WM_TRAY_ICON == WM_APP + 1 && WM_DIALOG_BEHIND == WM_APP + 4);

constexpr UINT kIconId = 1;

// What failed, as the HRESULT of the thread's last error.
base::OsError last_error() { return base::hresult_error(GetLastError()); }

template <std::size_t N>
void copy_field(wchar_t (&to)[N], const std::array<char16_t, N>& from) {
  std::copy(from.begin(), from.end(), win32::field(to).begin());
}

// The notification-area icon of one hidden window, and what the application shows in it.
class Tray final : public TrayUi {
 public:
  explicit Tray(HWND window) : window_(window), dialogs_(reinterpret_cast<std::uintptr_t>(window)) {
    const std::uint32_t edge = plan::icon_edge(GetSystemMetrics(SM_CXSMICON));
    auto plain = icon::draw_tray_icon(edge, false);
    auto attention = icon::draw_tray_icon(edge, true);
    if (plain && attention) {
      icons_.emplace(Icons{std::move(*plain), std::move(*attention)});
    } else {
      // Without images the icon is still added, so the menu stays reachable.
      base::warn("cannot draw the tray icon: " + (plain ? attention.error() : plain.error()).text);
    }
  }

  dialogs::DialogAnswer ask(const dialogs::Question& question) override { return dialogs_.ask(question); }
  std::optional<std::string> pick_folder(const dialogs::FolderRequest& request) override {
    return dialogs_.pick_folder(request);
  }
  void tell(const dialogs::DialogMessage& message) override { dialogs_.tell(message); }
  bool bring_top_dialog_to_front() override { return dialogs_.bring_top_dialog_to_front(); }

  void set_content(const TrayContent& content) override {
    content_ = content;
    refresh_icon();
  }

  bool notify(const Notification& notification) override {
    if (!icon_added_ || closing_) return false;
    const plan::BalloonFields fields = plan::plan_balloon(notification);
    NOTIFYICONDATAW data = icon_data();
    data.uFlags = fields.flags;
    data.dwInfoFlags = fields.info_flags;
    data.uTimeout = 0;
    copy_field(data.szInfoTitle, fields.title);
    copy_field(data.szInfo, fields.text);
    const bool shown = Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    if (shown && fields.hide_later) SetTimer(window_, plan::kBalloonTimer, plan::kQuietBalloonMs, nullptr);
    return shown;
  }

  void quit() override {
    if (closing_) return;
    closing_ = true;
    dialogs_.close_all();
    stop_retry();
    remove_icon();
    PostQuitMessage(0);
  }

  bool closing() const { return closing_; }

  // Adds the icon, or brings it up to date with the content; a refused add arms the retry.
  void refresh_icon() {
    if (closing_ || !content_) return;
    const plan::IconFields fields = plan::plan_icon(*content_);
    NOTIFYICONDATAW data = icon_data();
    data.uFlags = fields.flags;
    data.uCallbackMessage = WM_TRAY_ICON;
    if (icons_) data.hIcon = fields.attention ? icons_->attention.get() : icons_->plain.get();
    copy_field(data.szTip, fields.tip);
    if (icon_added_) {
      Shell_NotifyIconW(NIM_MODIFY, &data);
      return;
    }
    if (Shell_NotifyIconW(NIM_ADD, &data)) {
      // Version 4: the event in LOWORD(lParam), the anchor point in wParam.
      data.uVersion = NOTIFYICON_VERSION_4;
      Shell_NotifyIconW(NIM_SETVERSION, &data);
      icon_added_ = true;
      retry_ms_ = 0;
      PostMessageW(window_, WM_TRAY_READY, 0, 0);
      return;
    }
    if (retry_ms_ == 0) {
      base::warn("cannot add the tray icon yet; trying again shortly");
      retry_ms_ = plan::kFirstRetryMs;
      SetTimer(window_, plan::kRetryTimer, retry_ms_, nullptr);
    }
  }

  // Timer 1: try again, backing off while the shell keeps refusing.
  void on_retry_timer() {
    const std::uint32_t previous = std::exchange(retry_ms_, 0);
    KillTimer(window_, plan::kRetryTimer);
    refresh_icon();
    if (!icon_added_ && !closing_) {
      retry_ms_ = plan::next_retry_delay(previous);
      SetTimer(window_, plan::kRetryTimer, retry_ms_, nullptr);
    }
  }

  // Timer 2: an empty balloon takes a quiet one down.
  void on_balloon_timer() {
    KillTimer(window_, plan::kBalloonTimer);
    if (!icon_added_) return;
    NOTIFYICONDATAW data = icon_data();
    data.uFlags = NIF_INFO;
    Shell_NotifyIconW(NIM_MODIFY, &data);
  }

  // The shell was re-created: it no longer has the icon.
  void on_taskbar_created() {
    icon_added_ = false;
    refresh_icon();
  }

  // The menu at the anchor point; the picked item, or nothing.
  std::optional<MenuItemId> show_menu(int x, int y) {
    if (!content_) return std::nullopt;
    // A copy: the handler may replace the content while the menu's own loop runs.
    const std::vector<plan::MenuEntry> entries = plan::plan_menu(content_->menu);
    win32::MenuHandle menu(CreatePopupMenu());
    if (!menu) return std::nullopt;
    for (const plan::MenuEntry& entry : entries) {
      if (entry.flags & plan::kMfSeparator) {
        AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
        continue;
      }
      AppendMenuW(menu.get(), MF_STRING | entry.flags, entry.command, win32::wz(wide::to_wide(entry.label)));
      if (entry.is_default) SetMenuDefaultItem(menu.get(), entry.command, FALSE);
    }
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window_);
    const BOOL command = TrackPopupMenu(menu.get(), plan::kTrackFlags, x, y, 0, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
    menu.reset();
    return plan::picked_item(static_cast<std::uint32_t>(command));
  }

  // Takes the retry and the icon away without closing (the session ends, or the window goes).
  void remove_from_shell() {
    stop_retry();
    remove_icon();
  }

  void mark_closing() { closing_ = true; }

 private:
  struct Icons {
    win32::IconHandle plain;
    win32::IconHandle attention;
  };

  NOTIFYICONDATAW icon_data() const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kIconId;
    return data;
  }

  void stop_retry() {
    if (retry_ms_ == 0) return;
    KillTimer(window_, plan::kRetryTimer);
    retry_ms_ = 0;
  }

  void remove_icon() {
    if (!icon_added_) return;
    NOTIFYICONDATAW data = icon_data();
    Shell_NotifyIconW(NIM_DELETE, &data);
    icon_added_ = false;
  }

  std::optional<Icons> icons_;
  HWND window_;
  dialogs::DialogHost dialogs_;
  std::optional<TrayContent> content_;
  std::uint32_t retry_ms_ = 0;
  bool icon_added_ = false;
  bool closing_ = false;
};

// What GWLP_USERDATA points at while the window is bound.
struct TrayWindowState {
  Tray tray;
  detail::WindowHooks& hooks;
  UINT show_yourself_msg;
  UINT taskbar_created_msg;
};

LRESULT handle(TrayWindowState& state, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Tray& tray = state.tray;
  detail::WindowHooks& hooks = state.hooks;
  switch (message) {
    case WM_DESTROY:
      tray.remove_from_shell();
      tray.mark_closing();
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      // The runner destroys the window after the loop.
      tray.quit();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam == 0) break;
      hooks.on_event(tray, SessionEnding{});
      tray.remove_from_shell();
      return 0;
    case WM_TIMER:
      if (wparam == plan::kRetryTimer) {
        tray.on_retry_timer();
        return 0;
      }
      if (wparam == plan::kBalloonTimer) {
        tray.on_balloon_timer();
        return 0;
      }
      break;
    case WM_TRAY_ICON: {
      const plan::IconCallback callback =
          plan::decode_icon_callback(static_cast<std::uintptr_t>(wparam), static_cast<std::intptr_t>(lparam));
      if (callback.kind == plan::IconCallback::Kind::OpenMenu) {
        hooks.on_event(tray, MenuOpening{});
        if (std::optional<MenuItemId> picked = tray.show_menu(callback.x, callback.y))
          hooks.on_event(tray, MenuItemClicked{*picked});
      } else if (callback.kind == plan::IconCallback::Kind::BalloonClicked) {
        hooks.on_event(tray, NotificationClicked{});
      }
      return 0;
    }
    case WM_TRAY_EVENTS:
      hooks.drain(tray);
      return 0;
    case WM_TRAY_READY:
      hooks.on_event(tray, TrayReady{});
      return 0;
    case WM_DIALOG_BEHIND:
      hooks.on_event(tray, DialogBehind{});
      return 0;
    default:
      if (plan::is_registered_message(state.show_yourself_msg, message)) {
        hooks.on_event(tray, AnotherInstanceStarted{});
        return 0;
      }
      if (plan::is_registered_message(state.taskbar_created_msg, message)) {
        tray.on_taskbar_created();
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<TrayWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  LRESULT result = 0;
  ui_thread::guarded([&] { result = handle(*state, window, message, wparam, lparam); });
  return result;
}

// 0 when the system refused, which the window procedure then never matches.
UINT register_message(const std::string& name) {
  const UINT id = RegisterWindowMessageW(win32::wz(wide::to_wide(name)));
  if (id == 0) base::warn("cannot register the window message " + name + ": " + last_error().text);
  return id;
}

// Ties the window to its state for as long as it lives, and on every way out (the loop's end, or
// a fault) undoes it before the state goes: no wake-up or message finds the state any more, the
// icon leaves the shell, a WM_QUIT left by quitting is taken off the queue, and the window is
// destroyed, its WM_DESTROY going to DefWindowProcW.
class Binding {
 public:
  Binding(win32::WindowHandle& window, TrayWindowState& state, WindowCell& cell)
      : window_(window), state_(state), cell_(cell) {
    // Bound before the cell is set, so that every wake-up finds its state.
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state_));
    cell_.set(reinterpret_cast<std::uintptr_t>(window_.get()));
    ui_thread::state() = {reinterpret_cast<std::uintptr_t>(window_.get()), false};
  }
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  ~Binding() {
    cell_.set(0);
    ui_thread::state().current_window = 0;
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    state_.tray.remove_from_shell();
    // The WM_QUIT that quitting posted is still queued when the loop ended on `closing`; left there,
    // it would end the next modal dialog of this thread at once (such as the one that tells the
    // user why the program stopped).
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    window_.reset();
  }

 private:
  win32::WindowHandle& window_;
  TrayWindowState& state_;
  WindowCell& cell_;
};

}  // namespace

namespace detail {

void post_wake(std::uintptr_t window) noexcept { PostMessageW(reinterpret_cast<HWND>(window), WM_TRAY_EVENTS, 0, 0); }

std::expected<void, UiError> run_window(std::string_view class_name, WindowCell& cell, WindowHooks& hooks) {
  const std::u16string name = wide::to_wide(class_name);
  HINSTANCE module = GetModuleHandleW(nullptr);
  if (module == nullptr) return std::unexpected(UiError{UiError::Kind::RegisterWindow, last_error()});
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &window_procedure;
  window_class.hInstance = module;
  window_class.lpszClassName = win32::wz(name);
  // Owned from here: every way out, a fault included, destroys the window and then unregisters
  // the class.
  const win32::WindowClass registered(RegisterClassExW(&window_class));
  if (!registered) return std::unexpected(UiError{UiError::Kind::RegisterWindow, last_error()});

  // Hidden and never shown, but a top-level window (not message-only): it must hear the broadcast
  // "TaskbarCreated".
  win32::WindowHandle window(CreateWindowExW(WS_EX_TOOLWINDOW, win32::wz(name), win32::wz(name), 0, 0, 0, 0, 0,
                                             nullptr, nullptr, module, nullptr));
  if (!window) return std::unexpected(UiError{UiError::Kind::CreateWindow, last_error()});

  TrayWindowState state{Tray(window.get()), hooks, register_message(std::string(class_name) + ".ShowYourself"),
                        register_message("TaskbarCreated")};
  {
    const Binding binding(window, state, cell);

    ui_thread::guarded([&] {
      hooks.on_event(state.tray, Started{});
      hooks.drain(state.tray);
    });

    // Tested before each wait: the loop ends right after the message whose handling quit the tray.
    MSG message;
    while (!state.tray.closing()) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (ui_thread::callback_panicked()) return std::unexpected(UiError{UiError::Kind::CallbackPanicked, {}});
  return {};
}

}  // namespace detail

std::uint32_t show_yourself_message(std::string_view class_name) {
  return register_message(std::string(class_name) + ".ShowYourself");
}

bool ask_other_instance_to_show(std::string_view class_name, std::uint32_t show_yourself_msg) {
  const std::u16string name = wide::to_wide(class_name);
  const DWORD own = GetCurrentProcessId();
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, win32::wz(name), nullptr)) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == 0 || process == own) continue;
    // A message that could not be registered would reach it as WM_NULL, which asks nothing.
    if (show_yourself_msg == 0) return false;
    // Lets the other instance bring its dialog to the front.
    AllowSetForegroundWindow(process);
    return PostMessageW(window, show_yourself_msg, 0, 0) != FALSE;
  }
  return false;
}

QuitOutcome quit_other_instance(std::string_view class_name) {
  using Clock = std::chrono::steady_clock;
  const std::u16string name = wide::to_wide(class_name);
  HWND window = FindWindowExW(nullptr, nullptr, win32::wz(name), nullptr);
  if (window == nullptr) return QuitOutcome::NotRunning;
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == 0) return QuitOutcome::NotRunning;

  const bool own = process_id == GetCurrentProcessId();
  bool already_ended = false;
  win32::Handle process;
  if (!own) {
    process.reset(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    // An id that names no process any more: it ended between finding its window and now.
    if (!process && GetLastError() == ERROR_INVALID_PARAMETER) already_ended = true;
  }
  PostMessageW(window, WM_CLOSE, 0, 0);

  const Clock::time_point deadline = Clock::now() + kQuitWait;
  for (;;) {
    const bool window_gone = FindWindowExW(nullptr, nullptr, win32::wz(name), nullptr) == nullptr;
    // A process that cannot be watched never counts as ended, even when its window went.
    const bool process_ended =
        own || already_ended || (process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0);
    if (window_gone && process_ended) return QuitOutcome::Quit;
    if (Clock::now() >= deadline) return QuitOutcome::TimedOut;
    Sleep(20);
  }
}

}  // namespace tray
