#pragma once

#include <functional>
#include <list>
#include <memory>
#include <utility>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "core/net/src/kit/channel.hpp"
#include "core/net/src/kit/shutdown.hpp"

namespace net::kit {

using Executor = boost::asio::any_io_executor;
using ErrorCode = boost::system::error_code;

// The tasks waiting for some state to change: the building block of every primitive of the kit.
//
// A wait is level-triggered: it completes at once when the caller says the state is ready already,
// and otherwise at the next wake_all(). A wait carries no value, so cancelling it (for instance as
// the losing branch of a race) never loses anything; the waiter looks at the state again after it
// wakes. Completions are always posted, never run inside the call that causes them.
//
// When the list's io_context shuts down with tasks still waiting here, their handlers are destroyed
// without being run, as Asio does with pending operations: the waiting tasks' frames go, and with
// them whatever they own (this list, often). A wait started after that does not wait: its
// operation_aborted completion is posted at once.
//
// Runtime thread only.
class WaitList : private ShutdownHook {
 public:
  explicit WaitList(Executor executor) : executor_(std::move(executor)) {}
  WaitList(const WaitList&) = delete;
  WaitList& operator=(const WaitList&) = delete;
  ~WaitList() { complete_all(boost::asio::error::operation_aborted); }

  const Executor& get_executor() const noexcept { return executor_; }
  bool has_waiters() const noexcept { return !waiters_.empty(); }

  // Completes with no error when `ready` or at the next wake_all(), with operation_aborted when
  // the wait is cancelled or the list goes away.
  template <class Token>
  auto async_wait(bool ready, Token&& token) {
    return boost::asio::async_initiate<Token, void(ErrorCode)>(
        [this](auto handler, bool ready) { this->start(std::move(handler), ready); }, token, ready);
  }

  // The same, with `ready` asked only when the wait starts: for a deferred operation that is when
  // it is launched, not when it is made.
  template <class Ready, class Token>
  auto async_wait_until(Ready ready, Token&& token) {
    return boost::asio::async_initiate<Token, void(ErrorCode)>(
        [this](auto handler, Ready ready) { this->start(std::move(handler), ready()); }, token, std::move(ready));
  }

  void wake_all() { complete_all({}); }

 private:
  struct Waiter {
    std::move_only_function<void(ErrorCode)> complete;
    boost::asio::cancellation_slot slot;
    std::list<std::shared_ptr<Waiter>>::iterator position;
  };

  template <class Handler>
  void start(Handler handler, bool ready) {
    auto slot = boost::asio::get_associated_cancellation_slot(handler);
    auto work = boost::asio::make_work_guard(boost::asio::get_associated_executor(handler, executor_));
    auto complete = [handler = std::move(handler), work = std::move(work)](ErrorCode ec) mutable {
      auto executor = work.get_executor();
      boost::asio::post(executor, [handler = std::move(handler), ec]() mutable { std::move(handler)(ec); });
      work.reset();
    };
    if (ready) {
      complete({});
      return;
    }
    // A list joins the shutdown of its io_context only while tasks wait in it.
    if (waiters_.empty() && !join_shutdown(executor_)) {
      complete(boost::asio::error::operation_aborted);
      return;
    }
    auto waiter = std::make_shared<Waiter>();
    waiter->complete = std::move(complete);
    waiter->position = waiters_.insert(waiters_.end(), waiter);
    if (slot.is_connected()) {
      waiter->slot = slot;
      // The weak pointer makes a late second cancellation harmless: once the waiter has left the
      // list it is gone, and so is any need to touch the list.
      slot.assign([this, weak = std::weak_ptr<Waiter>(waiter)](boost::asio::cancellation_type type) {
        if (type == boost::asio::cancellation_type::none) return;
        auto waiter = weak.lock();
        if (!waiter) return;
        waiters_.erase(waiter->position);
        if (waiters_.empty()) leave_shutdown();
        auto complete = std::move(waiter->complete);
        complete(boost::asio::error::operation_aborted);
      });
    }
  }

  void complete_all(ErrorCode ec) {
    if (waiters_.empty()) return;
    auto waiters = std::move(waiters_);
    waiters_.clear();
    leave_shutdown();
    for (auto& waiter : waiters) {
      if (waiter->slot.is_connected()) waiter->slot.clear();
      auto complete = std::move(waiter->complete);
      complete(ec);
    }
  }

  void on_shutdown() noexcept override {
    auto waiters = std::move(waiters_);
    waiters_.clear();
    // Every slot first: destroying a handler may free the signal of another's slot, and this list.
    for (auto& waiter : waiters)
      if (waiter->slot.is_connected()) waiter->slot.clear();
    // The handlers go with `waiters`, each releasing its work guard.
  }

  Executor executor_;
  std::list<std::shared_ptr<Waiter>> waiters_;
};

// Waits on `list` from a coroutine until `ready()` holds or a wake comes. `ready` is asked when the
// wait really starts, not when this is called, so a change in between is not missed. Ends alike on
// readiness, a wake or a cancellation and never throws for a lost race: the caller looks at the
// state again. A cancelled task still stops at its next co_await, which throws.
template <class Ready>
boost::asio::awaitable<void> wait_until(WaitList& list, Ready ready) {
  co_await list.async_wait(ready(), boost::asio::as_tuple(boost::asio::use_awaitable));
}

// Ends when the first of `waits` ends; each is a deferred asynchronous operation that completes
// with an error code alone (the async_wait of a primitive of this kit, a timer's or a socket's).
// The others are cancelled and have ended when this ends. Racing awaitables with || costs a task
// for every branch and every ||; this races the operations themselves, in one group.
template <class... Waits>
boost::asio::awaitable<void> first_of(Waits... waits) {
  // A named group: g++ 12 can destroy the temporaries of a co_await expression twice.
  auto group = boost::asio::experimental::make_parallel_group(std::move(waits)...);
  co_await std::move(group).async_wait(boost::asio::experimental::wait_for_one(), boost::asio::use_awaitable);
}

// Throws operation_aborted when the current coroutine has been asked to stop: for the places where
// it learns of that as an ordinary result and must not carry on (a cancelled receive must not take
// a value that its caller will never see).
inline boost::asio::awaitable<void> throw_if_aborted() {
  auto state = co_await boost::asio::this_coro::cancellation_state;
  if (state.cancelled() != boost::asio::cancellation_type::none)
    throw boost::system::system_error(boost::asio::error::operation_aborted);
}

}  // namespace net::kit
