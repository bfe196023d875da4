#include "dcs/install/src/export_file.hpp"
#include "dcs/install/src/scan.hpp"
#include "dcs/install/tests/install_bed.hpp"

namespace install::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;
using machine::Path;
using machine::testing::Fault;
using machine::testing::Op;
using Entry = base::testing::LogCapture::Entry;

const std::string kAccessDenied = "Access is denied. (os error 5)";

std::string utf16le(std::string_view ascii) {
  std::string out("\xFF\xFE");
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// The lines of a full install into a folder that holds none of the program's files.
std::vector<std::string> fresh_install_lines() {
  return {"wrote      " + InstallBed::shown(kCollector),  "wrote      " + InstallBed::shown(kReticle),
          "wrote      " + InstallBed::shown(kReticleDlg), "wrote      " + InstallBed::shown(kPromptDlg),
          "wrote      " + InstallBed::shown(kReticlePng), "wrote      " + InstallBed::shown(kBandit)};
}

class Install : public InstallBed {};

TEST_F(Install, InstallThenRemoveGivesBackEveryExportLuaByteForByte) {
  const std::optional<std::string> texts[] = {
      std::nullopt,
      "",
      "function LuaExportStart() end\n",
      "local a = 1\r\nlocal b = 2\r\n",
      "local a = 1",
      "local a = 1\r\nlocal b = 2",
      "local a = 1\nlocal b = 2\r",  // the last CR is the user's, not half of a line end of ours
      "\n\r",
      "\xEF\xBB\xBF-- with a byte order mark\n",
      "\xEF\xBB\xBF",
      "-- caf\xE9, Stra\xDF" "e, \xA9 1999\r\n-- \xFC",
      "-- " + kHook + "\nlocal s = [[\n" + kHook + "\n]]\n",
  };
  for (const std::optional<std::string>& text : texts) {
    SCOPED_TRACE(text ? ::testing::PrintToString(*text) : "no Export.lua");
    fake_.remove(at("Scripts"));
    if (text) put(kExport, *text);
    const auto before = dcs_files();

    ASSERT_TRUE(install()) << "install";
    EXPECT_EQ(check_folder(machine_, Path(kDcs)).status, InstallStatus::installed);
    ASSERT_TRUE(remove()) << "remove";

    EXPECT_EQ(file(kExport), text);
    std::vector<std::pair<std::string, std::string>> expected = before;
    if (text) expected.emplace_back(at(kBackup), *text);  // the one-time backup stays
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dcs_files(), expected);
    EXPECT_EQ(fake_.kind(at("Scripts\\Tolvaro")), machine::PathKind::Missing);
  }
}

TEST_F(Install, AFreshInstallReportsEveryStep) {
  put(kExport, "x = 1\n");
  auto report = install();
  ASSERT_TRUE(report) << report.error().text();
  std::vector<std::string> expected = fresh_install_lines();
  expected.push_back("backed up  " + shown(kExport) + " to " + shown(kBackup));
  expected.push_back("added      the collector line to " + shown(kExport));
  EXPECT_EQ(lines_, expected);
  EXPECT_EQ(report->folder, Path(kDcs));
  EXPECT_EQ(report->steps.size(), expected.size());
  EXPECT_EQ(report->steps.back(), (Step{Step::Kind::AddedLine, Path(at(kExport)), std::nullopt}));
  EXPECT_FALSE(report->remembered.has_value());  // discovery finds the folder
  EXPECT_EQ(file(kExport), "x = 1\n" + kHook + "\n");
  EXPECT_EQ(file(kBackup), "x = 1\n");
  EXPECT_EQ(file(kMarker), std::nullopt);
  EXPECT_EQ(file(kCollector), std::string(embedded::COLLECTOR_FILE.contents));
  EXPECT_EQ(file(kReticlePng), std::string(embedded::MAP_MARKER_FILES[3].contents));
  EXPECT_FALSE(fake_.is_locked(Path(std::string(kLocal) + "\\Tolvaro\\DcsBridge\\install.lock")));

  lines_.clear();
  ASSERT_TRUE(remove());
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        "removed    the collector line from " + shown(kExport),
                        "removed    " + shown(kCollector),
                        "removed    " + shown(kBandit),
                        "removed    " + shown(kReticle),
                        "removed    " + shown(kReticleDlg),
                        "removed    " + shown(kPromptDlg),
                        "removed    " + shown(kReticlePng),
                        "removed    " + shown("Scripts\\Tolvaro\\reticle"),
                        "removed    " + shown("Scripts\\Tolvaro"),
                    }));
}

