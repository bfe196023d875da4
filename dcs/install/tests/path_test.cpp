#include <gmock/gmock.h>

#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/unicode.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace machine {
namespace {

using testing::FakeMachine;

TEST(PathJoin, PutsOneSeparatorBetween) {
  struct Case {
    const char* base;
    const char* name;
    const char* joined;
  };
  const Case cases[] = {
      {"C:\\Steam", "steamapps\\libraryfolders.vdf", "C:\\Steam\\steamapps\\libraryfolders.vdf"},
      {"C:\\Steam\\", "steamapps\\libraryfolders.vdf", "C:\\Steam\\steamapps\\libraryfolders.vdf"},
      {"c:/steam/", "x", "c:/steam/x"},
      {"C:", "x", "C:x"},
      {"", "x", "x"},
      {"C:\\a", "", "C:\\a"},
  };
  for (const Case& c : cases) EXPECT_EQ(Path(c.base).join(c.name).text(), c.joined) << c.base;
}

TEST(PathParent, DropsTheLastNameButNeverTheRoot) {
  struct Case {
    const char* path;
    std::optional<std::string> parent;
  };
  const Case cases[] = {
      {"C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge\\install.lock",
       "C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge"},
      {"C:\\a\\b\\", "C:\\a"},
      {"C:\\a", "C:\\"},
      {"C:/a//b", "C:/a"},
      {"C:\\", std::nullopt},
      {"C:", std::nullopt},
      {"\\\\server\\share\\x", "\\\\server\\share\\"},
      {"\\\\server\\share\\", std::nullopt},
      {"name", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<Path> parent = Path(c.path).parent();
    EXPECT_EQ(parent ? std::optional(parent->text()) : std::nullopt, c.parent) << c.path;
  }
}

TEST(FullPathWithoutSystem, CleansDriveAbsolutePathsAsWindowsDoes) {
  struct Case {
    const char16_t* path;
    std::optional<std::u16string> full;
  };
  const Case cases[] = {
      {u"C:\\a\\b", u"C:\\a\\b"},
      {u"C:/a//b\\\\c", u"C:\\a\\b\\c"},
      {u"C:\\a\\.\\b\\.", u"C:\\a\\b"},
      {u"C:\\a\\b\\..\\c", u"C:\\a\\c"},
      {u"C:\\a\\b\\..", u"C:\\a"},
      {u"C:\\..\\..\\a", u"C:\\a"},
      {u"C:\\..", u"C:\\"},
      {u"C:\\a.\\b", u"C:\\a\\b"},
      {u"C:\\a\\b.. . ", u"C:\\a\\b"},
      {u"C:\\a\\", u"C:\\a\\"},
      {u"C:\\", u"C:\\"},
      {u"\\\\server/share", u"\\\\server\\share"},
      {u"C:relative", std::nullopt},
      {u"relative", std::nullopt},
      {u"\\rooted", std::nullopt},
      {u"", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(full_path_without_system(c.path), c.full) << utf16_to_utf8(c.path);
}

TEST(LocalAbsolute, GivesTheRebuiltAbsolutePathOrWhyNot) {
  using Why = AbsoluteError::Why;
  struct Case {
    std::u16string path;
    std::expected<std::string, Why> result;
  };
  const Case cases[] = {
      {u"C:\\Users\\ann\\Saved Games\\DCS", "C:\\Users\\ann\\Saved Games\\DCS"},
      {u"c:/users//ann/./Saved Games/DCS/", "c:\\users\\ann\\Saved Games\\DCS"},
      {u"D:\\Games\\DCS World\\..\\DCS World\\", "D:\\Games\\DCS World"},
      {u"C:\\", "C:\\"},
      {u"C:\\DCS. ", "C:\\DCS"},
      {u"\\\\server\\share\\DCS", std::unexpected(Why::NotLocal)},
      {u"\\\\?\\C:\\DCS", std::unexpected(Why::NotLocal)},
      {u"//server/share/DCS", std::unexpected(Why::NotLocal)},
      {u"", std::unexpected(Why::CannotMakeAbsolute)},
      {std::u16string(u"C:\\a\0b", 6), std::unexpected(Why::CannotMakeAbsolute)},
  };
  for (const Case& c : cases) {
    std::expected<Path, AbsoluteError> got = local_absolute(Path(c.path));
    SCOPED_TRACE(utf16_to_utf8(c.path));
    if (c.result) {
      ASSERT_TRUE(got);
      EXPECT_EQ(got->text(), *c.result);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().why, c.result.error());
      EXPECT_EQ(got.error().path, Path(c.path));  // carried as given
    }
  }
}

TEST(LocalAbsolute, KeepsUnpairedSurrogatesOfTheName) {
  const std::u16string name{u'C', u':', u'\\', 0xD800, u'x'};
  std::expected<Path, AbsoluteError> got = local_absolute(Path(name));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->units(), name);
  EXPECT_EQ(normalise(Path(name)), "c:\\\xEF\xBF\xBDx");
}

TEST(SameFolder, ComparesAbsoluteFormsWithFullLowerCasing) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"C:\\Users\\Ann\\Saved Games\\DCS", "c:/users/ann/saved games/dcs/", true},
      {"C:\\DCS", "C:\\a\\..\\DCS", true},
      {"C:\\Users\\\xD0\x90\xD0\xBD\xD1\x8F", "C:\\USERS\\\xD0\xB0\xD0\x9D\xD0\xAF", true},  // Аня
      {"C:\\\xC3\x84rger", "c:\\\xC3\xA4rger", true},
      {"C:\\DCS", "C:\\DCS.openbeta", false},
      {"C:\\DCS", "D:\\DCS", false},
      {"\\\\Server\\Share", "\\\\server\\share", true},  // not local: compared as written, lower-cased
      {"\\\\server\\share", "\\\\server\\share\\", false},
  };
  for (const Case& c : cases) EXPECT_EQ(same_folder(Path(c.a), Path(c.b)), c.same) << c.a << " | " << c.b;
}

