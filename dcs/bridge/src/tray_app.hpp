#pragma once

#include "dcs/install/src/machine.hpp"

namespace tray_app {

// Tray mode over `machine`: the bridge with its tray icon until the user quits. `announce` shows
// the one-time "is running" notice (false when started at sign-in). Returns 0, 1, or 2 on a
// configuration error.
int run(const machine::Machine& machine, bool announce);

}  // namespace tray_app
