// The install engine on the real services and a real folder tree: install, check, a second
// install, a hand-edited copy and remove, and the refusals that must come before any write.

#include <gmock/gmock.h>

#include "core/base/tests/log_capture.hpp"
#include "dcs/install/src/export_file.hpp"
#include "dcs/install/src/export_lua.hpp"
#include "dcs/install/src/install.hpp"
#include "dcs/install/src/real_machine.hpp"
#include "dcs/install/src/scan.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/win32_bed.hpp"

namespace install {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using machine::Path;
using machine::PathKind;

const std::string kHook(export_lua::HOOK_LINE);
const Options kEverything{AddOnAction::Install, AddOnAction::Install};

class Win32Engine : public ::testing::Test {
 protected:
  Win32Engine() {
    install::testing::forget_logged_once();
    folder_ = scratch_.path().join("Saved Games\\DCS");
    m_.files->create_dir_all(folder_.join("Config"));
    // The run remembers the folder in this Wine prefix's settings; they are put back afterwards.
    settings_ = settings::path(*m_.known_folders).value_or(Path());
    saved_ = m_.files->read(settings_);
  }
  ~Win32Engine() override {
    if (settings_.empty()) return;
    if (auto* bytes = std::get_if<machine::Bytes>(&saved_)) {
      m_.files->write_atomic(settings_, *bytes);
    } else {
      m_.files->remove_file(settings_);
    }
  }

  Path at(std::string_view relative) const { return folder_.join(relative); }
  std::optional<std::string> file(std::string_view relative) const {
    machine::ReadOutcome got = m_.files->read(at(relative));
    if (auto* bytes = std::get_if<machine::Bytes>(&got)) return *bytes;
    return std::nullopt;
  }
  void put(std::string_view relative, std::string_view bytes) {
    if (auto parent = at(relative).parent()) m_.files->create_dir_all(*parent);
    ASSERT_TRUE(m_.files->write_atomic(at(relative), bytes));
  }
  std::string line(const char* verb, std::string_view relative) const {
    std::string out(verb);
    out.resize(11, ' ');
    return out + machine::show_path(*m_.known_folders, at(relative));
  }

  std::expected<InstallReport, InstallError> install(Options options = kEverything) {
    return apply(m_, InstallRequest{folder_, options}, nullptr, nullptr, sink());
  }
  StepSink sink() {
    return [this](const Step& step) { lines_.push_back(report_line(*m_.known_folders, step)); };
  }