TEST_F(Install, AnInstallWithoutExportLuaCreatesItAndTheMarker) {
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_, (std::vector<std::string>{"wrote      " + shown(kCollector),
                                              "added      the collector line to " + shown(kExport)}));
  EXPECT_EQ(file(kExport), kHook + "\r\n");
  EXPECT_EQ(file(kMarker), "");
  EXPECT_EQ(file(kBackup), std::nullopt);

  // Removed again, the file goes with its marker; with lines of the user's, only the marker goes.
  lines_.clear();
  ASSERT_TRUE(remove());
  EXPECT_EQ(lines_, (std::vector<std::string>{"removed    " + shown(kExport), "removed    " + shown(kCollector),
                                              "removed    " + shown("Scripts\\Tolvaro")}));
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  put(kExport, *file(kExport) + "my_tool = 1\r\n");
  lines_.clear();
  ASSERT_TRUE(remove());
  EXPECT_EQ(file(kExport), "my_tool = 1\r\n");
  EXPECT_EQ(file(kMarker), std::nullopt);
  EXPECT_EQ(lines_[0], "backed up  " + shown(kExport) + " to " + shown(kBackup));
  EXPECT_EQ(lines_[1], "removed    the collector line from " + shown(kExport));
}

TEST_F(Install, EverythingCurrentIsReportedUnchangedAndNothingIsWritten) {
  put_current_files();
  put(kExport, "a\n" + kHook + "\n");
  fake_.clear_calls();
  ASSERT_TRUE(install());
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        "unchanged  " + shown(kCollector), "unchanged  " + shown(kReticle),
                        "unchanged  " + shown(kReticleDlg), "unchanged  " + shown(kPromptDlg),
                        "unchanged  " + shown(kReticlePng), "unchanged  " + shown(kBandit),
                        "unchanged  " + shown(kExport)}));
  EXPECT_FALSE(wrote_in_dcs_folder());
  // Leaving the add-ons as they are touches none of their files.
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_, (std::vector<std::string>{"unchanged  " + shown(kCollector), "unchanged  " + shown(kExport)}));
}

TEST_F(Install, ExtraCopiesOfTheHookLineGoAndHandWrittenSpellingsCountAsOurs) {
  const std::string single = "dofile(require('lfs').writedir()..'Scripts/Tolvaro/collectorScript.lua');";
  put(kExport, "a = 1\r\n" + single + "\r\nb = 2\r\n" + kHook + "\r\n" + kHook);
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(file(kExport), "a = 1\r\n" + single + "\r\nb = 2");
  EXPECT_EQ(lines_.back(), "removed    extra copies of the collector line from " + shown(kExport));
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_.back(), "unchanged  " + shown(kExport));
  ASSERT_TRUE(remove());
  EXPECT_EQ(file(kExport), "a = 1\r\nb = 2");
}

TEST_F(Install, TheUsersOwnLineIsLeftAndKeepsTheCollector) {
  const std::string own = "dofile(lfs.writedir() .. [[Scripts\\Tolvaro\\collectorScript.lua]]) -- mine\n";
  put(kExport, own);
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_, (std::vector<std::string>{"wrote      " + shown(kCollector),
                                              "left       your own collector line in " + shown(kExport)}));
  EXPECT_EQ(file(kExport), own);
  EXPECT_EQ(file(kBackup), std::nullopt);

  lines_.clear();
  ASSERT_TRUE(remove());
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        "left       your own collector line in " + shown(kExport),
                        "kept       " + shown(kCollector) + ", which your own line in Export.lua still loads",
                        "kept       " + shown("Scripts\\Tolvaro") + ", which holds files that are not ours"}));
  EXPECT_EQ(file(kExport), own);
  EXPECT_EQ(file(kCollector), std::string(embedded::COLLECTOR_FILE.contents));
}

TEST_F(Install, AReadOnlyOrUtf16ExportLuaStopsTheInstallBeforeAnythingIsWritten) {
  put(kExport, "x = 1\n");
  fake_.set_read_only(at(kExport));
  fake_.clear_calls();
  auto read_only = install();
  ASSERT_FALSE(read_only);
  EXPECT_EQ(read_only.error().kind, InstallError::Kind::ReadOnly);
  EXPECT_EQ(read_only.error().text(), "Export.lua is read-only: " + shown(kExport) +
                                          ". Clear its read-only box in Properties, then try again.");
  EXPECT_FALSE(wrote_in_dcs_folder());
  EXPECT_THAT(lines_, IsEmpty());

  fake_.set_read_only(at(kExport), false);
  for (const std::string& text : {utf16le("x = 1\r\n"), std::string("x = 1\0", 6)}) {
    put(kExport, text);
    fake_.clear_calls();
    auto refused = install();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, InstallError::Kind::NotUtf8);
    EXPECT_EQ(refused.error().text(), shown(kExport) + " was not changed: it is not saved as UTF-8 text (it looks "
                                                       "like UTF-16). Save it as UTF-8 in Notepad, then try again");
    EXPECT_FALSE(wrote_in_dcs_folder());
    EXPECT_EQ(file(kExport), text);
  }

  // A read-only file that needs no change does not stop the install.
  put(kExport, kHook);
  fake_.set_read_only(at(kExport));
  ASSERT_TRUE(install());
  EXPECT_EQ(lines_.back(), "unchanged  " + shown(kExport));
}

