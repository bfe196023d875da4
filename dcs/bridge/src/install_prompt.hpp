#pragma once

#include <memory>
#include <optional>
#include <vector>

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

// The dialogs without an owner window, over `machine`; none when this build cannot show them.
std::unique_ptr<InstallPrompt> make_install_prompt(const machine::Machine& machine);

}  // namespace cli