TEST(Normalise, IsTheLowerCasedAbsoluteForm) {
  EXPECT_EQ(normalise(Path("C:/Users/ANN/./Saved Games/")), "c:\\users\\ann\\saved games");
  EXPECT_EQ(normalise(Path("C:\\\xC4\xB0stanbul")), "c:\\i\xCC\x87stanbul");
  EXPECT_EQ(normalise(Path("")), "");
}

class ShowPath : public ::testing::Test {
 protected:
  ShowPath() {
    fake_.add_folder("C:\\Users\\Ann");
    fake_.set_known_folder(KnownFolder::Profile, "C:\\Users\\Ann");
  }
  std::string show(const char* path) { return show_path(*machine_.known_folders, Path(path)); }
  FakeMachine fake_;
  Machine machine_ = fake_.machine();
};

TEST_F(ShowPath, WritesALeadingProfileFolderAsUserProfile) {
  struct Case {
    const char* path;
    const char* shown;
  };
  const Case cases[] = {
      {"C:\\Users\\ann\\Saved Games\\DCS", "%USERPROFILE%\\Saved Games\\DCS"},
      {"c:\\USERS\\ANN", "%USERPROFILE%"},
      {"C:\\Users\\Ann\\", "%USERPROFILE%\\"},
      {"C:\\Users\\Anna\\x", "C:\\Users\\Anna\\x"},
      {"C:/Users/Ann/x", "C:/Users/Ann/x"},
      {"D:\\Users\\Ann\\x", "D:\\Users\\Ann\\x"},
      {"C:\\Users", "C:\\Users"},
  };
  for (const Case& c : cases) EXPECT_EQ(show(c.path), c.shown) << c.path;
}

TEST_F(ShowPath, IgnoresTrailingBackslashesOfTheProfile) {
  fake_.set_known_folder(KnownFolder::Profile, "C:\\Users\\Ann\\\\");
  EXPECT_EQ(show("C:\\Users\\Ann\\x"), "%USERPROFILE%\\x");
}

TEST_F(ShowPath, FoldsOnlyAsciiLetters) {
  fake_.add_folder("C:\\Users\\\xC3\x84nn");
  fake_.set_known_folder(KnownFolder::Profile, "C:\\Users\\\xC3\x84nn");
  EXPECT_EQ(show("C:\\users\\\xC3\x84nn\\x"), "%USERPROFILE%\\x");
  EXPECT_EQ(show("C:\\Users\\\xC3\xA4nn\\x"), "C:\\Users\\\xC3\xA4nn\\x");
}

TEST_F(ShowPath, WithoutAProfileShowsThePathUnchanged) {
  fake_.set_known_folder(KnownFolder::Profile, std::nullopt);
  EXPECT_EQ(show("C:\\Users\\Ann\\x"), "C:\\Users\\Ann\\x");
}

#ifndef _WIN32
// Natively there is no Windows working folder to resolve against.
TEST(LocalAbsolute, RelativePathsCannotBeMadeAbsoluteNatively) {
  for (const char* relative : {"Saved Games\\DCS", "C:DCS", "\\DCS"}) {
    std::expected<Path, AbsoluteError> got = local_absolute(Path(relative));
    ASSERT_FALSE(got) << relative;
    EXPECT_EQ(got.error().why, AbsoluteError::Why::CannotMakeAbsolute);
  }
}
#endif

}  // namespace
}  // namespace machine
