#include <cstring>

#include "core/base/src/os_error.hpp"

namespace base {

std::string system_message(std::uint32_t code) { return std::strerror(static_cast<int>(code)); }

}  // namespace base