TEST_F(Install, AnExportLuaThatEndsInsideALongCommentStopsTheInstallBeforeAnythingIsWritten) {
  const std::string refusal = shown(kExport) +
                              " was not changed: it ends inside a --[[ comment or [[ string that is never "
                              "closed. Close it, then try again";
  // Appended there, the line would be part of the comment: never run, not counted as ours, and
  // added again by every install.
  for (const std::string& text : {std::string("x = 1\r\n--[[ old tools\r\n"), std::string("s = [==[\n]]")}) {
    SCOPED_TRACE(text);
    fake_.remove(at("Scripts"));
    put(kExport, text);
    EXPECT_EQ(check_folder(machine_, Path(kDcs)).status, InstallStatus::notInstalled);
    fake_.clear_calls();
    auto refused = install();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, InstallError::Kind::OpenAtEnd);
    EXPECT_EQ(refused.error().text(), refusal);
    EXPECT_FALSE(wrote_in_dcs_folder());
    EXPECT_EQ(file(kExport), text);
  }

  // The copies that earlier installs appended inside such a comment are the comment's text: the
  // check finds no line, the install refuses, and the remove leaves the file as it is.
  put_current_files();
  const std::string piled = "x = 1\n--[=[ old tools\n" + kHook + "\n" + kHook + "\n";
  put(kExport, piled);
  const FolderStatus status = check_folder(machine_, Path(kDcs));
  EXPECT_EQ(status.status, InstallStatus::installFailed);
  EXPECT_THAT(status.problems, Contains(shown(kExport) + " has no collector line"));
  fake_.clear_calls();
  auto refused = install();
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().text(), refusal);
  EXPECT_FALSE(wrote_in_dcs_folder());
  ASSERT_TRUE(remove());
  EXPECT_EQ(file(kExport), piled);
  EXPECT_EQ(file(kCollector), std::nullopt);

  // With the hook line before such a comment, the file is installed and the remove takes it out.
  put_current_files();
  put(kExport, kHook + "\n--[[ old tools\n");
  EXPECT_EQ(check_folder(machine_, Path(kDcs)).status, InstallStatus::installed);
  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(lines_.back(), "unchanged  " + shown(kExport));
  ASSERT_TRUE(remove());
  EXPECT_EQ(file(kExport), "--[[ old tools\n");
}

TEST_F(Install, AReadOnlyExportLuaStopsTheRemoveBeforeAnythingIsWritten) {
  put_current_files();
  put(kExport, "x = 1\n" + kHook + "\n");
  fake_.set_read_only(at(kExport));
  fake_.clear_calls();
  auto removed = remove();
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().kind, InstallError::Kind::ReadOnly);
  EXPECT_FALSE(wrote_in_dcs_folder());
  put(kExport, utf16le("x"));
  fake_.set_read_only(at(kExport), false);
  removed = remove();
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().kind, InstallError::Kind::NotUtf8);
  EXPECT_FALSE(wrote_in_dcs_folder());
}

TEST_F(Install, HandEditedCopiesAreKeptUnderFreeNamesAndFoundAgain) {
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  const std::string copy1 = shown(kCollector) + ".hand-edited";
  const std::string copy2 = shown(kCollector) + ".hand-edited-2";

  put(kCollector, "-- first edit\n");
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_[0], "kept       the hand-edited " + shown(kCollector) + " as " + copy1);
  EXPECT_EQ(lines_[1], "wrote      " + shown(kCollector));
  EXPECT_EQ(file(kCollector + ".hand-edited"), "-- first edit\n");

  put(kCollector, "-- second edit\n");
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_[0], "kept       the hand-edited " + shown(kCollector) + " as " + copy2);
  EXPECT_EQ(file(kCollector + ".hand-edited-2"), "-- second edit\n");

  put(kCollector, "-- first edit\n");
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_[0], "kept       the hand-edited " + shown(kCollector) + ", already saved as " + copy1);
  EXPECT_EQ(file(kCollector + ".hand-edited-3"), std::nullopt);

  // A folder in the way is passed over.
  fake_.add_folder(at(kCollector + ".hand-edited-3"));
  put(kCollector, "-- third edit\n");
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_[0], "kept       the hand-edited " + shown(kCollector) + " as " + shown(kCollector) +
                           ".hand-edited-4");

  // Removing an edited copy saves it first too; the copies keep the folder.
  put(kCollector, "-- fourth edit\n");
  lines_.clear();
  ASSERT_TRUE(remove());
  EXPECT_EQ(lines_[1], "kept       the hand-edited " + shown(kCollector) + " as " + shown(kCollector) +
                           ".hand-edited-5");
  EXPECT_EQ(lines_[2], "removed    " + shown(kCollector));
  EXPECT_EQ(lines_.back(), "kept       " + shown("Scripts\\Tolvaro") + ", which holds files that are not ours");
}

TEST_F(Install, AHandEditedCopyIsNeverReplacedEvenWhenItsNameCannotBeLookedAt) {
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  put(kCollector + ".hand-edited", "-- the user's earlier copy\n");
  put(kCollector, "-- a new edit\n");
  fake_.fail({Op::kind, at(kCollector + ".hand-edited"), machine::kErrorAccessDenied, 1});
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(file(kCollector + ".hand-edited"), "-- the user's earlier copy\n");
  EXPECT_EQ(file(kCollector + ".hand-edited-2"), "-- a new edit\n");
  EXPECT_EQ(lines_[0], "kept       the hand-edited " + shown(kCollector) + " as " + shown(kCollector) +
                           ".hand-edited-2");
}

