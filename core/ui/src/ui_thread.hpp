#pragma once

#include <cstdint>
#include <utility>

// The UI thread's own record, and the guard that every call from Windows into application code runs
// under (the window procedure, the runner's first handler call, the task-dialog callback and the
// timer that re-closes file dialogs). An exception must never unwind through the system's frames:
// the guard catches it, logs it, and closes the program's window so that it ends through its
// ordinary path.
namespace ui_thread {

// The private messages of the tray window (all posted to it).
inline constexpr unsigned WM_TRAY_ICON = 0x8001;      // WM_APP+1: the icon's callback (version 4)
inline constexpr unsigned WM_TRAY_EVENTS = 0x8002;    // WM_APP+2: requests wait in the TrayEvents queue
inline constexpr unsigned WM_TRAY_READY = 0x8003;     // WM_APP+3: Tray::refresh_icon added the icon
inline constexpr unsigned WM_DIALOG_BEHIND = 0x8004;  // WM_APP+4: a new task dialog stayed behind

// Per thread. `current_window` is the tray window's handle while it is bound, 0 otherwise.
struct UiThreadState {
  std::uintptr_t current_window = 0;
  bool callback_panicked = false;
};

// The calling thread's record.
UiThreadState& state();

// Whether a guarded call of this thread has failed since the thread began.
inline bool callback_panicked() { return state().callback_panicked; }

// What the guard does with a failure: logs "a UI callback panicked; closing the program cleanly" at
// error level, sets `callback_panicked`, and posts WM_CLOSE to the current window if there is one.
void on_panic() noexcept;

// Runs `call`; a failure escaping from it goes to on_panic and is dropped.
template <class Call>
void guarded(Call&& call) noexcept {
  try {
    std::forward<Call>(call)();
  } catch (...) {
    on_panic();
  }
}

namespace detail {
// Posts WM_CLOSE to `window`; a failure is ignored. Nothing where the build has no windows.
void post_close(std::uintptr_t window) noexcept;
}  // namespace detail

}  // namespace ui_thread
