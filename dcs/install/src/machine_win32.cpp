// The real registry reader, known folders and process list.

#include <shlobj.h>
#include <tlhelp32.h>

#include "core/base/src/win32.hpp"
#include "dcs/install/src/real_machine.hpp"
#include "dcs/install/src/unicode.hpp"

namespace machine {
namespace {

using win32::Handle;
using win32::wz;

class RealRegistryReader final : public RegistryReader {
 public:
  std::optional<std::string> read_string(RegistryRoot root, std::string_view subkey,
                                         std::string_view value) const override {
    win32::RegKey key;
    HKEY base = root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::u16string sub = utf8_to_utf16(subkey);
    if (RegOpenKeyExW(base, wz(sub), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return std::nullopt;
    const std::u16string name = utf8_to_utf16(value);
    std::string buffer(2048, '\0');
    for (;;) {
      DWORD type = 0;
      DWORD size = static_cast<DWORD>(buffer.size());
      LSTATUS status = RegQueryValueExW(key.get(), wz(name), nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer.data()), &size);
      if (status == ERROR_MORE_DATA) {
        // The value may grow between two calls: ask again with what it says now.
        buffer.assign(std::max<std::size_t>(size, buffer.size() + 2), '\0');
        continue;
      }
      if (status != ERROR_SUCCESS) return std::nullopt;
      buffer.resize(size);
      return decode_registry_string(type, buffer);
    }
  }
};

class RealKnownFolders final : public KnownFolders {
 public:
  std::optional<Path> saved_games() const override { return get(FOLDERID_SavedGames); }
  std::optional<Path> local_app_data() const override { return get(FOLDERID_LocalAppData); }
  std::optional<Path> profile() const override { return get(FOLDERID_Profile); }

 private:
  static std::optional<Path> get(REFKNOWNFOLDERID id) {
    // Owned also when the call failed: it may still have set the pointer.
    win32::CoTaskText text;
    HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, text.out());
    if (FAILED(hr) || !text) return std::nullopt;
    return Path(win32::units(text.get()));
  }
};

class RealProcessList final : public ProcessList {
 public:
  bool is_running(std::string_view exe_name) const override {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
      std::string name = utf16_to_utf8(win32::units(entry.szExeFile));
      if (same_exe_name(name, exe_name)) return true;
    }
    return false;
  }
};

}  // namespace

Machine real_machine() {
  Machine m;
  m.registry = std::make_unique<RealRegistryReader>();
  m.known_folders = std::make_unique<RealKnownFolders>();
  m.processes = std::make_unique<RealProcessList>();
  m.files = real_file_system();
  return m;
}

}  // namespace machine
