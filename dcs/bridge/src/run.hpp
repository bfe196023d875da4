#pragma once

#include "dcs/install/src/machine.hpp"

namespace run {

// Headless mode on the calling thread, until a console stop event, over `machine`. Returns 0
// after an orderly stop, 1 when the bridge did not start or stopped on an error, 2 on a
// configuration error.
int run_headless(const machine::Machine& machine);

}  // namespace run
