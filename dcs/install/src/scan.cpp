#include "dcs/install/src/scan.hpp"

#include <array>

#include "dcs/install/src/export_file.hpp"
#include "dcs/install/src/export_lua.hpp"

namespace install {
namespace {

using embedded::FileState;
using machine::Path;
using Kind = FileState::Kind;

constexpr std::array<std::uint8_t, 7> kScanRank = {
    6,  // simulatorNotFound
    5,  // notInstalled
    3,  // outdated
    2,  // modified
    4,  // installFailed
    1,  // wrongFolderSuspected
    0,  // installed
};

std::optional<std::uint32_t> version_of(const FileState& collector) {
  switch (collector.kind) {
    case Kind::Current: return embedded::collector_version();
    case Kind::EarlierRelease:
    case Kind::Edited: return embedded::read_collector_version(collector.bytes);
    case Kind::Absent:
    case Kind::Unreadable: break;
  }
  return std::nullopt;
}

}  // namespace

std::uint8_t scan_rank(InstallStatus status) { return kScanRank[static_cast<std::size_t>(status)]; }

Path installed_path(const Path& folder, const embedded::EmbeddedFile& file) {
  return folder.join("Scripts").join(file.relative_path);
}

FileState check_embedded_file(const machine::Machine& m, const Path& folder,
                              const embedded::EmbeddedFile& file, std::vector<std::string>& problems) {
  const Path path = installed_path(folder, file);
  FileState state = embedded::compare_installed(*m.files, path, file);
  const std::string shown = machine::show_path(*m.known_folders, path);
  switch (state.kind) {
    case Kind::EarlierRelease: problems.push_back(shown + " is an earlier release"); break;
    case Kind::Edited: problems.push_back(shown + " was edited"); break;
    case Kind::Unreadable: problems.push_back(shown + " cannot be read: " + state.error.text); break;
    case Kind::Absent:
    case Kind::Current: break;
  }
  return state;
}

FolderStatus check_folder(const machine::Machine& m, const Path& folder) {
  FolderStatus result;
  std::vector<std::string>& problems = result.problems;
  const FileState collector = check_embedded_file(m, folder, embedded::COLLECTOR_FILE, problems);
  std::array<FileState, 4> marker;
  for (std::size_t i = 0; i < marker.size(); ++i)
    marker[i] = check_embedded_file(m, folder, embedded::MAP_MARKER_FILES[i], problems);
  const FileState bandit = check_embedded_file(m, folder, embedded::BANDIT_TOOL_FILE, problems);

  // E: Export.lua cannot be used; L: it holds no collector line of any kind.
  bool unusable = false;
  bool no_line = false;
  const Path export_lua = export_lua_path(folder);
  const std::string shown_export = machine::show_path(*m.known_folders, export_lua);
  machine::ReadOutcome outcome = m.files->read(export_lua);
  if (const auto* error = std::get_if<machine::IoError>(&outcome)) {
    problems.push_back(shown_export + " cannot be read: " + error->text);
    unusable = true;
  } else {
    const auto* bytes = std::get_if<machine::Bytes>(&outcome);
    auto counts = export_lua::analyse(bytes ? std::string_view(*bytes) : std::string_view());
    if (!counts) {
      problems.push_back(shown_export + " cannot be checked: " + std::string(counts.error().text()));
      unusable = true;
    } else {
      if (counts->own > 0)
        problems.push_back(shown_export +
                           " loads the collector with a line of its own; it counts as installed, \n"
                           "                         and remove leaves it in place");
      if (counts->ours + counts->own > 0) {
        if (!collector.present())
          problems.push_back(
              machine::show_path(*m.known_folders, installed_path(folder, embedded::COLLECTOR_FILE)) +
              " is missing");
      } else {
        no_line = true;
        if (collector.present()) problems.push_back(shown_export + " has no collector line");
      }
    }
  }

  result.collector_version = version_of(collector);
  result.collector = collector.present();

  std::size_t marker_present = 0;
  for (const FileState& s : marker) marker_present += s.present() ? 1 : 0;
  result.map_marker = marker_present > 0;
  const bool partial_marker = marker_present > 0 && marker_present < marker.size();
  if (partial_marker) problems.push_back("only some of the map marker's files are there");
  result.bandit_tool = bandit.present();

  if (!collector.present()) {
    result.status = no_line ? InstallStatus::notInstalled : InstallStatus::installFailed;
  } else if (unusable || no_line || partial_marker) {
    result.status = InstallStatus::installFailed;
  } else {
    bool unreadable = false, edited = false, earlier = false;
    auto look = [&](const FileState& s) {
      unreadable |= s.kind == Kind::Unreadable;
      edited |= s.kind == Kind::Edited;
      earlier |= s.kind == Kind::EarlierRelease;
    };
    look(collector);
    look(bandit);
    for (const FileState& s : marker) look(s);
    result.status = unreadable ? InstallStatus::installFailed
                    : edited   ? InstallStatus::modified
                    : earlier  ? InstallStatus::outdated
                               : InstallStatus::installed;
  }
  return result;
}

ScanResult scan(const machine::Machine& m) {
  std::vector<machine::FolderCandidate> candidates;
  const std::vector<Path> hand_picked = machine::hand_picked_folders(m);
  if (!hand_picked.empty()) {
    const Path& newest = hand_picked.back();
    for (machine::FolderCandidate& c : machine::discover_folders(m, {newest}))
      if (machine::same_folder(c.saved_games, newest)) candidates.push_back(std::move(c));
  } else {
    candidates = machine::discover_folders(m, {});
  }

  ScanResult result;
  for (machine::FolderCandidate& c : candidates) {
    FolderStatus status = check_folder(m, c.saved_games);
    result.folders.push_back({std::move(c), std::move(status)});
  }
  const FolderReport* best = nullptr;
  for (const FolderReport& report : result.folders)
    if (!best || scan_rank(report.status.status) < scan_rank(best->status.status)) best = &report;
  if (best) {
    result.chosen = best->candidate.saved_games;
    result.collector_version = best->status.collector_version;
    result.status = best->status.status;
    result.map_marker = best->status.map_marker;
    result.bandit_tool = best->status.bandit_tool;
  }
  return result;
}

}  // namespace install
