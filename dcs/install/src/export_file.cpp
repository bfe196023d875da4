#include "dcs/install/src/export_file.hpp"

#include "dcs/install/src/export_lua.hpp"

namespace install {
namespace {

using machine::Path;
using machine::PathKind;

std::unexpected<InstallError> io(const machine::Machine& m, Operation op, const Path& path,
                                 machine::IoError error) {
  return std::unexpected(InstallError::io_failed(*m.known_folders, op, path, std::move(error)));
}

std::expected<void, InstallError> write_and_verify(const machine::Machine& m, const Path& path,
                                                   std::string_view bytes) {
  if (auto written = m.files->write_in_place(path, bytes); !written)
    return io(m, Operation::Write, path, written.error());
  return verify_written(m, path, bytes);
}

// Whether the existing Export.lua still holds the text it was loaded with: a program or an editor
// may have changed (or deleted) it since, and a change must not be written over.
std::expected<void, InstallError> unchanged_since_load(const machine::Machine& m, const LoadedExportLua& loaded) {
  machine::ReadOutcome now = m.files->read(loaded.path);
  if (auto* error = std::get_if<machine::IoError>(&now)) return io(m, Operation::Read, loaded.path, *error);
  const auto* bytes = std::get_if<machine::Bytes>(&now);
  if (!bytes || *bytes != *loaded.text)
    return std::unexpected(InstallError::changed_since_read(*m.known_folders, loaded.path));
  return {};
}

// Deletes a file that this run wrote, on the way out of a failure: the error already in hand is
// the one to report, whether or not the deletion works.
void discard(const machine::Machine& m, const Path& path) { (void)m.files->remove_file(path); }

}  // namespace

Path export_lua_path(const Path& folder) { return folder.join("Scripts\\Export.lua"); }

Path backup_path(const Path& folder) { return folder.join("Scripts\\Export.lua.Tolvaro-backup"); }

Path created_marker_path(const Path& folder) {
  return folder.join("Scripts\\Tolvaro\\Export.lua.created-in-parent-by-Tolvaro");
}

std::expected<void, InstallError> verify_written(const machine::Machine& m, const Path& path,
                                                 std::string_view bytes) {
  machine::ReadOutcome outcome = m.files->read(path);
  if (std::holds_alternative<machine::Missing>(outcome))
    return std::unexpected(InstallError::written_file_gone(*m.known_folders, path));
  if (auto* error = std::get_if<machine::IoError>(&outcome)) return io(m, Operation::Read, path, *error);
  if (std::get<machine::Bytes>(outcome) != bytes)
    return std::unexpected(InstallError::written_file_differs(*m.known_folders, path));
  return {};
}

std::expected<LoadedExportLua, InstallError> load_export_lua(const machine::Machine& m, const Path& folder) {
  LoadedExportLua loaded;
  loaded.path = export_lua_path(folder);
  machine::ReadOutcome outcome = m.files->read(loaded.path);
  if (auto* error = std::get_if<machine::IoError>(&outcome)) return io(m, Operation::Read, loaded.path, *error);
  if (auto* bytes = std::get_if<machine::Bytes>(&outcome)) loaded.text = std::move(*bytes);
  std::expected<export_lua::ExportLuaCounts, export_lua::Refused> counts =
      export_lua::analyse(loaded.text.value_or(std::string()));
  if (!counts) return std::unexpected(InstallError::not_utf8(*m.known_folders, loaded.path));
  loaded.ours = counts->ours;
  loaded.own = counts->own;
  if (loaded.text) {
    std::expected<bool, machine::IoError> read_only = m.files->is_read_only(loaded.path);
    if (!read_only) return io(m, Operation::Read, loaded.path, read_only.error());
    loaded.read_only = *read_only;
  }
  return loaded;
}

std::expected<void, InstallError> back_up_once(const machine::Machine& m, const LoadedExportLua& loaded,
                                               const Path& backup, const StepSink& steps) {
  const std::string& text = *loaded.text;
  switch (m.files->kind(backup)) {
    case PathKind::Folder:
      return std::unexpected(InstallError::backup_is_folder(*m.known_folders, backup));
    case PathKind::File:
      return {};  // holds the text from before the first change; never replaced
    case PathKind::Missing:
      break;
  }
  // `kind` says Missing for every error, so the write itself refuses to replace anything.
  if (auto written = m.files->write_new(backup, text); !written) {
    switch (m.files->kind(backup)) {
      case PathKind::File:
        return {};  // a backup was there after all: keep it
      case PathKind::Folder:
        return std::unexpected(InstallError::backup_is_folder(*m.known_folders, backup));
      case PathKind::Missing:
        return io(m, Operation::Write, backup, written.error());
    }
  }
  if (auto verified = verify_written(m, backup, text); !verified) {
    // This call created the backup, so it is not the user's: a copy that does not hold the text
    // must not be taken for the real one by a later run.
    discard(m, backup);
    return verified;
  }
  steps({Step::Kind::BackedUp, loaded.path, backup});
  return {};
}

std::expected<void, InstallError> write_export_lua(const machine::Machine& m, const Path& path,
                                                   std::string_view new_text, std::string_view previous,
                                                   const Path& backup) {
  std::expected<void, InstallError> first = write_and_verify(m, path, new_text);
  if (first) return first;
  std::expected<void, InstallError> put_back = write_and_verify(m, path, previous);
  if (put_back) return first;
  return std::unexpected(
      InstallError::put_back_failed(*m.known_folders, first.error(), path, put_back.error(), backup));
}

std::expected<void, InstallError> create_export_lua(const machine::Machine& m, const Path& path,
                                                    std::string_view new_text, const Path& marker) {
  if (std::optional<Path> parent = marker.parent())
    if (auto made = m.files->create_dir_all(*parent); !made) return io(m, Operation::Create, *parent, made.error());
  if (auto written = m.files->write_atomic(marker, ""); !written)
    return io(m, Operation::Write, marker, written.error());
  if (auto verified = verify_written(m, marker, ""); !verified) return verified;
  // Create-only: a file that appeared since the load is someone else's and is not replaced; the
  // marker would claim it as the program's, so it goes again.
  if (auto written = m.files->write_new(path, new_text); !written) {
    discard(m, marker);
    return io(m, Operation::Write, path, written.error());
  }
  std::expected<void, InstallError> first = verify_written(m, path, new_text);
  if (first) return first;
  // Putting back a file that did not exist means deleting it again.
  std::expected<void, InstallError> put_back;
  if (auto removed = m.files->remove_file(path); !removed) {
    put_back = io(m, Operation::Remove, path, removed.error());
  } else {
    machine::ReadOutcome left = m.files->read(path);
    if (auto* error = std::get_if<machine::IoError>(&left)) {
      put_back = io(m, Operation::Read, path, *error);
    } else if (std::holds_alternative<machine::Bytes>(left)) {
      put_back = std::unexpected(InstallError::still_there(*m.known_folders, path));
    }
  }
  if (!put_back) {
    // The file that stays is the program's, so its marker stays with it.
    return std::unexpected(
        InstallError::put_back_failed(*m.known_folders, first.error(), path, put_back.error(), std::nullopt));
  }
  // Without Export.lua a marker left by a failed deletion does no harm: the next install writes it
  // anew and the remove deletes it.
  discard(m, marker);
  return first;
}

std::expected<void, InstallError> commit_export_lua(const LoadedExportLua& loaded, const machine::Machine& m,
                                                    const Path& folder,
                                                    const std::optional<std::string>& new_text,
                                                    const StepSink& steps) {
  if (!new_text) {
    const bool own_only = loaded.ours == 0 && loaded.own > 0;
    steps({own_only ? Step::Kind::LeftOwnLine : Step::Kind::Unchanged, loaded.path, std::nullopt});
    return {};
  }
  const Path backup = backup_path(folder);
  if (!loaded.text) {
    if (auto created = create_export_lua(m, loaded.path, *new_text, created_marker_path(folder)); !created)
      return created;
  } else {
    if (auto unchanged = unchanged_since_load(m, loaded); !unchanged) return unchanged;
    if (auto backed_up = back_up_once(m, loaded, backup, steps); !backed_up) return backed_up;
    if (auto written = write_export_lua(m, loaded.path, *new_text, *loaded.text, backup); !written)
      return written;
  }
  steps({loaded.ours <= 1 ? Step::Kind::AddedLine : Step::Kind::RemovedExtraLines, loaded.path, std::nullopt});
  return {};
}

std::expected<bool, InstallError> remove_hook_lines(const machine::Machine& m, const Path& folder,
                                                    const StepSink& steps) {
  std::expected<LoadedExportLua, InstallError> loaded = load_export_lua(m, folder);
  if (!loaded) return std::unexpected(loaded.error());
  const Path marker = created_marker_path(folder);
  if (loaded->text && loaded->ours > 0) {
    if (loaded->read_only) return std::unexpected(InstallError::read_only(*m.known_folders, loaded->path));
    const std::string new_text = export_lua::edit(*loaded->text, 0);
    if (auto unchanged = unchanged_since_load(m, *loaded); !unchanged) return std::unexpected(unchanged.error());
    if (new_text.empty() && m.files->kind(marker) == PathKind::File) {
      if (auto removed = m.files->remove_file(loaded->path); !removed)
        return io(m, Operation::Remove, loaded->path, removed.error());
      steps({Step::Kind::RemovedFile, loaded->path, std::nullopt});
    } else {
      // Every rewrite of the user's file is preceded by the one-time backup, also this one.
      const Path backup = backup_path(folder);
      if (auto backed_up = back_up_once(m, *loaded, backup, steps); !backed_up)
        return std::unexpected(backed_up.error());
      if (auto written = write_export_lua(m, loaded->path, new_text, *loaded->text, backup); !written)
        return std::unexpected(written.error());
      steps({Step::Kind::RemovedLine, loaded->path, std::nullopt});
    }
  }
  const bool own = loaded->own > 0;
  if (own) steps({Step::Kind::LeftOwnLine, loaded->path, std::nullopt});
  // Deleting an absent file succeeds, so no look first.
  if (auto removed = m.files->remove_file(marker); !removed)
    return io(m, Operation::Remove, marker, removed.error());
  return own;
}

}  // namespace install
