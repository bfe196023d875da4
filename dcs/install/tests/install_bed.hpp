#pragma once

// An in-memory PC with one DCS installation whose user folder DCS has written to, for the tests of
// the install status and the install and remove operations.

#include <gmock/gmock.h>

#include <optional>
#include <string>
#include <vector>

#include "core/base/tests/log_capture.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/export_lua.hpp"
#include "dcs/install/src/install.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace install::testing {

inline constexpr const char* kProfile = "C:\\Users\\ann";
inline constexpr const char* kSavedGames = "C:\\Users\\ann\\Saved Games";
inline constexpr const char* kLocal = "C:\\Users\\ann\\AppData\\Local";
inline constexpr const char* kDcs = "C:\\Users\\ann\\Saved Games\\DCS";
// How messages show kDcs.
inline constexpr const char* kShown = "%USERPROFILE%\\Saved Games\\DCS";
inline constexpr const char* kEagle = "Software\\Eagle Dynamics\\DCS World";

inline const std::string kHook(export_lua::HOOK_LINE);

inline const std::string kCollector = "Scripts\\Tolvaro\\collectorScript.lua";
inline const std::string kBandit = "Scripts\\Hooks\\TolvaroBandits.lua";
inline const std::string kReticle = "Scripts\\Tolvaro\\reticle\\reticle.lua";
inline const std::string kReticleDlg = "Scripts\\Tolvaro\\reticle\\reticle.dlg";
inline const std::string kPromptDlg = "Scripts\\Tolvaro\\reticle\\prompt.dlg";
inline const std::string kReticlePng = "Scripts\\Tolvaro\\reticle\\reticle.png";
inline const std::string kExport = "Scripts\\Export.lua";
inline const std::string kBackup = "Scripts\\Export.lua.Tolvaro-backup";
inline const std::string kMarker = "Scripts\\Tolvaro\\Export.lua.created-in-parent-by-Tolvaro";

inline const Options kEverything{AddOnAction::Install, AddOnAction::Install};

class InstallBed : public ::testing::Test {
 public:
  static std::string at(const std::string& relative) { return std::string(kDcs) + "\\" + relative; }
  static std::string shown(const std::string& relative) { return std::string(kShown) + "\\" + relative; }

 protected:
  InstallBed() {
    install::testing::forget_logged_once();
    fake_.add_drive('D');
    fake_.add_folder(kSavedGames);
    fake_.add_folder(kLocal);
    fake_.set_known_folder(machine::KnownFolder::Profile, kProfile);
    fake_.set_known_folder(machine::KnownFolder::SavedGames, kSavedGames);
    fake_.set_known_folder(machine::KnownFolder::LocalAppData, kLocal);
    fake_.add_folder("D:\\DCS World");
    fake_.set_registry(machine::RegistryRoot::CurrentUser, kEagle, "Path", "D:\\DCS World");
    fake_.add_folder(std::string(kDcs) + "\\Config");
  }

  std::optional<std::string> file(const std::string& relative) const { return fake_.file(at(relative)); }
  void put(const std::string& relative, std::string_view bytes) { fake_.add_file(at(relative), bytes); }

  // Every built-in file in place, as this release writes it.
  void put_current_files() {
    put(kCollector, embedded::COLLECTOR_FILE.contents);
    put(kBandit, embedded::BANDIT_TOOL_FILE.contents);
    for (const embedded::EmbeddedFile& f : embedded::MAP_MARKER_FILES)
      put("Scripts\\" + std::string(f.relative_path), f.contents);
  }

  // Runs an install, collecting its step lines as the sink receives them.
  std::expected<InstallReport, InstallError> install(Options options = kEverything,
                                                     std::optional<machine::Path> saved_games = std::nullopt,
                                                     FolderChooser chooser = nullptr,
                                                     ConsentCallback consent = nullptr) {
    return apply(machine_, InstallRequest{std::move(saved_games), options}, chooser, consent, sink());
  }

  std::expected<std::vector<Step>, InstallError> remove() {
    return remove_from_folder(machine_, machine::Path(kDcs), sink());
  }

  StepSink sink() {
    return [this](const Step& step) { lines_.push_back(report_line(*machine_.known_folders, step)); };
  }

  // The files (not folders) of the DCS user folder, with their bytes.
  std::vector<std::pair<std::string, std::string>> dcs_files() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& entry : fake_.tree())
      if (entry.starts_with(std::string(kDcs) + "\\") && !entry.ends_with('\\'))
        out.emplace_back(entry, fake_.file(entry).value_or("?"));
    return out;
  }

  // Whether any call wrote, removed or created something in the DCS user folder.
  bool wrote_in_dcs_folder() const {
    using machine::testing::Op;
    for (const machine::testing::Call& call : fake_.calls()) {
      const bool writes = call.op == Op::create_dir || call.op == Op::write_atomic_create ||
                          call.op == Op::write_new || call.op == Op::write_in_place ||
                          call.op == Op::remove_file || call.op == Op::remove_dir;
      if (writes && call.path.starts_with(kDcs)) return true;
    }
    return false;
  }

  machine::testing::FakeMachine fake_;
  machine::Machine machine_ = fake_.machine();
  base::testing::LogCapture log_;
  std::vector<std::string> lines_;
};

}  // namespace install::testing
