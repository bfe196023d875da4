// The real file system: Win32 file calls on UTF-16 paths.

#include <cstring>
#include <vector>

#include "dcs/install/src/create_dir_all.hpp"
#include "dcs/install/src/real_machine.hpp"
#include "core/base/src/os_error.hpp"
#include "core/base/src/win32.hpp"
#include "dcs/install/src/unicode.hpp"

namespace machine {
IoError system_error(std::uint32_t code) {
  return IoError{kind_of_code(code), code, base::os_error(code).text};
}

namespace {

using win32::Handle;
using win32::wz;

IoError last_error() { return system_error(GetLastError()); }

constexpr DWORD kNormalSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::unexpected<IoError> fail(DWORD code) { return std::unexpected(system_error(code)); }
std::unexpected<IoError> fail_last() { return fail(GetLastError()); }

// Attributes with links followed: a handle that asks only for attributes, which no share mode
// refuses; a file the system will not open at all falls back to the attributes of its name.
std::expected<DWORD, IoError> attributes(const Path& path) {
  Handle h(CreateFileW(wz(path.units()), FILE_READ_ATTRIBUTES, kNormalSharing, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) {
    DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION) {
      DWORD a = GetFileAttributesW(wz(path.units()));
      if (a != INVALID_FILE_ATTRIBUTES) return a;
    }
    return fail(code);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.get(), &info)) return fail_last();
  return info.dwFileAttributes;
}

std::expected<void, IoError> write_all(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), chunk, &written, nullptr)) return fail_last();
    if (written == 0) return std::unexpected(plain_error(IoErrorKind::Other, "failed to write whole buffer"));
    bytes.remove_prefix(written);
  }
  return {};
}

