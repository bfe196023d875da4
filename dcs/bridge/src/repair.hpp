#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "core/ui/src/dialogs.hpp"
#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/install.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/protocol/src/install_status.hpp"

// The repair and add-on flows: how the user sets up or fixes Tolvaro in DCS from the tray, as a
// chain of dialogs around the install engine: choose the DCS user folder (asking when the engine
// cannot tell), check it, ask what to do, apply, and say what was done. The folder chooser and
// the consent to an unknown folder are also the engine's callbacks, for `install --prompt` too.
// Everything runs over the dialog service and the Machine, on the thread that shows the dialogs.
namespace repair {

// The current time (UTC); the flow reads it only to word how old each folder's DCS log is.
using Clock = std::function<machine::FileTime()>;
// The system's clock, for the callers that show real dialogs.
machine::FileTime utc_now();

// One run of a flow, shared by the flow and its two callbacks.
struct RepairContext {
  const machine::Machine& machine;
  dialogs::Dialogs& dialogs;
  Clock now;
  // The folder the user already agreed to use although DCS never wrote to it.
  std::optional<machine::Path> consented;
  // Set whenever the folder question was shown: the folder then counts as given by the user.
  bool picker_shown = false;
};

// The whole flow. `add_ons`: the add-ons mode of "Configure optional add-ons…", which asks about
// each add-on instead of the repair question. `tray_status`: the tray's install status, if it has
// one; wrongFolderSuspected makes the user pick among every known folder. Its outcome is shown in
// dialogs; a cancel or close before the install writes nothing.
void run_repair(const machine::Machine& machine, dialogs::Dialogs& dialogs, const Clock& now, bool add_ons,
                std::optional<install::InstallStatus> tray_status);

// Lets the user pick one of `candidates` (newest DCS log first) or browse for another folder,
// which must pass the folder check or be agreed to; with no candidates, the form that says DCS was
// not found. None when the user skipped or closed a dialog.
std::optional<machine::Path> pick_folder(RepairContext& context,
                                         const std::vector<machine::FolderCandidate>& candidates);

// Whether to install into `folder`, which DCS never wrote to. A folder the user already agreed to
// (the same folder by machine::same_folder) is not asked about again.
bool confirm_unknown_folder(RepairContext& context, const machine::Path& folder);

// The two as the install engine's callbacks over `context`, which must outlive them.
install::FolderChooser folder_chooser(RepairContext& context);
install::ConsentCallback consent_callback(RepairContext& context);

}  // namespace repair