TEST_F(Install, TheMapMarkerCanBeRemovedWithItsFolder) {
  ASSERT_TRUE(install());
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::Remove, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        "unchanged  " + shown(kCollector), "removed    " + shown(kReticle),
                        "removed    " + shown(kReticleDlg), "removed    " + shown(kPromptDlg),
                        "removed    " + shown(kReticlePng), "removed    " + shown("Scripts\\Tolvaro\\reticle"),
                        "unchanged  " + shown(kExport)}));
  EXPECT_EQ(fake_.kind(at("Scripts\\Tolvaro\\reticle")), machine::PathKind::Missing);
  EXPECT_EQ(file(kBandit), std::string(embedded::BANDIT_TOOL_FILE.contents));

  ASSERT_TRUE(install({AddOnAction::Install, AddOnAction::Remove}));
  put("Scripts\\Tolvaro\\reticle\\my notes.txt", "mine");
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::Remove, AddOnAction::Remove}));
  EXPECT_THAT(lines_, Contains("kept       " + shown("Scripts\\Tolvaro\\reticle") +
                               ", which holds files that are not ours"));
  EXPECT_THAT(lines_, Not(Contains("removed    " + shown(kBandit))));  // already gone
  EXPECT_EQ(file("Scripts\\Tolvaro\\reticle\\my notes.txt"), "mine");
}

TEST_F(Install, TheBackupIsWrittenOnceAndNeverReplaced) {
  put(kExport, "first = 1\n");
  ASSERT_TRUE(install());
  put(kExport, "second = 2\n");
  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(file(kBackup), "first = 1\n");
  EXPECT_THAT(lines_, Not(Contains(::testing::StartsWith("backed up"))));

  // Even when a look at the backup's name fails, the backup is not replaced.
  put(kExport, "third = 3\n");
  fake_.fail({Op::kind, at(kBackup), machine::kErrorAccessDenied, 1});
  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(file(kBackup), "first = 1\n");
  EXPECT_THAT(lines_, Not(Contains(::testing::StartsWith("backed up"))));
  EXPECT_EQ(file(kExport), "third = 3\n" + kHook + "\n");
}

TEST_F(Install, ABackupThatCannotBeWrittenStopsTheCommit) {
  put(kExport, "x = 1\n");
  fake_.add_folder(at(kBackup));
  auto folder = install();
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().kind, InstallError::Kind::BackupIsFolder);
  EXPECT_EQ(folder.error().text(), shown(kBackup) + " is a folder, so Export.lua cannot be backed up there");
  EXPECT_EQ(file(kExport), "x = 1\n");

  // A folder that only a second look shows.
  fake_.fail({Op::kind, at(kBackup), machine::kErrorAccessDenied, 1});
  folder = install();
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().kind, InstallError::Kind::BackupIsFolder);

  fake_.remove(at(kBackup));
  fake_.fail({Op::write_new, at(kBackup), machine::kErrorAccessDenied});
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::Io);
  EXPECT_EQ(failed.error().operation, Operation::Write);
  EXPECT_EQ(failed.error().text(), "cannot write " + shown(kBackup) + ": " + kAccessDenied +
                                       " (writing through " + at(kBackup) + ".tolvaro-new)");
  EXPECT_EQ(file(kExport), "x = 1\n");
  fake_.clear_faults();

  // A backup that security software takes away at once is reported, and Export.lua stays.
  fake_.after_each([this](Op op, const Path& path) {
    if (op == Op::write_new && path == Path(at(kBackup))) fake_.remove(path);
  });
  auto gone = install();
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error().kind, InstallError::Kind::WrittenFileGone);
  EXPECT_EQ(gone.error().text(),
            shown(kBackup) + " was gone right after it was written; security software may have removed it");
  EXPECT_EQ(file(kExport), "x = 1\n");
}

TEST_F(Install, AFailedWriteOfExportLuaIsPutBack) {
  put(kExport, "local original = true\r\n");
  fake_.fail({Op::write_in_place, at(kExport), machine::kErrorAccessDenied, 1, 7});
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::Io);
  EXPECT_EQ(failed.error().text(), "cannot write " + shown(kExport) + ": " + kAccessDenied);
  EXPECT_EQ(file(kExport), "local original = true\r\n");
  EXPECT_EQ(file(kBackup), "local original = true\r\n");
  // What was written before stays, so a second install finishes the work.
  EXPECT_EQ(file(kCollector), std::string(embedded::COLLECTOR_FILE.contents));
  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(lines_.back(), "added      the collector line to " + shown(kExport));
}

TEST_F(Install, AnExportLuaThatDoesNotReadBackIsPutBack) {
  put(kExport, "local original = true\n");
  int writes = 0;
  fake_.after_each([&](Op op, const Path& path) {
    if (op == Op::write_in_place && path == Path(at(kExport)) && ++writes == 1) put(kExport, "garbled");
  });
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::WrittenFileDiffers);
  EXPECT_EQ(failed.error().text(), shown(kExport) + " did not hold what was written to it");
  EXPECT_EQ(file(kExport), "local original = true\n");
}

