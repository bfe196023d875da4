#include "core/base/src/os_error.hpp"

namespace base {

OsError os_error(std::uint32_t code) {
  return {code, system_message(code) + " (os error " + std::to_string(code) + ")"};
}

}  // namespace base
