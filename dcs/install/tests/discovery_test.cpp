#include <gmock/gmock.h>

#include "core/base/tests/log_capture.hpp"
#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace machine {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeMachine;
using testing::Fault;
using testing::Op;
using Entry = base::testing::LogCapture::Entry;

constexpr const char* kProfile = "C:\\Users\\ann";
constexpr const char* kSavedGames = "C:\\Users\\ann\\Saved Games";
constexpr const char* kEagle = "Software\\Eagle Dynamics\\DCS World";
constexpr const char* kEagleBeta = "Software\\Eagle Dynamics\\DCS World OpenBeta";
constexpr const char* kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DCS World_is1";

FolderCandidate candidate(const char* saved_games, std::optional<const char*> install) {
  return {Path(saved_games), install ? std::optional(Path(*install)) : std::nullopt};
}

class Discovery : public ::testing::Test {
 protected:
  Discovery() {
    install::testing::forget_logged_once();
    fake_.add_drive('D');
    fake_.add_drive('E');
    fake_.add_folder(kSavedGames);
    fake_.set_known_folder(KnownFolder::Profile, kProfile);
    fake_.set_known_folder(KnownFolder::SavedGames, kSavedGames);
  }

  void dcs_path(const char* subkey, const char* folder) {
    fake_.set_registry(RegistryRoot::CurrentUser, subkey, "Path", folder);
  }

  std::vector<FolderCandidate> discover(const std::vector<Path>& extras = {}) {
    return discover_folders(machine_, extras);
  }

  FakeMachine fake_;
  Machine machine_ = fake_.machine();
  base::testing::LogCapture log_;
};

TEST_F(Discovery, NothingInstalledGivesNoCandidateAndNoLine) {
  EXPECT_THAT(discover(), IsEmpty());
  EXPECT_THAT(log_.entries(), IsEmpty());
}

TEST_F(Discovery, WithoutSavedGamesOnlyExtrasAndOneWarningPerRun) {
  fake_.set_known_folder(KnownFolder::SavedGames, std::nullopt);
  fake_.add_folder("D:\\DCS");
  dcs_path(kEagle, "D:\\DCS");
  EXPECT_THAT(discover(), IsEmpty());
  EXPECT_THAT(discover({Path("E:\\Mine")}), ElementsAre(candidate("E:\\Mine", std::nullopt)));
  EXPECT_THAT(discover(), IsEmpty());
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"warn", "Windows did not say where Saved Games is, so no DCS install can be used"}));
  // Neither the registry nor any file was read.
  for (const testing::Call& call : fake_.calls())
    EXPECT_TRUE(call.op == Op::known_folder) << call.path;
}

TEST_F(Discovery, RegistryValueIsTrimmedAndItsSlashesTurned) {
  fake_.add_folder("D:\\Games\\DCS World");
  dcs_path(kEagle, " \t D:/Games/DCS World/ \xE3\x80\x80");
  EXPECT_THAT(discover(), ElementsAre(candidate("C:\\Users\\ann\\Saved Games\\DCS", "D:\\Games\\DCS World\\")));
}

TEST_F(Discovery, ARegistryValueThatIsEmptyOrNotAbsoluteCountsAsAbsent) {
  // A relative value would otherwise be looked up in the program's working folder.
  fake_.add_folder("D:\\DCS");
  dcs_path(kEagle, "   ");
  dcs_path(kEagleBeta, "DCS World OpenBeta");
  fake_.set_registry(RegistryRoot::LocalMachine, kUninstall, "InstallLocation", "");
  fake_.set_registry(RegistryRoot::CurrentUser, "Software\\Valve\\Steam", "SteamPath", "");
  fake_.set_registry(RegistryRoot::LocalMachine, "SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath", "D:\\Steam");
  fake_.add_file("D:\\Steam\\steamapps\\libraryfolders.vdf",
                 R"("libraryfolders" { "0" { "path" "D:\\Lib" "apps" { "223750" "1" } } })");
  fake_.add_folder("D:\\Lib\\steamapps\\common\\DCSWorld");
  EXPECT_THAT(discover(), ElementsAre(candidate("C:\\Users\\ann\\Saved Games\\DCS",
                                                "D:\\Lib\\steamapps\\common\\DCSWorld")));
  EXPECT_THAT(log_.entries(), IsEmpty());
}

