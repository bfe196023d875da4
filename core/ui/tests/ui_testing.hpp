#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/tests/png.hpp"

// Test support for real windows (Windows build, library core_ui_testing): finding the windows of
// this or another process, reading and pressing a dialog's controls, picking from a popup menu, and
// screenshots. A test binary that shows windows is declared with `tolvaro_test(... UI)`, which runs
// it through cmake/wine-ui-run: a display and a Wine desktop with taskbar and tray of its own, and
// TOLVARO_ARTIFACTS naming the folder for its screenshots.
//
// Everything here may be called from any thread, so that a helper thread can drive the dialogs
// that the test's main thread sits in. Nothing waits for a fixed time: waits poll until their
// condition holds or their deadline has passed.
namespace ui_testing {

// A window handle (HWND) as a number; 0 is none.
using Window = std::uintptr_t;

// Generous: a loaded machine may take seconds to show a window; a passing test never waits this.
inline constexpr std::chrono::milliseconds kDeadline{30000};

// Calls `done` every few milliseconds until it returns true (then true) or `deadline` has passed
// (then false).
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline = kDeadline);

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// Which top-level windows to look for; every field given must match.
struct WindowQuery {
  std::optional<std::string> class_name;   // exactly, e.g. "#32770" for a dialog
  std::optional<std::string> title;        // exactly
  std::optional<std::uint32_t> process_id; // e.g. this_process()
  std::vector<Window> except;              // windows already known, to find a newer one
  bool visible_only = true;
};

std::uint32_t this_process();
// Top-level windows that match, front to back.
std::vector<Window> find_windows(const WindowQuery& query);
// The first match once there is one, or 0 when none came before the deadline.
Window wait_for_window(const WindowQuery& query, std::chrono::milliseconds deadline = kDeadline);
// Whether the window was destroyed before the deadline.
bool wait_for_window_gone(Window window, std::chrono::milliseconds deadline = kDeadline);

bool window_exists(Window window);
std::string window_text(Window window);
std::string window_class(Window window);
Rect window_rect(Window window);  // on the screen
Window foreground_window();
// Makes `window` the foreground window (any process may, under Wine).
bool bring_to_front(Window window);

// A control of a dialog: its id, class and text. A task dialog's buttons carry the ids the program
// gave them.
struct Control {
  Window window = 0;
  int id = 0;
  std::string class_name;
  std::string text;
  bool visible = false;
};
// Every descendant of `dialog`, in window order.
std::vector<Control> controls(Window dialog);
// The first visible control of `dialog` with that id, if any.
std::optional<Control> control(Window dialog, int id);

// What a task dialog shows: its command links and buttons by id (a command link's note on a second
// line of its text), and the texts of its visible controls in window order.
struct DialogView {
  std::map<int, std::string> buttons;
  std::vector<std::string> texts;
  bool says(std::string_view text) const;
};
// The ids a task dialog gives its command links and its buttons.
inline constexpr int kFirstCommandLink = 1000;
inline constexpr int kFirstButton = 2000;
DialogView read_dialog(Window dialog);

// Presses the button `id` of a dialog as a click does: posts WM_COMMAND (BN_CLICKED) with the
// button's window, which a task dialog handles as TDM_CLICK_BUTTON. False when it has no such button.
bool press_button(Window dialog, int id);
// Sets the text of the control `id` (an edit box, as typing would), waiting until it is done.
bool set_control_text(Window dialog, int id, std::string_view text);
// Posts WM_CLOSE, as the close button does.
bool close_window(Window window);

// The popup menu that is open (class "#32768"), once there is one, or 0.
Window wait_for_popup_menu(std::chrono::milliseconds deadline = kDeadline);
// Picks an item of an open popup menu with the keyboard: posts Down `downs` times (the first Down
// selects the first item; the menu skips separators), then Enter.
bool pick_menu_item(Window menu, int downs);

// ---- What only the owner of a window can read, read from inside its process (probe_protocol.hpp) ----

// One item of a popup menu.
struct MenuEntry {
  std::string text;
  int command = 0;  // the item's command id (0 for a separator)
  bool separator = false;
  bool enabled = true;  // can be picked (never a separator)
  bool checked = false;
  bool is_default = false;
  Rect rect;  // on the screen
};
// The items of an open popup menu (class "#32768") of any process, in order; none when it could
// not be read (the menu closed meanwhile).
std::optional<std::vector<MenuEntry>> read_menu(Window menu);

// An icon that the taskbar's notification area shows, as the shell's tooltip holds it: the icon's
// place on the screen and its tooltip text.
struct TrayIcon {
  Rect rect;
  std::string tooltip;
};
std::vector<TrayIcon> tray_icons();
// A balloon the shell shows now: its window and text.
struct Balloon {
  Window window = 0;
  std::string text;
};
std::vector<Balloon> balloons();

// ---- The mouse, as a person uses it ----

enum class MouseButton { left, right };
// Moves the pointer to (x, y), waits until it stays there, and clicks (SendInput).
bool click(int x, int y, MouseButton button = MouseButton::left);
// Clicks the centre of `rect`.
bool click(Rect rect, MouseButton button = MouseButton::left);

// The whole screen (the Wine desktop).
Rect screen_rect();
// The pixels of a screen rectangle, as the screen shows them now.
std::expected<Image, std::string> capture(Rect rect);
// Polls until two captures of `rect` in a row are equal and not blank (more than two colours):
// the window there is drawn. That capture, or none at the deadline.
std::optional<Image> wait_until_drawn(Rect rect, std::chrono::milliseconds deadline = kDeadline);
// Captures `rect` and writes it as <TOLVARO_ARTIFACTS>\<name>.png; the file's path, or what failed.
std::expected<std::string, std::string> save_screenshot(std::string_view name, Rect rect);
// Waits until `window` is drawn, then saves a screenshot of it; what failed, if anything.
std::optional<std::string> photograph(Window window, std::string_view name);

}  // namespace ui_testing
