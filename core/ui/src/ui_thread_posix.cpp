#include "core/ui/src/ui_thread.hpp"

namespace ui_thread::detail {

// This build has no windows to close.
void post_close(std::uintptr_t) noexcept {}

}  // namespace ui_thread::detail
