#include <windows.h>

#include <string>

#include "core/base/src/std_stream.hpp"

namespace base {
namespace {

// A console takes UTF-16 text; anything else (a file, a pipe) takes the UTF-8 bytes unchanged, so
// no C runtime turns LF into CR LF. The system converts for its console; its replacement of
// ill-formed bytes is not base::unicode's (Wine's also drops the byte after a cut-off sequence).
bool write_console(HANDLE handle, std::string_view bytes) {
  int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
  const wchar_t* data = wide.data();
  DWORD left = static_cast<DWORD>(wide.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(handle, data, left, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

bool write_std(StdStream stream, std::string_view bytes) {
  HANDLE handle = GetStdHandle(stream == StdStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) return write_console(handle, bytes);
  while (!bytes.empty()) {
    DWORD written = 0;
    DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace base
