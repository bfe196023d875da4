#include "dcs/bridge/src/host_machine.hpp"
#include "dcs/install/src/real_machine.hpp"

namespace cli {

std::optional<machine::Machine> host_machine() { return machine::real_machine(); }

machine::Machine headless_machine() { return machine::real_machine(); }

}  // namespace cli
