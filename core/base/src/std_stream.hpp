#pragma once

#include <string_view>

namespace base {

enum class StdStream { Out, Err };

// Writes all bytes to standard output or error in one write where the platform allows. The
// stream's handle is looked up at every call, since the program may attach to a console after
// start-up. Returns false when the bytes could not all be written; callers usually ignore that.
bool write_std(StdStream stream, std::string_view bytes);

}  // namespace base
