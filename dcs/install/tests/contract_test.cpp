#include <gmock/gmock.h>

#include <algorithm>

#include "dcs/install/src/unicode.hpp"
#include "dcs/install/tests/contract.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace machine::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::Optional;
using ::testing::UnorderedElementsAre;

std::optional<std::string> bytes_of(const ReadOutcome& outcome) {
  if (const auto* b = std::get_if<Bytes>(&outcome)) return *b;
  return std::nullopt;
}

std::optional<std::uint32_t> code_of(const ReadOutcome& outcome) {
  if (const auto* e = std::get_if<IoError>(&outcome)) return e->code;
  return std::nullopt;
}

// The last names of listed paths, checking that each is the folder joined with its name.
std::vector<std::string> names_in(const std::vector<Path>& listed, const Path& folder) {
  std::vector<std::string> names;
  const std::string prefix = folder.text() + "\\";
  for (const Path& p : listed) {
    std::string text = p.text();
    EXPECT_TRUE(text.starts_with(prefix)) << text;
    names.push_back(text.substr(std::min(prefix.size(), text.size())));
  }
  return names;
}

void write(const FileSystem& files, const Path& path, std::string_view bytes) {
  ASSERT_TRUE(files.write_atomic(path, bytes).has_value()) << path.text();
}

TEST_P(MachineContract, KindTellsFilesFoldersAndEverythingElseApart) {
  write(files(), at("file.txt"), "x");
  ASSERT_TRUE(files().create_dir_all(at("folder")));
  EXPECT_EQ(files().kind(at("file.txt")), PathKind::File);
  EXPECT_EQ(files().kind(at("folder")), PathKind::Folder);
  EXPECT_EQ(files().kind(root_), PathKind::Folder);
  EXPECT_EQ(files().kind(at("absent")), PathKind::Missing);
  EXPECT_EQ(files().kind(at("absent\\deeper")), PathKind::Missing);
  EXPECT_EQ(files().kind(at("file.txt\\below")), PathKind::Missing);
  EXPECT_EQ(files().kind(Path()), PathKind::Missing);
}

TEST_P(MachineContract, ReadGivesBytesMissingOrFailed) {
  const std::string binary("a\r\nb\0c\xff", 7);
  write(files(), at("data.bin"), binary);
  ASSERT_TRUE(files().create_dir_all(at("folder")));
  EXPECT_THAT(bytes_of(files().read(at("data.bin"))), Optional(binary));
  // Windows says 2 for a missing file and 3 when its folder is missing too: both are Missing.
  EXPECT_TRUE(std::holds_alternative<Missing>(files().read(at("absent.txt"))));
  EXPECT_TRUE(std::holds_alternative<Missing>(files().read(at("absent\\file.txt"))));
  EXPECT_TRUE(std::holds_alternative<Missing>(files().read(Path())));
  EXPECT_THAT(code_of(files().read(at("folder"))), Optional(kErrorAccessDenied));
  write(files(), at("empty.txt"), "");
  EXPECT_THAT(bytes_of(files().read(at("empty.txt"))), Optional(std::string()));
}

TEST_P(MachineContract, NamesCompareWithoutCaseAndKeepTheirWrittenCase) {
  write(files(), at("MixedCase.Lua"), "one");
  EXPECT_THAT(bytes_of(files().read(at("mixedcase.LUA"))), Optional(std::string("one")));
  write(files(), at("MIXEDCASE.lua"), "two");
  EXPECT_THAT(bytes_of(files().read(at("MixedCase.Lua"))), Optional(std::string("two")));
  auto listed = files().list_dir(root_);
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->size(), 1u);
  // Beyond ASCII too.
  write(files(), at("\xC3\x84pfel.txt"), "fruit");  // "Äpfel.txt"
  EXPECT_THAT(bytes_of(files().read(at("\xC3\xA4PFEL.TXT"))), Optional(std::string("fruit")));
  ASSERT_TRUE(files().create_dir_all(at("Scripts\\Tolvaro")));
  listed = files().list_dir(root_);
  ASSERT_TRUE(listed);
  EXPECT_THAT(names_in(*listed, root_), ::testing::Contains("Scripts"));
  EXPECT_THAT(names_in(*listed, root_), ::testing::Contains("\xC3\x84pfel.txt"));
}

