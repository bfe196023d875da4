// What the in-memory machine offers tests beyond the machine contract.

#include <gmock/gmock.h>

#include "dcs/install/tests/fake_machine.hpp"

namespace machine::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;

class Fake : public ::testing::Test {
 protected:
  FakeMachine fake_;
  Machine machine_ = fake_.machine();
  const FileSystem& files() { return *machine_.files; }
};

TEST_F(Fake, DrivesThatWereNotAddedAreNotFound) {
  auto written = files().write_atomic(Path("Q:\\x"), "x");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().code, kErrorPathNotFound);
  EXPECT_EQ(files().kind(Path("Q:\\")), PathKind::Missing);
  fake_.add_drive('q');
  EXPECT_TRUE(files().write_atomic(Path("Q:\\x"), "x"));
  EXPECT_EQ(files().kind(Path("q:\\")), PathKind::Folder);
}

TEST_F(Fake, RelativeAndNetworkPathsAreNotFound) {
  for (const char* path : {"relative\\x", "C:relative", "\\rooted", "\\\\server\\share\\x"}) {
    EXPECT_EQ(files().kind(Path(path)), PathKind::Missing) << path;
    auto written = files().write_in_place(Path(path), "x");
    ASSERT_FALSE(written) << path;
    EXPECT_EQ(written.error().code, kErrorPathNotFound) << path;
  }
}

TEST_F(Fake, TreeShowsNamesAsWritten) {
  fake_.add_file("C:\\Users\\Ann\\Saved Games\\DCS\\Scripts\\Export.lua", "x");
  EXPECT_TRUE(files().write_atomic(Path("c:\\users\\ann\\saved games\\dcs\\scripts\\New.lua"), "y"));
  EXPECT_THAT(fake_.tree(), ElementsAre("C:\\Users\\", "C:\\Users\\Ann\\", "C:\\Users\\Ann\\Saved Games\\",
                                        "C:\\Users\\Ann\\Saved Games\\DCS\\",
                                        "C:\\Users\\Ann\\Saved Games\\DCS\\Scripts\\",
                                        "C:\\Users\\Ann\\Saved Games\\DCS\\Scripts\\Export.lua",
                                        "C:\\Users\\Ann\\Saved Games\\DCS\\Scripts\\New.lua"));
}

TEST_F(Fake, FaultsHitTheirOperationAndPathForAsManyCallsAsAsked) {
  fake_.add_file("C:\\a.lua", "a");
  fake_.fail({Op::read, "c:\\A.LUA", kErrorSharingViolation, 2});
  EXPECT_TRUE(std::holds_alternative<IoError>(files().read(Path("C:\\a.lua"))));
  EXPECT_TRUE(std::holds_alternative<IoError>(files().read(Path("C:\\a.lua"))));
  EXPECT_TRUE(std::holds_alternative<Bytes>(files().read(Path("C:\\a.lua"))));
  fake_.fail({Op::read, "", kErrorPathNotFound});
  EXPECT_TRUE(std::holds_alternative<Missing>(files().read(Path("C:\\a.lua"))));
  fake_.clear_faults();
  EXPECT_TRUE(std::holds_alternative<Bytes>(files().read(Path("C:\\a.lua"))));
}

TEST_F(Fake, AFailedMoveLeavesTheTargetAndNoTemporaryFile) {
  fake_.add_file("C:\\x.lua", "old");
  fake_.fail({Op::write_atomic_move, "C:\\x.lua", kErrorAccessDenied, 1});
  auto written = files().write_atomic(Path("C:\\x.lua"), "new");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().text,
            "Access is denied. (os error 5) (writing through C:\\x.lua.tolvaro-new)");
  EXPECT_EQ(fake_.file("C:\\x.lua"), "old");
  EXPECT_EQ(fake_.kind("C:\\x.lua.tolvaro-new"), PathKind::Missing);
}

TEST_F(Fake, AnInPlaceWriteCanFailHalfway) {
  fake_.add_file("C:\\Export.lua", "0123456789");
  fake_.fail({Op::write_in_place, "C:\\Export.lua", kErrorAccessDenied, 1, 3});
  EXPECT_FALSE(files().write_in_place(Path("C:\\Export.lua"), "abcdef"));
  EXPECT_EQ(fake_.file("C:\\Export.lua"), "abc3456789");
}

TEST_F(Fake, TheAfterHookCanPlaySecuritySoftware) {
  fake_.after_each([this](Op op, const Path& path) {
    if (op == Op::write_atomic_create && path.text().ends_with(".lua")) fake_.remove(path);
  });
  ASSERT_TRUE(files().write_atomic(Path("C:\\x.lua"), "x"));
  EXPECT_TRUE(std::holds_alternative<Missing>(files().read(Path("C:\\x.lua"))));
}

TEST_F(Fake, CallsAreLoggedWithThePathsAsGiven) {
  files().kind(Path("C:\\A"));
  machine_.registry->read_string(RegistryRoot::LocalMachine, "SOFTWARE\\X", "V");
  machine_.processes->is_running("DCS.exe");
  EXPECT_THAT(fake_.calls(), ElementsAre(Call{Op::kind, "C:\\A"}, Call{Op::registry, "HKLM\\SOFTWARE\\X@V"},
                                         Call{Op::process_list, "DCS.exe"}));
}

TEST_F(Fake, InvalidNamesAreRefused) {
  auto written = files().write_atomic(Path("C:\\a?b"), "x");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().code, 123u);
}

TEST_F(Fake, ModifiedTimeFollowsTheClock) {
  const FileTime t(std::chrono::duration_cast<FileTicks>(std::chrono::hours(24 * 365 * 50)));
  fake_.set_clock(t);
  EXPECT_FALSE(files().write_in_place(Path("C:\\Logs\\dcs.log"), "x"));  // no Logs folder yet
  fake_.add_folder("C:\\Logs");
  ASSERT_TRUE(files().write_in_place(Path("C:\\Logs\\dcs.log"), "x"));
  EXPECT_EQ(files().modified_time(Path("C:\\Logs\\dcs.log")), t);
  fake_.set_modified_time(Path("C:\\Logs\\dcs.log"), t + FileTicks(5));
  EXPECT_EQ(files().modified_time(Path("C:\\Logs\\DCS.LOG")), t + FileTicks(5));
}

TEST_F(Fake, RegistryNamesCompareWithoutCase) {
  fake_.set_registry(RegistryRoot::CurrentUser, "Software\\Valve\\Steam", "SteamPath", "c:/steam");
  EXPECT_EQ(machine_.registry->read_string(RegistryRoot::CurrentUser, "SOFTWARE\\valve\\steam", "steampath"),
            "c:/steam");
  EXPECT_EQ(machine_.registry->read_string(RegistryRoot::LocalMachine, "Software\\Valve\\Steam", "SteamPath"),
            std::nullopt);
  fake_.set_registry(RegistryRoot::CurrentUser, "K", "M", "a\nb", kRegMultiSz);
  EXPECT_EQ(machine_.registry->read_string(RegistryRoot::CurrentUser, "K", "M"), "a\nb");
  fake_.remove_registry(RegistryRoot::CurrentUser, "K", "M");
  EXPECT_EQ(machine_.registry->read_string(RegistryRoot::CurrentUser, "K", "M"), std::nullopt);
}

}  // namespace
}  // namespace machine::testing
