#include <vector>

#include "core/base/src/win32.hpp"
#include "dcs/bridge/src/autostart.hpp"
#include "dcs/bridge/src/os_string.hpp"

namespace bridge {
namespace {

std::unexpected<base::OsError> failure(LSTATUS status) { return std::unexpected(base::os_error(static_cast<std::uint32_t>(status))); }

bool is_not_found(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

}  // namespace

std::expected<Autostart, base::OsError> Autostart::for_this_program() {
  // Paths may be longer than MAX_PATH; a buffer that was filled to the brim was too small.
  OsString path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::unexpected(base::os_error(GetLastError()));
    if (length < path.size()) {
      path.resize(length);
      return for_program(to_text(path));
    }
    if (path.size() >= 32768) return std::unexpected(base::os_error(ERROR_INSUFFICIENT_BUFFER));
    path.resize(path.size() * 2);
  }
}

bool Autostart::is_enabled() const {
  win32::RegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, to_os(run_key_).c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS)
    return false;
  const OsString name = to_os(value_name_);
  std::vector<std::byte> data(2048);
  DWORD type = 0;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    LSTATUS status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_MORE_DATA) {
      // The value may grow between two calls; never ask again with the same buffer.
      data.resize(size > data.size() ? size : data.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) return false;
    data.resize(size);
    break;
  }
  std::optional<std::string> stored = registry_text(type, data);
  return stored && command_matches(*stored, command_);
}

std::expected<void, base::OsError> Autostart::set(bool on) {
  const OsString key_path = to_os(run_key_);
  const OsString name = to_os(value_name_);
  win32::RegKey key;
  if (on) {
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS) return failure(status);
    const OsString command = to_os(command_);
    // REG_SZ: the text with its one terminating zero, sized in bytes.
    const DWORD bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()), bytes);
    if (status != ERROR_SUCCESS) return failure(status);
    return {};
  }
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_SET_VALUE, key.out());
  if (is_not_found(status)) return {};
  if (status != ERROR_SUCCESS) return failure(status);
  status = RegDeleteValueW(key.get(), name.c_str());
  if (status != ERROR_SUCCESS && !is_not_found(status)) return failure(status);
  return {};
}

}  // namespace bridge
