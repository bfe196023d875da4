#include "dcs/install/src/scan.hpp"

#include "dcs/install/tests/install_bed.hpp"

namespace install::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using machine::Path;
using machine::testing::Op;

std::string utf16le(std::string_view ascii) {
  std::string out("\xFF\xFE");
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

class Status : public InstallBed {
 protected:
  FolderStatus check() { return check_folder(machine_, Path(kDcs)); }
};

TEST_F(Status, AnEmptyFolderIsNotInstalledWithoutProblems) {
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::notInstalled);
  EXPECT_THAT(s.problems, IsEmpty());
  EXPECT_EQ(s.collector_version, std::nullopt);
  EXPECT_FALSE(s.collector);
  EXPECT_FALSE(s.map_marker);
  EXPECT_FALSE(s.bandit_tool);
}

TEST_F(Status, EverythingCurrentIsInstalledWithTheEmbeddedVersion) {
  put_current_files();
  put(kExport, "x = 1\n" + kHook + "\n");
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::installed);
  EXPECT_THAT(s.problems, IsEmpty());
  EXPECT_EQ(s.collector_version, 8u);
  EXPECT_TRUE(s.collector);
  EXPECT_TRUE(s.map_marker);
  EXPECT_TRUE(s.bandit_tool);
  // The add-ons are optional.
  fake_.remove(at(kBandit));
  fake_.remove(at("Scripts\\Tolvaro\\reticle"));
  s = check();
  EXPECT_EQ(s.status, InstallStatus::installed);
  EXPECT_FALSE(s.map_marker);
  EXPECT_FALSE(s.bandit_tool);
}

TEST_F(Status, AHookLineWithoutTheCollectorFileFailed) {
  put(kExport, kHook + "\r\n");
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::installFailed);
  EXPECT_THAT(s.problems, ElementsAre(shown(kCollector) + " is missing"));
}

TEST_F(Status, TheCollectorFileWithoutALineFailed) {
  put(kCollector, embedded::COLLECTOR_FILE.contents);
  put(kExport, "-- " + kHook + "\n");
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::installFailed);
  EXPECT_THAT(s.problems, ElementsAre(shown(kExport) + " has no collector line"));
  fake_.remove(at(kExport));
  EXPECT_EQ(check().status, InstallStatus::installFailed);
}

TEST_F(Status, AnOwnLineCountsAsInstalledWithANote) {
  put(kCollector, embedded::COLLECTOR_FILE.contents);
  put(kExport, "dofile(lfs.writedir() .. 'Scripts/Tolvaro/collectorScript.lua')\n");
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::installed);
  EXPECT_THAT(s.problems,
              ElementsAre(shown(kExport) +
                          " loads the collector with a line of its own; it counts as installed, \n"
                          "                         and remove leaves it in place"));
}

TEST_F(Status, APartialMapMarkerFailedEvenWhenEveryFileIsCurrent) {
  put_current_files();
  put(kExport, kHook);
  fake_.remove(at(kPromptDlg));
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::installFailed);
  EXPECT_TRUE(s.map_marker);
  EXPECT_THAT(s.problems, ElementsAre("only some of the map marker's files are there"));
}

TEST_F(Status, EditedOutranksEarlierAndUnreadableOutranksBoth) {
  put_current_files();
  put(kExport, kHook);
  put(kBandit, "-- my own bandits\n");
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::modified);
  EXPECT_THAT(s.problems, ElementsAre(shown(kBandit) + " was edited"));
  EXPECT_EQ(s.collector_version, 8u);

  fake_.fail({Op::read, at(kReticleDlg), machine::kErrorSharingViolation});
  s = check();
  EXPECT_EQ(s.status, InstallStatus::installFailed);
  EXPECT_THAT(s.problems,
              ElementsAre(shown(kReticleDlg) + " cannot be read: The process cannot access the file because it "
                                               "is being used by another process. (os error 32)",
                          shown(kBandit) + " was edited"));
  EXPECT_TRUE(s.map_marker);  // unreadable is not absent
}

TEST_F(Status, AnEditedCollectorGivesTheVersionItAssigns) {
  put_current_files();
  put(kExport, kHook);
  put(kCollector, "local COLLECTOR_VERSION = 6\n");
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::modified);
  EXPECT_EQ(s.collector_version, 6u);
  put(kCollector, "-- no version here\n");
  s = check();
  EXPECT_EQ(s.status, InstallStatus::modified);
  EXPECT_EQ(s.collector_version, std::nullopt);
  EXPECT_TRUE(s.collector);
}

TEST_F(Status, AnExportLuaThatCannotBeUsedFails) {
  put_current_files();
  put(kExport, utf16le(kHook));
  FolderStatus s = check();
  EXPECT_EQ(s.status, InstallStatus::installFailed);
  EXPECT_THAT(s.problems, ElementsAre(shown(kExport) + " cannot be checked: it is not saved as UTF-8 text (it "
                                                       "looks like UTF-16). Save it as UTF-8 in Notepad, then try again"));
  // Without the collector as well it is still a failed install, not a missing one.
  fake_.remove(at(kCollector));
  EXPECT_EQ(check().status, InstallStatus::installFailed);

  put(kExport, kHook);
  fake_.fail({Op::read, at(kExport), machine::kErrorAccessDenied});
  s = check();
  EXPECT_EQ(s.status, InstallStatus::installFailed);
  EXPECT_THAT(s.problems, ElementsAre(shown(kExport) + " cannot be read: Access is denied. (os error 5)"));
}

