#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <gtest/gtest.h>

// Checks for coroutines. ASSERT_* return from the function, which a coroutine cannot do; these
// co_return instead. Each evaluates its expression once, into a local: g++ 12 miscompiles a
// co_await inside a condition, so an awaited expression must never stand in one (nor in EXPECT_*).
#define CO_ASSERT_TRUE(expression)                          \
  do {                                                      \
    const bool value_ = static_cast<bool>(expression);      \
    if (!value_) {                                          \
      ADD_FAILURE() << "expected to hold: " #expression;    \
      co_return;                                            \
    }                                                       \
  } while (0)
#define CO_ASSERT_EQ(expression, expected)                  \
  do {                                                      \
    const auto value_ = (expression);                       \
    const bool equal_ = value_ == (expected);               \
    EXPECT_EQ(value_, expected) << #expression;             \
    if (!equal_) co_return;                                 \
  } while (0)
#define CO_EXPECT_TRUE(expression)                          \
  do {                                                      \
    const bool value_ = static_cast<bool>(expression);      \
    EXPECT_TRUE(value_) << #expression;                     \
  } while (0)
#define CO_EXPECT_FALSE(expression)                         \
  do {                                                      \
    const bool value_ = static_cast<bool>(expression);      \
    EXPECT_FALSE(value_) << #expression;                    \
  } while (0)
#define CO_EXPECT_EQ(expression, expected)                  \
  do {                                                      \
    const auto value_ = (expression);                       \
    EXPECT_EQ(value_, expected) << #expression;             \
  } while (0)

namespace net::testing {

using namespace std::chrono_literals;
namespace asio = boost::asio;

// The bound for anything a test waits for: generous, so that only a real hang fails.
inline constexpr std::chrono::seconds patience{20};

// A single-threaded runtime for one test. Objects that use it are made after it, so they go first.
class Runtime {
 public:
  asio::io_context context;

  asio::any_io_executor executor() { return context.get_executor(); }

  // Runs `body`, then lets everything it left running end. Fails the test when the body throws,
  // or when the runtime has not settled within `limit`.
  void run(std::function<asio::awaitable<void>()> body, std::chrono::seconds limit = 120s) {
    std::exception_ptr failure;
    bool done = false;
    asio::co_spawn(context, body(), [&](std::exception_ptr e) {
      failure = e;
      done = true;
    });
    context.run_for(limit);
    EXPECT_TRUE(done) << "the test body did not end";
    EXPECT_TRUE(context.stopped()) << "the runtime did not settle: a task still waits";
    if (failure) {
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "the test body threw: " << e.what();
      }
    }
    context.restart();
  }
};

// Runs `op`, giving up after `limit`.
template <class T>
asio::awaitable<std::optional<T>> within(std::chrono::milliseconds limit, asio::awaitable<T> op) {
  using namespace asio::experimental::awaitable_operators;
  const auto executor = co_await asio::this_coro::executor;
  asio::steady_timer timer(executor, limit);
  auto outcome = co_await (std::move(op) || timer.async_wait(asio::as_tuple(asio::use_awaitable)));
  if (outcome.index() == 0) co_return std::move(std::get<0>(outcome));
  co_return std::nullopt;
}

inline asio::awaitable<bool> within(std::chrono::milliseconds limit, asio::awaitable<void> op) {
  using namespace asio::experimental::awaitable_operators;
  const auto executor = co_await asio::this_coro::executor;
  asio::steady_timer timer(executor, limit);
  auto outcome = co_await (std::move(op) || timer.async_wait(asio::as_tuple(asio::use_awaitable)));
  co_return outcome.index() == 0;
}

inline asio::awaitable<void> sleep(std::chrono::milliseconds time) {
  const auto executor = co_await asio::this_coro::executor;
  asio::steady_timer timer(executor, time);
  co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
}

// Waits until `condition` holds, looking every few milliseconds; false when it never did.
inline asio::awaitable<bool> eventually(std::function<bool()> condition,
                                        std::chrono::milliseconds limit = patience) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) co_return false;
    co_await sleep(5ms);
  }
  co_return true;
}

}  // namespace net::testing
