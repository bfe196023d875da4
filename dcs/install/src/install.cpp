#include "dcs/install/src/install.hpp"

#include "core/base/src/log.hpp"
#include "dcs/install/src/export_file.hpp"
#include "dcs/install/src/export_lua.hpp"
#include "dcs/install/src/scan.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/src/unicode.hpp"

namespace install {
namespace {

using embedded::EmbeddedFile;
using embedded::FileState;
using machine::Path;
using machine::PathKind;

// More hand-edited copies of one file than anyone keeps; past it the names are not tried.
constexpr int kMaxHandEditedNames = 1000;

std::unexpected<InstallError> io(const machine::Machine& m, Operation op, const Path& path,
                                 machine::IoError error) {
  return std::unexpected(InstallError::io_failed(*m.known_folders, op, path, std::move(error)));
}

Path hand_edited_name(const Path& path, int n) {
  return n == 1 ? path.plus(".hand-edited") : path.plus(".hand-edited-" + std::to_string(n));
}

SettingsSaveError save_error(const machine::KnownFolders& kf, settings::RememberError cause) {
  std::string message = cause.kind == settings::RememberError::Kind::LocalAppDataUnknown
                            ? "Windows did not say where local app data is"
                            : "cannot write " + machine::show_path(kf, cause.path) + ": " + cause.error.text;
  return {std::move(cause), std::move(message)};
}

std::expected<void, InstallError> apply_add_on(const machine::Machine& m, const Path& folder,
                                               AddOnAction action, std::span<const EmbeddedFile> files,
                                               const StepSink& steps) {
  for (const EmbeddedFile& file : files) {
    std::expected<void, InstallError> done;
    if (action == AddOnAction::Install) done = install_embedded_file(m, folder, file, steps);
    if (action == AddOnAction::Remove) done = remove_embedded_file(m, folder, file, steps);
    if (!done) return done;
  }
  return {};
}

}  // namespace

std::string_view to_string(AddOnAction action) {
  switch (action) {
    case AddOnAction::Install: return "Install";
    case AddOnAction::Remove: return "Remove";
    case AddOnAction::LeaveAsIs: return "LeaveAsIs";
  }
  return "?";
}

std::string debug_form(const Options& options) {
  return "Options { map_marker: " + std::string(to_string(options.map_marker)) +
         ", bandit_tool: " + std::string(to_string(options.bandit_tool)) + " }";
}

Path reticle_folder(const Path& folder) { return folder.join("Scripts\\Tolvaro\\reticle"); }

std::optional<AddOn> add_on_of_path(const Path& folder, const Path& path) {
  const std::string text = machine::ascii_lower(path.text());
  if (text.starts_with(machine::ascii_lower(reticle_folder(folder).text()))) return AddOn::MapMarker;
  if (text.starts_with(machine::ascii_lower(installed_path(folder, embedded::BANDIT_TOOL_FILE).text())))
    return AddOn::BanditTool;
  return std::nullopt;
}

FolderChoice check_chosen_folder(const machine::Machine& m, const Path& folder, const ConsentCallback& consent) {
  std::expected<Path, machine::FolderCheckError> checked = machine::check_folder_kind(m, folder);
  Path absolute;
  if (checked) {
    absolute = *checked;
  } else if (checked.error().kind == machine::FolderCheckError::Kind::NeverWritten) {
    if (!consent || !consent(checked.error().path)) return Refused{checked.error()};
    base::warn(machine::show_path(*m.known_folders, checked.error().path) +
               " has no sign that DCS ever wrote to it; installing there as asked");
    absolute = checked.error().path;
  } else {
    return Refused{checked.error()};
  }
  bool outside = true;
  for (const machine::FolderCandidate& c : machine::discover_folders(m, {}))
    if (machine::same_folder(c.saved_games, absolute)) outside = false;
  return Found{std::move(absolute), outside};
}

FolderChoice choose_folder(const machine::Machine& m, const std::optional<Path>& saved_games,
                           const FolderChooser& chooser, const ConsentCallback& consent) {
  if (saved_games) return check_chosen_folder(m, *saved_games, consent);
  std::vector<Path> hand_picked = machine::hand_picked_folders(m);
  if (!hand_picked.empty()) return Found{std::move(hand_picked.back()), false};
  std::vector<machine::FolderCandidate> candidates = machine::discover_folders(m, {});
  if (candidates.empty()) return NotFound{};
  if (candidates.size() == 1) return Found{std::move(candidates.front().saved_games), false};
  std::optional<Path> picked = chooser ? chooser(candidates) : std::nullopt;
  if (!picked) return Ambiguous{std::move(candidates)};
  return check_chosen_folder(m, *picked, consent);
}

std::expected<void, InstallError> keep_hand_edited_copy(const machine::Machine& m, const Path& path,
                                                        std::string_view bytes, const StepSink& steps) {
  for (int n = 1; n <= kMaxHandEditedNames; ++n) {
    const Path name = hand_edited_name(path, n);
    PathKind kind = m.files->kind(name);
    if (kind == PathKind::Missing) {
      // Never replaces: `kind` also says Missing when it cannot tell.
      std::expected<void, machine::IoError> written = m.files->write_new(name, bytes);
      if (written) {
        if (auto verified = verify_written(m, name, bytes); !verified) return verified;
        steps({Step::Kind::KeptHandEditedCopy, path, name});
        return {};
      }
      kind = m.files->kind(name);
      if (kind == PathKind::Missing) return io(m, Operation::Write, name, written.error());
    }
    if (kind == PathKind::File) {
      machine::ReadOutcome saved = m.files->read(name);
      if (const auto* b = std::get_if<machine::Bytes>(&saved); b && *b == bytes) {
        steps({Step::Kind::HandEditedCopyAlreadySaved, path, name});
        return {};
      }
    }
  }
  return io(m, Operation::Write, hand_edited_name(path, kMaxHandEditedNames + 1),
            machine::plain_error(machine::IoErrorKind::Other,
                                 "every name for a hand-edited copy up to this one is taken"));
}

std::expected<void, InstallError> install_embedded_file(const machine::Machine& m, const Path& folder,
                                                        const EmbeddedFile& file, const StepSink& steps) {
  const Path path = installed_path(folder, file);
  FileState state = embedded::compare_installed(*m.files, path, file);
  switch (state.kind) {
    case FileState::Kind::Current:
      steps({Step::Kind::Unchanged, path, std::nullopt});
      return {};
    case FileState::Kind::Unreadable:
      return io(m, Operation::Read, path, std::move(state.error));
    case FileState::Kind::Edited:
      if (auto kept = keep_hand_edited_copy(m, path, state.bytes, steps); !kept) return kept;
      break;
    case FileState::Kind::EarlierRelease:
    case FileState::Kind::Absent:
      break;
  }
  if (std::optional<Path> parent = path.parent())
    if (auto made = m.files->create_dir_all(*parent); !made) return io(m, Operation::Create, *parent, made.error());
  if (auto written = m.files->write_atomic(path, file.contents); !written)
    return io(m, Operation::Write, path, written.error());
  if (auto verified = verify_written(m, path, file.contents); !verified) return verified;
  steps({Step::Kind::Wrote, path, std::nullopt});
  return {};
}

std::expected<void, InstallError> remove_embedded_file(const machine::Machine& m, const Path& folder,
                                                       const EmbeddedFile& file, const StepSink& steps) {
  const Path path = installed_path(folder, file);
  FileState state = embedded::compare_installed(*m.files, path, file);
  switch (state.kind) {
    case FileState::Kind::Absent:
      return {};
    case FileState::Kind::Unreadable:
      return io(m, Operation::Read, path, std::move(state.error));
    case FileState::Kind::Edited:
      if (auto kept = keep_hand_edited_copy(m, path, state.bytes, steps); !kept) return kept;
      break;
    case FileState::Kind::Current:
    case FileState::Kind::EarlierRelease:
      break;
  }
  if (auto removed = m.files->remove_file(path); !removed) return io(m, Operation::Remove, path, removed.error());
  steps({Step::Kind::RemovedFile, path, std::nullopt});
  return {};
}

std::expected<void, InstallError> remove_folder_if_ours(const machine::Machine& m, const Path& folder,
                                                        const StepSink& steps) {
  if (m.files->kind(folder) != PathKind::Folder) return {};
  std::expected<std::vector<Path>, machine::IoError> entries = m.files->list_dir(folder);
  if (!entries) return io(m, Operation::Read, folder, entries.error());
  if (!entries->empty()) {
    steps({Step::Kind::KeptFolder, folder, std::nullopt});
    return {};
  }
  if (auto removed = m.files->remove_dir(folder); !removed) return io(m, Operation::Remove, folder, removed.error());
  steps({Step::Kind::RemovedFolder, folder, std::nullopt});
  return {};
}

std::expected<InstallReport, InstallError> apply(const machine::Machine& m, const InstallRequest& request,
                                                 const FolderChooser& chooser, const ConsentCallback& consent,
                                                 const StepSink& sink) {
  std::expected<InstallLock, InstallError> lock = take_install_lock(m);
  if (!lock) return std::unexpected(lock.error());

  InstallReport report;
  const StepSink steps = [&](const Step& step) {
    report.steps.push_back(step);
    if (sink) sink(step);
  };

  FolderChoice choice = choose_folder(m, request.saved_games, chooser, consent);
  if (std::holds_alternative<NotFound>(choice)) return std::unexpected(InstallError::no_install_found());
  if (auto* ambiguous = std::get_if<Ambiguous>(&choice))
    return std::unexpected(InstallError::cannot_tell(std::move(ambiguous->candidates)));
  if (auto* refused = std::get_if<Refused>(&choice))
    return std::unexpected(InstallError::folder_refused(std::move(refused->error)));
  const Found found = std::get<Found>(std::move(choice));
  const Path& folder = found.path;
  report.folder = folder;

  if (m.files->kind(folder) != PathKind::Folder)
    return std::unexpected(InstallError::folder_missing(*m.known_folders, folder));

  // Export.lua is decided before anything is written, so that a file the program may not change
  // stops the install while the folder is still untouched.
  std::expected<LoadedExportLua, InstallError> loaded = load_export_lua(m, folder);
  if (!loaded) return std::unexpected(loaded.error());
  auto installed = export_lua::installed_text(loaded->text.value_or(std::string()), {loaded->ours, loaded->own});
  if (!installed) return std::unexpected(InstallError::open_at_end(*m.known_folders, loaded->path));
  const std::optional<std::string>& new_text = *installed;
  if (new_text && loaded->read_only)
    return std::unexpected(InstallError::read_only(*m.known_folders, loaded->path));

  if (auto done = install_embedded_file(m, folder, embedded::COLLECTOR_FILE, steps); !done)
    return std::unexpected(done.error());
  if (auto done = apply_add_on(m, folder, request.options.map_marker, embedded::MAP_MARKER_FILES, steps); !done)
    return std::unexpected(done.error());
  if (auto done = apply_add_on(m, folder, request.options.bandit_tool,
                               std::span(&embedded::BANDIT_TOOL_FILE, 1), steps);
      !done)
    return std::unexpected(done.error());
  if (request.options.map_marker == AddOnAction::Remove)
    if (auto done = remove_folder_if_ours(m, reticle_folder(folder), steps); !done)
      return std::unexpected(done.error());

  if (auto done = commit_export_lua(*loaded, m, folder, new_text, steps); !done)
    return std::unexpected(done.error());

  if (found.outside_discovered) {
    std::expected<Path, settings::RememberError> remembered = settings::remember(m, folder);
    if (remembered) {
      report.remembered = std::expected<Path, SettingsSaveError>(std::move(*remembered));
    } else {
      report.remembered = std::expected<Path, SettingsSaveError>(
          std::unexpect, save_error(*m.known_folders, std::move(remembered.error())));
    }
  }
  return report;
}

std::expected<std::vector<Step>, InstallError> remove_from_folder(const machine::Machine& m, const Path& folder,
                                                                  const StepSink& sink) {
  std::vector<Step> recorded;
  const StepSink steps = [&](const Step& step) {
    recorded.push_back(step);
    if (sink) sink(step);
  };
  if (m.files->kind(folder) != PathKind::Folder) return recorded;

  std::expected<bool, InstallError> own_line = remove_hook_lines(m, folder, steps);
  if (!own_line) return std::unexpected(own_line.error());

  const Path collector = installed_path(folder, embedded::COLLECTOR_FILE);
  if (*own_line) {
    if (m.files->kind(collector) == PathKind::File) steps({Step::Kind::KeptCollector, collector, std::nullopt});
  } else if (auto done = remove_embedded_file(m, folder, embedded::COLLECTOR_FILE, steps); !done) {
    return std::unexpected(done.error());
  }
  if (auto done = remove_embedded_file(m, folder, embedded::BANDIT_TOOL_FILE, steps); !done)
    return std::unexpected(done.error());
  for (const EmbeddedFile& file : embedded::MAP_MARKER_FILES)
    if (auto done = remove_embedded_file(m, folder, file, steps); !done) return std::unexpected(done.error());
  if (auto done = remove_folder_if_ours(m, reticle_folder(folder), steps); !done)
    return std::unexpected(done.error());
  if (auto done = remove_folder_if_ours(m, folder.join("Scripts\\Tolvaro"), steps); !done)
    return std::unexpected(done.error());
  return recorded;
}

}  // namespace install
