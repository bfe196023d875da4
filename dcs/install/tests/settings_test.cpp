#include <gmock/gmock.h>

#include <thread>

#include "core/base/tests/log_capture.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace machine {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeMachine;
using testing::Op;
using Entry = base::testing::LogCapture::Entry;

// A text literal with its NUL bytes kept.
template <std::size_t N>
std::string bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

constexpr const char* kLocal = "C:\\Users\\ann\\AppData\\Local";
constexpr const char* kFile = "C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge\\settings.json";
constexpr const char* kShownFile = "%USERPROFILE%\\AppData\\Local\\Tolvaro\\DcsBridge\\settings.json";
constexpr const char* kLock = "C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge\\install.lock";

class Settings : public ::testing::Test {
 protected:
  Settings() {
    install::testing::forget_logged_once();
    fake_.add_drive('D');
    fake_.add_folder(kLocal);
    fake_.set_known_folder(KnownFolder::LocalAppData, kLocal);
    fake_.set_known_folder(KnownFolder::Profile, "C:\\Users\\ann");
  }
  std::vector<std::string> read_texts() {
    std::vector<std::string> texts;
    for (const Path& p : settings::read(machine_)) texts.push_back(p.text());
    return texts;
  }
  std::string remember(const char* folder) {
    auto got = settings::remember(machine_, Path(folder));
    EXPECT_TRUE(got) << folder;
    return got ? got->text() : "";
  }

  FakeMachine fake_;
  Machine machine_ = fake_.machine();
  base::testing::LogCapture log_;
};

TEST_F(Settings, PathsAreUnderLocalAppData) {
  EXPECT_EQ(settings::path(*machine_.known_folders), Path(kFile));
  EXPECT_EQ(install::lock_path(*machine_.known_folders), Path(kLock));
  fake_.set_known_folder(KnownFolder::LocalAppData, std::nullopt);
  EXPECT_EQ(settings::path(*machine_.known_folders), std::nullopt);
  EXPECT_EQ(install::lock_path(*machine_.known_folders), std::nullopt);
}

TEST_F(Settings, NoFileIsAnEmptyListWithoutALine) {
  EXPECT_THAT(read_texts(), IsEmpty());
  fake_.set_known_folder(KnownFolder::LocalAppData, std::nullopt);
  EXPECT_THAT(read_texts(), IsEmpty());
  EXPECT_THAT(log_.entries(), IsEmpty());
}

TEST_F(Settings, ReadsTheFoldersOfEitherKey) {
  struct Case {
    std::string text;
    std::vector<std::string> folders;
  };
  const Case cases[] = {
      {R"({"handPickedFolders": ["D:\\A", "d:/b ", "D:\\A"]})", {"D:\\A", "d:/b ", "D:\\A"}},
      {R"({"handPickedFolders": []})", {}},
      {R"({"savedGamesFolder": "D:\\Old"})", {"D:\\Old"}},
      {R"({"savedGamesFolder": "D:\\Old", "handPickedFolders": ["D:\\New"], "other": {"x": [1, 2]}})", {"D:\\New"}},
      {"\r\n\t {\"handPickedFolders\": [\"D:\\\\\xC3\xA4\"]} \r\n\t", {"D:\\\xC3\xA4"}},
  };
  for (const Case& c : cases) {
    fake_.add_file(kFile, c.text);
    EXPECT_EQ(read_texts(), c.folders) << c.text;
  }
  EXPECT_THAT(log_.entries(), IsEmpty());
}

TEST_F(Settings, AnythingElseIsNotASettingsFile) {
  const std::string texts[] = {
      R"({"handPickedFolders": ["D:\\A", 3]})",
      R"({"handPickedFolders": "D:\\A", "savedGamesFolder": "D:\\B"})",
      R"({"savedGamesFolder": 3})",
      R"({"other": "x"})",
      R"(["D:\\A"])",
      R"({"handPickedFolders": ["D:\\A"]} x)",
      R"({"handPickedFolders": ["D:\\A"]}{})",
      bytes("{\"handPickedFolders\": [\"D:\\\\A\"]}\0junk"),
      bytes("{\"handPickedFolders\": [\"D:\\\\\0A\"]}"),
      "\xEF\xBB\xBF{\"handPickedFolders\": []}",
      "{\"handPickedFolders\": [\"D:\\\\\xFF\"]}",
      R"({"handPickedFolders": ["D:\\A"])",
      "",
  };
  for (const std::string& text : texts) {
    log_.clear();
    install::testing::forget_logged_once();
    fake_.add_file(kFile, text);
    EXPECT_THAT(read_texts(), IsEmpty()) << text;
    EXPECT_THAT(log_.entries(),
                ElementsAre(Entry{"warn", std::string(kShownFile) +
                                              " is not a settings file this bridge reads, so no folder is picked"}))
        << text;
  }
}