TEST(ScanRank, PrefersInstalledThenSuspectedModifiedOutdatedFailedNotInstalledNotFound) {
  const InstallStatus order[] = {InstallStatus::installed,     InstallStatus::wrongFolderSuspected,
                                 InstallStatus::modified,      InstallStatus::outdated,
                                 InstallStatus::installFailed, InstallStatus::notInstalled,
                                 InstallStatus::simulatorNotFound};
  for (std::uint8_t rank = 0; rank < 7; ++rank) EXPECT_EQ(scan_rank(order[rank]), rank) << int(rank);
}

class Scan : public InstallBed {
 protected:
  static constexpr const char* kBeta = "C:\\Users\\ann\\Saved Games\\DCS.openbeta";
  Scan() {
    fake_.add_folder("D:\\DCS Beta");
    fake_.add_file("D:\\DCS Beta\\dcs_variant.txt", "openbeta");
    fake_.set_registry(machine::RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World OpenBeta", "Path",
                       "D:\\DCS Beta");
  }
  void install_into(const std::string& folder) {
    fake_.add_file(folder + "\\" + kCollector, embedded::COLLECTOR_FILE.contents);
    fake_.add_file(folder + "\\" + kExport, kHook);
  }
};

TEST_F(Scan, NoFolderIsSimulatorNotFound) {
  fake_.remove_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path");
  fake_.remove_registry(machine::RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World OpenBeta", "Path");
  ScanResult r = scan(machine_);
  EXPECT_THAT(r.folders, IsEmpty());
  EXPECT_EQ(r.chosen, std::nullopt);
  EXPECT_EQ(r.status, InstallStatus::simulatorNotFound);
  EXPECT_EQ(r.collector_version, std::nullopt);
}

TEST_F(Scan, ChoosesTheBestFolderAndTheFirstOfEquals) {
  install_into(kBeta);
  fake_.add_file(std::string(kBeta) + "\\" + kBandit, "-- edited\n");
  ScanResult r = scan(machine_);
  ASSERT_EQ(r.folders.size(), 2u);
  EXPECT_EQ(r.folders[0].candidate.saved_games, Path(kDcs));
  EXPECT_EQ(r.folders[0].status.status, InstallStatus::notInstalled);
  EXPECT_EQ(r.folders[1].status.status, InstallStatus::modified);
  EXPECT_EQ(r.chosen, Path(kBeta));
  EXPECT_EQ(r.status, InstallStatus::modified);
  EXPECT_EQ(r.collector_version, 8u);
  EXPECT_TRUE(r.bandit_tool);
  EXPECT_FALSE(r.map_marker);

  fake_.add_file(std::string(kBeta) + "\\" + kBandit, embedded::BANDIT_TOOL_FILE.contents);
  install_into(kDcs);
  r = scan(machine_);
  EXPECT_EQ(r.folders[0].status.status, InstallStatus::installed);
  EXPECT_EQ(r.folders[1].status.status, InstallStatus::installed);
  EXPECT_EQ(r.chosen, Path(kDcs));
  EXPECT_FALSE(r.bandit_tool);
}

TEST_F(Scan, AHandPickedFolderIsTheOnlyOneChecked) {
  install_into(kBeta);
  fake_.add_folder("D:\\Games\\DCS\\Config");
  fake_.add_folder("D:\\Older\\Logs");
  fake_.add_file(std::string(kLocal) + "\\Tolvaro\\DcsBridge\\settings.json",
                 R"({"handPickedFolders": ["D:\\Older", "D:\\Games\\DCS"]})");
  fake_.clear_calls();
  ScanResult r = scan(machine_);
  ASSERT_EQ(r.folders.size(), 1u);
  EXPECT_EQ(r.folders[0].candidate.saved_games, Path("D:\\Games\\DCS"));
  EXPECT_EQ(r.chosen, Path("D:\\Games\\DCS"));
  EXPECT_EQ(r.status, InstallStatus::notInstalled);
  for (const machine::testing::Call& call : fake_.calls()) {
    EXPECT_FALSE(call.path.starts_with(kBeta)) << call.path;
    EXPECT_FALSE(call.path.starts_with(std::string(kDcs) + "\\")) << call.path;
  }
}

TEST_F(Scan, WritesNothing) {
  install_into(kDcs);
  put(kExport, kHook + "\n" + kHook + "\n");  // would be mended by an install
  fake_.clear_calls();
  scan(machine_);
  for (const machine::testing::Call& call : fake_.calls())
    EXPECT_TRUE(call.op == Op::read || call.op == Op::kind || call.op == Op::registry ||
                call.op == Op::known_folder)
        << call.path;
}

}  // namespace
}  // namespace install::testing
