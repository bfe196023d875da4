#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/report.hpp"

// Installing, repairing and removing the collector, its hook line and the add-ons in DCS user
// folders. Every operation works through the Machine, keeps a copy of every file the user edited
// before it overwrites or deletes it, writes Export.lua last and reports each step as it happens.
namespace install {

// What to do with one optional add-on.
enum class AddOnAction { Install, Remove, LeaveAsIs };
std::string_view to_string(AddOnAction action);

// The add-on choices.
struct Options {
  AddOnAction map_marker = AddOnAction::LeaveAsIs;
  AddOnAction bandit_tool = AddOnAction::LeaveAsIs;
  friend bool operator==(const Options&, const Options&) = default;
};
// "Options { map_marker: Install, bandit_tool: LeaveAsIs }"
std::string debug_form(const Options& options);

struct InstallRequest {
  std::optional<machine::Path> saved_games;  // a folder the user named
  Options options;
};

// Picks one of several discovered folders (or another one), or none.
using FolderChooser = std::function<std::optional<machine::Path>(const std::vector<machine::FolderCandidate>&)>;
// Answers whether to install into a folder that DCS never wrote to.
using ConsentCallback = std::function<bool(const machine::Path&)>;

// The outcome of choosing the folder.
struct Found {
  machine::Path path;
  bool outside_discovered = false;  // none of the discovered folders: remembered after the install
};
struct NotFound {};
struct Ambiguous {
  std::vector<machine::FolderCandidate> candidates;
};
struct Refused {
  machine::FolderCheckError error;
};
using FolderChoice = std::variant<Found, NotFound, Ambiguous, Refused>;

// Why a folder was not remembered in the settings file; never fails an install.
struct SettingsSaveError {
  settings::RememberError cause;
  std::string message;  // "Windows did not say where local app data is" or "cannot write {}: {}"
  const std::string& text() const { return message; }
};

// What a successful install did.
struct InstallReport {
  machine::Path folder;
  std::vector<Step> steps;
  // None when the folder needed no remembering (discovery finds it); else the settings file's
  // path, or why the folder could not be remembered.
  std::optional<std::expected<machine::Path, SettingsSaveError>> remembered;
};

// Installs or repairs the collector, its hook line and the add-ons of `request.options` in one
// folder, holding the install lock throughout. The first error ends it; what was written stays.
std::expected<InstallReport, InstallError> apply(const machine::Machine& machine,
                                                 const InstallRequest& request,
                                                 const FolderChooser& chooser,
                                                 const ConsentCallback& consent, const StepSink& steps);

// Takes everything of the program's out of one folder (the caller holds the install lock):
// Export.lua's hook lines, the collector (unless the user's own line still loads it), the
// add-ons, and the program's folders when they are empty. Returns the steps it reported.
std::expected<std::vector<Step>, InstallError> remove_from_folder(const machine::Machine& machine,
                                                                  const machine::Path& folder,
                                                                  const StepSink& steps);

// The folder to install into: the named one, the newest hand-picked one, the one discovered, or
// the chooser's pick among several.
FolderChoice choose_folder(const machine::Machine& machine, const std::optional<machine::Path>& saved_games,
                           const FolderChooser& chooser, const ConsentCallback& consent);
// Checks a folder the user named; only "DCS never wrote to it" can be overridden, by consent.
FolderChoice check_chosen_folder(const machine::Machine& machine, const machine::Path& folder,
                                 const ConsentCallback& consent);

// Puts one built-in file in place: nothing when current, a hand-edited copy first when edited.
std::expected<void, InstallError> install_embedded_file(const machine::Machine& machine,
                                                        const machine::Path& folder,
                                                        const embedded::EmbeddedFile& file,
                                                        const StepSink& steps);
// Deletes one built-in file, keeping a hand-edited copy first when it was edited.
std::expected<void, InstallError> remove_embedded_file(const machine::Machine& machine,
                                                       const machine::Path& folder,
                                                       const embedded::EmbeddedFile& file,
                                                       const StepSink& steps);
// Saves `bytes` under the first free name of "<path>.hand-edited", "<path>.hand-edited-2", ...,
// or finds them already saved under one of those names. Never replaces a file.
std::expected<void, InstallError> keep_hand_edited_copy(const machine::Machine& machine,
                                                        const machine::Path& path, std::string_view bytes,
                                                        const StepSink& steps);
// Removes `folder` when it is empty; reports it kept when it holds anything.
std::expected<void, InstallError> remove_folder_if_ours(const machine::Machine& machine,
                                                        const machine::Path& folder, const StepSink& steps);

// The folder's Scripts\Tolvaro\reticle.
machine::Path reticle_folder(const machine::Path& folder);

enum class AddOn { MapMarker, BanditTool };
// Which add-on a path in `folder` belongs to, by ASCII-case-free prefix: the reticle folder or
// the bandit tool's hook file.
std::optional<AddOn> add_on_of_path(const machine::Path& folder, const machine::Path& path);

}  // namespace install
