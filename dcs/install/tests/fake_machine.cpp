#include "dcs/install/tests/fake_machine.hpp"

#include <chrono>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <tuple>

#include "dcs/install/src/create_dir_all.hpp"
#include "dcs/install/src/unicode.hpp"

namespace machine {

void PrintTo(const Path& path, std::ostream* out) { *out << '"' << path.text() << '"'; }

namespace testing {
namespace {

constexpr std::uint32_t kErrorInvalidName = 123;

std::string message_of(std::uint32_t code) {
  switch (code) {
    case kErrorFileNotFound: return "The system cannot find the file specified.";
    case kErrorPathNotFound: return "The system cannot find the path specified.";
    case kErrorAccessDenied: return "Access is denied.";
    case kErrorSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case kErrorInvalidName: return "The filename, directory name, or volume label syntax is incorrect.";
    case kErrorDirNotEmpty: return "The directory is not empty.";
    case kErrorAlreadyExists: return "Cannot create a file when that file already exists.";
    case kErrorDirectory: return "The directory name is invalid.";
    default: return "Windows error " + std::to_string(code);
  }
}

char16_t fold_unit(char16_t u) {
  if (u >= 0xD800 && u <= 0xDFFF) return u;
  char32_t l = simple_lower(u);
  return l < 0x10000 ? static_cast<char16_t>(l) : u;
}

std::u16string fold(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& u : out) u = fold_unit(u);
  return out;
}

bool bad_name(std::u16string_view name) {
  for (char16_t u : name)
    if (u < 32 || u == u'<' || u == u'>' || u == u':' || u == u'"' || u == u'|' || u == u'?' ||
        u == u'*')
      return true;
  return false;
}

struct Entry {
  bool folder = false;
  std::u16string name;  // as written
  std::string bytes;
  bool read_only = false;
  FileTime mtime{};
};

// A path resolved the way Windows resolves it before it looks anything up.
struct Resolved {
  std::u16string key;                // folded, "c:\a\b"; a drive root is "c:"
  std::vector<std::u16string> names;  // as written, after the system's clean-up
  std::u16string parent_key() const { return key.substr(0, key.rfind(u'\\')); }
  bool is_root() const { return names.empty(); }
};

using RegistryKey = std::tuple<RegistryRoot, std::string, std::string>;

std::string registry_fold(std::string_view s) { return lower_full(s); }

}  // namespace

struct FakeMachine::World {
  mutable std::mutex mutex;
  std::set<char16_t> drives;
  std::map<std::u16string, Entry> entries;
  std::set<std::u16string> locks;
  std::vector<Fault> faults;
  std::vector<Call> calls;
  std::function<void(Op, const Path&)> after;
  std::map<RegistryKey, std::pair<std::uint32_t, std::string>> registry;
  std::optional<Path> known[3];
  std::vector<std::string> processes;
  FileTime now = FileTime(std::chrono::duration_cast<FileTicks>(std::chrono::seconds(1704067200)));

  // Everything below runs with `mutex` held.

  std::expected<Resolved, std::uint32_t> resolve(const Path& path) const {
    if (path.units().find(u'\0') != std::u16string::npos) return std::unexpected(kErrorInvalidName);
    std::optional<std::u16string> full = full_path_without_system(path.units());
    if (!full) return std::unexpected(kErrorPathNotFound);
    const char16_t drive = fold_unit((*full)[0]);
    if (!drives.contains(drive)) return std::unexpected(kErrorPathNotFound);
    Resolved r;
    r.key = std::u16string{drive, u':'};
    std::u16string_view rest = std::u16string_view(*full).substr(3);
    while (!rest.empty()) {
      std::size_t end = rest.find(u'\\');
      std::u16string_view name = rest.substr(0, end);
      rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
      if (name.empty()) continue;
      if (bad_name(name)) return std::unexpected(kErrorInvalidName);
      r.names.emplace_back(name);
      r.key += u'\\';
      r.key += fold(name);
    }
    return r;
  }

