// The real services where the contract cannot reach: Windows' own path rules, the machine
// registry root, the user's known folders, the process list and a lock held by another process.

#include <gmock/gmock.h>

#include "core/base/src/win32.hpp"
#include "core/base/tests/log_capture.hpp"
#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/full_path.hpp"
#include "dcs/install/src/real_machine.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"
#include "dcs/install/tests/win32_bed.hpp"

namespace machine::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Win32FullPath, TheSystemAgreesWithTheRulesTheInMemoryMachineUses) {
  const char16_t* paths[] = {
      u"C:\\a\\b",       u"C:/a//b\\\\c", u"C:\\a\\.\\b\\.", u"C:\\a\\b\\..\\c", u"C:\\a\\b\\..",
      u"C:\\..\\..\\a",  u"C:\\..",       u"C:\\a.\\b",      u"C:\\a\\b.. . ",   u"C:\\a\\",
      u"C:\\",           u"c:\\Users\\x", u"C:\\a\\b ",      u"C:\\a\\...\\b",   u"D:\\x\\..\\y\\.",
  };
  for (const char16_t* path : paths) {
    std::optional<std::u16string> system = detail::system_full_path(path);
    ASSERT_TRUE(system) << utf16_to_utf8(path);
    EXPECT_EQ(utf16_to_utf8(*system), utf16_to_utf8(full_path_without_system(path).value_or(u"(none)")))
        << utf16_to_utf8(path);
  }
}

TEST(Win32LocalAbsolute, RelativePathsResolveAgainstTheWorkingFolder) {
  ScratchFolder scratch;
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  ASSERT_TRUE(SetCurrentDirectoryW(wide(scratch.path()).c_str()));
  std::expected<Path, AbsoluteError> got = local_absolute(Path("Saved Games\\.\\DCS\\"));
  SetCurrentDirectoryW(old);
  ASSERT_TRUE(got);
  EXPECT_TRUE(same_folder(*got, scratch.path().join("Saved Games\\DCS"))) << got->text();
}

TEST(Win32Registry, ReadsTheMachineRootAndLongValues) {
  const std::string key = "SOFTWARE\\TolvaroWin32Tests\\" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(set_registry_value(HKEY_LOCAL_MACHINE, key, "InstallLocation", REG_SZ, utf16le_z("D:\\DCS World\\")),
            ERROR_SUCCESS);
  std::string long_value(5000, 'y');
  ASSERT_EQ(set_registry_value(HKEY_LOCAL_MACHINE, key, "Long", REG_EXPAND_SZ, utf16le_z(long_value)),
            ERROR_SUCCESS);
  Machine m = real_machine();
  EXPECT_EQ(m.registry->read_string(RegistryRoot::LocalMachine, key, "InstallLocation"), "D:\\DCS World\\");
  EXPECT_EQ(m.registry->read_string(RegistryRoot::LocalMachine, key, "Long"), long_value);
  EXPECT_EQ(m.registry->read_string(RegistryRoot::CurrentUser, key, "InstallLocation"), std::nullopt);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide("SOFTWARE\\TolvaroWin32Tests").c_str());
}

TEST(Win32KnownFolders, TheUsersFoldersExistAndTheProfileIsShortened) {
  Machine m = real_machine();
  std::optional<Path> profile = m.known_folders->profile();
  std::optional<Path> local = m.known_folders->local_app_data();
  ASSERT_TRUE(profile && local);
  EXPECT_EQ(m.files->kind(*profile), PathKind::Folder);
  EXPECT_EQ(m.files->kind(*local), PathKind::Folder);
  EXPECT_EQ(show_path(*m.known_folders, profile->join("Saved Games\\DCS")), "%USERPROFILE%\\Saved Games\\DCS");
  EXPECT_EQ(show_path(*m.known_folders, *profile), "%USERPROFILE%");
}

TEST(Win32Processes, DcsIsNotRunningHere) {
  EXPECT_FALSE(real_machine().processes->is_running("DCS.exe"));
}

// A child process that holds the install lock until its standard input is closed.
class LockHolder {
 public:
  LockHolder() {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    win32::Handle child_in, child_out;
    CreatePipe(child_in.out(), to_child_.out(), &inherit, 0);
    CreatePipe(from_child_.out(), child_out.out(), &inherit, 0);
    SetHandleInformation(to_child_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(from_child_.get(), HANDLE_FLAG_INHERIT, 0);
    wchar_t module[MAX_PATH];
    std::wstring exe(module, GetModuleFileNameW(nullptr, module, MAX_PATH));
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"dcs_install_lock_holder.exe";
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in.get();
    startup.hStdOutput = child_out.get();
    startup.hStdError = child_out.get();
    PROCESS_INFORMATION info{};
    started_ = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &info);
    if (started_) {
      process_.reset(info.hProcess);
      const win32::Handle thread(info.hThread);  // only the process is watched
    }
  }
  ~LockHolder() { release(); }

