#include <windows.h>

#include "dcs/bridge/src/environment.hpp"

namespace bridge {
namespace {

class ProcessEnvironment final : public Environment {
 public:
  std::optional<OsString> get(std::string_view name) const override {
    const OsString wide_name = to_os(name);
    OsString value(256, L'\0');
    for (;;) {
      // A variable set to the empty text also gives 0, but leaves the last error alone.
      SetLastError(ERROR_SUCCESS);
      DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return OsString();
      }
      // Too small a buffer gives the size needed, zero included; a fit gives the length without it.
      if (length < value.size()) {
        value.resize(length);
        return value;
      }
      value.resize(length);
    }
  }
};

}  // namespace

const Environment& process_environment() {
  static const ProcessEnvironment environment;
  return environment;
}

}  // namespace bridge