TEST_F(Install, APutBackThatFailsTooIsReportedWithTheBackup) {
  put(kExport, "local original = true\n");
  fake_.fail({Op::write_in_place, at(kExport), machine::kErrorAccessDenied, 2, 7});
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::PutBackFailed);
  const std::string write_error = "cannot write " + shown(kExport) + ": " + kAccessDenied;
  EXPECT_EQ(failed.error().text(), write_error + ", and putting " + shown(kExport) + " back failed too (" +
                                       write_error + "). Its copy from before the first install is " +
                                       shown(kBackup) + ".");
  EXPECT_EQ(failed.error().backup, Path(at(kBackup)));
  EXPECT_EQ(file(kBackup), "local original = true\n");
}

TEST_F(Install, APutBackIsReadBackBeforeItCountsAsDone) {
  put(kExport, "local original = true\n");
  fake_.fail({Op::write_in_place, at(kExport), machine::kErrorAccessDenied, 1});
  int writes = 0;
  fake_.after_each([&](Op op, const Path& path) {
    if (op == Op::write_in_place && path == Path(at(kExport)) && ++writes == 2) fake_.remove(path);
  });
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::PutBackFailed);
  EXPECT_EQ(failed.error().text(),
            "cannot write " + shown(kExport) + ": " + kAccessDenied + ", and putting " + shown(kExport) +
                " back failed too (" + shown(kExport) +
                " was gone right after it was written; security software may have removed it). Its copy from "
                "before the first install is " +
                shown(kBackup) + ".");
}

TEST_F(Install, ABackupThatDoesNotReadBackIsDeletedAndWrittenAgainNextTime) {
  put(kExport, "x = 1\n");
  bool garble = true;
  fake_.after_each([&](Op op, const Path& path) {
    if (op == Op::write_new && path == Path(at(kBackup)) && garble) put(kBackup, "garbled");
  });
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::WrittenFileDiffers);
  EXPECT_EQ(failed.error().text(), shown(kBackup) + " did not hold what was written to it");
  EXPECT_EQ(file(kBackup), std::nullopt);
  EXPECT_EQ(file(kExport), "x = 1\n");

  // Not trusted later: the next install backs the file up again.
  garble = false;
  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(file(kBackup), "x = 1\n");
  EXPECT_THAT(lines_, Contains("backed up  " + shown(kExport) + " to " + shown(kBackup)));
}

// Export.lua did not exist when the install looked at it.
class NewExportLua : public InstallBed {
 protected:
  // Garbles what lands in Export.lua, whichever call writes it, so that its read-back fails.
  void garble_export_lua_writes() {
    fake_.after_each([this](Op op, const Path& path) {
      if ((op == Op::write_new || op == Op::write_in_place) && path == Path(at(kExport))) put(kExport, "garbled");
    });
  }
  std::string differs() const { return shown(kExport) + " did not hold what was written to it"; }
};

TEST_F(NewExportLua, AFailedReadBackDeletesTheFileAndTheMarker) {
  garble_export_lua_writes();
  auto failed = install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::WrittenFileDiffers);
  EXPECT_EQ(failed.error().text(), differs());
  EXPECT_EQ(file(kExport), std::nullopt);
  EXPECT_EQ(file(kMarker), std::nullopt);
  EXPECT_EQ(file(kBackup), std::nullopt);
  // Nothing else is rolled back, and a second install finishes the work.
  fake_.after_each(nullptr);
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_, (std::vector<std::string>{"unchanged  " + shown(kCollector),
                                              "added      the collector line to " + shown(kExport)}));
  EXPECT_EQ(file(kExport), kHook + "\r\n");
  EXPECT_EQ(file(kMarker), "");
}

TEST_F(NewExportLua, AFailedWriteLeavesNoFileAndNoMarker) {
  fake_.fail({Op::write_new, at(kExport), machine::kErrorAccessDenied});
  auto failed = install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::Io);
  EXPECT_EQ(failed.error().operation, Operation::Write);
  EXPECT_EQ(failed.error().text(), "cannot write " + shown(kExport) + ": " + kAccessDenied + " (writing through " +
                                       at(kExport) + ".tolvaro-new)");
  EXPECT_EQ(file(kExport), std::nullopt);
  EXPECT_EQ(file(kMarker), std::nullopt);
}

TEST_F(NewExportLua, APutBackThatFailsNamesNoBackup) {
  garble_export_lua_writes();
  fake_.fail({Op::remove_file, at(kExport), machine::kErrorAccessDenied});
  auto failed = install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::PutBackFailed);
  EXPECT_EQ(failed.error().text(), differs() + ", and putting " + shown(kExport) + " back failed too (cannot remove " +
                                       shown(kExport) + ": " + kAccessDenied + ").");
  EXPECT_EQ(failed.error().backup, std::nullopt);
  // The file that stays is the program's own, so its marker stays with it.
  EXPECT_EQ(file(kExport), "garbled");
  EXPECT_EQ(file(kMarker), "");
}

