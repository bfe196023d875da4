#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/protocol/src/install_status.hpp"

// The install status of one DCS user folder and of the whole PC. Reads only.
namespace install {

// The verdict on one folder.
struct FolderStatus {
  std::vector<std::string> problems;  // one line each, in the order found
  std::optional<std::uint32_t> collector_version;
  // The collector file is there (in any state but absent), which the repair flow tells the user
  // apart from a first install.
  bool collector = false;
  bool map_marker = false;   // any of the four map-marker files is there
  bool bandit_tool = false;  // the bandit tool hook is there
  InstallStatus status = InstallStatus::notInstalled;
};

struct FolderReport {
  machine::FolderCandidate candidate;
  FolderStatus status;
};

// The verdict on the PC: every folder checked, and the best one's facts.
struct ScanResult {
  std::vector<FolderReport> folders;  // in the order of the candidates
  std::optional<machine::Path> chosen;  // the best report's Saved Games folder
  std::optional<std::uint32_t> collector_version;
  InstallStatus status = InstallStatus::simulatorNotFound;
  bool map_marker = false;
  bool bandit_tool = false;
};

// The order in which statuses compete for `chosen`, smaller first: installed,
// wrongFolderSuspected, modified, outdated, installFailed, notInstalled, simulatorNotFound.
std::uint8_t scan_rank(InstallStatus status);

// The installed copy's full path: the folder joined with Scripts and the file's relative path.
machine::Path installed_path(const machine::Path& folder, const embedded::EmbeddedFile& file);

// The state of one installed file, adding its problem line (earlier release, edited,
// unreadable) to `problems`.
embedded::FileState check_embedded_file(const machine::Machine& machine, const machine::Path& folder,
                                        const embedded::EmbeddedFile& file,
                                        std::vector<std::string>& problems);

// How well the collector and its add-ons are set up in one Saved Games folder.
FolderStatus check_folder(const machine::Machine& machine, const machine::Path& folder);

// Checks the newest hand-picked folder, or else every discovered folder, and picks the best.
// Writes nothing.
ScanResult scan(const machine::Machine& machine);

}  // namespace install
