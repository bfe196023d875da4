#pragma once

#include <functional>

#include "dcs/install/src/machine.hpp"

namespace run {

// Headless mode on the calling thread, in a single-threaded asynchronous runtime, until a console
// stop event. `machine` serves the first scan; `monitor_machine` makes the simulator monitor's own
// services. Returns 0 after an orderly stop, 1 when the runtime cannot be built, the bridge did not
// start or it stopped on an error, 2 on a configuration error.
int run_headless(const machine::Machine& machine, const std::function<machine::Machine()>& monitor_machine);

}  // namespace run
