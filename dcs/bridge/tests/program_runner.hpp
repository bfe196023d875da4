#pragma once

#include <string>
#include <utility>
#include <vector>

#include "dcs/bridge/src/os_string.hpp"

namespace bridge::testing {

struct ProgramResult {
  int exit_code = -1;
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, byte for byte
};

using EnvVar = std::pair<std::string, OsString>;

// Runs the bridge program built beside this test with `args`, standard output and error on pipes,
// in this process's environment without any of the bridge's own variables (TOLVARO_DCS_* and
// BRIDGE_ALLOWED_ORIGINS), plus `env`.
ProgramResult run_bridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env = {});

// The full path of that program.
OsString bridge_program_path();

}  // namespace bridge::testing