TEST_F(NewExportLua, AFileThatIsStillThereAfterItsDeletionIsAFailedPutBack) {
  garble_export_lua_writes();
  fake_.after_each([this](Op op, const Path& path) {
    if (path != Path(at(kExport))) return;
    if (op == Op::write_new || op == Op::write_in_place || op == Op::remove_file) put(kExport, "garbled");
  });
  auto failed = install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::PutBackFailed);
  EXPECT_EQ(failed.error().text(), differs() + ", and putting " + shown(kExport) + " back failed too (cannot remove " +
                                       shown(kExport) + ": it was still there right after it was deleted).");
  EXPECT_EQ(file(kMarker), "");
}

TEST_F(NewExportLua, AnExportLuaThatAppearsMeanwhileIsNotOverwritten) {
  fake_.after_each([this](Op op, const Path& path) {
    if (op == Op::write_atomic_create && path == Path(at(kCollector))) put(kExport, "user = 1\n");
  });
  auto failed = install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::Io);
  EXPECT_EQ(failed.error().operation, Operation::Write);
  EXPECT_EQ(failed.error().path, Path(at(kExport)));
  EXPECT_EQ(failed.error().text(), "cannot write " + shown(kExport) + ": " +
                                       machine::testing::fake_error(machine::kErrorAlreadyExists).text +
                                       " (writing through " + at(kExport) + ".tolvaro-new)");
  EXPECT_EQ(file(kExport), "user = 1\n");
  EXPECT_EQ(file(kMarker), std::nullopt);  // the file is the user's, not the program's
  EXPECT_EQ(file(kExport + ".tolvaro-new"), std::nullopt);

  // The next install finds the file and treats it as the user's.
  fake_.after_each(nullptr);
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(file(kBackup), "user = 1\n");
  EXPECT_EQ(file(kExport), "user = 1\n" + kHook + "\n");
}

TEST_F(Install, AnExportLuaChangedMeanwhileIsLeftAsItIs) {
  const std::string changed_text =
      "cannot write " + shown(kExport) + ": another program changed it meanwhile; try again";
  struct Case {
    const char* name;
    std::function<void()> change;
    std::optional<std::string> after;
  };
  const Case cases[] = {
      {"edited", [this] { put(kExport, "x = 2\n"); }, "x = 2\n"},
      {"deleted", [this] { fake_.remove(at(kExport)); }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.remove(at("Scripts"));
    put(kExport, "x = 1\n");
    fake_.after_each([&](Op op, const Path& path) {
      if (op == Op::write_atomic_create && path == Path(at(kCollector))) c.change();
    });
    fake_.clear_calls();
    auto failed = install();
    fake_.after_each(nullptr);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, InstallError::Kind::Io);
    EXPECT_EQ(failed.error().operation, Operation::Write);
    EXPECT_EQ(failed.error().path, Path(at(kExport)));
    EXPECT_EQ(failed.error().text(), changed_text);
    EXPECT_EQ(file(kExport), c.after);
    EXPECT_EQ(file(kBackup), std::nullopt);
    for (const machine::testing::Call& call : fake_.calls())
      EXPECT_FALSE(call.op == Op::write_in_place || call.op == Op::write_new) << call.path;
  }
}

TEST_F(Install, RemoveLeavesAnExportLuaChangedMeanwhile) {
  const std::string changed_text =
      "cannot write " + shown(kExport) + ": another program changed it meanwhile; try again";
  // `before` is what the remove reads, `after` what the file holds by the time it would write.
  struct Case {
    const char* name;
    bool created_by_program;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"rewritten", false, "mine = 1\n" + kHook + "\n", "mine = 2\n" + kHook + "\n"},
      {"deleted as the program's own", true, kHook + "\r\n", kHook + "\r\nmine = 1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.remove(at("Scripts"));
    put(kExport, c.before);
    if (c.created_by_program) put(kMarker, "");
    int reads = 0;
    fake_.after_each([&](Op op, const Path& path) {
      if (op == Op::read && path == Path(at(kExport)) && ++reads == 1) put(kExport, c.after);
    });
    auto failed = remove();
    fake_.after_each(nullptr);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().text(), changed_text);
    EXPECT_EQ(file(kExport), c.after);
    EXPECT_EQ(file(kBackup), std::nullopt);
  }
}

TEST_F(Install, FailedFileActionsNameTheirOperation) {
  struct Case {
    Fault fault;
    Operation operation;
    std::string path;
  };
  const Case cases[] = {
      {{Op::write_atomic_move, at(kReticle)}, Operation::Write, at(kReticle)},
      {{Op::create_dir, at("Scripts\\Hooks")}, Operation::Create, at("Scripts\\Hooks")},
      {{Op::read, at(kCollector), machine::kErrorSharingViolation}, Operation::Read, at(kCollector)},
      {{Op::lock, ""}, Operation::Lock, std::string(kLocal) + "\\Tolvaro\\DcsBridge\\install.lock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    fake_.remove(at("Scripts"));
    put(kExport, "x = 1\n");
    fake_.fail(c.fault);
    auto failed = install();
    fake_.clear_faults();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, InstallError::Kind::Io);
    EXPECT_EQ(failed.error().operation, c.operation);
    EXPECT_EQ(failed.error().path, Path(c.path));
    EXPECT_THAT(failed.error().text(), ::testing::StartsWith("cannot " + std::string(word(c.operation)) + " "));
    EXPECT_EQ(file(kExport), "x = 1\n");
  }
}

