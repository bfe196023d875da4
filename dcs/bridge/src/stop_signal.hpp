#pragma once

// The console stop events that end headless mode: Ctrl+C and its relatives. Each listener takes
// note of its event from the moment it is made, so an event that comes before anyone waits is not
// lost; the platform files say where the events come from (a console control handler on Windows,
// signals elsewhere).

#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

namespace stop_signal {

using Executor = boost::asio::any_io_executor;

// Why a headless run stops, in this order.
enum class StopReason { CtrlC, CtrlBreak, ConsoleClosing, Logoff, SystemShutdown, NoStopSignal };

// "Ctrl+C", "Ctrl+Break", "the console closing", "logoff", "system shutdown", "no stop signal could
// be listened for".
std::string_view reason_text(StopReason reason);

// Interest in one console event, registered while this lives. Runtime thread only.
class StopEvent {
 public:
  virtual ~StopEvent() = default;
  // Resolves once the event has come (at once when it came already); throws operation_aborted
  // when cancelled.
  virtual boost::asio::awaitable<void> arrived() = 0;
};

// A listener, or the text of the error that kept it from listening.
using Listening = std::expected<std::unique_ptr<StopEvent>, std::string>;

// The system's console events, one listener each (the platform files).
Listening wait_ctrl_c(const Executor& executor);
Listening wait_ctrl_break(const Executor& executor);
Listening wait_console_close(const Executor& executor);
Listening wait_logoff(const Executor& executor);
Listening wait_shutdown(const Executor& executor);

// One console event that a run listens for.
struct StopListener {
  StopReason reason;
  Listening listening;
};

// The five system listeners in the order Ctrl+C, Ctrl+Break, console closing, logoff, system
// shutdown. Nothing is logged here.
std::vector<StopListener> console_listeners(const Executor& executor);

// The first stop: logs "cannot listen for {}: {}" at warn for every listener that has an error, in
// order; then resolves with NoStopSignal at once when no listener works, and otherwise with the
// reason of the first event that comes. Cancellable. The listeners must outlive the wait.
boost::asio::awaitable<StopReason> first_stop(std::vector<StopListener>& listeners);

}  // namespace stop_signal
