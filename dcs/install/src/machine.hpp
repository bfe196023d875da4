#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dcs/install/src/path.hpp"

// The operating-system services that all install code runs on, behind four small interfaces, and
// the path functions with which install code compares folders and shows paths. The real services
// (real_machine.hpp) exist only in the Windows build; tests use an in-memory machine.
namespace machine {

enum class PathKind { Missing, File, Folder };

enum class IoErrorKind { NotFound, PermissionDenied, Other };

// The error of a file or registry operation. `code` is the raw Windows error code when the error
// came from the system; `text` is the system's message followed by " (os error N)".
struct IoError {
  IoErrorKind kind = IoErrorKind::Other;
  std::optional<std::uint32_t> code;
  std::string text;

  // Windows says a file is missing with ERROR_FILE_NOT_FOUND (2) or, when a folder on the way is
  // missing too, ERROR_PATH_NOT_FOUND (3); both mean "not there".
  bool is_not_found() const { return kind == IoErrorKind::NotFound; }
  friend bool operator==(const IoError&, const IoError&) = default;
};

// Windows error codes the install code and its tests meet.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorDirectory = 267;

// The kind Windows error `code` falls into.
IoErrorKind kind_of_code(std::uint32_t code);
// An error that did not come from the system.
IoError plain_error(IoErrorKind kind, std::string text);

using Bytes = std::string;
struct Missing {
  friend bool operator==(Missing, Missing) = default;
};
// A whole file's bytes, `Missing` (the system's not-found error) or any other error.
using ReadOutcome = std::variant<Bytes, Missing, IoError>;

// UTC with the 100-nanosecond ticks of Windows file times.
using FileTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
using FileTime = std::chrono::sys_time<FileTicks>;

// An open lock file. The lock is held while this lives; destroying it closes the handle.
class FileLock {
 public:
  struct Held {
    virtual ~Held() = default;
  };
  explicit FileLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}
  FileLock(FileLock&&) noexcept = default;
  FileLock& operator=(FileLock&&) noexcept = default;

 private:
  std::unique_ptr<Held> held_;
};

// Every file and folder operation of the install code. Safe to call from several threads.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Attributes with links followed; any error is `Missing`.
  virtual PathKind kind(const Path& path) const = 0;
  virtual ReadOutcome read(const Path& path) const = 0;
  virtual std::expected<bool, IoError> is_read_only(const Path& path) const = 0;
  // Creates the folder and its missing parents; an existing folder is success.
  virtual std::expected<void, IoError> create_dir_all(const Path& path) const = 0;
  // Writes "<path>.tolvaro-new", flushes it and moves it over the path: the target is either the
  // old file or the whole new one.
  virtual std::expected<void, IoError> write_atomic(const Path& path, std::string_view bytes) const = 0;
  // Like write_atomic, but the final move never replaces anything: when the path already names a
  // file or a folder the call fails with code 183 (ERROR_ALREADY_EXISTS) and leaves it as it was.
  // For copies that must never overwrite an earlier copy (the Export.lua backup, hand-edited
  // copies), whatever an earlier look at the path said.
  virtual std::expected<void, IoError> write_new(const Path& path, std::string_view bytes) const = 0;
  // Rewrites the file's bytes through a handle on the file itself, so it keeps its identity and
  // attributes; creates it when absent. A failure midway can leave it partly written.
  virtual std::expected<void, IoError> write_in_place(const Path& path, std::string_view bytes) const = 0;
  // Not found is success.
  virtual std::expected<void, IoError> remove_file(const Path& path) const = 0;
  // The folder joined with each entry's name, in the system's order; an absent folder is empty.
  virtual std::expected<std::vector<Path>, IoError> list_dir(const Path& path) const = 0;
  // Removes an empty folder; not found is success.
  virtual std::expected<void, IoError> remove_dir(const Path& path) const = 0;
  // Opens (creating it and its folder when absent) the file with no sharing at all: a second
  // lock of the same file, from this process or another, fails with code 32 while this lives.
  virtual std::expected<FileLock, IoError> lock(const Path& path) const = 0;
  // The last write time of the file (links followed), none when it cannot be read; for telling
  // how long ago DCS last wrote its log.
  virtual std::optional<FileTime> modified_time(const Path& path) const = 0;
};

