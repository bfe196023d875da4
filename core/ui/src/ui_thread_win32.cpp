#include "core/base/src/win32.hpp"
#include "core/ui/src/ui_thread.hpp"

namespace ui_thread::detail {

void post_close(std::uintptr_t window) noexcept {
  PostMessageW(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
}

}  // namespace ui_thread::detail
