#include "core/base/src/log.hpp"
#include "dcs/bridge/src/tray_app.hpp"

namespace tray_app {

// The tray window and the browser exist only in the Windows program; main refuses tray mode here
// before it gets this far.
int run(std::shared_ptr<const machine::Machine>, bool) {
  base::log(base::Level::Error, "tray mode needs the Windows build");
  return 1;
}

void open_url(std::string_view address) { base::warn("cannot open " + std::string(address) + ": no browser in this build"); }

}  // namespace tray_app
