#include "core/base/src/os_error.hpp"
#include "core/base/src/unicode.hpp"
#include "core/base/src/win32.hpp"

namespace base {

std::string system_message(std::uint32_t code) {
  win32::LocalText buffer;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(buffer.out()), 0, nullptr);
  std::string message;
  if (length > 0 && buffer) message = unicode::utf16_to_utf8(win32::units(buffer.get(), length));
  // The system's messages end in CR LF.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "Windows error " + std::to_string(code);
  return message;
}

}  // namespace base
