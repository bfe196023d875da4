#include "dcs/bridge/src/console.hpp"

namespace cli {

// A program here always has the standard streams its parent gave it.
void attach_parent_console() {}

}  // namespace cli
