#pragma once

// A PC with DCS in this test's Wine prefix, for the tests of the Windows program: the known folders
// and the DCS registry keys pointed into a folder of the test's own.
#include "core/base/src/win32.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dcs/bridge/src/os_string.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace bridge::testing {

using Lines = std::vector<std::string>;

inline std::string utf8(const std::wstring& wide) {
  return bridge::to_text(bridge::OsStringView(wide.data(), wide.size()));
}
inline std::wstring wide(std::string_view text) { return bridge::to_os(text); }

// A registry value, put back as it was when the test ends.
class SavedValue {
 public:
  SavedValue(HKEY root, std::wstring subkey, std::wstring name)
      : root_(root), subkey_(std::move(subkey)), name_(std::move(name)) {
    DWORD size = 0;
    if (RegGetValueW(root_, subkey_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr, &size) ==
        ERROR_SUCCESS) {
      std::string bytes(size, '\0');
      if (RegGetValueW(root_, subkey_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type_, bytes.data(), &size) ==
          ERROR_SUCCESS) {
        bytes.resize(size);
        old_ = std::move(bytes);
      }
    }
  }
  ~SavedValue() {
    if (old_) {
      RegSetKeyValueW(root_, subkey_.c_str(), name_.c_str(), type_, old_->data(), static_cast<DWORD>(old_->size()));
    } else {
      RegDeleteKeyValueW(root_, subkey_.c_str(), name_.c_str());
    }
  }
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;

  void set(DWORD type, const std::wstring& text) {
    ASSERT_EQ(RegSetKeyValueW(root_, subkey_.c_str(), name_.c_str(), type, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void remove() { RegDeleteKeyValueW(root_, subkey_.c_str(), name_.c_str()); }

 private:
  HKEY root_;
  std::wstring subkey_, name_;
  DWORD type_ = 0;
  std::optional<std::string> old_;
};

inline const wchar_t* const kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// A PC with one DCS installation in this prefix: Saved Games and local app data moved into a
// folder of the test's own, and the DCS World key naming an installation folder there. The user
// folder, Saved Games\DCS, has a Config folder, as DCS leaves it.
class DcsFolders : public ::testing::Test {
 protected:
  DcsFolders() {
    std::filesystem::remove_all(root_);
    for (const char* folder : {"Saved Games\\DCS\\Config", "Local", "DCS World"})
      std::filesystem::create_directories(path(folder));
    saved_games_.set(REG_EXPAND_SZ, wide(at("Saved Games")));
    local_app_data_.set(REG_EXPAND_SZ, wide(at("Local")));
    eagle_.set(REG_SZ, wide(at("DCS World")));
    eagle_beta_.remove();
  }
  ~DcsFolders() override {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored))
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(root_, ignored);
  }

  // A second installation, the open beta, whose user folder Saved Games\DCS.openbeta has a log
  // written now.
  void add_open_beta() {
    std::filesystem::create_directories(path("DCS Beta"));
    put("DCS Beta\\dcs_variant.txt", "openbeta");
    put("Saved Games\\DCS.openbeta\\Logs\\dcs.log", "log");
    eagle_beta_.set(REG_SZ, wide(at("DCS Beta")));
  }

  // The path of `relative` under the test's folder, as text and as the system's path.
  std::string at(std::string_view relative) const { return utf8(root_) + "\\" + std::string(relative); }
  std::filesystem::path path(std::string_view relative) const { return wide(at(relative)); }
  std::string dcs(std::string_view relative) const { return at("Saved Games\\DCS\\" + std::string(relative)); }

  void put(std::string_view relative, std::string_view bytes) const {
    std::filesystem::path p = path(relative);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // Sets the modification time of a file.
  void set_modified_time(std::string_view relative, FILETIME time) const {
    win32::Handle handle(
        CreateFileW(path(relative).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle.valid()) << at(relative);
    ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &time));
  }
  std::optional<std::string> file(std::string_view relative) const {
    std::ifstream in(path(relative), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(std::string_view relative) const { return std::filesystem::exists(path(relative)); }

  static ProgramResult run(std::vector<bridge::OsString> args) { return run_bridge(args); }
  static std::string text(const Lines& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
  }

  // The lines of `check` on one folder without problem lines.
  Lines check_lines(const std::string& state, const std::string& folder, const std::string& version,
                    bool add_ons) const {
    return {"state:             " + state,
            "folder:            " + folder,
            "collector version: " + version + " (this bridge has 8)",
            add_ons ? "map marker:        present" : "map marker:        absent",
            add_ons ? "bandit tool:       present" : "bandit tool:       absent",
            "DCS running:       no"};
  }

  const std::wstring root_ = L"C:\\tolvaro-verbs-" + std::to_wstring(GetCurrentProcessId());
  SavedValue saved_games_{HKEY_CURRENT_USER, kShellFolders, L"{4C5C32FF-BB9D-43b0-B5B4-2D72E54EAAA4}"};
  SavedValue local_app_data_{HKEY_CURRENT_USER, kShellFolders, L"Local AppData"};
  SavedValue eagle_{HKEY_CURRENT_USER, L"Software\\Eagle Dynamics\\DCS World", L"Path"};
  SavedValue eagle_beta_{HKEY_CURRENT_USER, L"Software\\Eagle Dynamics\\DCS World OpenBeta", L"Path"};
};

}  // namespace bridge::testing
