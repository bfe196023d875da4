#include "dcs/bridge/src/tray_app.hpp"

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/config.hpp"

namespace tray_app {

int run(const machine::Machine&, bool) {
  std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env();
  if (!config) {
    base::log(base::Level::error, config.error().text());
    return 2;
  }
  base::log(base::Level::error, "tray mode is not available in this build yet");
  return 1;
}

}  // namespace tray_app
