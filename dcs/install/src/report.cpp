#include "dcs/install/src/report.hpp"

#include "dcs/install/src/export_lua.hpp"

namespace install {
namespace {

using machine::show_path;

// The verb padded with spaces to 11 characters, then the rest.
std::string line(std::string_view verb, std::string_view rest) {
  std::string out(verb);
  out.resize(11, ' ');
  out += rest;
  return out;
}

InstallError make(InstallError::Kind kind, machine::Path path, std::string message) {
  InstallError e{kind, std::move(path), Operation::Read, std::nullopt, {}, std::nullopt, std::nullopt, {}};
  e.message = std::move(message);
  return e;
}

}  // namespace

std::string report_line(const machine::KnownFolders& kf, const Step& step) {
  const std::string path = show_path(kf, step.path);
  const std::string second = step.second ? show_path(kf, *step.second) : std::string();
  switch (step.kind) {
    case Step::Kind::Unchanged: return line("unchanged", path);
    case Step::Kind::Wrote: return line("wrote", path);
    case Step::Kind::KeptHandEditedCopy: return line("kept", "the hand-edited " + path + " as " + second);
    case Step::Kind::HandEditedCopyAlreadySaved:
      return line("kept", "the hand-edited " + path + ", already saved as " + second);
    case Step::Kind::BackedUp: return line("backed up", path + " to " + second);
    case Step::Kind::AddedLine: return line("added", "the collector line to " + path);
    case Step::Kind::RemovedExtraLines:
      return line("removed", "extra copies of the collector line from " + path);
    case Step::Kind::LeftOwnLine: return line("left", "your own collector line in " + path);
    case Step::Kind::RemovedLine: return line("removed", "the collector line from " + path);
    case Step::Kind::RemovedFile:
    case Step::Kind::RemovedFolder: return line("removed", path);
    case Step::Kind::KeptFolder: return line("kept", path + ", which holds files that are not ours");
    case Step::Kind::KeptCollector:
      return line("kept", path + ", which your own line in Export.lua still loads");
  }
  return path;
}

std::string_view word(Operation operation) {
  switch (operation) {
    case Operation::Read: return "read";
    case Operation::Write: return "write";
    case Operation::Remove: return "remove";
    case Operation::Create: return "create";
    case Operation::Lock: return "lock";
  }
  return "use";
}

InstallError InstallError::no_install_found() {
  return make(Kind::NoInstallFound, {},
              "no DCS install was found. Pass the DCS folder under Saved Games with --saved-games.");
}

InstallError InstallError::cannot_tell(std::vector<machine::FolderCandidate> candidates) {
  InstallError e = make(Kind::CannotTellWhichFolder, {}, "cannot tell which folder; pass --saved-games");
  e.candidates = std::move(candidates);
  return e;
}

InstallError InstallError::folder_refused(machine::FolderCheckError refusal) {
  InstallError e = make(Kind::FolderRefused, refusal.path, refusal.text());
  e.refusal = std::move(refusal);
  return e;
}

InstallError InstallError::folder_missing(const machine::KnownFolders& kf, const machine::Path& folder) {
  return make(Kind::FolderMissing, folder,
              show_path(kf, folder) + " does not exist. Start DCS once so it creates its folder, then try again.");
}

InstallError InstallError::lock_held(const machine::KnownFolders& kf, const machine::Path& lock_file) {
  return make(Kind::LockHeld, lock_file,
              "another install or remove is running (it holds " + show_path(kf, lock_file) +
                  "). Wait for it to finish.");
}

InstallError InstallError::read_only(const machine::KnownFolders& kf, const machine::Path& export_lua) {
  return make(Kind::ReadOnly, export_lua,
              "Export.lua is read-only: " + show_path(kf, export_lua) +
                  ". Clear its read-only box in Properties, then try again.");
}

InstallError InstallError::not_utf8(const machine::KnownFolders& kf, const machine::Path& export_lua) {
  return make(Kind::NotUtf8, export_lua,
              show_path(kf, export_lua) + " was not changed: " + std::string(export_lua::kRefusal));
}

InstallError InstallError::open_at_end(const machine::KnownFolders& kf, const machine::Path& export_lua) {
  return make(Kind::OpenAtEnd, export_lua,
              show_path(kf, export_lua) + " was not changed: " + std::string(export_lua::kOpenAtEndRefusal));
}

InstallError InstallError::backup_is_folder(const machine::KnownFolders& kf, const machine::Path& backup) {
  return make(Kind::BackupIsFolder, backup,
              show_path(kf, backup) + " is a folder, so Export.lua cannot be backed up there");
}

InstallError InstallError::put_back_failed(const machine::KnownFolders& kf, const InstallError& first,
                                           const machine::Path& export_lua, const InstallError& put_back,
                                           const std::optional<machine::Path>& backup) {
  std::string message =
      first.text() + ", and putting " + show_path(kf, export_lua) + " back failed too (" + put_back.text() + ").";
  if (backup) message += " Its copy from before the first install is " + show_path(kf, *backup) + ".";
  InstallError e = make(Kind::PutBackFailed, export_lua, std::move(message));
  e.backup = backup;
  return e;
}

InstallError InstallError::io_failed(const machine::KnownFolders& kf, Operation operation,
                                     const machine::Path& path, machine::IoError error) {
  InstallError e = make(Kind::Io, path,
                        "cannot " + std::string(word(operation)) + " " + show_path(kf, path) + ": " + error.text);
  e.operation = operation;
  e.io = std::move(error);
  return e;
}

InstallError InstallError::changed_since_read(const machine::KnownFolders& kf, const machine::Path& export_lua) {
  return io_failed(kf, Operation::Write, export_lua,
                   machine::plain_error(machine::IoErrorKind::Other,
                                        "another program changed it meanwhile; try again"));
}

InstallError InstallError::still_there(const machine::KnownFolders& kf, const machine::Path& path) {
  return io_failed(kf, Operation::Remove, path,
                   machine::plain_error(machine::IoErrorKind::Other,
                                        "it was still there right after it was deleted"));
}

InstallError InstallError::written_file_gone(const machine::KnownFolders& kf, const machine::Path& path) {
  return make(Kind::WrittenFileGone, path,
              show_path(kf, path) +
                  " was gone right after it was written; security software may have removed it");
}

InstallError InstallError::written_file_differs(const machine::KnownFolders& kf, const machine::Path& path) {
  return make(Kind::WrittenFileDiffers, path, show_path(kf, path) + " did not hold what was written to it");
}

InstallError from_lock_error(const machine::KnownFolders& kf, const LockError& error) {
  if (error.kind == LockError::Kind::Held) return InstallError::lock_held(kf, error.path);
  return InstallError::io_failed(kf, Operation::Lock, error.path, error.error);
}

std::expected<InstallLock, InstallError> take_install_lock(const machine::Machine& m) {
  std::expected<InstallLock, LockError> lock = acquire_lock(m);
  if (!lock) return std::unexpected(from_lock_error(*m.known_folders, lock.error()));
  return std::move(*lock);
}

}  // namespace install