  // 0 when the folder that should hold `r` is there, else the code Windows gives.
  std::uint32_t parent_code(const Resolved& r) const {
    if (r.names.size() <= 1) return 0;
    auto it = entries.find(r.parent_key());
    return (it != entries.end() && it->second.folder) ? 0 : kErrorPathNotFound;
  }

  Entry* find(const Resolved& r) {
    auto it = entries.find(r.key);
    return it == entries.end() ? nullptr : &it->second;
  }

  bool has_children(const std::u16string& key) const {
    auto it = entries.lower_bound(key + u'\\');
    return it != entries.end() && it->first.starts_with(key + u'\\');
  }

  std::optional<Fault> take_fault(Op op, const Path& path) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      if (it->op != op) continue;
      if (!it->path.empty()) {
        auto a = resolve(Path(it->path));
        auto b = resolve(path);
        bool same = (a && b) ? a->key == b->key : Path(it->path) == path;
        if (!same) continue;
      }
      Fault f = *it;
      if (it->times > 0 && --it->times == 0) faults.erase(it);
      return f;
    }
    return std::nullopt;
  }

  void log(Op op, const Path& path) { calls.push_back({op, path.text()}); }

  std::expected<void, IoError> create_dir(const Path& path) {
    if (auto f = take_fault(Op::create_dir, path)) return std::unexpected(fake_error(f->code));
    auto r = resolve(path);
    if (!r) return std::unexpected(fake_error(r.error()));
    if (r->is_root()) return std::unexpected(fake_error(kErrorAlreadyExists));
    if (std::uint32_t code = parent_code(*r)) return std::unexpected(fake_error(code));
    if (find(*r)) return std::unexpected(fake_error(kErrorAlreadyExists));
    entries[r->key] = Entry{true, r->names.back(), {}, false, now};
    return {};
  }

  PathKind kind_of(const Path& path) const {
    auto r = resolve(path);
    if (!r) return PathKind::Missing;
    if (r->is_root()) return PathKind::Folder;
    auto it = entries.find(r->key);
    if (it == entries.end()) return PathKind::Missing;
    return it->second.folder ? PathKind::Folder : PathKind::File;
  }

  std::expected<void, IoError> create_dir_all(const Path& path) {
    return detail::create_dir_all(
        path, [this](const Path& p) { return create_dir(p); },
        [this](const Path& p) { return kind_of(p) == PathKind::Folder; });
  }

  // Opens an existing or new file for writing, as CreateFileW does: the entry, or the code.
  std::expected<Entry*, std::uint32_t> open_for_write(const Resolved& r, bool create) {
    if (r.is_root()) return std::unexpected(kErrorAccessDenied);
    if (std::uint32_t code = parent_code(r)) return std::unexpected(code);
    if (Entry* e = find(r)) {
      if (e->folder || e->read_only) return std::unexpected(kErrorAccessDenied);
      if (locks.contains(r.key)) return std::unexpected(kErrorSharingViolation);
      return e;
    }
    if (!create) return std::unexpected(kErrorFileNotFound);
    Entry& e = entries[r.key];
    e = Entry{false, r.names.back(), {}, false, now};
    return &e;
  }

  void add_folder_tree(const Path& path) {
    auto r = resolve(path);
    if (!r) return;
    std::u16string key = r->key.substr(0, 2);
    for (const std::u16string& name : r->names) {
      key += u'\\';
      key += fold(name);
      Entry& e = entries[key];
      if (e.name.empty()) e = Entry{true, name, {}, false, now};
      e.folder = true;
    }
  }
};

namespace {

using World = FakeMachine::World;

class Guarded {
 public:
  explicit Guarded(std::shared_ptr<World> world) : world_(std::move(world)) {}

