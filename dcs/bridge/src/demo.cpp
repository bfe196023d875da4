#include "dcs/bridge/src/demo.hpp"

#include "core/base/src/log.hpp"

namespace demo {

int ui_demo(cli::DemoKind) {
  base::log(base::Level::error, "ui-demo is not available in this build yet");
  return 1;
}

}  // namespace demo
