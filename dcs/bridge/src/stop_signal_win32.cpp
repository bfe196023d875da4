// Console stop events through a console control handler. The system calls the handler on a thread
// of its own; the handler only queues a wake-up for the listeners of that event on the runtime.
//
// For the console closing, logoff and system shutdown, Windows ends the process as soon as the
// handler returns. So for those the handler waits, within the time Windows allows anyway, until no
// listener for the event is left: the run drops its listeners once it has stopped, and only then
// may the process go.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include <boost/system/system_error.hpp>

#include "core/net/src/kit/channel.hpp"
#include "core/base/src/os_error.hpp"
#include "dcs/bridge/src/stop_signal.hpp"
#include "dcs/bridge/src/stop_signal_win32.hpp"

namespace stop_signal {

namespace asio = boost::asio;

namespace {

using Wake = net::kit::Channel<bool>;

// Windows gives a handler 5 seconds for the console closing and more for logoff and shutdown; past
// this the handler lets go in any case.
constexpr std::chrono::seconds kLongestStopWait{20};

struct Listener {
  std::uint64_t id;
  DWORD event;
  Wake::Sender wake;
};

// What the handler shares with the listeners. Never destroyed: the system may call the handler
// while the process is ending.
struct HandlerState {
  std::mutex mutex;
  std::condition_variable listener_gone;
  std::vector<Listener> listeners;
  std::uint64_t next_id = 0;
  bool installed = false;
};

HandlerState& state() {
  static HandlerState* shared = new HandlerState;
  return *shared;
}

bool has_listener(const HandlerState& s, DWORD event) {
  for (const Listener& l : s.listeners)
    if (l.event == event) return true;
  return false;
}

BOOL WINAPI console_handler(DWORD event) { return win32::on_console_event(event) ? TRUE : FALSE; }

class ConsoleEvent final : public StopEvent {
 public:
  ConsoleEvent(std::uint64_t id, Wake::Receiver wake) : id_(id), wake_(std::move(wake)) {}

  ~ConsoleEvent() override {
    HandlerState& s = state();
    {
      std::lock_guard lock(s.mutex);
      std::erase_if(s.listeners, [&](const Listener& l) { return l.id == id_; });
      if (s.listeners.empty() && s.installed) {
        SetConsoleCtrlHandler(console_handler, FALSE);
        s.installed = false;
      }
    }
    s.listener_gone.notify_all();
  }

  asio::awaitable<void> arrived() override {
    std::optional<bool> woken = co_await wake_.receive();
    // The sender goes only with this object, so a closed channel means the wait was cut short.
    if (!woken) throw boost::system::system_error(asio::error::operation_aborted);
  }

 private:
  std::uint64_t id_;
  Wake::Receiver wake_;
};

Listening on_event(const Executor& executor, DWORD event) {
  HandlerState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.installed) {
    if (!SetConsoleCtrlHandler(console_handler, TRUE)) return std::unexpected(base::os_error(GetLastError()).text);
    s.installed = true;
  }
  auto [sender, receiver] = Wake::make(executor, 1);
  const std::uint64_t id = s.next_id++;
  s.listeners.push_back({id, event, std::move(sender)});
  return std::make_unique<ConsoleEvent>(id, std::move(receiver));
}

}  // namespace

bool win32::on_console_event(unsigned long event) {
  HandlerState& s = state();
  std::unique_lock lock(s.mutex);
  // Nobody listens: the next handler, in the end the system's own, deals with it.
  if (!has_listener(s, event)) return false;
  // A full wake channel means that this listener has been told already.
  for (Listener& l : s.listeners)
    if (l.event == event) (void)l.wake.try_send(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    s.listener_gone.wait_for(lock, kLongestStopWait, [&] { return !has_listener(s, event); });
  return true;
}

Listening wait_ctrl_c(const Executor& executor) { return on_event(executor, CTRL_C_EVENT); }
Listening wait_ctrl_break(const Executor& executor) { return on_event(executor, CTRL_BREAK_EVENT); }
Listening wait_console_close(const Executor& executor) { return on_event(executor, CTRL_CLOSE_EVENT); }
Listening wait_logoff(const Executor& executor) { return on_event(executor, CTRL_LOGOFF_EVENT); }
Listening wait_shutdown(const Executor& executor) { return on_event(executor, CTRL_SHUTDOWN_EVENT); }

}  // namespace stop_signal