  machine::testing::ScratchFolder scratch_;
  machine::Machine m_ = machine::real_machine();
  Path folder_;
  Path settings_;
  machine::ReadOutcome saved_;
  std::vector<std::string> lines_;
  base::testing::LogCapture log_;
};

TEST_F(Win32Engine, InstallCheckRepairAndRemoveOnARealFolder) {
  const std::string original = "-- mine\r\nlocal x = 1";
  put("Scripts\\Export.lua", original);

  auto report = install();
  ASSERT_TRUE(report) << report.error().text();
  const std::vector<std::string> wrote = {
      line("wrote", "Scripts\\Tolvaro\\collectorScript.lua"),   line("wrote", "Scripts\\Tolvaro\\reticle\\reticle.lua"),
      line("wrote", "Scripts\\Tolvaro\\reticle\\reticle.dlg"),  line("wrote", "Scripts\\Tolvaro\\reticle\\prompt.dlg"),
      line("wrote", "Scripts\\Tolvaro\\reticle\\reticle.png"),  line("wrote", "Scripts\\Hooks\\TolvaroBandits.lua"),
      line("backed up", "Scripts\\Export.lua") + " to " +
          machine::show_path(*m_.known_folders, at("Scripts\\Export.lua.Tolvaro-backup")),
      "added      the collector line to " + machine::show_path(*m_.known_folders, at("Scripts\\Export.lua")),
  };
  EXPECT_THAT(lines_, ElementsAreArray(wrote));
  EXPECT_EQ(file("Scripts\\Export.lua"), original + "\r\n" + kHook);
  EXPECT_EQ(file("Scripts\\Export.lua.Tolvaro-backup"), original);
  EXPECT_EQ(file("Scripts\\Tolvaro\\reticle\\reticle.png"), std::string(embedded::MAP_MARKER_FILES[3].contents));
  EXPECT_EQ(m_.files->kind(at("Scripts\\Tolvaro\\collectorScript.lua.tolvaro-new")), PathKind::Missing);
  // Outside discovery, the folder was remembered, so the scan checks it.
  ASSERT_TRUE(report->remembered && report->remembered->has_value());
  ScanResult scanned = scan(m_);
  ASSERT_EQ(scanned.folders.size(), 1u);
  EXPECT_TRUE(machine::same_folder(*scanned.chosen, folder_));
  EXPECT_EQ(scanned.status, InstallStatus::installed);
  EXPECT_EQ(scanned.collector_version, 8u);

  lines_.clear();
  ASSERT_TRUE(install());
  EXPECT_EQ(lines_.size(), 7u);
  for (const std::string& l : lines_) EXPECT_TRUE(l.starts_with("unchanged  ")) << l;

  put("Scripts\\Tolvaro\\collectorScript.lua", "-- my own collector\r\n");
  EXPECT_EQ(check_folder(m_, folder_).status, InstallStatus::modified);
  lines_.clear();
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(lines_[0], "kept       the hand-edited " +
                           machine::show_path(*m_.known_folders, at("Scripts\\Tolvaro\\collectorScript.lua")) + " as " +
                           machine::show_path(*m_.known_folders, at("Scripts\\Tolvaro\\collectorScript.lua.hand-edited")));
  EXPECT_EQ(file("Scripts\\Tolvaro\\collectorScript.lua.hand-edited"), "-- my own collector\r\n");
  EXPECT_EQ(check_folder(m_, folder_).status, InstallStatus::installed);

  lines_.clear();
  auto removed = remove_from_folder(m_, folder_, sink());
  ASSERT_TRUE(removed) << removed.error().text();
  EXPECT_EQ(file("Scripts\\Export.lua"), original);
  EXPECT_EQ(m_.files->kind(at("Scripts\\Tolvaro\\reticle")), PathKind::Missing);
  EXPECT_EQ(m_.files->kind(at("Scripts\\Tolvaro\\collectorScript.lua")), PathKind::Missing);
  EXPECT_EQ(m_.files->kind(at("Scripts\\Hooks\\TolvaroBandits.lua")), PathKind::Missing);
  EXPECT_EQ(lines_.back(), line("kept", "Scripts\\Tolvaro") + ", which holds files that are not ours");
  EXPECT_EQ(check_folder(m_, folder_).status, InstallStatus::notInstalled);
}

TEST_F(Win32Engine, AnExportLuaItCreatedIsDeletedAgain) {
  ASSERT_TRUE(install({AddOnAction::LeaveAsIs, AddOnAction::LeaveAsIs}));
  EXPECT_EQ(file("Scripts\\Export.lua"), kHook + "\r\n");
  EXPECT_EQ(file("Scripts\\Tolvaro\\Export.lua.created-in-parent-by-Tolvaro"), "");
  ASSERT_TRUE(remove_from_folder(m_, folder_, sink()));
  EXPECT_EQ(m_.files->kind(at("Scripts\\Export.lua")), PathKind::Missing);
  EXPECT_EQ(m_.files->kind(at("Scripts\\Tolvaro")), PathKind::Missing);
}

TEST_F(Win32Engine, ReadOnlyAndUtf16ExportLuaAreRefusedBeforeAnythingIsWritten) {
  put("Scripts\\Export.lua", "x = 1\n");
  const std::wstring export_lua = machine::testing::wide(at("Scripts\\Export.lua"));
  ASSERT_TRUE(SetFileAttributesW(export_lua.c_str(), FILE_ATTRIBUTE_READONLY));
  auto read_only = install();
  SetFileAttributesW(export_lua.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_FALSE(read_only);
  EXPECT_EQ(read_only.error().kind, InstallError::Kind::ReadOnly);
  EXPECT_EQ(m_.files->kind(at("Scripts\\Tolvaro")), PathKind::Missing);

  put("Scripts\\Export.lua", std::string("\xFF\xFEx\0 \0=\0 \0" "1\0", 12));
  auto utf16 = install();
  ASSERT_FALSE(utf16);
  EXPECT_EQ(utf16.error().kind, InstallError::Kind::NotUtf8);
  EXPECT_EQ(m_.files->kind(at("Scripts\\Tolvaro")), PathKind::Missing);
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(Win32Engine, AnExistingBackupIsNeverReplaced) {
  put("Scripts\\Export.lua", "x = 1\n");
  put("Scripts\\Export.lua.Tolvaro-backup", "the first text\n");
  ASSERT_TRUE(install());
  EXPECT_EQ(file("Scripts\\Export.lua.Tolvaro-backup"), "the first text\n");
  EXPECT_EQ(file("Scripts\\Export.lua"), "x = 1\n" + kHook + "\n");
}

}  // namespace
}  // namespace install
