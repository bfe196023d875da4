#include "core/base/src/os_error.hpp"

namespace base {

OsError os_error(std::uint32_t code) {
  return {code, system_message(code) + " (os error " + std::to_string(code) + ")"};
}

std::uint32_t hresult_from_win32(std::uint32_t code) {
  if (code == 0 || (code & 0x80000000u) != 0) return code;
  return (code & 0xFFFFu) | 0x80070000u;
}

OsError hresult_error(std::uint32_t win32_code) {
  return {hresult_from_win32(win32_code), os_error(win32_code).text};
}

}  // namespace base
