#include "dcs/bridge/src/install_prompt.hpp"

#include "core/ui/src/ui_thread.hpp"

namespace cli {
namespace {

class DialogPrompt final : public InstallPrompt {
 public:
  DialogPrompt(const machine::Machine& machine, std::unique_ptr<dialogs::Dialogs> dialogs, repair::Clock now)
      : dialogs_(std::move(dialogs)), context_{machine, *dialogs_, std::move(now), std::nullopt, false} {}

  std::optional<machine::Path> pick_folder(const std::vector<machine::FolderCandidate>& candidates) override {
    return repair::pick_folder(context_, candidates);
  }
  bool confirm_unknown_folder(const machine::Path& folder) override {
    return repair::confirm_unknown_folder(context_, folder);
  }
  bool dialog_failed() const override { return ui_thread::callback_panicked(); }

 private:
  std::unique_ptr<dialogs::Dialogs> dialogs_;
  repair::RepairContext context_;
};

}  // namespace

std::unique_ptr<InstallPrompt> make_dialog_prompt(const machine::Machine& machine,
                                                  std::unique_ptr<dialogs::Dialogs> dialogs, repair::Clock now) {
  return std::make_unique<DialogPrompt>(machine, std::move(dialogs), std::move(now));
}

}  // namespace cli
