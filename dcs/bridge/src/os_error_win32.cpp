#include <windows.h>

#include <memory>

#include "dcs/bridge/src/os_error.hpp"
#include "dcs/bridge/src/os_string.hpp"

namespace bridge {

OsError os_error(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::unique_ptr<wchar_t, decltype(&LocalFree)> owned(buffer, &LocalFree);
  std::string message = length > 0 ? to_text(OsStringView(buffer, length)) : "unknown error";
  // The system's messages end in CR LF.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return {code, message + " (os error " + std::to_string(code) + ")"};
}

}  // namespace bridge