TEST_F(Settings, ABadFileIsWarnedAboutOncePerRun) {
  fake_.add_file(kFile, R"({"handPickedFolders": [1]})");
  read_texts();
  read_texts();
  read_texts();
  EXPECT_EQ(log_.entries().size(), 1u);
}

TEST_F(Settings, DeepNestingElsewhereIsHarmless) {
  std::string deep = R"({"handPickedFolders": ["D:\\A"], "x": )" + std::string(100000, '[') +
                     std::string(100000, ']') + "}";
  fake_.add_file(kFile, deep);
  EXPECT_THAT(read_texts(), ElementsAre("D:\\A"));
}

TEST_F(Settings, AnUnreadableFileIsWarnedAboutOnce) {
  fake_.add_file(kFile, R"({"handPickedFolders": ["D:\\A"]})");
  fake_.fail({Op::read, kFile, kErrorSharingViolation});
  EXPECT_THAT(read_texts(), IsEmpty());
  EXPECT_THAT(read_texts(), IsEmpty());
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"warn", std::string("cannot read ") + kShownFile +
                                            ", so no folder is picked: The process cannot access the file because "
                                            "it is being used by another process. (os error 32)"}));
}

TEST_F(Settings, SerialisesWithTwoBlankIndentAndNoFinalLineBreak) {
  EXPECT_EQ(settings::serialise({}), "{\n  \"handPickedFolders\": []\n}");
  EXPECT_EQ(settings::serialise({Path("D:\\A"), Path("C:\\Users\\\xC3\xA4\\\"q\"")}),
            "{\n  \"handPickedFolders\": [\n    \"D:\\\\A\",\n    \"C:\\\\Users\\\\\xC3\xA4\\\\\\\"q\\\"\"\n  ]\n}");
  // Unpaired surrogates are written as U+FFFD.
  EXPECT_EQ(settings::serialise({Path(std::u16string{u'D', u':', u'\\', 0xDC00})}),
            "{\n  \"handPickedFolders\": [\n    \"D:\\\\\xEF\xBF\xBD\"\n  ]\n}");
}

TEST_F(Settings, RememberingReplacesTheOldKeyAndAddsTheFolderLast) {
  fake_.add_file(kFile, R"({"savedGamesFolder": "D:\\Old", "theme": "dark"})");
  EXPECT_EQ(remember("D:\\New"), kFile);
  EXPECT_EQ(fake_.file(kFile),
            "{\n  \"handPickedFolders\": [\n    \"D:\\\\Old\",\n    \"D:\\\\New\"\n  ]\n}");
  EXPECT_THAT(log_.entries(), IsEmpty());
}

TEST_F(Settings, RememberingCreatesTheSettingsFolder) {
  fake_.remove(kLocal);
  fake_.add_folder(kLocal);
  EXPECT_EQ(remember("D:\\A"), kFile);
  EXPECT_THAT(read_texts(), ElementsAre("D:\\A"));
}

TEST_F(Settings, RememberingAKnownFolderMovesItToTheEnd) {
  fake_.add_file(kFile, R"({"handPickedFolders": ["D:\\A", "D:\\B", "d:/a/", "D:\\C"]})");
  remember("D:\\a");
  EXPECT_THAT(read_texts(), ElementsAre("D:\\B", "D:\\C", "D:\\a"));
}

TEST_F(Settings, ANinthFolderPushesTheOldestOut) {
  fake_.add_file(kFile, settings::serialise({Path("C:\\Users\\ann\\Saved Games\\DCS.1"), Path("D:\\2"),
                                             Path("D:\\3"), Path("D:\\4"), Path("D:\\5"), Path("D:\\6"),
                                             Path("D:\\7"), Path("D:\\8")}));
  remember("D:\\9");
  EXPECT_THAT(read_texts(), ElementsAre("D:\\2", "D:\\3", "D:\\4", "D:\\5", "D:\\6", "D:\\7", "D:\\8", "D:\\9"));
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"info", "settings keep 8 hand-picked folders; forgetting the oldest, "
                                        "%USERPROFILE%\\Saved Games\\DCS.1"}));
  // Re-remembering one of the eight makes no room to drop.
  log_.clear();
  remember("D:\\5");
  EXPECT_THAT(read_texts(), ElementsAre("D:\\2", "D:\\3", "D:\\4", "D:\\6", "D:\\7", "D:\\8", "D:\\9", "D:\\5"));
  EXPECT_THAT(log_.entries(), IsEmpty());
}

