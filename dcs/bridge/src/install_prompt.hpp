#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "core/ui/src/dialogs.hpp"
#include "dcs/bridge/src/repair.hpp"
#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/machine.hpp"

namespace cli {

// The dialogs with which `install --prompt` asks the user, shown on the thread that runs the verb.
class InstallPrompt {
 public:
  virtual ~InstallPrompt() = default;
  // Lets the user pick one of `candidates` or browse for another folder; with no candidates, the
  // form that says DCS was not found. None when the user skipped or closed it.
  virtual std::optional<machine::Path> pick_folder(const std::vector<machine::FolderCandidate>& candidates) = 0;
  // Asks whether to install into `folder`, which DCS never wrote to.
  virtual bool confirm_unknown_folder(const machine::Path& folder) = 0;
  // Whether an internal fault stopped a dialog since the prompt was made, which can leave the
  // install half-asked.
  virtual bool dialog_failed() const = 0;
};

// The dialogs without an owner window, over `machine`, with the system's clock. The native build
// has no dialogs and turns install away before it would ask for them: there this is an internal
// error.
std::unique_ptr<InstallPrompt> make_install_prompt(const machine::Machine& machine);

// The prompt over a dialog service, which it keeps: the repair flow's folder question and
// consent, sharing one run's consent, so that a folder agreed to in the picker is not asked about
// again; a dialog failed when a UI callback of this thread did.
std::unique_ptr<InstallPrompt> make_dialog_prompt(const machine::Machine& machine,
                                                  std::unique_ptr<dialogs::Dialogs> dialogs, repair::Clock now);

}  // namespace cli
