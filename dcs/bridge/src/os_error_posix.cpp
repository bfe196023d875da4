#include <cstring>

#include "dcs/bridge/src/os_error.hpp"

namespace bridge {

OsError os_error(std::uint32_t code) {
  return {code, std::string(std::strerror(static_cast<int>(code))) + " (os error " + std::to_string(code) + ")"};
}

}  // namespace bridge