 protected:
  // Runs `body` under the world's lock, then the after-hook outside it.
  template <typename Body>
  auto run(Op op, const Path& path, Body body) const {
    std::function<void(Op, const Path&)> hook;
    auto result = [&] {
      std::lock_guard guard(world_->mutex);
      world_->log(op, path);
      hook = world_->after;
      return body(*world_);
    }();
    if (hook) hook(op, path);
    return result;
  }
  std::shared_ptr<World> world_;
};

std::unexpected<IoError> failure(std::uint32_t code) { return std::unexpected(fake_error(code)); }

class FakeFiles final : public FileSystem, Guarded {
 public:
  using Guarded::Guarded;

  PathKind kind(const Path& path) const override {
    return run(Op::kind, path, [&](World& w) {
      if (w.take_fault(Op::kind, path)) return PathKind::Missing;
      return w.kind_of(path);
    });
  }

  ReadOutcome read(const Path& path) const override {
    return run(Op::read, path, [&](World& w) -> ReadOutcome {
      auto outcome = [](std::uint32_t code) -> ReadOutcome {
        IoError e = fake_error(code);
        if (e.is_not_found()) return Missing{};
        return e;
      };
      if (auto f = w.take_fault(Op::read, path)) return outcome(f->code);
      auto r = w.resolve(path);
      if (!r) return outcome(r.error());
      if (r->is_root()) return outcome(kErrorAccessDenied);
      if (std::uint32_t code = w.parent_code(*r)) return outcome(code);
      Entry* e = w.find(*r);
      if (!e) return outcome(kErrorFileNotFound);
      if (e->folder) return outcome(kErrorAccessDenied);
      if (w.locks.contains(r->key)) return outcome(kErrorSharingViolation);
      return e->bytes;
    });
  }

  std::expected<bool, IoError> is_read_only(const Path& path) const override {
    return run(Op::is_read_only, path, [&](World& w) -> std::expected<bool, IoError> {
      if (auto f = w.take_fault(Op::is_read_only, path)) return failure(f->code);
      auto r = w.resolve(path);
      if (!r) return failure(r.error());
      if (r->is_root()) return false;
      if (std::uint32_t code = w.parent_code(*r)) return failure(code);
      Entry* e = w.find(*r);
      if (!e) return failure(kErrorFileNotFound);
      return e->read_only;
    });
  }

  std::expected<void, IoError> create_dir_all(const Path& path) const override {
    return run(Op::create_dir, path, [&](World& w) { return w.create_dir_all(path); });
  }

  std::expected<void, IoError> write_atomic(const Path& path, std::string_view bytes) const override {
    return run(Op::write_atomic_create, path,
               [&](World& w) { return write_through_temp(w, path, bytes, true); });
  }

  std::expected<void, IoError> write_new(const Path& path, std::string_view bytes) const override {
    return run(Op::write_new, path, [&](World& w) -> std::expected<void, IoError> {
      if (auto f = w.take_fault(Op::write_new, path)) {
        IoError e = fake_error(f->code);
        e.text += " (writing through " + path.plus(".tolvaro-new").text() + ")";
        return std::unexpected(std::move(e));
      }
      return write_through_temp(w, path, bytes, false);
    });
  }

  std::expected<void, IoError> write_in_place(const Path& path, std::string_view bytes) const override {
    return run(Op::write_in_place, path, [&](World& w) -> std::expected<void, IoError> {
      std::optional<Fault> fault = w.take_fault(Op::write_in_place, path);
      if (fault && fault->written_before_failure == 0) return failure(fault->code);
      auto r = w.resolve(path);
      if (!r) return failure(r.error());
      auto opened = w.open_for_write(*r, true);
      if (!opened) return failure(opened.error());
      Entry& e = **opened;
      e.mtime = w.now;
      if (fault) {
        // The first bytes overwrite the start; the file is not cut yet.
        const std::size_t n = std::min(fault->written_before_failure, bytes.size());
        if (e.bytes.size() < n) e.bytes.resize(n);
        e.bytes.replace(0, n, bytes.substr(0, n));
        return failure(fault->code);
      }
      e.bytes.assign(bytes);
      return {};
    });
  }

