#include "dcs/install/src/machine.hpp"

#include "dcs/install/src/full_path.hpp"
#include "dcs/install/src/unicode.hpp"

namespace machine {
namespace {

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool starts_with_drive(std::u16string_view s) {
  return s.size() >= 2 && is_drive_letter(s[0]) && s[1] == u':';
}

// The services of a shared bundle, each holding the bundle.
class SharedRegistry final : public RegistryReader {
 public:
  explicit SharedRegistry(std::shared_ptr<const Machine> owner) : owner_(std::move(owner)) {}
  std::optional<std::string> read_string(RegistryRoot root, std::string_view subkey,
                                         std::string_view value) const override {
    return owner_->registry->read_string(root, subkey, value);
  }

 private:
  std::shared_ptr<const Machine> owner_;
};

class SharedKnownFolders final : public KnownFolders {
 public:
  explicit SharedKnownFolders(std::shared_ptr<const Machine> owner) : owner_(std::move(owner)) {}
  std::optional<Path> saved_games() const override { return owner_->known_folders->saved_games(); }
  std::optional<Path> local_app_data() const override { return owner_->known_folders->local_app_data(); }
  std::optional<Path> profile() const override { return owner_->known_folders->profile(); }

 private:
  std::shared_ptr<const Machine> owner_;
};

class SharedProcesses final : public ProcessList {
 public:
  explicit SharedProcesses(std::shared_ptr<const Machine> owner) : owner_(std::move(owner)) {}
  bool is_running(std::string_view exe_name) const override { return owner_->processes->is_running(exe_name); }

 private:
  std::shared_ptr<const Machine> owner_;
};

class SharedFiles final : public FileSystem {
 public:
  explicit SharedFiles(std::shared_ptr<const Machine> owner) : owner_(std::move(owner)) {}
  PathKind kind(const Path& path) const override { return files().kind(path); }
  ReadOutcome read(const Path& path) const override { return files().read(path); }
  std::expected<bool, IoError> is_read_only(const Path& path) const override { return files().is_read_only(path); }
  std::expected<void, IoError> create_dir_all(const Path& path) const override {
    return files().create_dir_all(path);
  }
  std::expected<void, IoError> write_atomic(const Path& path, std::string_view bytes) const override {
    return files().write_atomic(path, bytes);
  }
  std::expected<void, IoError> write_new(const Path& path, std::string_view bytes) const override {
    return files().write_new(path, bytes);
  }
  std::expected<void, IoError> write_in_place(const Path& path, std::string_view bytes) const override {
    return files().write_in_place(path, bytes);
  }
  std::expected<void, IoError> remove_file(const Path& path) const override { return files().remove_file(path); }
  std::expected<std::vector<Path>, IoError> list_dir(const Path& path) const override {
    return files().list_dir(path);
  }
  std::expected<void, IoError> remove_dir(const Path& path) const override { return files().remove_dir(path); }
  std::expected<FileLock, IoError> lock(const Path& path) const override { return files().lock(path); }
  std::optional<FileTime> modified_time(const Path& path) const override { return files().modified_time(path); }

