#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dcs/install/src/machine.hpp"

// The six files that the program writes into the Scripts folder of a DCS user folder, built in
// from dcs/install/data, and how an installed copy relates to this build's copy.
namespace embedded {

// One built-in file: its path below Scripts (with backslashes) and its bytes.
struct EmbeddedFile {
  std::string_view relative_path;
  std::string_view contents;
};

// The collector, loaded by the hook line in Export.lua.
extern const EmbeddedFile COLLECTOR_FILE;
// The bandit tool, a hook script that DCS loads from Scripts\Hooks at launch.
extern const EmbeddedFile BANDIT_TOOL_FILE;
// The map marker (reticle): reticle.lua, reticle.dlg, prompt.dlg, reticle.png, in this order.
extern const std::array<EmbeddedFile, 4> MAP_MARKER_FILES;

// What an installed copy is.
struct FileState {
  enum class Kind {
    Absent,          // the file does not exist
    Current,         // byte for byte this build's copy
    EarlierRelease,  // a text that an earlier release installed
    Edited,          // readable, but neither of the above
    Unreadable,      // reading failed for another reason than "not found"
  };
  Kind kind = Kind::Absent;
  std::string bytes;         // the installed bytes, for EarlierRelease and Edited
  machine::IoError error;    // for Unreadable

  bool present() const { return kind != Kind::Absent; }
};

// FNV-1a with 64 bits over `bytes`, leaving out every CR that directly precedes an LF, so that a
// copy whose line ends an editor turned into CR LF hashes like the LF text.
std::uint64_t release_hash(std::string_view bytes);

// The hashes of the texts that earlier releases installed at `relative_path`; empty for a file
// without such a list.
std::span<const std::uint64_t> earlier_releases(std::string_view relative_path);

// The state of installed `bytes` against `contents`, with `earlier` as the hashes of earlier
// releases.
FileState state_of(std::string bytes, std::string_view contents, std::span<const std::uint64_t> earlier);

// Reads `path` and tells what the copy there is. Never writes.
FileState compare_installed(const machine::FileSystem& files, const machine::Path& path,
                            const EmbeddedFile& file);

// The number that a collector text assigns to COLLECTOR_VERSION: the first line in which the
// first COLLECTOR_VERSION is followed by white space, "=", white space and a run of digits that
// fits in 32 bits.
std::optional<std::uint32_t> read_collector_version(std::string_view bytes);

// COLLECTOR_VERSION of the built-in collector (8 in this release), read once.
std::uint32_t collector_version();

}  // namespace embedded
