#include "dcs/install/src/settings.hpp"

#include <algorithm>
#include <mutex>
#include <set>

#include <nlohmann/json.hpp>

namespace install {
namespace {

struct OnceSet {
  std::mutex mutex;
  std::set<std::string, std::less<>> seen;
};

OnceSet& once_set() {
  static OnceSet set;
  return set;
}

}  // namespace

void log_once(base::Level level, std::string_view message) {
  OnceSet& set = once_set();
  {
    std::lock_guard guard(set.mutex);
    if (!set.seen.emplace(message).second) return;
  }
  base::log(level, message);
}

namespace testing {
void forget_logged_once() {
  OnceSet& set = once_set();
  std::lock_guard guard(set.mutex);
  set.seen.clear();
}
}  // namespace testing

}  // namespace install

namespace settings {
namespace {

using machine::Path;

struct ReadResult {
  std::vector<Path> folders;
  std::optional<machine::IoError> failed;  // the file is there but could not be read
};

std::optional<std::vector<Path>> parse(const std::string& bytes) {
  // The parser stops at a NUL as at the end of the text and skips a byte order mark; neither
  // belongs in a settings file.
  if (bytes.find('\0') != std::string::npos || bytes.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(bytes, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  std::vector<Path> folders;
  if (auto it = value.find("handPickedFolders"); it != value.end()) {
    if (!it->is_array()) return std::nullopt;
    for (const nlohmann::json& element : *it) {
      if (!element.is_string()) return std::nullopt;
      folders.emplace_back(element.get_ref<const std::string&>());
    }
    return folders;
  }
  if (auto it = value.find("savedGamesFolder"); it != value.end() && it->is_string()) {
    folders.emplace_back(it->get_ref<const std::string&>());
    return folders;
  }
  return std::nullopt;
}

ReadResult read_file(const machine::Machine& m) {
  std::optional<Path> file = path(*m.known_folders);
  if (!file) return {};
  machine::ReadOutcome outcome = m.files->read(*file);
  if (std::holds_alternative<machine::Missing>(outcome)) return {};
  if (const auto* error = std::get_if<machine::IoError>(&outcome)) {
    install::log_once(base::Level::Warn, "cannot read " + show_path(*m.known_folders, *file) +
                                             ", so no folder is picked: " + error->text);
    return {{}, *error};
  }
  std::optional<std::vector<Path>> folders = parse(std::get<machine::Bytes>(outcome));
  if (!folders) {
    install::log_once(base::Level::Warn, show_path(*m.known_folders, *file) +
                                             " is not a settings file this bridge reads, so no "
                                             "folder is picked");
    return {};
  }
  return {std::move(*folders), std::nullopt};
}

}  // namespace

std::optional<Path> folder(const machine::KnownFolders& known_folders) {
  std::optional<Path> base = known_folders.local_app_data();
  if (!base) return std::nullopt;
  return base->join("Tolvaro\\DcsBridge");
}

std::optional<Path> path(const machine::KnownFolders& known_folders) {
  std::optional<Path> dir = folder(known_folders);
  if (!dir) return std::nullopt;
  return dir->join("settings.json");
}

std::vector<Path> read(const machine::Machine& m) { return read_file(m).folders; }

std::string serialise(const std::vector<Path>& folders) {
  nlohmann::json list = nlohmann::json::array();
  for (const Path& f : folders) list.push_back(f.text());
  nlohmann::json object = nlohmann::json::object();
  object["handPickedFolders"] = std::move(list);
  return object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::expected<Path, RememberError> remember(const machine::Machine& m, const Path& new_folder) {
  std::optional<Path> file = path(*m.known_folders);
  if (!file) return std::unexpected(RememberError{RememberError::Kind::LocalAppDataUnknown, {}, {}});
  ReadResult current = read_file(m);
  if (current.failed)
    return std::unexpected(RememberError{RememberError::Kind::Io, *file, *current.failed});
  std::vector<Path>& folders = current.folders;
  std::erase_if(folders, [&](const Path& f) { return machine::same_folder(f, new_folder); });
  const bool full = folders.size() >= kMaxHandPicked;
  folders.push_back(new_folder);
  if (full) {
    base::info("settings keep " + std::to_string(kMaxHandPicked) +
               " hand-picked folders; forgetting the oldest, " +
               show_path(*m.known_folders, folders.front()));
    folders.erase(folders.begin());
  }
  const std::string bytes = serialise(folders);
  const Path dir = file->parent().value_or(Path());
  if (auto made = m.files->create_dir_all(dir); !made)
    return std::unexpected(RememberError{RememberError::Kind::Io, dir, made.error()});
  if (auto written = m.files->write_atomic(*file, bytes); !written)
    return std::unexpected(RememberError{RememberError::Kind::Io, *file, written.error()});
  return *file;
}

}  // namespace settings

namespace install {

std::optional<machine::Path> lock_path(const machine::KnownFolders& known_folders) {
  std::optional<machine::Path> dir = settings::folder(known_folders);
  if (!dir) return std::nullopt;
  return dir->join("install.lock");
}

std::expected<InstallLock, LockError> acquire_lock(const machine::Machine& m) {
  std::optional<machine::Path> file = lock_path(*m.known_folders);
  if (!file) {
    base::warn("Windows did not say where local app data is; running without the install lock");
    return InstallLock();
  }
  std::expected<machine::FileLock, machine::IoError> lock = m.files->lock(*file);
  if (lock) return InstallLock(std::move(*lock));
  if (lock.error().code == machine::kErrorSharingViolation)
    return std::unexpected(LockError{LockError::Kind::Held, *file, lock.error()});
  return std::unexpected(LockError{LockError::Kind::Failed, *file, lock.error()});
}

}  // namespace install
