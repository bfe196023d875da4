#pragma once

#include <optional>

#include "dcs/install/src/machine.hpp"

namespace cli {

// The real operating-system services that the install verbs and both modes run on. Only the
// Windows program has them; the native program, built for the tests of portable code, has none.
std::optional<machine::Machine> host_machine();

}  // namespace cli
