#pragma once

#include <optional>
#include <string_view>

#include "dcs/bridge/src/os_string.hpp"

namespace bridge {

// Where environment variables are read from; tests put a fake in place of the process's own.
class Environment {
 public:
  virtual ~Environment() = default;
  // The variable's value as the system holds it, or nothing when it is not set. A variable set to
  // the empty text is set.
  virtual std::optional<OsString> get(std::string_view name) const = 0;
};

// The environment of this process.
const Environment& process_environment();

}  // namespace bridge