// Renames `from` over `to` through a handle on `from`, replacing `to`.
std::expected<void, IoError> rename_by_handle(const Path& from, const Path& to) {
  Handle h(CreateFileW(wz(from.units()), DELETE | SYNCHRONIZE, kNormalSharing, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return fail_last();
  const std::u16string& target = to.units();
  const std::size_t name_bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes + sizeof(wchar_t), 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, target.data(), name_bytes);
  if (!SetFileInformationByHandle(h.get(), FileRenameInfo, info, static_cast<DWORD>(buffer.size())))
    return fail_last();
  return {};
}

class RealFileSystem final : public FileSystem {
 public:
  PathKind kind(const Path& path) const override {
    std::expected<DWORD, IoError> a = attributes(path);
    if (!a) return PathKind::Missing;
    return (*a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
  }

  ReadOutcome read(const Path& path) const override {
    Handle h(CreateFileW(wz(path.units()), GENERIC_READ, kNormalSharing, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) {
      IoError e = last_error();
      if (e.is_not_found()) return Missing{};
      return e;
    }
    Bytes bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(h.get(), &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 31))
      bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    char chunk[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(h.get(), chunk, sizeof chunk, &got, nullptr)) return last_error();
      if (got == 0) break;
      bytes.append(chunk, got);
    }
    return bytes;
  }

  std::expected<bool, IoError> is_read_only(const Path& path) const override {
    std::expected<DWORD, IoError> a = attributes(path);
    if (!a) return std::unexpected(a.error());
    return (*a & FILE_ATTRIBUTE_READONLY) != 0;
  }

  std::expected<void, IoError> create_dir_all(const Path& path) const override {
    return detail::create_dir_all(
        path,
        [](const Path& p) -> std::expected<void, IoError> {
          if (CreateDirectoryW(wz(p.units()), nullptr)) return {};
          return fail_last();
        },
        [this](const Path& p) { return kind(p) == PathKind::Folder; });
  }

  std::expected<void, IoError> write_atomic(const Path& path, std::string_view bytes) const override {
    return write_through_temp(path, bytes, true);
  }

  std::expected<void, IoError> write_new(const Path& path, std::string_view bytes) const override {
    return write_through_temp(path, bytes, false);
  }

  std::expected<void, IoError> write_in_place(const Path& path, std::string_view bytes) const override {
    Handle h(CreateFileW(wz(path.units()), GENERIC_WRITE, kNormalSharing, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) return fail_last();
    if (auto w = write_all(h.get(), bytes); !w) return w;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (!SetFileInformationByHandle(h.get(), FileEndOfFileInfo, &end, sizeof end)) return fail_last();
    if (!FlushFileBuffers(h.get())) return fail_last();
    return {};
  }

  std::expected<void, IoError> remove_file(const Path& path) const override {
    if (DeleteFileW(wz(path.units()))) return {};
    IoError e = last_error();
    if (e.is_not_found()) return {};
    return std::unexpected(std::move(e));
  }

  std::expected<std::vector<Path>, IoError> list_dir(const Path& path) const override {
    std::vector<Path> entries;
    if (path.empty()) return entries;  // names no folder, like an absent one
    const Path pattern = path.join("*");
    WIN32_FIND_DATAW data;
    win32::FindHandle find(FindFirstFileExW(wz(pattern.units()), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, 0));
    if (!find) {
      IoError e = last_error();
      if (e.is_not_found()) return entries;
      return std::unexpected(std::move(e));
    }
    for (;;) {
      std::u16string name = win32::units(data.cFileName);
      if (name != u"." && name != u"..") entries.push_back(path.join(Path(std::move(name))));
      if (!FindNextFileW(find.get(), &data)) {
        DWORD code = GetLastError();
        if (code == ERROR_NO_MORE_FILES) break;
        return fail(code);
      }
    }
    return entries;
  }

  std::expected<void, IoError> remove_dir(const Path& path) const override {
    if (RemoveDirectoryW(wz(path.units()))) return {};
    IoError e = last_error();
    if (e.is_not_found()) return {};
    return std::unexpected(std::move(e));
  }

  std::expected<FileLock, IoError> lock(const Path& path) const override {
    if (std::optional<Path> parent = path.parent())
      if (auto made = create_dir_all(*parent); !made) return std::unexpected(made.error());
    Handle h(CreateFileW(wz(path.units()), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) return fail_last();
    struct Held final : FileLock::Held {
      explicit Held(Handle h) : handle(std::move(h)) {}
      Handle handle;
    };
    return FileLock(std::make_unique<Held>(std::move(h)));
  }

  std::optional<FileTime> modified_time(const Path& path) const override {
    Handle h(CreateFileW(wz(path.units()), FILE_READ_ATTRIBUTES, kNormalSharing, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
    const std::uint64_t ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime;
    // Windows counts from 1601-01-01, the system clock from 1970-01-01.
    constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
    return FileTime(FileTicks(static_cast<std::int64_t>(ticks) - kTicksFrom1601To1970));
  }

 private:
  // Writes "<path>.tolvaro-new", flushes it and moves it to the path, replacing what is there
  // only when `replace` is set; without it the system refuses any existing target.
  static std::expected<void, IoError> write_through_temp(const Path& path, std::string_view bytes,
                                                         bool replace) {
    const Path temp = path.plus(".tolvaro-new");
    std::expected<void, IoError> done = [&]() -> std::expected<void, IoError> {
      {
        Handle h(CreateFileW(wz(temp.units()), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return fail_last();
        if (auto w = write_all(h.get(), bytes); !w) return w;
        if (!FlushFileBuffers(h.get())) return fail_last();
      }
      if (!replace) {
        if (MoveFileExW(wz(temp.units()), wz(path.units()), MOVEFILE_WRITE_THROUGH)) return {};
        DWORD code = GetLastError();
        // Windows names an existing file target 80 or 183 depending on the call; one code for both.
        if (code == ERROR_FILE_EXISTS) code = ERROR_ALREADY_EXISTS;
        return fail(code);
      }
      if (MoveFileExW(wz(temp.units()), wz(path.units()), MOVEFILE_REPLACE_EXISTING)) return {};
      DWORD code = GetLastError();
      if (code != ERROR_ACCESS_DENIED) return fail(code);
      // Some targets refuse a replace by name but allow a rename through a handle.
      return rename_by_handle(temp, path);
    }();
    if (done) return done;
    DeleteFileW(wz(temp.units()));
    IoError e = done.error();
    e.text += " (writing through " + temp.text() + ")";
    return std::unexpected(std::move(e));
  }
};

}  // namespace

std::unique_ptr<FileSystem> real_file_system() { return std::make_unique<RealFileSystem>(); }

}  // namespace machine
