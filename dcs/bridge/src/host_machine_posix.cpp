#include "dcs/bridge/src/host_machine.hpp"

namespace cli {

std::optional<machine::Machine> host_machine() { return std::nullopt; }

}  // namespace cli