TEST_P(MachineContract, BothSeparatorsDotsAndRepeatedSeparatorsWork) {
  ASSERT_TRUE(files().create_dir_all(at("a/b")));
  write(files(), at("a\\b\\x.txt"), "x");
  const std::string slashed = root_.text() + "/a//b/./x.txt";
  EXPECT_THAT(bytes_of(files().read(Path(slashed))), Optional(std::string("x")));
  EXPECT_THAT(bytes_of(files().read(at("a\\b\\..\\b\\x.txt"))), Optional(std::string("x")));
  EXPECT_EQ(files().kind(at("a\\b\\")), PathKind::Folder);
}

TEST_P(MachineContract, CreateDirAllMakesEveryMissingParentAndAcceptsAFolder) {
  ASSERT_TRUE(files().create_dir_all(at("one\\two\\three")));
  EXPECT_EQ(files().kind(at("one\\two\\three")), PathKind::Folder);
  EXPECT_TRUE(files().create_dir_all(at("one\\two")));
  EXPECT_TRUE(files().create_dir_all(root_));
  write(files(), at("plain"), "");
  auto over_file = files().create_dir_all(at("plain"));
  ASSERT_FALSE(over_file);
  EXPECT_EQ(over_file.error().code, kErrorAlreadyExists);
  // The file on the way is what cannot be made.
  auto below_file = files().create_dir_all(at("plain\\below"));
  ASSERT_FALSE(below_file);
  EXPECT_EQ(below_file.error().code, kErrorAlreadyExists);
}

TEST_P(MachineContract, WriteAtomicReplacesTheTargetAndLeavesNoTemporaryFile) {
  write(files(), at("x.lua"), "old and long");
  write(files(), at("x.lua"), "new");
  EXPECT_THAT(bytes_of(files().read(at("x.lua"))), Optional(std::string("new")));
  EXPECT_EQ(files().kind(at("x.lua.tolvaro-new")), PathKind::Missing);
  auto listed = files().list_dir(root_);
  ASSERT_TRUE(listed);
  EXPECT_THAT(names_in(*listed, root_), ElementsAre("x.lua"));
}

TEST_P(MachineContract, WriteAtomicIntoAMissingFolderFailsAsNotFoundNamingTheTemporaryFile) {
  auto written = files().write_atomic(at("absent\\x.lua"), "x");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().code, kErrorPathNotFound);
  EXPECT_TRUE(written.error().is_not_found());
  EXPECT_THAT(written.error().text,
              EndsWith(" (os error 3) (writing through " + at("absent\\x.lua.tolvaro-new").text() + ")"));
}

TEST_P(MachineContract, WriteAtomicOverAReadOnlyTargetFailsAndKeepsIt) {
  if (!bed_->refuses_writes_to_read_only()) GTEST_SKIP() << "this machine writes read-only files";
  write(files(), at("locked.lua"), "old");
  bed_->set_read_only(at("locked.lua"), true);
  auto written = files().write_atomic(at("locked.lua"), "new");
  bed_->set_read_only(at("locked.lua"), false);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().code, kErrorAccessDenied);
  EXPECT_THAT(written.error().text,
              EndsWith(" (writing through " + at("locked.lua.tolvaro-new").text() + ")"));
  EXPECT_THAT(bytes_of(files().read(at("locked.lua"))), Optional(std::string("old")));
  EXPECT_EQ(files().kind(at("locked.lua.tolvaro-new")), PathKind::Missing);
}

TEST_P(MachineContract, WriteNewCreatesAFileAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(files().write_new(at("Export.lua.Tolvaro-backup"), std::string("a\r\n\xE9\0", 5)));
  EXPECT_THAT(bytes_of(files().read(at("Export.lua.Tolvaro-backup"))), Optional(std::string("a\r\n\xE9\0", 5)));
  ASSERT_TRUE(files().write_new(at("empty"), ""));
  EXPECT_THAT(bytes_of(files().read(at("empty"))), Optional(std::string()));
  auto listed = files().list_dir(root_);
  ASSERT_TRUE(listed);
  EXPECT_THAT(names_in(*listed, root_), UnorderedElementsAre("Export.lua.Tolvaro-backup", "empty"));
}

