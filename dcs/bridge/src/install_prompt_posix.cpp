#include "dcs/bridge/src/install_prompt.hpp"

namespace cli {

// No dialogs here; the native program turns install away before it would ask for them.
std::unique_ptr<InstallPrompt> make_install_prompt(const machine::Machine&) { return nullptr; }

}  // namespace cli