  std::expected<void, IoError> remove_file(const Path& path) const override {
    return run(Op::remove_file, path, [&](World& w) -> std::expected<void, IoError> {
      auto result = [&]() -> std::expected<void, std::uint32_t> {
        if (auto f = w.take_fault(Op::remove_file, path)) return std::unexpected(f->code);
        auto r = w.resolve(path);
        if (!r) return std::unexpected(r.error());
        if (r->is_root()) return std::unexpected(kErrorAccessDenied);
        if (std::uint32_t code = w.parent_code(*r)) return std::unexpected(code);
        Entry* e = w.find(*r);
        if (!e) return std::unexpected(kErrorFileNotFound);
        if (e->folder || e->read_only) return std::unexpected(kErrorAccessDenied);
        if (w.locks.contains(r->key)) return std::unexpected(kErrorSharingViolation);
        w.entries.erase(r->key);
        return {};
      }();
      if (result) return {};
      IoError e = fake_error(result.error());
      if (e.is_not_found()) return {};
      return std::unexpected(std::move(e));
    });
  }

  std::expected<std::vector<Path>, IoError> list_dir(const Path& path) const override {
    return run(Op::list_dir, path, [&](World& w) -> std::expected<std::vector<Path>, IoError> {
      std::vector<Path> out;
      auto code = [&]() -> std::uint32_t {
        if (auto f = w.take_fault(Op::list_dir, path)) return f->code;
        if (path.empty()) return kErrorPathNotFound;
        auto r = w.resolve(path);
        if (!r) return r.error();
        if (!r->is_root()) {
          if (std::uint32_t c = w.parent_code(*r)) return c;
          Entry* e = w.find(*r);
          if (!e) return kErrorPathNotFound;
          if (!e->folder) return kErrorDirectory;
        }
        const std::u16string prefix = r->key + u'\\';
        for (auto it = w.entries.lower_bound(prefix);
             it != w.entries.end() && it->first.starts_with(prefix); ++it)
          if (it->first.find(u'\\', prefix.size()) == std::u16string::npos)
            out.push_back(path.join(Path(it->second.name)));
        return 0;
      }();
      if (code == 0) return out;
      IoError e = fake_error(code);
      if (e.is_not_found()) return std::vector<Path>{};
      return std::unexpected(std::move(e));
    });
  }

  std::expected<void, IoError> remove_dir(const Path& path) const override {
    return run(Op::remove_dir, path, [&](World& w) -> std::expected<void, IoError> {
      auto result = [&]() -> std::expected<void, std::uint32_t> {
        if (auto f = w.take_fault(Op::remove_dir, path)) return std::unexpected(f->code);
        auto r = w.resolve(path);
        if (!r) return std::unexpected(r.error());
        if (r->is_root()) return std::unexpected(kErrorAccessDenied);
        if (std::uint32_t code = w.parent_code(*r)) return std::unexpected(code);
        Entry* e = w.find(*r);
        if (!e) return std::unexpected(kErrorFileNotFound);
        if (!e->folder) return std::unexpected(kErrorDirectory);
        if (w.has_children(r->key)) return std::unexpected(kErrorDirNotEmpty);
        if (e->read_only) return std::unexpected(kErrorAccessDenied);
        w.entries.erase(r->key);
        return {};
      }();
      if (result) return {};
      IoError e = fake_error(result.error());
      if (e.is_not_found()) return {};
      return std::unexpected(std::move(e));
    });
  }