  bool started() const { return started_; }

  // The child's first line ("locked" or "failed").
  std::string first_line() {
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(from_child_.get(), &c, 1, &got, nullptr) && got == 1 && c != '\n') line.push_back(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // standard output is in text mode
    return line;
  }

  // Closes the child's input and waits for it to end; true when it ended in time with code 0.
  bool release() {
    to_child_.reset();
    if (!started_) return false;
    if (WaitForSingleObject(process_.get(), 60000) != WAIT_OBJECT_0) return false;
    DWORD code = 1;
    GetExitCodeProcess(process_.get(), &code);
    return code == 0;
  }

 private:
  win32::Handle to_child_;
  win32::Handle from_child_;
  win32::Handle process_;
  bool started_ = false;
};

TEST(Win32InstallLock, ALockHeldByAnotherProcessIsReportedAsHeld) {
  Machine m = real_machine();
  std::optional<Path> lock_file = install::lock_path(*m.known_folders);
  ASSERT_TRUE(lock_file);
  LockHolder holder;
  ASSERT_TRUE(holder.started());
  ASSERT_EQ(holder.first_line(), "locked");
  auto second = install::acquire_lock(m);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().kind, install::LockError::Kind::Held);
  EXPECT_EQ(second.error().path, *lock_file);
  auto direct = m.files->lock(*lock_file);
  ASSERT_FALSE(direct);
  EXPECT_EQ(direct.error().code, kErrorSharingViolation);
  ASSERT_TRUE(holder.release());
  auto after = install::acquire_lock(m);
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->held());
}

class Win32Discovery : public ::testing::Test {
 protected:
  Win32Discovery() {
    install::testing::forget_logged_once();
    saved_games_ = scratch_.path().join("Saved Games");
    m_.files->create_dir_all(saved_games_);
    set_registry_value(HKEY_CURRENT_USER, kUserShellFolders, kSavedGamesValue, REG_EXPAND_SZ,
                       utf16le_z(saved_games_.text()));
  }
  ~Win32Discovery() override {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, wide(kUserShellFolders).c_str(), wide(kSavedGamesValue).c_str());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, wide(kEagle).c_str(), L"Path");
  }
  static constexpr const char* kEagle = "Software\\Eagle Dynamics\\DCS World";

  ScratchFolder scratch_;
  Machine m_ = real_machine();
  Path saved_games_;
  base::testing::LogCapture log_;
};

TEST_F(Win32Discovery, FindsTheSavedGamesFolderOfARegisteredInstallation) {
  const Path install = scratch_.path().join("DCS World OpenBeta");
  ASSERT_TRUE(m_.files->create_dir_all(install));
  ASSERT_TRUE(m_.files->write_atomic(install.join("dcs_variant.txt"), "\xEF\xBB\xBFopenbeta\r\n"));
  set_registry_value(HKEY_CURRENT_USER, kEagle, "Path", REG_SZ, utf16le_z(" " + install.text() + "\\ "));
  std::vector<FolderCandidate> found = discover_folders(m_, {});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(same_folder(found[0].saved_games, saved_games_.join("DCS.openbeta"))) << found[0].saved_games.text();
  ASSERT_TRUE(found[0].install);
  EXPECT_EQ(found[0].install->text(), install.text() + "\\");
}

TEST_F(Win32Discovery, ARelativeRegistryValueIsNotLookedUpInTheWorkingFolder) {
  ASSERT_TRUE(m_.files->create_dir_all(scratch_.path().join("Relative DCS")));
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  ASSERT_TRUE(SetCurrentDirectoryW(wide(scratch_.path()).c_str()));
  set_registry_value(HKEY_CURRENT_USER, kEagle, "Path", REG_SZ, utf16le_z("Relative DCS"));
  std::vector<FolderCandidate> found = discover_folders(m_, {});
  SetCurrentDirectoryW(old);
  EXPECT_THAT(found, IsEmpty());
  EXPECT_THAT(log_.entries(), IsEmpty());
}

}  // namespace
}  // namespace machine::testing