TEST_F(Discovery, InstallationsComeInRegistryOrderThenSteamThenExtras) {
  fake_.add_file("D:\\Beta\\dcs_variant.txt", "openbeta");
  fake_.add_file("D:\\Release\\dcs_variant.txt", "release");
  fake_.add_file("D:\\Uninstall\\dcs_variant.txt", "uninstalled");
  fake_.add_folder("E:\\Lib\\steamapps\\common\\DCSWorld");
  dcs_path(kEagle, "D:\\Release");
  dcs_path(kEagleBeta, "D:\\Beta");
  fake_.set_registry(RegistryRoot::LocalMachine, kUninstall, "InstallLocation", "D:\\Uninstall");
  fake_.set_registry(RegistryRoot::CurrentUser, "Software\\Valve\\Steam", "SteamPath", "c:/program files (x86)/steam");
  fake_.add_file("C:\\Program Files (x86)\\Steam\\steamapps\\libraryfolders.vdf",
                 R"("libraryfolders" { "0" { "path" "E:/Lib" "apps" { "223750" "1" } } })");
  EXPECT_THAT(discover({Path("E:\\Extra"), Path("c:\\users\\ANN\\saved games\\dcs.openbeta\\")}),
              ElementsAre(candidate("C:\\Users\\ann\\Saved Games\\DCS.release", "D:\\Release"),
                          candidate("C:\\Users\\ann\\Saved Games\\DCS.openbeta", "D:\\Beta"),
                          candidate("C:\\Users\\ann\\Saved Games\\DCS.uninstalled", "D:\\Uninstall"),
                          candidate("C:\\Users\\ann\\Saved Games\\DCS", "E:\\Lib\\steamapps\\common\\DCSWorld"),
                          candidate("E:\\Extra", std::nullopt)));
}

TEST_F(Discovery, TwoInstallationsOfOneVariantGiveOneCandidateWithTheFirst) {
  fake_.add_folder("D:\\One");
  fake_.add_folder("D:\\Two");
  dcs_path(kEagle, "D:\\One");
  dcs_path(kEagleBeta, "D:\\Two");
  EXPECT_THAT(discover(), ElementsAre(candidate("C:\\Users\\ann\\Saved Games\\DCS", "D:\\One")));
}

TEST_F(Discovery, SteamFallsBackToTheMachineKeyAndJoinsWithOneSeparator) {
  for (const char* steam : {"D:\\Steam", "D:\\Steam\\"}) {
    fake_.clear_calls();
    fake_.set_registry(RegistryRoot::LocalMachine, "SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath", steam);
    discover();
    bool read_list = false;
    for (const testing::Call& call : fake_.calls())
      if (call.op == Op::read && call.path == "D:\\Steam\\steamapps\\libraryfolders.vdf") read_list = true;
    EXPECT_TRUE(read_list) << steam;
  }
}

TEST_F(Discovery, AGoneInstallationIsSkippedWithOneInfoLine) {
  dcs_path(kEagle, "C:\\Users\\ann\\Games\\DCS");
  discover();
  discover();
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"info", "skipping the DCS install at %USERPROFILE%\\Games\\DCS: the folder is gone"}));
}

TEST_F(Discovery, UnreadableSteamListIsWarnedOnce) {
  fake_.set_registry(RegistryRoot::CurrentUser, "Software\\Valve\\Steam", "SteamPath", "D:\\Steam");
  fake_.add_file("D:\\Steam\\steamapps\\libraryfolders.vdf", "x");
  fake_.fail({Op::read, "D:\\Steam\\steamapps\\libraryfolders.vdf", kErrorSharingViolation});
  EXPECT_THAT(discover(), IsEmpty());
  EXPECT_THAT(discover(), IsEmpty());
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"warn", "cannot read D:\\Steam\\steamapps\\libraryfolders.vdf: The process cannot "
                                        "access the file because it is being used by another process. (os error 32)"}));
}

class Variant : public Discovery {
 protected:
  std::optional<std::string> variant_of(std::optional<std::string> file) {
    fake_.remove("D:\\DCS");
    fake_.add_folder("D:\\DCS");
    if (file) fake_.add_file("D:\\DCS\\dcs_variant.txt", *file);
    std::optional<Path> got = install_variant(machine_, Path(kSavedGames), Path("D:\\DCS"));
    return got ? std::optional(got->text()) : std::nullopt;
  }
};