TEST_F(Install, AWrittenScriptThatSecuritySoftwareRemovesIsReported) {
  fake_.after_each([this](Op op, const Path& path) {
    if (op == Op::write_atomic_create && path == Path(at(kCollector))) fake_.remove(path);
  });
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().text(),
            shown(kCollector) + " was gone right after it was written; security software may have removed it");
  EXPECT_EQ(file(kExport), std::nullopt);
}

TEST_F(Install, RemoveBacksUpAnExportLuaThatHasNoBackupYet) {
  put(kExport, "mine = 1\n" + kHook + "\n");
  ASSERT_TRUE(remove());
  EXPECT_EQ(lines_, (std::vector<std::string>{"backed up  " + shown(kExport) + " to " + shown(kBackup),
                                              "removed    the collector line from " + shown(kExport)}));
  EXPECT_EQ(file(kBackup), "mine = 1\n" + kHook + "\n");
  EXPECT_EQ(file(kExport), "mine = 1\n");
}

TEST_F(Install, RemoveFromAFolderThatIsNotThereDoesNothing) {
  fake_.remove(kDcs);
  auto removed = remove();
  ASSERT_TRUE(removed);
  EXPECT_THAT(*removed, IsEmpty());
}

TEST_F(Install, TheLockIsHeldForTheWholeRunAndAnotherRunIsTurnedAway) {
  const Path lock_file(std::string(kLocal) + "\\Tolvaro\\DcsBridge\\install.lock");
  bool held_while_writing = false;
  fake_.after_each([&](Op op, const Path&) {
    if (op == Op::write_atomic_create) held_while_writing = fake_.is_locked(lock_file);
  });
  ASSERT_TRUE(install());
  EXPECT_TRUE(held_while_writing);
  EXPECT_FALSE(fake_.is_locked(lock_file));

  auto other = take_install_lock(machine_);
  ASSERT_TRUE(other);
  auto turned_away = install();
  ASSERT_FALSE(turned_away);
  EXPECT_EQ(turned_away.error().kind, InstallError::Kind::LockHeld);
  EXPECT_EQ(turned_away.error().text(),
            "another install or remove is running (it holds %USERPROFILE%\\AppData\\Local\\Tolvaro\\DcsBridge\\"
            "install.lock). Wait for it to finish.");
}

TEST_F(Install, WithoutLocalAppDataItRunsUnlockedAndRemembersNothing) {
  fake_.set_known_folder(machine::KnownFolder::LocalAppData, std::nullopt);
  fake_.add_folder("D:\\Flight\\Config");
  auto report = install(kEverything, Path("D:\\Flight"));
  ASSERT_TRUE(report) << report.error().text();
  EXPECT_TRUE(log_.contains("Windows did not say where local app data is; running without the install lock"));
  ASSERT_TRUE(report->remembered.has_value());
  ASSERT_FALSE(report->remembered->has_value());
  EXPECT_EQ(report->remembered->error().text(), "Windows did not say where local app data is");
}

class Choosing : public InstallBed {
 protected:
  static constexpr const char* kBeta = "C:\\Users\\ann\\Saved Games\\DCS.openbeta";
  void add_second_installation() {
    fake_.add_folder("D:\\DCS Beta");
    fake_.add_file("D:\\DCS Beta\\dcs_variant.txt", "openbeta");
    fake_.add_folder(std::string(kBeta) + "\\Logs");
    fake_.add_file(std::string(kBeta) + "\\Logs\\dcs.log", "log");
    fake_.set_registry(machine::RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World OpenBeta", "Path",
                       "D:\\DCS Beta");
  }
  std::string settings_text() const {
    return fake_.file(std::string(kLocal) + "\\Tolvaro\\DcsBridge\\settings.json").value_or("(none)");
  }
};

TEST_F(Choosing, NoInstallationIsNoInstallFound) {
  fake_.remove_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path");
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::NoInstallFound);
  EXPECT_EQ(failed.error().text(),
            "no DCS install was found. Pass the DCS folder under Saved Games with --saved-games.");
}

TEST_F(Choosing, ADiscoveredFolderThatIsNotThereYetIsMissing) {
  fake_.remove(kDcs);
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::FolderMissing);
  EXPECT_EQ(failed.error().text(),
            std::string(kShown) + " does not exist. Start DCS once so it creates its folder, then try again.");
}

TEST_F(Choosing, SeveralFoldersNeedTheChooser) {
  add_second_installation();
  auto failed = install();
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, InstallError::Kind::CannotTellWhichFolder);
  EXPECT_EQ(failed.error().text(), "cannot tell which folder; pass --saved-games");
  ASSERT_EQ(failed.error().candidates.size(), 2u);
  EXPECT_EQ(failed.error().candidates[1].saved_games, Path(kBeta));
  EXPECT_FALSE(wrote_in_dcs_folder());

  std::vector<machine::FolderCandidate> offered;
  auto chosen = install(kEverything, std::nullopt, [&](const std::vector<machine::FolderCandidate>& c) {
    offered = c;
    return std::optional<Path>(Path(kBeta));
  });
  ASSERT_TRUE(chosen) << chosen.error().text();
  EXPECT_EQ(offered.size(), 2u);
  EXPECT_EQ(chosen->folder, Path(kBeta));
  EXPECT_FALSE(chosen->remembered.has_value());  // discovery finds it
  EXPECT_TRUE(fake_.file(std::string(kBeta) + "\\" + kCollector).has_value());
}

