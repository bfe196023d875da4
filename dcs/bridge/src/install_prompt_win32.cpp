#include "core/ui/src/dialog_host.hpp"
#include "dcs/bridge/src/install_prompt.hpp"

namespace cli {

// A command line has no tray window to own the dialogs, so they stand alone.
std::unique_ptr<InstallPrompt> make_install_prompt(const machine::Machine& machine) {
  return make_dialog_prompt(machine, std::make_unique<dialogs::DialogHost>(), repair::utc_now);
}

}  // namespace cli
