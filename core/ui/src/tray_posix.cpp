// Where the build has no windows, no other instance of a tray window can exist.
#include "core/ui/src/tray.hpp"

namespace tray {

std::uint32_t show_yourself_message(std::string_view) { return 0; }
bool ask_other_instance_to_show(std::string_view, std::uint32_t) { return false; }
QuitOutcome quit_other_instance(std::string_view) { return QuitOutcome::NotRunning; }

}  // namespace tray
