// The system's stop listeners of the Windows build: real console control events on a console of
// this test's own, and the handler's part for the events after which Windows ends the process.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/base/tests/log_capture.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/tests/runtime.hpp"
#include "dcs/bridge/src/stop_signal.hpp"
#include "dcs/bridge/src/stop_signal_win32.hpp"

namespace {

using namespace net::testing;
using stop_signal::StopReason;

// Catches what the listeners leave to the next handler, so that a late event never ends the test.
BOOL WINAPI keep_running(DWORD) { return TRUE; }

// A console that this process alone is attached to, so that a console event reaches nobody else.
void own_console() {
  static const bool made = [] {
    FreeConsole();
    const bool allocated = AllocConsole() != 0;
    SetConsoleCtrlHandler(keep_running, TRUE);
    return allocated;
  }();
  ASSERT_TRUE(made) << "AllocConsole failed";
}

// Only Ctrl+C: Wine refuses to send Ctrl+Break to a whole console (the handler's part for it is
// below).
TEST(ConsoleListeners, CtrlCOnTheConsoleStopsTheWait) {
  own_console();
  base::testing::LogCapture log;
  Runtime rt;
  std::optional<StopReason> first;
  rt.run([&]() -> asio::awaitable<void> {
    const auto executor = co_await asio::this_coro::executor;
    std::vector<stop_signal::StopListener> listeners = stop_signal::console_listeners(executor);
    for (const auto& listener : listeners) EXPECT_TRUE(listener.listening.has_value()) << listener.listening.error();
    // Sent before the wait: the system calls the handler on a thread of its own, whenever.
    const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    CO_ASSERT_TRUE(sent);
    asio::awaitable<StopReason> waiting = stop_signal::first_stop(listeners);
    first = co_await std::move(waiting);
  });
  EXPECT_EQ(first, StopReason::CtrlC);
  EXPECT_TRUE(log.entries().empty());
}

TEST(ConsoleHandler, WakesOnlyTheListenersOfTheEvent) {
  // Nobody listens: the event is left to the next handler.
  EXPECT_FALSE(stop_signal::win32::on_console_event(CTRL_C_EVENT));
  Runtime rt;
  std::optional<StopReason> first;
  rt.run([&]() -> asio::awaitable<void> {
    const auto executor = co_await asio::this_coro::executor;
    std::vector<stop_signal::StopListener> listeners = stop_signal::console_listeners(executor);
    EXPECT_TRUE(stop_signal::win32::on_console_event(CTRL_BREAK_EVENT));
    EXPECT_TRUE(stop_signal::win32::on_console_event(CTRL_BREAK_EVENT));  // told once is enough
    EXPECT_FALSE(stop_signal::win32::on_console_event(0x1234));
    asio::awaitable<StopReason> waiting = stop_signal::first_stop(listeners);
    first = co_await std::move(waiting);
  });
  EXPECT_EQ(first, StopReason::CtrlBreak);
  // The listeners are gone with the run.
  EXPECT_FALSE(stop_signal::win32::on_console_event(CTRL_BREAK_EVENT));
}

TEST(ConsoleHandler, HoldsTheProcessOnTheClosingEventsUntilTheListenersAreGone) {
  const std::pair<DWORD, StopReason> cases[] = {{CTRL_CLOSE_EVENT, StopReason::ConsoleClosing},
                                                {CTRL_LOGOFF_EVENT, StopReason::Logoff},
                                                {CTRL_SHUTDOWN_EVENT, StopReason::SystemShutdown}};
  for (auto [event, reason] : cases) {
    Runtime rt;
    std::optional<StopReason> first;
    std::atomic<bool> returned = false;
    std::optional<std::vector<stop_signal::StopListener>> listeners;
    std::thread system_thread;
    rt.run([&]() -> asio::awaitable<void> {
      const auto executor = co_await asio::this_coro::executor;
      listeners = stop_signal::console_listeners(executor);
      system_thread = std::thread([&returned, event] {
        EXPECT_TRUE(stop_signal::win32::on_console_event(event));
        returned = true;
      });
      asio::awaitable<StopReason> waiting = stop_signal::first_stop(*listeners);
      first = co_await std::move(waiting);
      // The run stops while the handler still holds the process.
      EXPECT_FALSE(returned.load());
      listeners.reset();
    });
    system_thread.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(first, reason) << event;
  }
}

}  // namespace
