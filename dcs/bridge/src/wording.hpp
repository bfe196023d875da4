#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/src/dialogs.hpp"
#include "dcs/install/src/install.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/scan.hpp"

// Every text that the tray application and the repair flow show in a dialog, as the dialog
// service's questions and messages. One voice throughout: full sentences, the product named
// "Tolvaro", and the tray menu item to use next named in the text.
namespace wording {

// The window title of every dialog.
inline constexpr std::string_view kTitle = "Tolvaro DCS Bridge";
// The folder picker's title.
inline constexpr std::string_view kFolderPickerTitle = "Pick the DCS folder under Saved Games";

// The buttons of the questions by index, as their answers come back.
inline constexpr std::size_t kRepairButton = 0;        // repair question: "Repair"
inline constexpr std::size_t kBrowseButton = 0;        // pick-folder question: "Browse…"
inline constexpr std::size_t kPickAnotherButton = 0;   // "Pick another folder"
inline constexpr std::size_t kInstallAnywayButton = 1;  // not-a-DCS-folder question

// The bridge stopped on an error while running.
dialogs::DialogMessage stopped_dialog(std::string_view reason);
// The bridge could not start.
dialogs::DialogMessage couldnt_start_dialog(std::string_view reason);

// How a dialog names a folder: "Saved Games\..." below the Saved Games folder, else the whole path.
std::string folder_text(const machine::KnownFolders& known_folders, const machine::Path& folder);

// When DCS last wrote its log in a folder, told by the log's age at `now` (both UTC): today and
// yesterday by whole seconds of age, not by calendar day; older ones by the log's month, with its
// year once it is 300 days old and from another year.
std::string log_age_note(std::optional<machine::FileTime> log_time, machine::FileTime now);

// Asks whether to set up or repair Tolvaro in the folder named `folder_text`.
dialogs::Question repair_question(std::string_view folder_text, install::InstallStatus status);

// A folder offered by the pick-folder question.
struct PickCandidate {
  std::string folder_text;
  std::optional<machine::FileTime> log_time;  // of its Logs\dcs.log
};
// One command link per candidate, in the given order, and "Browse…" and "Skip for now"; without
// candidates, the form that says DCS was not found.
dialogs::Question pick_folder_question(std::span<const PickCandidate> candidates, machine::FileTime now);
// The folder picker, opening in `start_folder`.
dialogs::FolderRequest folder_picker(const std::optional<machine::Path>& start_folder);

// The user picked the DCS program folder.
dialogs::Question program_folder_question(std::string_view folder_text);
// The folder has no sign that DCS ever wrote to it; "Install here anyway" is the second button.
dialogs::Question not_a_dcs_folder_question(std::string_view folder_text);
// A folder the folder check refused, with the check's own text.
dialogs::Question folder_cant_be_used_question(std::string_view reason);

// Asks what to do with one add-on, which is installed or not.
dialogs::Question addons_question(install::AddOn add_on, bool installed);
// The action the add-on question's answer stands for; none for a closed dialog.
std::optional<install::AddOnAction> addon_action(const dialogs::DialogAnswer& answer, bool installed);

// The lines that say what an install did, in report order, each once, then the restart hints:
// "Added" or "Updated" by whether the part was in the folder before the run (`before`). A run that
// changed nothing gives only the nothing-changed line.
std::vector<std::string> done_lines(const install::InstallReport& report, const install::FolderStatus& before);
// "Done", with the lines one paragraph each.
dialogs::DialogMessage done_message(std::span<const std::string> lines);

// What the user is told for an install error.
std::string install_error_text(const install::InstallError& error);
// "Repair stopped", with the error's text.
dialogs::DialogMessage repair_stopped_message(const install::InstallError& error);

}  // namespace wording
