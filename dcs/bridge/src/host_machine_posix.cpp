#include <memory>

#include "dcs/bridge/src/host_machine.hpp"

namespace cli {
namespace {

using machine::IoError;
using machine::Path;

IoError no_disk() { return machine::plain_error(machine::IoErrorKind::NotFound, "this build has no DCS folders"); }

// An empty disk: nothing can be found, read or written, and removing what is not there succeeds.
class EmptyFileSystem final : public machine::FileSystem {
 public:
  machine::PathKind kind(const Path&) const override { return machine::PathKind::Missing; }
  machine::ReadOutcome read(const Path&) const override { return machine::Missing{}; }
  std::expected<bool, IoError> is_read_only(const Path&) const override { return std::unexpected(no_disk()); }
  std::expected<void, IoError> create_dir_all(const Path&) const override { return std::unexpected(no_disk()); }
  std::expected<void, IoError> write_atomic(const Path&, std::string_view) const override {
    return std::unexpected(no_disk());
  }
  std::expected<void, IoError> write_new(const Path&, std::string_view) const override {
    return std::unexpected(no_disk());
  }
  std::expected<void, IoError> write_in_place(const Path&, std::string_view) const override {
    return std::unexpected(no_disk());
  }
  std::expected<void, IoError> remove_file(const Path&) const override { return {}; }
  std::expected<std::vector<Path>, IoError> list_dir(const Path&) const override { return std::vector<Path>{}; }
  std::expected<void, IoError> remove_dir(const Path&) const override { return {}; }
  std::expected<machine::FileLock, IoError> lock(const Path&) const override { return std::unexpected(no_disk()); }
  std::optional<machine::FileTime> modified_time(const Path&) const override { return std::nullopt; }
};

// Named like a Windows user's folders, so that the install code finds the places it looks in, and
// finds them empty.
class NamedFolders final : public machine::KnownFolders {
 public:
  std::optional<Path> saved_games() const override { return Path("C:\\Users\\bridge\\Saved Games"); }
  std::optional<Path> local_app_data() const override { return Path("C:\\Users\\bridge\\AppData\\Local"); }
  std::optional<Path> profile() const override { return Path("C:\\Users\\bridge"); }
};

class EmptyRegistry final : public machine::RegistryReader {
 public:
  std::optional<std::string> read_string(machine::RegistryRoot, std::string_view, std::string_view) const override {
    return std::nullopt;
  }
};

class NoProcesses final : public machine::ProcessList {
 public:
  bool is_running(std::string_view) const override { return false; }
};

}  // namespace

std::optional<machine::Machine> host_machine() { return std::nullopt; }

machine::Machine headless_machine() {
  machine::Machine m;
  m.registry = std::make_unique<EmptyRegistry>();
  m.known_folders = std::make_unique<NamedFolders>();
  m.processes = std::make_unique<NoProcesses>();
  m.files = std::make_unique<EmptyFileSystem>();
  return m;
}

}  // namespace cli