TEST_F(Settings, AListLongerThanEightShrinksByOnePerUpdate) {
  std::vector<Path> ten;
  for (int i = 1; i <= 10; ++i) ten.emplace_back("D:\\" + std::to_string(i));
  fake_.add_file(kFile, settings::serialise(ten));
  remember("D:\\11");
  std::vector<std::string> left = read_texts();
  ASSERT_EQ(left.size(), 10u);
  EXPECT_EQ(left.front(), "D:\\2");
  EXPECT_EQ(left.back(), "D:\\11");
}

TEST_F(Settings, ABadFileIsReplacedByAGoodOne) {
  fake_.add_file(kFile, "not json");
  remember("D:\\A");
  EXPECT_THAT(read_texts(), ElementsAre("D:\\A"));
}

TEST_F(Settings, AFileThatCannotBeReadIsNeverOverwritten) {
  const std::string kept = R"({"handPickedFolders": ["D:\\Precious"]})";
  fake_.add_file(kFile, kept);
  fake_.fail({Op::read, kFile, kErrorSharingViolation, 1});
  auto got = settings::remember(machine_, Path("D:\\New"));
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind, settings::RememberError::Kind::Io);
  EXPECT_EQ(got.error().path, Path(kFile));
  EXPECT_EQ(got.error().error.code, kErrorSharingViolation);
  EXPECT_EQ(fake_.file(kFile), kept);
}

TEST_F(Settings, RememberWithoutLocalAppDataWritesNothing) {
  fake_.set_known_folder(KnownFolder::LocalAppData, std::nullopt);
  auto got = settings::remember(machine_, Path("D:\\A"));
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind, settings::RememberError::Kind::LocalAppDataUnknown);
  for (const testing::Call& call : fake_.calls())
    EXPECT_TRUE(call.op == Op::known_folder) << call.path;
}

TEST_F(Settings, RememberReportsTheFirstFailedStep) {
  fake_.fail({Op::create_dir, "C:\\Users\\ann\\AppData\\Local\\Tolvaro", kErrorAccessDenied, 1});
  auto create = settings::remember(machine_, Path("D:\\A"));
  ASSERT_FALSE(create);
  EXPECT_EQ(create.error().path, Path("C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge"));
  EXPECT_EQ(create.error().error.code, kErrorAccessDenied);

  fake_.fail({Op::write_atomic_move, kFile, kErrorAccessDenied, 1});
  auto write = settings::remember(machine_, Path("D:\\A"));
  ASSERT_FALSE(write);
  EXPECT_EQ(write.error().kind, settings::RememberError::Kind::Io);
  EXPECT_EQ(write.error().path, Path(kFile));
  EXPECT_EQ(fake_.kind(kFile), PathKind::Missing);
}

TEST_F(Settings, TheLockExcludesASecondRunUntilDropped) {
  Machine other = fake_.machine();
  {
    auto first = install::acquire_lock(machine_);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->held());
    auto second = install::acquire_lock(other);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind, install::LockError::Kind::Held);
    EXPECT_EQ(second.error().path, Path(kLock));
  }
  auto again = install::acquire_lock(other);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->held());
  EXPECT_EQ(fake_.file(kLock), "");
}

TEST_F(Settings, OtherLockFailuresAreFileErrors) {
  fake_.fail({Op::lock, kLock, kErrorAccessDenied, 1});
  auto got = install::acquire_lock(machine_);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind, install::LockError::Kind::Failed);
  EXPECT_EQ(got.error().path, Path(kLock));
  EXPECT_EQ(got.error().error.code, kErrorAccessDenied);
}

TEST_F(Settings, WithoutLocalAppDataRunsUnlockedAndWarnsEveryTime) {
  fake_.set_known_folder(KnownFolder::LocalAppData, std::nullopt);
  for (int i = 0; i < 2; ++i) {
    auto got = install::acquire_lock(machine_);
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->held());
  }
  const Entry warning{"warn", "Windows did not say where local app data is; running without the install lock"};
  EXPECT_THAT(log_.entries(), ElementsAre(warning, warning));
}

TEST(LogOnce, LogsEachTextOnceWhicheverThreadAsks) {
  install::testing::forget_logged_once();
  base::testing::LogCapture log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i) {
        install::log_once(base::Level::Warn, "repeating problem");
        install::log_once(base::Level::Info, "problem " + std::to_string(i % 3));
      }
    });
  for (std::thread& t : threads) t.join();
  std::vector<Entry> entries = log.entries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(), Entry{"warn", "repeating problem"}), 1);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(std::count(entries.begin(), entries.end(), Entry{"info", "problem " + std::to_string(i)}), 1);
  EXPECT_EQ(entries.size(), 4u);
}

}  // namespace
}  // namespace machine
