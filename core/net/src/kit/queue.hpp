#pragma once

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <utility>

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

// A bounded queue with any number of senders and one receiver, whose ends know when the other side
// is gone: the receiver sees the queue closed once every sender is gone and the queued values are
// taken; senders see it closed once the receiver is gone (the values still queued are dropped then).
// Runtime thread only.
template <class T>
class Queue {
  struct State {
    State(const Executor& executor, std::size_t capacity)
        : capacity(capacity), readable(executor), writable(executor) {}
    std::deque<T> items;
    std::size_t capacity;
    std::size_t senders = 1;
    bool receiver = true;
    WaitList readable;  // the receiver: a value or no sender left
    WaitList writable;  // senders: room or no receiver left
  };

 public:
  class Sender {
   public:
    Sender(const Sender& other) : state_(other.state_) {
      if (state_) ++state_->senders;
    }
    Sender(Sender&&) noexcept = default;
    Sender& operator=(Sender other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Sender() {
      if (state_ && --state_->senders == 0) state_->readable.wake_all();
    }

    // Queues `value` without waiting; gives it back when the queue is full or closed.
    std::expected<void, Unsent<T>> try_send(T value) {
      if (!state_ || !state_->receiver) return std::unexpected(Unsent<T>{SendError::closed, std::move(value)});
      if (state_->items.size() >= state_->capacity)
        return std::unexpected(Unsent<T>{SendError::full, std::move(value)});
      state_->items.push_back(std::move(value));
      state_->readable.wake_all();
      return {};
    }

    // Queues `value`, waiting for room; gives it back only when the receiver is gone. A cancelled
    // send loses the value.
    boost::asio::awaitable<std::expected<void, T>> send(T value) {
      return send_waiting(*this, std::move(value), [this] { return wait_room(); });
    }

    // Ready when there is room or the receiver is gone.
    boost::asio::awaitable<void> wait_room() const {
      auto state = state_;
      co_await wait_until(state->writable, [&] { return !state->receiver || state->items.size() < state->capacity; });
    }

    bool is_closed() const { return !state_ || !state_->receiver; }
    std::size_t size() const { return state_ ? state_->items.size() : 0; }
    std::size_t capacity() const { return state_ ? state_->capacity : 0; }
    const Executor& get_executor() const { return state_->readable.get_executor(); }

   private:
    friend class Queue;
    explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  class Receiver {
   public:
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Receiver() {
      if (!state_) return;
      state_->receiver = false;
      state_->items.clear();
      state_->writable.wake_all();
    }

    // The oldest value; `empty` when none is queued, `closed` when none will come any more.
    std::expected<T, ReceiveError> try_receive() {
      if (!state_->items.empty()) {
        T value = std::move(state_->items.front());
        state_->items.pop_front();
        if (state_->writable.has_waiters()) state_->writable.wake_all();
        return value;
      }
      if (state_->senders == 0) return std::unexpected(ReceiveError::closed);
      return std::unexpected(ReceiveError::empty);
    }

    // The next value, waiting for one; nothing once the queue is closed.
    boost::asio::awaitable<std::optional<T>> receive() { return receive_waiting<T>(*this); }

    // Ready when a value is queued or no sender is left.
    // An asynchronous operation, for first_of; wait() is the same as a coroutine.
    template <class Token>
    auto async_wait(Token&& token) const {
      auto state = state_;
      return state->readable.async_wait_until([state] { return !state->items.empty() || state->senders == 0; },
                                              std::forward<Token>(token));
    }
    boost::asio::awaitable<void> wait() const { co_await async_wait(boost::asio::as_tuple(boost::asio::use_awaitable)); }

    bool is_closed() const { return state_->items.empty() && state_->senders == 0; }
    std::size_t size() const { return state_->items.size(); }

   private:
    friend class Queue;
    explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  // A new queue with room for `capacity` values (at least 1).
  static std::pair<Sender, Receiver> make(const Executor& executor, std::size_t capacity) {
    auto state = std::make_shared<State>(executor, capacity == 0 ? 1 : capacity);
    return {Sender(state), Receiver(state)};
  }
};

}  // namespace net::kit