TEST_F(Variant, NamesTheSavedGamesFolderOrSkipsTheInstallation) {
  struct Case {
    std::optional<std::string> file;
    std::optional<std::string> folder;
  };
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {std::nullopt, "C:\\Users\\ann\\Saved Games\\DCS"},
      {"", "C:\\Users\\ann\\Saved Games\\DCS"},
      {" \r\n", "C:\\Users\\ann\\Saved Games\\DCS"},
      {"openbeta", "C:\\Users\\ann\\Saved Games\\DCS.openbeta"},
      {bom + "openbeta\r\n", "C:\\Users\\ann\\Saved Games\\DCS.openbeta"},
      {bom + bom + "\topenbeta", "C:\\Users\\ann\\Saved Games\\DCS.openbeta"},
      {"Open-Beta_2", "C:\\Users\\ann\\Saved Games\\DCS.Open-Beta_2"},
      {"DCS_SERVER", std::nullopt},
      {"dcs_serverRelease", std::nullopt},
      {"dcs_serveropenbeta", std::nullopt},
      {"dcs_server2", "C:\\Users\\ann\\Saved Games\\DCS.dcs_server2"},
      {"two words", std::nullopt},
      {"open.beta", std::nullopt},
      {"\xC3\xA9t\xC3\xA9", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(variant_of(c.file), c.folder) << c.file.value_or("(no file)");
}

TEST_F(Variant, SkippedInstallationsAreLoggedOnceWithTheirReason) {
  variant_of("DCS_SERVER");
  variant_of("two words");
  variant_of(std::string(100, 'x') + " y");
  variant_of("DCS_SERVER");
  const std::string long_word = std::string(80, 'x') + "...";
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"info", "skipping the DCS install at D:\\DCS: it is a dedicated server"},
                          Entry{"info", "skipping the DCS install at D:\\DCS: its dcs_variant.txt holds two "
                                        "words, which is not one plain word"},
                          Entry{"info", "skipping the DCS install at D:\\DCS: its dcs_variant.txt holds " +
                                            long_word + ", which is not one plain word"}));
}

TEST_F(Variant, AnUnreadableVariantFileSkipsTheInstallationWithAWarning) {
  fake_.fail({Op::read, "D:\\DCS\\dcs_variant.txt", kErrorAccessDenied});
  EXPECT_EQ(variant_of("openbeta"), std::nullopt);
  EXPECT_THAT(log_.entries(),
              ElementsAre(Entry{"warn", "skipping the DCS install at D:\\DCS: cannot read D:\\DCS\\dcs_variant.txt: "
                                        "Access is denied. (os error 5)"}));
}

TEST_F(Variant, AVariantFileInAFolderThatIsGoneCountsAsMissing) {
  // Windows answers 3, not 2, when the folder on the way is missing.
  std::optional<Path> got = install_variant(machine_, Path(kSavedGames), Path("D:\\Gone\\DCS"));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->text(), "C:\\Users\\ann\\Saved Games\\DCS");
  EXPECT_THAT(log_.entries(), IsEmpty());
}

class FolderKind : public Discovery {
 protected:
  std::expected<std::string, FolderCheckError> check(const char* path) {
    auto got = check_folder_kind(machine_, Path(path));
    if (!got) return std::unexpected(got.error());
    return got->text();
  }
};

TEST_F(FolderKind, TellsUsableFoldersFromEveryOtherKind) {
  using Kind = FolderCheckError::Kind;
  fake_.add_folder("C:\\Users\\ann\\Saved Games\\DCS\\Config");
  fake_.add_file("C:\\Users\\ann\\Saved Games\\DCS.openbeta\\Logs\\dcs.log", "");
  fake_.add_file("D:\\DCS World\\bin\\DCS.exe", "");
  fake_.add_file("D:\\DCS MT\\bin-mt\\DCS.exe", "");
  fake_.add_folder("D:\\Odd\\bin\\DCS.exe");
  fake_.add_folder("D:\\New");
  fake_.add_file("D:\\FileConfig\\Config", "");
  fake_.add_file("D:\\a.txt", "");
  struct Case {
    const char* path;
    std::expected<std::string, FolderCheckError> result;
  };
  const Case cases[] = {
      {"c:/users/ann/saved games/dcs/", "c:\\users\\ann\\saved games\\dcs"},
      {"C:\\Users\\ann\\Saved Games\\DCS.openbeta", "C:\\Users\\ann\\Saved Games\\DCS.openbeta"},
      {"\\\\nas\\games\\DCS", std::unexpected(FolderCheckError{Kind::NotLocal, Path("\\\\nas\\games\\DCS")})},
      {"", std::unexpected(FolderCheckError{Kind::CannotMakeAbsolute, Path("")})},
      {"D:\\Missing\\", std::unexpected(FolderCheckError{Kind::NotAFolder, Path("D:\\Missing")})},
      {"D:\\a.txt", std::unexpected(FolderCheckError{Kind::NotAFolder, Path("D:\\a.txt")})},
      {"D:\\DCS World", std::unexpected(FolderCheckError{Kind::ProgramFolder, Path("D:\\DCS World")})},
      {"D:\\DCS MT", std::unexpected(FolderCheckError{Kind::ProgramFolder, Path("D:\\DCS MT")})},
      {"D:\\Odd", std::unexpected(FolderCheckError{Kind::NeverWritten, Path("D:\\Odd")})},
      {"D:\\New", std::unexpected(FolderCheckError{Kind::NeverWritten, Path("D:\\New")})},
      {"D:\\FileConfig", std::unexpected(FolderCheckError{Kind::NeverWritten, Path("D:\\FileConfig")})},
  };
  for (const Case& c : cases) EXPECT_EQ(check(c.path), c.result) << c.path;
}

