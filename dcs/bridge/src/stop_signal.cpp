#include "dcs/bridge/src/stop_signal.hpp"

#include <span>
#include <utility>
#include <variant>

#include <boost/asio/experimental/awaitable_operators.hpp>

#include "core/base/src/log.hpp"

namespace stop_signal {

namespace asio = boost::asio;

std::string_view reason_text(StopReason reason) {
  switch (reason) {
    case StopReason::CtrlC: return "Ctrl+C";
    case StopReason::CtrlBreak: return "Ctrl+Break";
    case StopReason::ConsoleClosing: return "the console closing";
    case StopReason::Logoff: return "logoff";
    case StopReason::SystemShutdown: return "system shutdown";
    case StopReason::NoStopSignal: return "no stop signal could be listened for";
  }
  return "no stop signal could be listened for";
}

std::vector<StopListener> console_listeners(const Executor& executor) {
  std::vector<StopListener> listeners;
  listeners.push_back({StopReason::CtrlC, wait_ctrl_c(executor)});
  listeners.push_back({StopReason::CtrlBreak, wait_ctrl_break(executor)});
  listeners.push_back({StopReason::ConsoleClosing, wait_console_close(executor)});
  listeners.push_back({StopReason::Logoff, wait_logoff(executor)});
  listeners.push_back({StopReason::SystemShutdown, wait_shutdown(executor)});
  return listeners;
}

namespace {

asio::awaitable<StopReason> arrival(StopEvent* event, StopReason reason) {
  co_await event->arrived();
  co_return reason;
}

// The first of the working listeners to see its event; the others' waits are cancelled.
asio::awaitable<StopReason> first_of(std::span<StopListener* const> live) {
  if (live.size() == 1) {
    const StopReason reason = co_await arrival(live[0]->listening->get(), live[0]->reason);
    co_return reason;
  }
  using namespace asio::experimental::awaitable_operators;
  asio::awaitable<StopReason> head = arrival(live[0]->listening->get(), live[0]->reason);
  asio::awaitable<StopReason> rest = first_of(live.subspan(1));
  const std::variant<StopReason, StopReason> first = co_await (std::move(head) || std::move(rest));
  co_return first.index() == 0 ? std::get<0>(first) : std::get<1>(first);
}

}  // namespace

asio::awaitable<StopReason> first_stop(std::vector<StopListener>& listeners) {
  std::vector<StopListener*> live;
  for (StopListener& listener : listeners) {
    if (listener.listening) {
      live.push_back(&listener);
    } else {
      base::warn("cannot listen for " + std::string(reason_text(listener.reason)) + ": " + listener.listening.error());
    }
  }
  if (live.empty()) co_return StopReason::NoStopSignal;
  const StopReason reason = co_await first_of(live);
  co_return reason;
}

}  // namespace stop_signal
