// The machine contract on the real services.

#include <optional>

#include "dcs/install/src/real_machine.hpp"
#include "dcs/install/tests/contract.hpp"
#include "dcs/install/tests/win32_bed.hpp"

namespace machine::testing {
namespace {

class RealBed final : public ContractBed {
 public:
  RealBed() {
    static int counter = 0;
    key_ = "Software\\TolvaroContractTests\\" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
  }
  ~RealBed() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, wide(key_).c_str());
    if (saved_games_changed_) {
      if (old_saved_games_) {
        set_registry_value(HKEY_CURRENT_USER, kUserShellFolders, kSavedGamesValue, REG_EXPAND_SZ,
                           *old_saved_games_);
      } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, wide(kUserShellFolders).c_str(), wide(kSavedGamesValue).c_str());
      }
    }
  }

  Machine machine() override { return real_machine(); }
  Path scratch() override { return scratch_.path(); }

  void set_read_only(const Path& path, bool read_only) override {
    SetFileAttributesW(wide(path).c_str(), read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
  }

  bool refuses_writes_to_read_only() override {
    const std::wstring probe = wide(scratch_.path().join("read-only-probe"));
    {
      win32::Handle created(
          CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    const bool refused = !win32::Handle(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(probe.c_str());
    return refused;
  }

  std::string registry_scratch_key() override { return key_; }

  void set_registry_raw(std::string_view subkey, std::string_view name, std::uint32_t type,
                        std::string bytes) override {
    ASSERT_EQ(set_registry_value(HKEY_CURRENT_USER, subkey, name, type, bytes), ERROR_SUCCESS);
  }

  void set_saved_games(const Path& path) override {
    if (!saved_games_changed_) {
      saved_games_changed_ = true;
      std::string old(4096, '\0');
      DWORD size = static_cast<DWORD>(old.size());
      if (RegGetValueW(HKEY_CURRENT_USER, wide(kUserShellFolders).c_str(), wide(kSavedGamesValue).c_str(),
                       RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, old.data(),
                       &size) == ERROR_SUCCESS) {
        old.resize(size);
        old_saved_games_ = old;
      }
    }
    ASSERT_EQ(set_registry_value(HKEY_CURRENT_USER, kUserShellFolders, kSavedGamesValue, REG_EXPAND_SZ,
                                 utf16le_z(path.text())),
              ERROR_SUCCESS);
  }

  std::string running_process() override {
    wchar_t module[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring full(module, n);
    std::wstring name = full.substr(full.find_last_of(L"\\/") + 1);
    return utf16_to_utf8(std::u16string(name.begin(), name.end()));
  }

 private:
  ScratchFolder scratch_;
  std::string key_;
  bool saved_games_changed_ = false;
  std::optional<std::string> old_saved_games_;
};

TOLVARO_CONTRACT_BEDS(Real, BedMaker{"Real", [] { return std::make_unique<RealBed>(); }});

}  // namespace
}  // namespace machine::testing
