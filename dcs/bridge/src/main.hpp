#pragma once

#include <span>

#include "dcs/bridge/src/environment.hpp"
#include "dcs/bridge/src/os_string.hpp"

namespace cli {

inline constexpr std::string_view kTestRootVariable = "TOLVARO_DCS_TEST_ROOT";

// The program after the runtime's start-up: attaches to the parent console when needed, parses
// `args` (the arguments after the program name), refuses to run when the test-hook variable is set
// in `env`, and runs the verb. Returns the process exit code: 0 success, 1 a failed command, 2 a
// usage error, configuration error or refused start, or the verb's own codes.
int main(std::span<const bridge::OsString> args, const bridge::Environment& env);

}  // namespace cli