enum class KnownFolder { SavedGames, LocalAppData, Profile };

// The user's known folders; none when Windows does not give one (for instance when it is
// redirected to a folder that does not exist).
class KnownFolders {
 public:
  virtual ~KnownFolders() = default;
  virtual std::optional<Path> saved_games() const = 0;
  virtual std::optional<Path> local_app_data() const = 0;
  virtual std::optional<Path> profile() const = 0;
};

enum class RegistryRoot { CurrentUser, LocalMachine };

// Registry value types that `read_string` accepts.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

class RegistryReader {
 public:
  virtual ~RegistryReader() = default;
  // The text of a REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ value (one line per
  // string); none for every failure: key or value missing, access denied, another type.
  virtual std::optional<std::string> read_string(RegistryRoot root, std::string_view subkey,
                                                 std::string_view value) const = 0;
};

class ProcessList {
 public:
  virtual ~ProcessList() = default;
  // Whether a running process has this executable name (ASCII letters compared without case).
  virtual bool is_running(std::string_view exe_name) const = 0;
};

// The bundle handed to all install code.
struct Machine {
  std::unique_ptr<RegistryReader> registry;
  std::unique_ptr<KnownFolders> known_folders;
  std::unique_ptr<ProcessList> processes;
  std::unique_ptr<FileSystem> files;
};

// A bundle whose services are those of `owner`, which it keeps alive: for a thread that uses the
// same services as its starter and may outlive the starter's hold on them.
Machine share(std::shared_ptr<const Machine> owner);

// Path functions.

// The text with which install messages show a path: a leading user-profile folder (ASCII case
// ignored, ending there or at a backslash) becomes %USERPROFILE%.
std::string show_path(const KnownFolders& known_folders, const Path& path);

// The rest of `path`'s text after the folder `folder` (ASCII case ignored, the folder's trailing
// backslashes dropped): empty when the path is the folder itself, else beginning with a backslash;
// none when the path does not lie there.
std::optional<std::string> text_below(const Path& folder, const Path& path);

struct AbsoluteError {
  enum class Why { NotLocal, CannotMakeAbsolute };
  Why why;
  Path path;  // as given
  friend bool operator==(const AbsoluteError&, const AbsoluteError&) = default;
};

// The absolute form of a path on a local drive ("C:\a\b", single backslashes, no "." or ".."),
// or why there is none. A network path or "\\?\" form is not local; a relative path is resolved
// against the working folder by Windows (the native build has none and cannot make it absolute).
std::expected<Path, AbsoluteError> local_absolute(const Path& path);

// The comparison key of a path: its local absolute form (or the path itself) lower-cased.
std::string normalise(const Path& path);
bool same_folder(const Path& a, const Path& b);

// Helpers shared by every implementation of the services, so they agree where they can.

// The full path that Windows' GetFullPathNameW gives for a drive-absolute path ("C:\..." or
// "C:/..."), worked out without the system: separators turned into backslashes and collapsed,
// "." and ".." parts resolved, a dot ending a folder name and the dots and blanks ending the
// path dropped. A network path ("\\server\share") comes back with backslashes only; paths that
// need a working folder give none.
std::optional<std::u16string> full_path_without_system(std::u16string_view path);

// The text of a registry string value from its raw bytes and type, as `read_string` returns it.
std::optional<std::string> decode_registry_string(std::uint32_t type, std::string_view bytes);

// Whether a process's executable name is `wanted`: equal length, ASCII letters without case.
bool same_exe_name(std::string_view process_name, std::string_view wanted);

}  // namespace machine
