#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dcs/install/src/machine.hpp"

namespace machine {
// Lets GoogleTest print paths in failure messages.
void PrintTo(const Path& path, std::ostream* out);
}  // namespace machine

namespace machine::testing {

// The operations of the in-memory machine, for faults and for the call log. The steps of
// `write_atomic` are separate, so that a test can fail the move after the temporary file exists.
enum class Op {
  kind,
  read,
  is_read_only,
  create_dir,
  write_atomic_create,
  write_atomic_write,
  write_atomic_move,
  write_new,
  write_in_place,
  remove_file,
  list_dir,
  remove_dir,
  lock,
  modified_time,
  registry,
  known_folder,
  process_list,
};

// Makes calls of `op` on `path` fail with the Windows error `code`.
struct Fault {
  Op op;
  std::string path;  // UTF-8; names compared as the machine compares them; empty: every path
  std::uint32_t code = kErrorAccessDenied;
  int times = -1;  // how many calls fail; -1: every one
  // For `write_in_place`: this many bytes reach the file before the failure.
  std::size_t written_before_failure = 0;
};

// One call of a service, in the order made. A `write_atomic` call is logged as
// `write_atomic_create`, `create_dir_all` as `create_dir`. A fault on `write_new` fails the call
// before anything is written.
struct Call {
  Op op;
  std::string path;  // the path as given; for the registry "HKCU\subkey@value" or "HKLM\..."
  bool operator==(const Call&) const = default;
};

// A Windows PC in memory, as far as the install code can tell: drives, folders and files whose
// names compare without case but keep the case they were written in, both separators, read-only
// files, share-0 locks, the Windows error codes 2, 3, 5, 32, 145, 183 and 267, a registry, known
// folders and a process list. Every `Machine` made from one FakeMachine works on the same world,
// so two of them see each other's files and locks. Thread-safe.
//
// Paths must be drive-absolute ("C:\..."); anything else, and a drive that was not added, is
// "path not found" (3). Error texts are fixed English system messages.
class FakeMachine {
 public:
  FakeMachine();  // with drive C:

  Machine machine() const;

  // The world's files.
  void add_drive(char letter);
  void add_folder(const Path& path);  // and its parents
  void add_folder(std::string_view path) { add_folder(Path(path)); }
  void add_file(const Path& path, std::string_view bytes);  // parents created
  void add_file(std::string_view path, std::string_view bytes) { add_file(Path(path), bytes); }
  void set_read_only(const Path& path, bool read_only = true);
  void set_read_only(std::string_view path, bool read_only = true) { set_read_only(Path(path), read_only); }
  void set_modified_time(const Path& path, FileTime time);
  // The time written files get; the start of 2024 until set.
  void set_clock(FileTime now);
  // Removes a file or a folder with everything in it.
  void remove(const Path& path);
  void remove(std::string_view path) { remove(Path(path)); }

  std::optional<std::string> file(const Path& path) const;
  std::optional<std::string> file(std::string_view path) const { return file(Path(path)); }
  PathKind kind(const Path& path) const;
  PathKind kind(std::string_view path) const { return kind(Path(path)); }
  bool is_locked(const Path& path) const;
  // Every folder and file with its name as written, sorted, folders ending in "\".
  std::vector<std::string> tree() const;

  // Faults and observation.
  void fail(Fault fault);
  void clear_faults();
  // Called after every file operation (outside the machine's lock), e.g. to play security
  // software that removes a file right after it was written.
  void after_each(std::function<void(Op, const Path&)> hook);
  std::vector<Call> calls() const;
  void clear_calls();

  // The registry: text stored as a real string value would be (UTF-16, NUL-terminated; for
  // REG_MULTI_SZ each line feed separates two strings).
  void set_registry(RegistryRoot root, std::string_view subkey, std::string_view name,
                    std::string_view text, std::uint32_t type = kRegSz);
  void set_registry_raw(RegistryRoot root, std::string_view subkey, std::string_view name,
                        std::uint32_t type, std::string bytes);
  void remove_registry(RegistryRoot root, std::string_view subkey, std::string_view name);

  // Known folders: reported only while the folder exists, as Windows does.
  void set_known_folder(KnownFolder which, std::optional<Path> path);
  void set_known_folder(KnownFolder which, std::string_view path) { set_known_folder(which, Path(path)); }

  void add_process(std::string exe_name);
  void remove_process(std::string_view exe_name);

  struct World;

 private:
  std::shared_ptr<World> world_;
};

// The fixed message of a Windows error code, as the fake's IoError texts use it.
IoError fake_error(std::uint32_t code);

}  // namespace machine::testing