TEST_P(MachineContract, WriteNewNeverReplacesAFileOrAFolder) {
  write(files(), at("backup"), "the user's first text");
  auto over_file = files().write_new(at("BACKUP"), "later text");
  ASSERT_FALSE(over_file);
  EXPECT_EQ(over_file.error().code, kErrorAlreadyExists);
  EXPECT_THAT(over_file.error().text, EndsWith(" (writing through " + at("BACKUP.tolvaro-new").text() + ")"));
  EXPECT_THAT(bytes_of(files().read(at("backup"))), Optional(std::string("the user's first text")));
  ASSERT_TRUE(files().create_dir_all(at("folder")));
  write(files(), at("folder\\inside"), "x");
  auto over_folder = files().write_new(at("folder"), "text");
  ASSERT_FALSE(over_folder);
  EXPECT_EQ(files().kind(at("folder")), PathKind::Folder);
  EXPECT_THAT(bytes_of(files().read(at("folder\\inside"))), Optional(std::string("x")));
  auto listed = files().list_dir(root_);
  ASSERT_TRUE(listed);
  EXPECT_THAT(names_in(*listed, root_), UnorderedElementsAre("backup", "folder"));
  auto missing_folder = files().write_new(at("absent\\x"), "x");
  ASSERT_FALSE(missing_folder);
  EXPECT_TRUE(missing_folder.error().is_not_found());
}

TEST_P(MachineContract, WriteInPlaceCreatesOverwritesAndCutsTheTail) {
  ASSERT_TRUE(files().write_in_place(at("Export.lua"), "a much longer first text"));
  ASSERT_TRUE(files().write_in_place(at("Export.lua"), "short"));
  EXPECT_THAT(bytes_of(files().read(at("Export.lua"))), Optional(std::string("short")));
  ASSERT_TRUE(files().write_in_place(at("Export.lua"), ""));
  EXPECT_THAT(bytes_of(files().read(at("Export.lua"))), Optional(std::string()));
  auto missing_folder = files().write_in_place(at("absent\\Export.lua"), "x");
  ASSERT_FALSE(missing_folder);
  EXPECT_EQ(missing_folder.error().code, kErrorPathNotFound);
  ASSERT_TRUE(files().create_dir_all(at("Scripts")));
  auto over_folder = files().write_in_place(at("Scripts"), "x");
  ASSERT_FALSE(over_folder);
  EXPECT_EQ(over_folder.error().code, kErrorAccessDenied);
}

TEST_P(MachineContract, WriteInPlaceRefusesAReadOnlyFile) {
  if (!bed_->refuses_writes_to_read_only()) GTEST_SKIP() << "this machine writes read-only files";
  write(files(), at("Export.lua"), "keep");
  bed_->set_read_only(at("Export.lua"), true);
  auto written = files().write_in_place(at("Export.lua"), "x");
  bed_->set_read_only(at("Export.lua"), false);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().code, kErrorAccessDenied);
  EXPECT_THAT(bytes_of(files().read(at("Export.lua"))), Optional(std::string("keep")));
}

TEST_P(MachineContract, IsReadOnlyReportsTheAttribute) {
  write(files(), at("f.lua"), "x");
  EXPECT_EQ(files().is_read_only(at("f.lua")), false);
  bed_->set_read_only(at("f.lua"), true);
  EXPECT_EQ(files().is_read_only(at("F.LUA")), true);
  bed_->set_read_only(at("f.lua"), false);
  EXPECT_EQ(files().is_read_only(at("f.lua")), false);
  auto absent = files().is_read_only(at("absent.lua"));
  ASSERT_FALSE(absent);
  EXPECT_TRUE(absent.error().is_not_found());
}

TEST_P(MachineContract, RemoveFileOfSomethingAbsentSucceeds) {
  EXPECT_TRUE(files().remove_file(at("absent.lua")));
  EXPECT_TRUE(files().remove_file(at("absent\\deeper.lua")));
  write(files(), at("f.lua"), "x");
  ASSERT_TRUE(files().remove_file(at("F.lua")));
  EXPECT_EQ(files().kind(at("f.lua")), PathKind::Missing);
}

