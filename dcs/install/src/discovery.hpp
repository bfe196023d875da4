#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dcs/install/src/machine.hpp"

// Finding the DCS user folders of the PC (registry, Steam libraries, Saved Games) and telling
// whether a folder that the user names can be used. Reads only.
namespace machine {

// A Saved Games folder that may hold a DCS user folder, with the DCS installation folder it was
// derived from (none for folders the caller added).
struct FolderCandidate {
  Path saved_games;
  std::optional<Path> install;
  friend bool operator==(const FolderCandidate&, const FolderCandidate&) = default;
};

// Why a folder cannot be used. `path` is the path as given for NotLocal and CannotMakeAbsolute,
// else its absolute form. Only NeverWritten may be overridden by the user.
struct FolderCheckError {
  enum class Kind { NotLocal, CannotMakeAbsolute, NotAFolder, ProgramFolder, NeverWritten };
  Kind kind;
  Path path;
  // The message, with the path's text as it stands (not shortened to %USERPROFILE%).
  std::string text() const;
  friend bool operator==(const FolderCheckError&, const FolderCheckError&) = default;
};

struct RegistryPlace {
  RegistryRoot root;
  std::string_view subkey;
  std::string_view value;
};

// Where DCS World's installers write the installation folder, in the order they are read.
inline constexpr RegistryPlace kInstallPlaces[] = {
    {RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World", "Path"},
    {RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World OpenBeta", "Path"},
    {RegistryRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DCS World_is1",
     "InstallLocation"},
};
// Steam's folder: the first, or the second when the first gives nothing.
inline constexpr RegistryPlace kSteamPlaces[] = {
    {RegistryRoot::CurrentUser, "Software\\Valve\\Steam", "SteamPath"},
    {RegistryRoot::LocalMachine, "SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath"},
};
inline constexpr std::string_view kSteamLibraryList = "steamapps\\libraryfolders.vdf";
inline constexpr std::string_view kDcsInSteamLibrary = "steamapps\\common\\DCSWorld";

// The candidate folders: those derived from DCS installations (registry, then Steam libraries),
// then `extra_folders` in their order; a folder that names the same folder as an earlier one is
// dropped. Never fails; problems are logged once.
std::vector<FolderCandidate> discover_folders(const Machine& machine,
                                              const std::vector<Path>& extra_folders);

// The usable folders of the settings file, in its order, each in its local absolute form
// (folders DCS never wrote to are kept too).
std::vector<Path> hand_picked_folders(const Machine& machine);

// The folder's local absolute form when it can hold DCS user data, else why not.
std::expected<Path, FolderCheckError> check_folder_kind(const Machine& machine, const Path& path);

// The Saved Games folder of one installation (from its dcs_variant.txt), or none when the
// installation is skipped (dedicated server, unreadable or odd variant file).
std::optional<Path> install_variant(const Machine& machine, const Path& saved_games,
                                    const Path& install);

}  // namespace machine
