#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/src/tray.hpp"
#include "dcs/bridge/src/command.hpp"
#include "dcs/bridge/src/install_prompt.hpp"
#include "dcs/install/src/install.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/install/src/scan.hpp"

// The verbs that run once from the command line; each returns the process exit code. Plain output
// lines go to standard output (bridge::print_line), errors and warnings through base::log.
namespace cli {

// Says how the collector is installed: 0 when installed, else 10 plus the install status's
// position (10 simulatorNotFound to 15 wrongFolderSuspected).
int check_verb(const machine::Machine& machine);
// Makes the dialogs of `install --prompt` on the calling thread, which then shows them; never none.
using MakePrompt = std::function<std::unique_ptr<InstallPrompt>()>;
// Installs or repairs the collector and the add-ons: 0, or 10 no install found, 3 cannot tell
// which folder, 2 folder refused, 4 lock held, 1 any other failure. With `args.prompt` the user is
// asked through dialogs from `make_prompt`, made once before anything is looked at; without it
// they are never made.
int install_verb(const machine::Machine& machine, const InstallArgs& args, const MakePrompt& make_prompt);
// Takes the collector out of every DCS folder: 0, 1 when a folder failed, 4 when another run
// holds the install lock.
int remove_verb(const machine::Machine& machine);
// 0, or 1 when the program's path cannot be found or the Run value cannot be changed.
int start_with_windows_verb(bool on);
// Closes the tray window of a class and says how that went (tray::quit_other_instance).
using QuitOther = std::function<tray::QuitOutcome(std::string_view class_name)>;
// Closes the tray of the configured page port through `quit_other`: 0 when it quit or none was
// running, 1 when it was not seen to quit, 2 on a configuration error.
int quit_verb(const QuitOther& quit_other = tray::quit_other_instance);

// The pieces of the verbs.

// The lines of `check` for a scan, with whether DCS.exe runs.
std::vector<std::string> check_lines(const machine::KnownFolders& known_folders, const install::ScanResult& scan,
                                     bool dcs_running);
// 0 for installed, else 10 plus the status's position.
int check_exit_code(install::InstallStatus status);
// The exit code of a failed install or remove.
int install_exit_code(const install::InstallError& error);

// The install verb's chooser without --prompt: no folder is ever picked.
std::optional<machine::Path> no_folder_picker(const std::vector<machine::FolderCandidate>& candidates);
// The install verb's consent without --prompt: the --allow-unknown-folder flag.
install::ConsentCallback consent_from_flag(bool allow_unknown_folder);
// Writes each step as its report line on standard output.
install::StepSink print_step(const machine::KnownFolders& known_folders);

}  // namespace cli
