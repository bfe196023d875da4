#pragma once

#include <memory>
#include <utility>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/append.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>

namespace net::kit {

using Executor = boost::asio::any_io_executor;
using ErrorCode = boost::system::error_code;

// Asio cannot wait on several sources at once without a race per wait: a task that waits on several
// waits on this one wake, which each source notifies. A wake that comes while the task is busy is
// kept for its next wait, and wakes that come before it looks are one wake. A timer that never
// rings, whose wait a wake cancels (an Asio 1.81 channel crashes when sent to while its runtime
// shuts down, which a destructor may do). Runtime thread only; notify_from_any_thread posts.
class Wake {
 public:
  explicit Wake(const Executor& executor) : timer_(executor, boost::asio::steady_timer::time_point::max()) {}

  void notify() {
    woken_ = true;
    timer_.cancel();
  }

  // The same from whatever thread `wake` is told on, while its runtime runs.
  static void notify_from_any_thread(const std::shared_ptr<Wake>& wake) {
    const auto* io = wake->timer_.get_executor().target<boost::asio::io_context::executor_type>();
    if (io && io->running_in_this_thread()) {
      wake->notify();
      return;
    }
    boost::asio::post(wake->timer_.get_executor(), [weak = std::weak_ptr<Wake>(wake)] {
      if (auto wake = weak.lock()) wake->notify();
    });
  }

  // Ends at the next wake, at once when one came since the last wait; throws operation_aborted when
  // cancelled, as Asio's own waits do in a coroutine.
  boost::asio::awaitable<void> wait() {
    if (!woken_) {
      co_await timer_.async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
      if (!woken_) throw boost::system::system_error(boost::asio::error::operation_aborted);
    }
    woken_ = false;
  }

  // Much the same as an Asio operation, which may also end without a wake; its error code says
  // nothing.
  template <class Token>
  auto async_wait(Token&& token) {
    return boost::asio::async_initiate<Token, void(ErrorCode)>(
        [this](auto handler) {
          if (std::exchange(woken_, false)) {
            boost::asio::post(timer_.get_executor(), boost::asio::append(std::move(handler), ErrorCode{}));
            return;
          }
          timer_.async_wait(std::move(handler));
        },
        token);
  }

 private:
  boost::asio::steady_timer timer_;
  bool woken_ = false;
};

}  // namespace net::kit