TEST_P(MachineContract, RemoveFileRefusesReadOnlyFilesAndFolders) {
  write(files(), at("f.lua"), "x");
  bed_->set_read_only(at("f.lua"), true);
  auto removed = files().remove_file(at("f.lua"));
  bed_->set_read_only(at("f.lua"), false);
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().code, kErrorAccessDenied);
  EXPECT_EQ(files().kind(at("f.lua")), PathKind::File);
  ASSERT_TRUE(files().create_dir_all(at("folder")));
  auto folder = files().remove_file(at("folder"));
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().code, kErrorAccessDenied);
  EXPECT_EQ(files().kind(at("folder")), PathKind::Folder);
}

TEST_P(MachineContract, ListDirGivesEveryEntryJoinedToTheFolder) {
  auto absent = files().list_dir(at("absent"));
  ASSERT_TRUE(absent);
  EXPECT_THAT(*absent, IsEmpty());
  ASSERT_TRUE(files().create_dir_all(at("empty")));
  auto empty = files().list_dir(at("empty"));
  ASSERT_TRUE(empty);
  EXPECT_THAT(*empty, IsEmpty());
  ASSERT_TRUE(files().create_dir_all(at("full\\Sub")));
  write(files(), at("full\\One.lua"), "1");
  write(files(), at("full\\two.png"), "2");
  auto full = files().list_dir(at("full"));
  ASSERT_TRUE(full);
  EXPECT_THAT(names_in(*full, at("full")), UnorderedElementsAre("Sub", "One.lua", "two.png"));
  write(files(), at("plain.txt"), "x");
  // Windows says 267, Wine 123; what matters is that a file is not an empty folder.
  auto file = files().list_dir(at("plain.txt"));
  ASSERT_FALSE(file);
  EXPECT_FALSE(file.error().is_not_found());
}

TEST_P(MachineContract, RemoveDirRemovesOnlyEmptyFolders) {
  EXPECT_TRUE(files().remove_dir(at("absent")));
  ASSERT_TRUE(files().create_dir_all(at("reticle")));
  write(files(), at("reticle\\mine.txt"), "user's");
  auto full = files().remove_dir(at("reticle"));
  ASSERT_FALSE(full);
  EXPECT_EQ(full.error().code, kErrorDirNotEmpty);
  EXPECT_EQ(files().kind(at("reticle\\mine.txt")), PathKind::File);
  ASSERT_TRUE(files().remove_file(at("reticle\\mine.txt")));
  ASSERT_TRUE(files().remove_dir(at("RETICLE")));
  EXPECT_EQ(files().kind(at("reticle")), PathKind::Missing);
  write(files(), at("plain.txt"), "x");
  auto file = files().remove_dir(at("plain.txt"));
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().code, kErrorDirectory);
  EXPECT_EQ(files().kind(at("plain.txt")), PathKind::File);
}

TEST_P(MachineContract, ALockExcludesEveryOtherOpeningUntilItIsDropped) {
  Machine other = bed_->machine();
  const Path lock_file = at("Tolvaro\\DcsBridge\\install.lock");
  {
    auto first = files().lock(lock_file);
    ASSERT_TRUE(first) << first.error().text;
    EXPECT_EQ(files().kind(lock_file), PathKind::File);
    auto second = other.files->lock(at("TOLVARO\\dcsbridge\\Install.Lock"));
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().code, kErrorSharingViolation);
    EXPECT_THAT(code_of(other.files->read(lock_file)), Optional(kErrorSharingViolation));
  }
  auto again = other.files->lock(lock_file);
  ASSERT_TRUE(again) << again.error().text;
  EXPECT_EQ(files().kind(lock_file), PathKind::File);
}

TEST_P(MachineContract, ALockLeavesTheFileAsItWas) {
  write(files(), at("install.lock"), "left by someone");
  {
    auto held = files().lock(at("install.lock"));
    ASSERT_TRUE(held);
  }
  EXPECT_THAT(bytes_of(files().read(at("install.lock"))), Optional(std::string("left by someone")));
  { auto fresh = files().lock(at("new.lock")); }
  EXPECT_THAT(bytes_of(files().read(at("new.lock"))), Optional(std::string()));
}

