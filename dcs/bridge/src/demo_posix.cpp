#include "core/base/src/log.hpp"
#include "dcs/bridge/src/demo.hpp"

namespace demo {

// The pieces are windows, which only the Windows program has.
int ui_demo(cli::DemoKind) {
  base::log(base::Level::Error, "ui-demo needs the Windows build");
  return 1;
}

}  // namespace demo
