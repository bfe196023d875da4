#include "dcs/bridge/src/run.hpp"

#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/headless.hpp"

namespace run {

namespace asio = boost::asio;

namespace {

// After the run, what it left behind (page tasks cut off at the stop, posted wake-ups) gets this
// long to end before the runtime is dropped with whatever is still on it.
constexpr std::chrono::seconds kSettleTime{2};

}  // namespace

int run_headless(const machine::Machine& machine, const std::function<machine::Machine()>& monitor_machine) {
  std::optional<asio::io_context> runtime;
  try {
    runtime.emplace(1);
  } catch (const std::exception& e) {
    base::log(base::Level::error, std::string("cannot start the async runtime: ") + e.what());
    return 1;
  }

  std::optional<int> code;
  std::exception_ptr fault;
  asio::co_spawn(*runtime,
                 run_until_stopped({.machine = machine, .monitor_machine = monitor_machine,
                                    .env = bridge::process_environment()}),
                 [&](std::exception_ptr e, int result) {
                   fault = e;
                   code = result;
                 });
  while (!code && !fault && runtime->run_one() > 0) {
  }
  runtime->restart();
  runtime->run_for(kSettleTime);
  if (fault) std::rethrow_exception(fault);
  // The run always completes before the runtime runs out of work; this is only a safeguard.
  return code.value_or(1);
}

}  // namespace run