TEST_P(MachineContract, ModifiedTimeOfFilesOnly) {
  ASSERT_TRUE(files().create_dir_all(at("Logs")));
  write(files(), at("Logs\\dcs.log"), "x");
  EXPECT_TRUE(files().modified_time(at("Logs\\dcs.log")).has_value());
  EXPECT_FALSE(files().modified_time(at("Logs\\absent.log")).has_value());
  EXPECT_FALSE(files().modified_time(at("absent\\dcs.log")).has_value());
}

std::string utf16le(std::u16string_view units) {
  std::string out;
  for (char16_t u : units) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

TEST_P(MachineContract, RegistryStringsOfEveryAcceptedType) {
  const std::string key = bed_->registry_scratch_key();
  bed_->set_registry_raw(key, "Sz", kRegSz, utf16le(std::u16string(u"D:\\DCS World\0\0", 14)));
  bed_->set_registry_raw(key, "Expand", kRegExpandSz, utf16le(std::u16string(u"%ProgramFiles%\\DCS\0", 19)));
  bed_->set_registry_raw(key, "Multi", kRegMultiSz, utf16le(std::u16string(u"one\0two\0\0", 9)));
  bed_->set_registry_raw(key, "Number", kRegDword, std::string("\x01\0\0\0", 4));
  bed_->set_registry_raw(key, "Lone", kRegSz, utf16le(std::u16string(u"a\xD800" u"b\0", 4)));
  const RegistryReader& registry = *machine_.registry;
  const auto hkcu = RegistryRoot::CurrentUser;
  EXPECT_THAT(registry.read_string(hkcu, key, "Sz"), Optional(std::string("D:\\DCS World")));
  EXPECT_THAT(registry.read_string(hkcu, key, "sz"), Optional(std::string("D:\\DCS World")));
  EXPECT_THAT(registry.read_string(hkcu, key, "Expand"), Optional(std::string("%ProgramFiles%\\DCS")));
  EXPECT_THAT(registry.read_string(hkcu, key, "Multi"), Optional(std::string("one\ntwo")));
  EXPECT_THAT(registry.read_string(hkcu, key, "Lone"), Optional(std::string("a\xEF\xBF\xBD" "b")));
  EXPECT_EQ(registry.read_string(hkcu, key, "Number"), std::nullopt);
  EXPECT_EQ(registry.read_string(hkcu, key, "Absent"), std::nullopt);
  EXPECT_EQ(registry.read_string(hkcu, key + "\\Absent", "Sz"), std::nullopt);
}

TEST_P(MachineContract, RegistryStringLongerThanTheFirstBuffer) {
  const std::string key = bed_->registry_scratch_key();
  std::u16string long_text(1500, u'x');
  long_text += u'\0';
  bed_->set_registry_raw(key, "Long", kRegSz, utf16le(long_text));
  EXPECT_THAT(machine_.registry->read_string(RegistryRoot::CurrentUser, key, "Long"),
              Optional(std::string(1500, 'x')));
}

TEST_P(MachineContract, SavedGamesIsGivenOnlyWhileItsFolderExists) {
  ASSERT_TRUE(files().create_dir_all(at("Saved Games")));
  bed_->set_saved_games(at("Saved Games"));
  std::optional<Path> given = machine_.known_folders->saved_games();
  ASSERT_TRUE(given.has_value());
  EXPECT_TRUE(same_folder(*given, at("Saved Games"))) << given->text();
  bed_->set_saved_games(at("Gone Games"));
  EXPECT_EQ(machine_.known_folders->saved_games(), std::nullopt);
}

TEST_P(MachineContract, ProcessNamesCompareWithoutAsciiCase) {
  const std::string name = bed_->running_process();
  const ProcessList& processes = *machine_.processes;
  EXPECT_TRUE(processes.is_running(name));
  EXPECT_TRUE(processes.is_running(ascii_lower(name)));
  std::string upper = name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  EXPECT_TRUE(processes.is_running(upper));
  EXPECT_FALSE(processes.is_running(name.substr(0, name.size() - 1)));
  EXPECT_FALSE(processes.is_running(name + "x"));
}

}  // namespace
}  // namespace machine::testing