TEST(FolderCheckErrorText, KeepsThePathAsItStands) {
  using Kind = FolderCheckError::Kind;
  const Path p("C:\\Users\\ann\\x");
  EXPECT_EQ((FolderCheckError{Kind::NotLocal, Path("\\\\nas\\g")}).text(),
            "\\\\nas\\g, is not a folder on a local drive such as C:");
  EXPECT_EQ((FolderCheckError{Kind::CannotMakeAbsolute, Path("")}).text(), " cannot be made absolute");
  EXPECT_EQ((FolderCheckError{Kind::NotAFolder, p}).text(), "C:\\Users\\ann\\x is not a folder");
  EXPECT_EQ((FolderCheckError{Kind::ProgramFolder, p}).text(),
            "C:\\Users\\ann\\x is where DCS itself is installed. Pick the DCS folder under Saved Games instead, "
            "such as C:\\Users\\<you>\\Saved Games\\DCS: the one with Config and Logs folders in it.");
  EXPECT_EQ((FolderCheckError{Kind::NeverWritten, p}).text(),
            "C:\\Users\\ann\\x has no Config folder and no Logs\\dcs.log, so DCS has probably never written to "
            "it. The DCS folder under Saved Games is usually C:\\Users\\<you>\\Saved Games\\DCS.");
}

class HandPicked : public Discovery {
 protected:
  HandPicked() {
    fake_.add_folder("C:\\Users\\ann\\AppData\\Local");
    fake_.set_known_folder(KnownFolder::LocalAppData, "C:\\Users\\ann\\AppData\\Local");
  }
  void settings_file(const std::string& text) {
    fake_.add_file("C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge\\settings.json", text);
  }
};

TEST_F(HandPicked, KeepsUsableAndNeverWrittenFoldersInAbsoluteFormAndFileOrder) {
  fake_.add_folder("D:\\Games\\DCS\\Config");
  fake_.add_folder("D:\\Fresh");
  fake_.add_file("D:\\DCS World\\bin\\DCS.exe", "");
  settings_file(R"({"handPickedFolders": ["D:/Games/DCS/", "C:\\Users\\ann\\Gone", "D:\\Fresh",
                    "\\\\nas\\DCS", "D:\\DCS World", "D:\\Games\\DCS"]})");
  EXPECT_THAT(hand_picked_folders(machine_),
              ElementsAre(Path("D:\\Games\\DCS"), Path("D:\\Fresh"), Path("D:\\Games\\DCS")));
  hand_picked_folders(machine_);
  EXPECT_THAT(
      log_.entries(),
      ElementsAre(
          Entry{"warn", "ignoring a hand-picked folder from the settings file: %USERPROFILE%\\Gone is not a folder"},
          Entry{"warn", "ignoring a hand-picked folder from the settings file: \\\\nas\\DCS, is not a folder on a "
                        "local drive such as C:"},
          Entry{"warn", "ignoring a hand-picked folder from the settings file: D:\\DCS World is where DCS itself is "
                        "installed. Pick the DCS folder under Saved Games instead, such as C:\\Users\\<you>\\Saved "
                        "Games\\DCS: the one with Config and Logs folders in it."}));
}

TEST_F(HandPicked, WithoutSettingsThereAreNone) {
  EXPECT_THAT(hand_picked_folders(machine_), IsEmpty());
  EXPECT_THAT(log_.entries(), IsEmpty());
}

}  // namespace
}  // namespace machine
