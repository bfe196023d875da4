#include "dcs/bridge/src/install_prompt.hpp"

namespace cli {

// The folder window and the task dialogs come with the UI toolkit, which this build does not have.
std::unique_ptr<InstallPrompt> make_install_prompt(const machine::Machine&) { return nullptr; }

}  // namespace cli
