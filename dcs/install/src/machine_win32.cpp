// The real registry reader, known folders and process list.

#include <shlobj.h>
#include <tlhelp32.h>

#include "dcs/install/src/real_machine.hpp"
#include "dcs/install/src/unicode.hpp"
#include "dcs/install/src/win32_util.hpp"

namespace machine {
namespace {

using win32::Handle;
using win32::wz;

class RealRegistryReader final : public RegistryReader {
 public:
  std::optional<std::string> read_string(RegistryRoot root, std::string_view subkey,
                                         std::string_view value) const override {
    HKEY key = nullptr;
    HKEY base = root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::u16string sub = utf8_to_utf16(subkey);
    if (RegOpenKeyExW(base, wz(sub), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    struct Closer {
      HKEY k;
      ~Closer() { RegCloseKey(k); }
    } closer{key};
    const std::u16string name = utf8_to_utf16(value);
    std::string buffer(2048, '\0');
    for (;;) {
      DWORD type = 0;
      DWORD size = static_cast<DWORD>(buffer.size());
      LSTATUS status = RegQueryValueExW(key, wz(name), nullptr, &type,
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
    PWSTR text = nullptr;
    HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, &text);
    std::optional<Path> out;
    if (SUCCEEDED(hr) && text != nullptr) out = Path(win32::from_wide(text, wcslen(text)));
    CoTaskMemFree(text);  // also when it failed: it may still have set the pointer
    return out;
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
      std::string name = utf16_to_utf8(win32::from_wide(entry.szExeFile, wcslen(entry.szExeFile)));
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
