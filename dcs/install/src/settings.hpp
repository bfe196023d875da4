#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/src/log.hpp"
#include "dcs/install/src/machine.hpp"

namespace install {

// Logs `message` at `level` unless this exact text went through log_once before in this run, for
// problems that would otherwise repeat on every scan. Thread-safe.
void log_once(base::Level level, std::string_view message);

namespace testing {
// Forgets every text logged once, so that tests sharing a process see their own lines.
void forget_logged_once();
}  // namespace testing

}  // namespace install

// The per-user settings file, Tolvaro\DcsBridge\settings.json under local app data, which
// remembers the DCS folders the user picked by hand.
namespace settings {

inline constexpr std::size_t kMaxHandPicked = 8;

// Tolvaro\DcsBridge under local app data; none when Windows does not say where that is.
std::optional<machine::Path> folder(const machine::KnownFolders& known_folders);
// settings.json in that folder.
std::optional<machine::Path> path(const machine::KnownFolders& known_folders);

// The hand-picked folders, oldest first, as written in the file (not checked). Never fails: a
// missing file is an empty list, and other problems are logged once and give an empty list.
std::vector<machine::Path> read(const machine::Machine& machine);

// Why a folder was not remembered.
struct RememberError {
  enum class Kind {
    LocalAppDataUnknown,  // Windows did not say where local app data is
    Io,                   // `path` could not be written (or read first), with `error`
  };
  Kind kind;
  machine::Path path;
  machine::IoError error;
};

// Adds `folder` as the newest hand-picked folder (dropping entries that name the same folder and,
// past 8, the oldest) and writes the file; returns the settings file's path. A settings file that
// exists but cannot be read is never overwritten: that read error is returned instead.
std::expected<machine::Path, RememberError> remember(const machine::Machine& machine,
                                                     const machine::Path& folder);

// The file's text for these folders, as remember writes it.
std::string serialise(const std::vector<machine::Path>& folders);

}  // namespace settings

namespace install {

// The install lock, held while this lives. Holds nothing when Windows did not say where local
// app data is: the run then goes on unprotected.
class InstallLock {
 public:
  InstallLock() = default;
  explicit InstallLock(machine::FileLock lock) : lock_(std::move(lock)) {}
  bool held() const { return lock_.has_value(); }

 private:
  std::optional<machine::FileLock> lock_;
};

struct LockError {
  enum class Kind {
    Held,    // another run holds the lock file `path`
    Failed,  // opening `path` failed with `error`
  };
  Kind kind;
  machine::Path path;
  machine::IoError error;  // for Failed
};

// install.lock beside settings.json; none without local app data.
std::optional<machine::Path> lock_path(const machine::KnownFolders& known_folders);

// Takes the install lock without waiting. Without local app data it logs a warning (every time)
// and returns a lock that holds nothing.
std::expected<InstallLock, LockError> acquire_lock(const machine::Machine& machine);

}  // namespace install
