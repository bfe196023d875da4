#include "dcs/bridge/src/run.hpp"

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/config.hpp"

namespace run {

int run_headless(const machine::Machine&) {
  std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env();
  if (!config) {
    base::log(base::Level::error, config.error().text());
    return 2;
  }
  base::log(base::Level::error, "headless mode is not available in this build yet");
  return 1;
}

}  // namespace run
