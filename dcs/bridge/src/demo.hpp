#pragma once

#include "dcs/bridge/src/command.hpp"

namespace demo {

// Shows one piece of the UI with sample data, for a person to look at; returns the exit code.
int ui_demo(cli::DemoKind kind);

}  // namespace demo
