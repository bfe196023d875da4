#pragma once

namespace tray_app {

// Tray mode: the bridge with its tray icon until the user quits. `announce` shows the one-time
// "is running" notice (false when started at sign-in). Returns 0, 1, or 2 on a configuration error.
int run(bool announce);

}  // namespace tray_app
