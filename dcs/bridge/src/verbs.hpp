#pragma once

#include "dcs/bridge/src/command.hpp"

// The verbs that run once from the command line; each returns the process exit code.
namespace cli {

// 0 when installed, else 10 plus the install status's position (10 to 15).
int check_verb();
// 0, or 10 no install found, 3 cannot tell which folder, 2 folder refused, 4 lock held, 1 other.
int install_verb(const InstallArgs& args);
// 0, 1, or 4 when another run holds the install lock.
int remove_verb();
// 0, or 1 when the program's path cannot be found or the Run value cannot be changed.
int start_with_windows_verb(bool on);
// 0, 1 when the other instance was not seen to quit, 2 on a configuration error.
int quit_verb();

}  // namespace cli
