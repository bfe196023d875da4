#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/settings.hpp"

// What the install and remove operations report: one step per action as it happens, and the
// error that ends an operation.
namespace install {

// One reported action, shown as one line by `report_line`.
struct Step {
  enum class Kind {
    Unchanged,                   // "unchanged  {path}"
    Wrote,                       // "wrote      {path}"
    KeptHandEditedCopy,          // "kept       the hand-edited {path} as {second}"
    HandEditedCopyAlreadySaved,  // "kept       the hand-edited {path}, already saved as {second}"
    BackedUp,                    // "backed up  {path} to {second}"
    AddedLine,                   // "added      the collector line to {path}"
    RemovedExtraLines,           // "removed    extra copies of the collector line from {path}"
    LeftOwnLine,                 // "left       your own collector line in {path}"
    RemovedLine,                 // "removed    the collector line from {path}"
    RemovedFile,                 // "removed    {path}"
    RemovedFolder,               // "removed    {path}"
    KeptFolder,                  // "kept       {path}, which holds files that are not ours"
    KeptCollector,               // "kept       {path}, which your own line in Export.lua still loads"
  };
  Kind kind;
  machine::Path path;
  std::optional<machine::Path> second;
  friend bool operator==(const Step&, const Step&) = default;
};

// Receives each step at once, as it happens.
using StepSink = std::function<void(const Step&)>;

// The step's line: the verb padded to 11 characters, paths shown with machine::show_path.
std::string report_line(const machine::KnownFolders& known_folders, const Step& step);

// The file operation that failed, as the word of the "cannot {} {}: {}" text.
enum class Operation { Read, Write, Remove, Create, Lock };
std::string_view word(Operation operation);

// Why an install or remove stopped. `text()` is the message, with paths shown through
// machine::show_path (the folder check's own text keeps the path as it stands).
struct InstallError {
  enum class Kind {
    NoInstallFound,         // no DCS user folder was found
    CannotTellWhichFolder,  // several, and none was chosen: `candidates`
    FolderRefused,          // the named folder cannot be used: `refusal`
    FolderMissing,          // the folder `path` does not exist
    LockHeld,               // another run holds the lock file `path`
    ReadOnly,               // Export.lua `path` has the read-only attribute
    NotUtf8,                // Export.lua `path` is UTF-16 or holds NUL bytes
    OpenAtEnd,              // Export.lua `path` needs the hook line but ends in an open long comment
                            // or long string
    BackupIsFolder,         // the backup's name `path` is taken by a folder
    PutBackFailed,          // writing Export.lua `path` failed and so did putting it back
    Io,                     // `operation` on `path` failed with `io`
    WrittenFileGone,        // `path` was gone right after it was written
    WrittenFileDiffers,     // `path` did not read back as written
  };
  Kind kind;
  machine::Path path;
  Operation operation = Operation::Read;  // for Io
  std::optional<machine::IoError> io;     // for Io
  std::vector<machine::FolderCandidate> candidates;
  std::optional<machine::FolderCheckError> refusal;
  // For PutBackFailed: Export.lua's copy from before the first install, none when there is none
  // (Export.lua did not exist before), so that no copy is promised that is not there.
  std::optional<machine::Path> backup;

  const std::string& text() const { return message; }
  std::string message;

  static InstallError no_install_found();
  static InstallError cannot_tell(std::vector<machine::FolderCandidate> candidates);
  static InstallError folder_refused(machine::FolderCheckError refusal);
  static InstallError folder_missing(const machine::KnownFolders& kf, const machine::Path& folder);
  static InstallError lock_held(const machine::KnownFolders& kf, const machine::Path& lock_file);
  static InstallError read_only(const machine::KnownFolders& kf, const machine::Path& export_lua);
  static InstallError not_utf8(const machine::KnownFolders& kf, const machine::Path& export_lua);
  static InstallError open_at_end(const machine::KnownFolders& kf, const machine::Path& export_lua);
  static InstallError backup_is_folder(const machine::KnownFolders& kf, const machine::Path& backup);
  // `first` is the error of the write; `put_back` the error of putting the old text back.
  // `backup` is none when Export.lua did not exist before, so that no copy of it is named.
  static InstallError put_back_failed(const machine::KnownFolders& kf, const InstallError& first,
                                      const machine::Path& export_lua, const InstallError& put_back,
                                      const std::optional<machine::Path>& backup);
  static InstallError io_failed(const machine::KnownFolders& kf, Operation operation,
                                const machine::Path& path, machine::IoError error);
  // The I/O error "write" for an Export.lua that no longer holds what was read from it.
  static InstallError changed_since_read(const machine::KnownFolders& kf, const machine::Path& export_lua);
  // The I/O error "remove" for a file that a successful deletion left in place.
  static InstallError still_there(const machine::KnownFolders& kf, const machine::Path& path);
  static InstallError written_file_gone(const machine::KnownFolders& kf, const machine::Path& path);
  static InstallError written_file_differs(const machine::KnownFolders& kf, const machine::Path& path);
};

// The lock and its errors as install errors.
InstallError from_lock_error(const machine::KnownFolders& kf, const LockError& error);
// Takes the install lock for an install or remove run (install::acquire_lock).
std::expected<InstallLock, InstallError> take_install_lock(const machine::Machine& machine);

}  // namespace install