  std::expected<FileLock, IoError> lock(const Path& path) const override {
    return run(Op::lock, path, [&](World& w) -> std::expected<FileLock, IoError> {
      if (auto f = w.take_fault(Op::lock, path)) return failure(f->code);
      if (std::optional<Path> parent = path.parent())
        if (auto made = w.create_dir_all(*parent); !made) return std::unexpected(made.error());
      auto r = w.resolve(path);
      if (!r) return failure(r.error());
      auto opened = w.open_for_write(*r, true);
      if (!opened) return failure(opened.error());
      w.locks.insert(r->key);
      struct Held final : FileLock::Held {
        Held(std::shared_ptr<World> world, std::u16string key)
            : world(std::move(world)), key(std::move(key)) {}
        ~Held() override {
          std::lock_guard guard(world->mutex);
          world->locks.erase(key);
        }
        std::shared_ptr<World> world;
        std::u16string key;
      };
      return FileLock(std::make_unique<Held>(world_, r->key));
    });
  }

  std::optional<FileTime> modified_time(const Path& path) const override {
    return run(Op::modified_time, path, [&](World& w) -> std::optional<FileTime> {
      if (w.take_fault(Op::modified_time, path)) return std::nullopt;
      auto r = w.resolve(path);
      if (!r || r->is_root() || w.parent_code(*r)) return std::nullopt;
      Entry* e = w.find(*r);
      if (!e) return std::nullopt;
      return e->mtime;
    });
  }

 private:
  // Writes "<path>.tolvaro-new" and moves it over the path; `replace` false refuses any target.
  static std::expected<void, IoError> write_through_temp(World& w, const Path& path,
                                                         std::string_view bytes, bool replace) {
    const Path temp = path.plus(".tolvaro-new");
    auto attempt = [&]() -> std::expected<void, std::uint32_t> {
      if (replace)
        if (auto f = w.take_fault(Op::write_atomic_create, path)) return std::unexpected(f->code);
      auto t = w.resolve(temp);
      if (!t) return std::unexpected(t.error());
      auto opened = w.open_for_write(*t, true);
      if (!opened) return std::unexpected(opened.error());
      (*opened)->bytes.clear();
      (*opened)->mtime = w.now;
      if (replace)
        if (auto f = w.take_fault(Op::write_atomic_write, path)) return std::unexpected(f->code);
      (*opened)->bytes.assign(bytes);
      if (replace)
        if (auto f = w.take_fault(Op::write_atomic_move, path)) return std::unexpected(f->code);
      auto r = w.resolve(path);
      if (!r) return std::unexpected(r.error());
      if (r->is_root()) return std::unexpected(replace ? kErrorAccessDenied : kErrorAlreadyExists);
      if (std::uint32_t code = w.parent_code(*r)) return std::unexpected(code);
      if (Entry* target = w.find(*r)) {
        if (!replace) return std::unexpected(kErrorAlreadyExists);
        // A folder, a read-only file and a file that is open elsewhere refuse to be replaced.
        if (target->folder || target->read_only || w.locks.contains(r->key))
          return std::unexpected(kErrorAccessDenied);
      }
      Entry moved = std::move(w.entries[t->key]);
      w.entries.erase(t->key);
      moved.name = r->names.back();
      w.entries[r->key] = std::move(moved);
      return {};
    };
    auto done = attempt();
    if (done) return {};
    if (auto t = w.resolve(temp)) {
      Entry* e = w.find(*t);
      if (e && !e->folder && !e->read_only && !w.locks.contains(t->key)) w.entries.erase(t->key);
    }
    IoError e = fake_error(done.error());
    e.text += " (writing through " + temp.text() + ")";
    return std::unexpected(std::move(e));
  }
};

class FakeRegistry final : public RegistryReader, Guarded {
 public:
  using Guarded::Guarded;
  std::optional<std::string> read_string(RegistryRoot root, std::string_view subkey,
                                         std::string_view value) const override {
    std::string name = std::string(root == RegistryRoot::CurrentUser ? "HKCU\\" : "HKLM\\") +
                       std::string(subkey) + "@" + std::string(value);
    return run(Op::registry, Path(name), [&](World& w) -> std::optional<std::string> {
      if (w.take_fault(Op::registry, Path(name))) return std::nullopt;
      auto it = w.registry.find({root, registry_fold(subkey), registry_fold(value)});
      if (it == w.registry.end()) return std::nullopt;
      return decode_registry_string(it->second.first, it->second.second);
    });
  }
};

class FakeKnownFolders final : public KnownFolders, Guarded {
 public:
  using Guarded::Guarded;
  std::optional<Path> saved_games() const override { return get(KnownFolder::SavedGames, "saved_games"); }
  std::optional<Path> local_app_data() const override {
    return get(KnownFolder::LocalAppData, "local_app_data");
  }
  std::optional<Path> profile() const override { return get(KnownFolder::Profile, "profile"); }

