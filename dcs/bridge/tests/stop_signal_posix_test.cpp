// The system's stop listeners of the native build: signals in place of the console events.
#include <gtest/gtest.h>

#include <csignal>

#include "core/base/tests/log_capture.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/tests/runtime.hpp"
#include "dcs/bridge/src/stop_signal.hpp"

namespace {

using namespace net::testing;
using stop_signal::StopReason;

asio::awaitable<void> raise_later(int signal) {
  co_await sleep(20ms);
  std::raise(signal);
}

TEST(ConsoleListeners, SignalsStandForTheConsoleEvents) {
  const std::pair<int, StopReason> cases[] = {
      {SIGINT, StopReason::CtrlC},
      {SIGQUIT, StopReason::CtrlBreak},
      {SIGHUP, StopReason::ConsoleClosing},
      {SIGTERM, StopReason::SystemShutdown},
  };
  for (auto [signal, reason] : cases) {
    for (bool before_the_wait : {true, false}) {
      base::testing::LogCapture log;
      Runtime rt;
      std::optional<StopReason> first;
      rt.run([&]() -> asio::awaitable<void> {
        const auto executor = co_await asio::this_coro::executor;
        std::vector<stop_signal::StopListener> listeners = stop_signal::console_listeners(executor);
        for (const auto& listener : listeners) EXPECT_TRUE(listener.listening.has_value());
        // A signal that comes before the wait is kept for it.
        net::kit::Task raising;
        if (before_the_wait) {
          std::raise(signal);
        } else {
          raising = net::kit::Task::spawn(executor, raise_later(signal));
        }
        asio::awaitable<StopReason> waiting = stop_signal::first_stop(listeners);
        first = co_await std::move(waiting);
        co_await raising.join();
      });
      EXPECT_EQ(first, reason) << signal << (before_the_wait ? " before the wait" : " during it");
      EXPECT_TRUE(log.entries().empty());
    }
  }
}

}  // namespace
