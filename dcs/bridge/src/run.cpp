#include "dcs/bridge/src/run.hpp"

#include <chrono>
#include <exception>
#include <optional>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/headless.hpp"

namespace run {

namespace asio = boost::asio;

namespace {

// After the body, what it left behind gets this long to end before the runtime is dropped with
// whatever is still on it.
constexpr std::chrono::seconds kSettleTime{2};

asio::awaitable<void> exit_code_of(asio::awaitable<int> body, int* code) { *code = co_await std::move(body); }

}  // namespace

std::expected<void, std::string> run_on_runtime(asio::awaitable<void> body) {
  std::optional<asio::io_context> runtime;
  try {
    runtime.emplace(1);
  } catch (const std::exception& e) {
    return std::unexpected(std::string(e.what()));
  }

  bool done = false;
  std::exception_ptr fault;
  asio::co_spawn(*runtime, std::move(body), [&](std::exception_ptr e) {
    fault = e;
    done = true;
  });
  while (!done && runtime->run_one() > 0) {
  }
  runtime->restart();
  runtime->run_for(kSettleTime);
  if (fault) std::rethrow_exception(fault);
  return {};
}

int run_headless(const machine::Machine& machine, const std::function<machine::Machine()>& monitor_machine) {
  // The run always sets the code before it completes; 1 stays only if the runtime ran out of work
  // first, which is a safeguard.
  int code = 1;
  std::expected<void, std::string> ran = run_on_runtime(exit_code_of(
      run_until_stopped({.machine = machine, .monitor_machine = monitor_machine, .env = bridge::process_environment()}),
      &code));
  if (!ran) {
    base::log(base::Level::Error, "cannot start the async runtime: " + ran.error());
    return 1;
  }
  return code;
}

}  // namespace run