 private:
  const FileSystem& files() const { return *owner_->files; }
  std::shared_ptr<const Machine> owner_;
};

}  // namespace

Machine share(std::shared_ptr<const Machine> owner) {
  return Machine{std::make_unique<SharedRegistry>(owner), std::make_unique<SharedKnownFolders>(owner),
                 std::make_unique<SharedProcesses>(owner), std::make_unique<SharedFiles>(owner)};
}

IoErrorKind kind_of_code(std::uint32_t code) {
  switch (code) {
    case kErrorFileNotFound:
    case kErrorPathNotFound:
      return IoErrorKind::NotFound;
    case kErrorAccessDenied:
      return IoErrorKind::PermissionDenied;
    default:
      return IoErrorKind::Other;
  }
}

IoError plain_error(IoErrorKind kind, std::string text) {
  return IoError{kind, std::nullopt, std::move(text)};
}

std::string show_path(const KnownFolders& known_folders, const Path& path) {
  std::optional<Path> profile = known_folders.profile();
  if (!profile) return path.text();
  if (std::optional<std::string> rest = text_below(*profile, path)) return "%USERPROFILE%" + *rest;
  return path.text();
}

std::optional<std::string> text_below(const Path& folder, const Path& path) {
  std::string text = path.text();
  std::string prefix = folder.text();
  while (!prefix.empty() && prefix.back() == '\\') prefix.pop_back();
  if (prefix.empty() || text.size() < prefix.size()) return std::nullopt;
  if (!equal_ascii_case(std::string_view(text).substr(0, prefix.size()), prefix)) return std::nullopt;
  std::string rest = text.substr(prefix.size());
  if (!rest.empty() && rest.front() != '\\') return std::nullopt;
  return rest;
}

std::expected<Path, AbsoluteError> local_absolute(const Path& path) {
  const std::u16string& units = path.units();
  auto fail = [&](AbsoluteError::Why why) { return std::unexpected(AbsoluteError{why, path}); };
  if (units.size() >= 2 && units[0] == u'\\' && units[1] == u'\\')
    return fail(AbsoluteError::Why::NotLocal);
  if (units.empty() || units.find(u'\0') != std::u16string::npos)
    return fail(AbsoluteError::Why::CannotMakeAbsolute);
  std::optional<std::u16string> full = detail::system_full_path(units);
  if (!full) return fail(AbsoluteError::Why::CannotMakeAbsolute);
  if (!starts_with_drive(*full)) return fail(AbsoluteError::Why::NotLocal);

  // Rebuilt from drive, root and names: single backslashes, no "." parts.
  std::u16string out = full->substr(0, 2);
  std::u16string_view rest = std::u16string_view(*full).substr(2);
  if (!rest.empty() && is_separator(rest.front())) out.push_back(u'\\');
  bool first = true;
  while (!rest.empty()) {
    std::size_t end = 0;
    while (end < rest.size() && !is_separator(rest[end])) ++end;
    std::u16string_view name = rest.substr(0, end);
    rest.remove_prefix(end < rest.size() ? end + 1 : end);
    if (name.empty() || name == u".") continue;
    if (!first) out.push_back(u'\\');
    out += name;
    first = false;
  }
  return Path(std::move(out));
}

std::string normalise(const Path& path) {
  std::expected<Path, AbsoluteError> absolute = local_absolute(path);
  return lower_full(absolute ? absolute->text() : path.text());
}

bool same_folder(const Path& a, const Path& b) { return normalise(a) == normalise(b); }

std::optional<std::u16string> full_path_without_system(std::u16string_view path) {
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    // A network path: enough to tell that it is not on a local drive.
    std::u16string unc(path);
    for (char16_t& c : unc)
      if (c == u'/') c = u'\\';
    return unc;
  }
  if (path.size() < 3 || !starts_with_drive(path) || !is_separator(path[2])) return std::nullopt;
  std::u16string s;
  // Every "/" becomes "\" and runs of separators collapse into one.
  for (char16_t c : path) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && !s.empty() && s.back() == u'\\') continue;
    s.push_back(c);
  }
  const std::size_t mark = 3;  // after "C:\": nothing above the root
  std::size_t p = mark;
  while (p < s.size()) {
    if (s[p] == u'.') {
      const char16_t next = p + 1 < s.size() ? s[p + 1] : u'\0';
      if (next == u'\\') {  // ".\" part
        s.erase(p, 2);
        continue;
      }
      if (next == u'\0') {  // final "."
        if (p > mark) --p;
        s.resize(p);
        continue;
      }
      if (next == u'.') {
        const char16_t after = p + 2 < s.size() ? s[p + 2] : u'\0';
        if (after == u'\\' || after == u'\0') {  // ".." part: drop it and the name before it
          const std::size_t from = after == u'\\' ? p + 3 : p + 2;
          std::size_t q = p;
          if (q > mark) {
            --q;
            while (q > mark && s[q - 1] != u'\\') --q;
          }
          if (after == u'\0') {
            if (q > mark) --q;
            s.resize(q);
          } else {
            s.erase(q, from - q);
          }
          p = q;
          continue;
        }
      }
    }
    while (p < s.size() && s[p] != u'\\') ++p;  // to the end of this name
    if (p < s.size()) {
      if (p > mark && s[p - 1] == u'.') {
        s.erase(p - 1, 1);  // a folder name loses one final dot
      } else {
        ++p;
      }
    }
  }
  // The path loses the dots and blanks at its end.
  std::size_t end = s.size();
  while (end > mark && (s[end - 1] == u' ' || s[end - 1] == u'.')) --end;
  s.resize(end);
  return s;
}

std::optional<std::string> decode_registry_string(std::uint32_t type, std::string_view bytes) {
  if (type != kRegSz && type != kRegExpandSz && type != kRegMultiSz) return std::nullopt;
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  while (!units.empty() && units.back() == u'\0') units.pop_back();
  if (type == kRegMultiSz)
    for (char16_t& u : units)
      if (u == u'\0') u = u'\n';
  return utf16_to_utf8(units);
}

bool same_exe_name(std::string_view process_name, std::string_view wanted) {
  return equal_ascii_case(process_name, wanted);
}

}  // namespace machine
