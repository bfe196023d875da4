// The one place where the repair flow's clock meets the system's.
#include <chrono>

#include "dcs/bridge/src/repair.hpp"

namespace repair {

machine::FileTime utc_now() {
  return std::chrono::time_point_cast<machine::FileTicks>(std::chrono::system_clock::now());
}

}  // namespace repair
