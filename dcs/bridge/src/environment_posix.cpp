#include <cstdlib>
#include <string>

#include "dcs/bridge/src/environment.hpp"

namespace bridge {
namespace {

class ProcessEnvironment final : public Environment {
 public:
  std::optional<OsString> get(std::string_view name) const override {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return OsString(value);
  }
};

}  // namespace

const Environment& process_environment() {
  static const ProcessEnvironment environment;
  return environment;
}

}  // namespace bridge
