#include "core/ui/src/ui_thread.hpp"

#include "core/base/src/log.hpp"

namespace ui_thread {

UiThreadState& state() {
  thread_local UiThreadState record;
  return record;
}

void on_panic() noexcept {
  try {
    base::log(base::Level::Error, "a UI callback panicked; closing the program cleanly");
  } catch (...) {
    // The line is lost; the program still closes.
  }
  UiThreadState& s = state();
  s.callback_panicked = true;
  if (s.current_window != 0) detail::post_close(s.current_window);
}

}  // namespace ui_thread
