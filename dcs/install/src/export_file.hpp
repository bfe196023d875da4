#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/report.hpp"

// Export.lua on disk: loading it with its counts, the one-time backup beside it, the marker that
// says the program created it, and writes in place that are verified and put back on failure.
namespace install {

// Export.lua as an install or remove found it.
struct LoadedExportLua {
  machine::Path path;               // the folder's Scripts\Export.lua
  std::optional<std::string> text;  // none when the file does not exist
  std::size_t ours = 0;             // hook lines
  std::size_t own = 0;              // the user's own collector lines
  bool read_only = false;           // false when absent
};

// The folder's Scripts\Export.lua.
machine::Path export_lua_path(const machine::Path& folder);
// The folder's Scripts\Export.lua.Tolvaro-backup: the text from before the program's first change.
machine::Path backup_path(const machine::Path& folder);
// The folder's Scripts\Tolvaro\Export.lua.created-in-parent-by-Tolvaro: present when the program
// created Export.lua itself.
machine::Path created_marker_path(const machine::Path& folder);

// Reads and analyses the folder's Export.lua. A read failure is the I/O error "read"; a UTF-16 or
// NUL-holding text is the not-UTF-8 error.
std::expected<LoadedExportLua, InstallError> load_export_lua(const machine::Machine& machine,
                                                             const machine::Path& folder);

// Writes an install's change to Export.lua, after the collector and the add-ons are in place:
// nothing when `new_text` is none; otherwise a new file with its created-in-parent marker, or,
// for an existing one that still holds what `loaded` read, the one-time backup and the guarded
// write. Reports its steps.
std::expected<void, InstallError> commit_export_lua(const LoadedExportLua& loaded,
                                                    const machine::Machine& machine,
                                                    const machine::Path& folder,
                                                    const std::optional<std::string>& new_text,
                                                    const StepSink& steps);

// Writes the current text of an existing Export.lua to its backup unless a backup is there
// already; a backup is never replaced, whatever an earlier look at its name said. A backup that
// this call wrote and that does not read back is deleted again, so that no later run keeps it.
std::expected<void, InstallError> back_up_once(const machine::Machine& machine,
                                               const LoadedExportLua& loaded,
                                               const machine::Path& backup, const StepSink& steps);

// Writes `new_text` in place over an existing Export.lua and reads it back; when either fails,
// writes `previous` back in place and reads that back too. The error is the first failure when
// the put-back held, else the put-back error naming `backup`.
std::expected<void, InstallError> write_export_lua(const machine::Machine& machine,
                                                   const machine::Path& path,
                                                   std::string_view new_text,
                                                   std::string_view previous,
                                                   const machine::Path& backup);

// Creates an Export.lua that did not exist: writes the created-in-parent `marker`, then the file
// with `new_text`, never replacing a file that has appeared since (then the marker goes again),
// and reads it back. When the read-back fails the file is put back by deleting it, which is
// checked, and the marker goes with it. The error is the first failure when the put-back held,
// else the put-back error, which names no backup.
std::expected<void, InstallError> create_export_lua(const machine::Machine& machine,
                                                    const machine::Path& path, std::string_view new_text,
                                                    const machine::Path& marker);

// Reads `path` back and compares it with `bytes`.
std::expected<void, InstallError> verify_written(const machine::Machine& machine,
                                                 const machine::Path& path, std::string_view bytes);

// The remove operation's part in Export.lua: drops every hook line (deleting the file when the
// program created it and nothing else is left), leaves the user's own lines, and deletes the
// created-in-parent marker. A file that changed after it was read is left as it is. Answers
// whether the user's own collector line is there.
std::expected<bool, InstallError> remove_hook_lines(const machine::Machine& machine,
                                                    const machine::Path& folder, const StepSink& steps);

}  // namespace install
