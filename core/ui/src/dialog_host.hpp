#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/ui/src/dialogs.hpp"

namespace dialogs {

// Shows the dialogs modally on the calling thread, without an owner window, and keeps the list of
// those open so that the newest can be raised and all can be closed when the program quits. The
// tray owns one with its window as `owner` (to report a dialog that stayed behind); command-line
// flows make a standalone one. Lives on one thread. Windows build only.
class DialogHost final : public Dialogs {
 public:
  // `owner`: the window that hears WM_DIALOG_BEHIND; none for a standalone host.
  explicit DialogHost(std::optional<std::uintptr_t> owner = std::nullopt);
  ~DialogHost() override;  // releases the file dialogs it still lists
  DialogHost(const DialogHost&) = delete;
  DialogHost& operator=(const DialogHost&) = delete;

  DialogAnswer ask(const Question& question) override;
  std::optional<std::string> pick_folder(const FolderRequest& request) override;
  void tell(const DialogMessage& message) override;
  bool bring_top_dialog_to_front() override;

  // Enters the quitting state for good and tells every open dialog to close (a file dialog again
  // every 100 ms until its modal loop has returned). Called when the tray quits.
  void close_all();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// For tests of quitting: the calling thread's file dialogs that were told to close and whose Show
// has not returned yet, and its timers that keep telling them.
std::size_t pending_file_dialogs();
std::size_t running_reclose_timers();

}  // namespace dialogs
