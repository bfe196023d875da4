#pragma once

// Scratch folders and registry keys for tests of the real services under Wine or Windows.

#include "core/base/src/win32.hpp"

#include <string>

#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/unicode.hpp"

namespace machine::testing {

inline std::wstring wide(std::string_view utf8) {
  std::u16string units = utf8_to_utf16(utf8);
  return std::wstring(units.begin(), units.end());
}

inline std::wstring wide(const Path& path) { return std::wstring(path.units().begin(), path.units().end()); }

// Deletes a folder with everything in it, read-only files included.
inline void remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  win32::FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (find) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = folder + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find.get(), &data));
  }
  RemoveDirectoryW(folder.c_str());
}

// A new empty folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring base(temp, n);
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    folder_ = base + L"\\tolvaro-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    remove_tree(folder_);
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  ~ScratchFolder() { remove_tree(folder_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  Path path() const { return Path(std::u16string(folder_.begin(), folder_.end())); }

 private:
  std::wstring folder_;
};

inline LSTATUS set_registry_value(HKEY root, std::string_view subkey, std::string_view name, DWORD type,
                                  const std::string& bytes) {
  return RegSetKeyValueW(root, wide(subkey).c_str(), wide(name).c_str(), type, bytes.data(),
                         static_cast<DWORD>(bytes.size()));
}

inline std::string utf16le_z(std::string_view utf8) {
  std::u16string units = utf8_to_utf16(utf8);
  units.push_back(u'\0');
  return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

inline constexpr const char* kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
inline constexpr const char* kSavedGamesValue = "{4C5C32FF-BB9D-43b0-B5B4-2D72E54EAAA4}";

}  // namespace machine::testing
