#include "core/base/src/win32.hpp"
#include "dcs/install/src/full_path.hpp"

namespace machine::detail {

std::optional<std::u16string> system_full_path(std::u16string_view path) {
  std::u16string input(path);
  std::u16string buffer(512, u'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(win32::wz(input), static_cast<DWORD>(buffer.size()),
                               reinterpret_cast<wchar_t*>(buffer.data()), nullptr);
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, u'\0');  // n is the size it needs, terminator included
  }
}

}  // namespace machine::detail
