#pragma once

#include <optional>

#include "dcs/install/src/machine.hpp"

namespace cli {

// The real operating-system services that the install verbs and tray mode run on. Only the
// Windows program has them; the native program, built for the tests of portable code, has none.
std::optional<machine::Machine> host_machine();

// The services headless mode runs on; each call makes a new bundle (the simulator monitor keeps
// one of its own). The Windows program's are the real ones. The native program's are those of a
// PC without DCS: its known folders exist in name only, nothing is on its disk or in its registry,
// and no process runs, so the bridge serves pages and the collector link with the install state
// simulatorNotFound and DCS never running.
machine::Machine headless_machine();

}  // namespace cli