 private:
  std::optional<Path> get(KnownFolder which, const char* name) const {
    return run(Op::known_folder, Path(name), [&](World& w) -> std::optional<Path> {
      const std::optional<Path>& set = w.known[static_cast<int>(which)];
      if (!set || w.kind_of(*set) != PathKind::Folder) return std::nullopt;
      return set;
    });
  }
};

class FakeProcesses final : public ProcessList, Guarded {
 public:
  using Guarded::Guarded;
  bool is_running(std::string_view exe_name) const override {
    return run(Op::process_list, Path(exe_name), [&](World& w) {
      for (const std::string& p : w.processes)
        if (same_exe_name(p, exe_name)) return true;
      return false;
    });
  }
};

}  // namespace

IoError fake_error(std::uint32_t code) {
  return IoError{kind_of_code(code), code,
                 message_of(code) + " (os error " + std::to_string(code) + ")"};
}

FakeMachine::FakeMachine() : world_(std::make_shared<World>()) { world_->drives.insert(u'c'); }

Machine FakeMachine::machine() const {
  Machine m;
  m.registry = std::make_unique<FakeRegistry>(world_);
  m.known_folders = std::make_unique<FakeKnownFolders>(world_);
  m.processes = std::make_unique<FakeProcesses>(world_);
  m.files = std::make_unique<FakeFiles>(world_);
  return m;
}

void FakeMachine::add_drive(char letter) {
  std::lock_guard guard(world_->mutex);
  world_->drives.insert(fold_unit(static_cast<char16_t>(letter)));
}

void FakeMachine::add_folder(const Path& path) {
  std::lock_guard guard(world_->mutex);
  world_->add_folder_tree(path);
}

void FakeMachine::add_file(const Path& path, std::string_view bytes) {
  std::lock_guard guard(world_->mutex);
  if (std::optional<Path> parent = path.parent()) world_->add_folder_tree(*parent);
  auto r = world_->resolve(path);
  if (!r || r->is_root()) return;
  Entry& e = world_->entries[r->key];
  if (e.name.empty() || e.folder) e = Entry{false, r->names.back(), {}, false, world_->now};
  e.bytes.assign(bytes);
  e.mtime = world_->now;
}

void FakeMachine::set_read_only(const Path& path, bool read_only) {
  std::lock_guard guard(world_->mutex);
  if (auto r = world_->resolve(path))
    if (Entry* e = world_->find(*r)) e->read_only = read_only;
}

void FakeMachine::set_modified_time(const Path& path, FileTime time) {
  std::lock_guard guard(world_->mutex);
  if (auto r = world_->resolve(path))
    if (Entry* e = world_->find(*r)) e->mtime = time;
}

void FakeMachine::set_clock(FileTime now) {
  std::lock_guard guard(world_->mutex);
  world_->now = now;
}

void FakeMachine::remove(const Path& path) {
  std::lock_guard guard(world_->mutex);
  auto r = world_->resolve(path);
  if (!r || r->is_root()) return;
  world_->entries.erase(r->key);
  const std::u16string prefix = r->key + u'\\';
  for (auto it = world_->entries.lower_bound(prefix);
       it != world_->entries.end() && it->first.starts_with(prefix);)
    it = world_->entries.erase(it);
}

