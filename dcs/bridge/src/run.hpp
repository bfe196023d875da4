#pragma once

#include <expected>
#include <functional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "dcs/install/src/machine.hpp"

namespace run {

// Builds a single-threaded asynchronous runtime with I/O and timers, runs `body` on it until the
// body completes, gives what the body left behind (page tasks cut off at a stop, posted wake-ups) a
// short while to end, and drops the runtime with whatever is still on it. The error is the text
// of why the runtime could not be built; the body has not run then. A fault that escapes the body
// is rethrown.
std::expected<void, std::string> run_on_runtime(boost::asio::awaitable<void> body);

// Headless mode on the calling thread, in a single-threaded asynchronous runtime, until a console
// stop event. `machine` serves the first scan; `monitor_machine` makes the simulator monitor's own
// services. Returns 0 after an orderly stop, 1 when the runtime cannot be built, the bridge did not
// start or it stopped on an error, 2 on a configuration error.
int run_headless(const machine::Machine& machine, const std::function<machine::Machine()>& monitor_machine);

}  // namespace run