TEST_F(Choosing, AFolderDcsNeverWroteToNeedsConsentAndIsRemembered) {
  fake_.add_folder("D:\\Elsewhere");
  auto refused = install(kEverything, Path("D:\\Elsewhere"));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, InstallError::Kind::FolderRefused);
  ASSERT_TRUE(refused.error().refusal);
  EXPECT_EQ(refused.error().refusal->kind, machine::FolderCheckError::Kind::NeverWritten);
  EXPECT_EQ(refused.error().text(),
            "D:\\Elsewhere has no Config folder and no Logs\\dcs.log, so DCS has probably never written to it. The "
            "DCS folder under Saved Games is usually C:\\Users\\<you>\\Saved Games\\DCS.");

  std::vector<Path> asked;
  auto report = install(kEverything, Path("D:\\Elsewhere"), nullptr, [&](const Path& p) {
    asked.push_back(p);
    return true;
  });
  ASSERT_TRUE(report) << report.error().text();
  EXPECT_THAT(asked, ElementsAre(Path("D:\\Elsewhere")));
  EXPECT_TRUE(log_.contains("D:\\Elsewhere has no sign that DCS ever wrote to it; installing there as asked"));
  ASSERT_TRUE(report->remembered && report->remembered->has_value());
  EXPECT_EQ(**report->remembered, Path(std::string(kLocal) + "\\Tolvaro\\DcsBridge\\settings.json"));
  EXPECT_EQ(settings_text(), "{\n  \"handPickedFolders\": [\n    \"D:\\\\Elsewhere\"\n  ]\n}");
  // Remembered, it is the folder the next install without a named folder uses.
  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(lines_[0], "unchanged  D:\\Elsewhere\\" + kCollector);
}

TEST_F(Choosing, OtherRefusalsCannotBeOverridden) {
  fake_.add_file("D:\\DCS World\\bin\\DCS.exe", "MZ");
  auto refused = install(kEverything, Path("D:\\DCS World"), nullptr, [](const Path&) { return true; });
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().refusal->kind, machine::FolderCheckError::Kind::ProgramFolder);
  auto missing = install(kEverything, Path("D:\\Nowhere"), nullptr, [](const Path&) { return true; });
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().text(), "D:\\Nowhere is not a folder");
}

TEST_F(Choosing, AHandGivenFolderOutsideDiscoveryJoinsTheHandPickedList) {
  for (int i = 1; i <= 9; ++i) fake_.add_folder("D:\\Games" + std::to_string(i) + "\\Config");
  for (int i = 1; i <= 9; ++i) ASSERT_TRUE(install(kEverything, Path("D:\\Games" + std::to_string(i))));
  EXPECT_TRUE(log_.contains("settings keep 8 hand-picked folders; forgetting the oldest, D:\\Games1"));
  EXPECT_EQ(settings::read(machine_).front(), Path("D:\\Games2"));
  EXPECT_EQ(settings::read(machine_).back(), Path("D:\\Games9"));
  // A folder that discovery finds is not remembered.
  auto discovered = install(kEverything, Path(kDcs));
  ASSERT_TRUE(discovered);
  EXPECT_FALSE(discovered->remembered.has_value());
  EXPECT_EQ(settings::read(machine_).size(), 8u);
}

TEST(InstallValues, OptionsAndAddOnPaths) {
  EXPECT_EQ(debug_form({AddOnAction::Install, AddOnAction::LeaveAsIs}),
            "Options { map_marker: Install, bandit_tool: LeaveAsIs }");
  EXPECT_EQ(debug_form({AddOnAction::Remove, AddOnAction::Install}),
            "Options { map_marker: Remove, bandit_tool: Install }");
  const Path folder(kDcs);
  EXPECT_EQ(reticle_folder(folder), Path(std::string(kDcs) + "\\Scripts\\Tolvaro\\reticle"));
  EXPECT_EQ(add_on_of_path(folder, Path(std::string(kDcs) + "\\scripts\\TOLVARO\\Reticle\\reticle.png")),
            AddOn::MapMarker);
  EXPECT_EQ(add_on_of_path(folder, Path(std::string(kDcs) + "\\Scripts\\Hooks\\TolvaroBandits.lua")),
            AddOn::BanditTool);
  EXPECT_EQ(add_on_of_path(folder, Path(std::string(kDcs) + "\\Scripts\\Tolvaro\\collectorScript.lua")),
            std::nullopt);
  EXPECT_EQ(created_marker_path(folder),
            Path(std::string(kDcs) + "\\Scripts\\Tolvaro\\Export.lua.created-in-parent-by-Tolvaro"));
}

}  // namespace
}  // namespace install::testing