std::optional<std::string> FakeMachine::file(const Path& path) const {
  std::lock_guard guard(world_->mutex);
  auto r = world_->resolve(path);
  if (!r) return std::nullopt;
  Entry* e = world_->find(*r);
  if (!e || e->folder) return std::nullopt;
  return e->bytes;
}

PathKind FakeMachine::kind(const Path& path) const {
  std::lock_guard guard(world_->mutex);
  return world_->kind_of(path);
}

bool FakeMachine::is_locked(const Path& path) const {
  std::lock_guard guard(world_->mutex);
  auto r = world_->resolve(path);
  return r && world_->locks.contains(r->key);
}

std::vector<std::string> FakeMachine::tree() const {
  std::lock_guard guard(world_->mutex);
  std::vector<std::string> out;
  for (const auto& [key, entry] : world_->entries) {
    // Rebuild the written names of every level from the keys of the parents.
    std::u16string written;
    std::u16string partial = key.substr(0, 2);
    written += static_cast<char16_t>(key[0] - u'a' + u'A');
    written += u':';
    std::size_t pos = 2;
    while (pos < key.size()) {
      std::size_t next = key.find(u'\\', pos + 1);
      partial = key.substr(0, next);
      written += u'\\';
      written += world_->entries.at(partial).name;
      pos = next == std::u16string::npos ? key.size() : next;
    }
    if (entry.folder) written += u'\\';
    out.push_back(utf16_to_utf8(written));
  }
  return out;
}

void FakeMachine::fail(Fault fault) {
  std::lock_guard guard(world_->mutex);
  world_->faults.push_back(std::move(fault));
}

void FakeMachine::clear_faults() {
  std::lock_guard guard(world_->mutex);
  world_->faults.clear();
}

void FakeMachine::after_each(std::function<void(Op, const Path&)> hook) {
  std::lock_guard guard(world_->mutex);
  world_->after = std::move(hook);
}

std::vector<Call> FakeMachine::calls() const {
  std::lock_guard guard(world_->mutex);
  return world_->calls;
}

void FakeMachine::clear_calls() {
  std::lock_guard guard(world_->mutex);
  world_->calls.clear();
}

void FakeMachine::set_registry(RegistryRoot root, std::string_view subkey, std::string_view name,
                               std::string_view text, std::uint32_t type) {
  std::u16string units = utf8_to_utf16(text);
  if (type == kRegMultiSz) {
    for (char16_t& u : units)
      if (u == u'\n') u = u'\0';
    units.push_back(u'\0');
  }
  units.push_back(u'\0');
  std::string bytes;
  for (char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  set_registry_raw(root, subkey, name, type, std::move(bytes));
}

void FakeMachine::set_registry_raw(RegistryRoot root, std::string_view subkey,
                                   std::string_view name, std::uint32_t type, std::string bytes) {
  std::lock_guard guard(world_->mutex);
  world_->registry[{root, registry_fold(subkey), registry_fold(name)}] = {type, std::move(bytes)};
}

void FakeMachine::remove_registry(RegistryRoot root, std::string_view subkey, std::string_view name) {
  std::lock_guard guard(world_->mutex);
  world_->registry.erase({root, registry_fold(subkey), registry_fold(name)});
}

void FakeMachine::set_known_folder(KnownFolder which, std::optional<Path> path) {
  std::lock_guard guard(world_->mutex);
  world_->known[static_cast<int>(which)] = std::move(path);
}

void FakeMachine::add_process(std::string exe_name) {
  std::lock_guard guard(world_->mutex);
  world_->processes.push_back(std::move(exe_name));
}

void FakeMachine::remove_process(std::string_view exe_name) {
  std::lock_guard guard(world_->mutex);
  std::erase_if(world_->processes, [&](const std::string& p) { return p == exe_name; });
}

}  // namespace testing
}  // namespace machine
