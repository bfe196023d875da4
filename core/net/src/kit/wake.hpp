#pragma once

#include <memory>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

namespace net::kit {

using Executor = boost::asio::any_io_executor;

// For a wait that Asio ended normally although its task was cancelled meanwhile (the two came in
// the same turn): what the wait stood for must not be taken then.
inline boost::asio::awaitable<void> throw_if_cancelled() {
  const auto state = co_await boost::asio::this_coro::cancellation_state;
  if (state.cancelled() != boost::asio::cancellation_type::none)
    throw boost::system::system_error(boost::asio::error::operation_aborted);
}

// A wait that only its cancellation ends, which Asio lacks: for a loop that has nothing left to wait
// for but the end of the others.
inline boost::asio::awaitable<void> until_cancelled() {
  boost::asio::steady_timer never(co_await boost::asio::this_coro::executor, boost::asio::steady_timer::time_point::max());
  co_await never.async_wait(boost::asio::use_awaitable);
}

// Asio cannot wait on several sources at once without a race per wait: a task waits on this one
// wake, which each of its sources notifies. A wake that comes while the task is busy is kept for its
// next wait, and wakes that come before it looks are one wake. A timer that never rings, whose wait
// a wake cancels (an Asio 1.81 channel can crash when sent to as its runtime shuts down, which a
// destructor may do). Runtime thread only; notify_from_any_thread posts from other threads.
class Wake {
 public:
  explicit Wake(const Executor& executor) : timer_(executor, boost::asio::steady_timer::time_point::max()) {}

  void notify() {
    woken_ = true;
    timer_.cancel();
  }

  // Notifies `wake` from whatever thread this is, while its runtime is there.
  static void notify_from_any_thread(const std::shared_ptr<Wake>& wake) {
    const auto* io = wake->timer_.get_executor().target<boost::asio::io_context::executor_type>();
    if (io && io->running_in_this_thread()) return wake->notify();
    boost::asio::post(wake->timer_.get_executor(), [weak = std::weak_ptr<Wake>(wake)] {
      if (auto wake = weak.lock()) wake->notify();
    });
  }

  // Ends at the next wake, at once when one came since the last wait; throws operation_aborted when
  // cancelled, as Asio's own waits do in a coroutine, and then leaves a wake that came meanwhile to
  // the next wait.
  boost::asio::awaitable<void> wait() {
    if (!woken_) {
      co_await timer_.async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
      co_await throw_if_cancelled();
      if (!woken_) throw boost::system::system_error(boost::asio::error::operation_aborted);
    }
    woken_ = false;
  }

 private:
  boost::asio::steady_timer timer_;
  bool woken_ = false;
};

}  // namespace net::kit
