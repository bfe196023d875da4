#pragma once

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include <boost/asio/post.hpp>

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

// A bounded channel into the runtime from any thread. try_send is thread-safe and wakes the runtime
// by posting to its executor; the receiver lives on the runtime thread. Closed as a Queue is: for
// the receiver once every sender is gone and the values are taken, for senders once the receiver is
// gone or closed.
//
// Senders post to the runtime only while the receiver is open. The channel is closed when the
// receiving side closes it (close() or dropping the receiver), and at the latest when its runtime's
// io_context shuts down; from then on a send from any thread fails as closed and touches nothing of
// the runtime.
template <class T>
class CrossChannel {
  struct State final : ShutdownHook {
    State(const Executor& executor, std::size_t capacity)
        : executor(executor), capacity(capacity), readable(executor), writable(executor) {}

    std::mutex mutex;
    Executor executor;
    std::deque<T> items;
    std::size_t capacity;
    std::size_t senders = 1;
    bool receiver = true;
    bool wake_posted = false;
    WaitList readable;  // runtime thread only
    WaitList writable;  // runtime thread only

    // Called with the mutex held: makes the runtime look at the channel again, once per batch.
    void wake_receiver(const std::shared_ptr<State>& self) {
      if (wake_posted || !receiver) return;
      wake_posted = true;
      boost::asio::post(executor, [self] {
        {
          std::lock_guard lock(self->mutex);
          self->wake_posted = false;
        }
        self->readable.wake_all();
      });
    }

    // Joins the shutdown of the runtime while the receiver is open; a channel made on a runtime
    // that is shut down already is born closed.
    void open() {
      if (!join_shutdown(executor)) receiver = false;
    }

    // Runtime thread only.
    void close() {
      bool was_open = false;
      {
        std::lock_guard lock(mutex);
        was_open = receiver;
        receiver = false;
        items.clear();
      }
      // Once closed by the runtime's shutdown, the hook has been taken out already.
      if (was_open) leave_shutdown();
    }

    // The runtime goes with the receiver still open: close, so that no sender posts any more.
    void on_shutdown() noexcept override {
      std::deque<T> dropped;
      std::lock_guard lock(mutex);
      receiver = false;
      dropped.swap(items);
    }
  };

 public:
  class Sender {
   public:
    Sender(const Sender& other) : state_(other.state_) {
      if (!state_) return;
      std::lock_guard lock(state_->mutex);
      ++state_->senders;
    }
    Sender(Sender&&) noexcept = default;
    Sender& operator=(Sender other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Sender() {
      if (!state_) return;
      std::lock_guard lock(state_->mutex);
      if (--state_->senders == 0) state_->wake_receiver(state_);
    }

    // Queues `value` without waiting, from any thread; gives it back when full or closed.
    std::expected<void, Unsent<T>> try_send(T value) {
      if (!state_) return std::unexpected(Unsent<T>{SendError::closed, std::move(value)});  // moved from
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver) return std::unexpected(Unsent<T>{SendError::closed, std::move(value)});
      if (state_->items.size() >= state_->capacity)
        return std::unexpected(Unsent<T>{SendError::full, std::move(value)});
      state_->items.push_back(std::move(value));
      state_->wake_receiver(state_);
      return {};
    }

    // Queues `value`, waiting for room; gives it back only when the receiver is gone. Runtime
    // thread only.
    boost::asio::awaitable<std::expected<void, T>> send(T value) {
      return send_waiting(*this, std::move(value), [this] { return wait_room(); });
    }

   private:
    friend class CrossChannel;
    explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) {}

    // Ready when there is room or the receiver is gone.
    boost::asio::awaitable<void> wait_room() const {
      auto state = state_;
      co_await wait_until(state->writable, [&] {
        std::lock_guard lock(state->mutex);
        return !state->receiver || state->items.size() < state->capacity;
      });
    }

    std::shared_ptr<State> state_;
  };

  // Runtime thread only.
  class Receiver {
   public:
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Receiver() { close(); }

    // Closes the channel for good, as dropping the receiver does: values still queued are dropped,
    // senders fail from now on (and post nothing), and receiving gives closed.
    void close() {
      if (!state_) return;
      state_->close();
      state_->writable.wake_all();
      state_->readable.wake_all();
    }

    std::expected<T, ReceiveError> try_receive() {
      std::optional<T> value;
      {
        std::lock_guard lock(state_->mutex);
        if (!state_->receiver) {
          return std::unexpected(ReceiveError::closed);
        } else if (!state_->items.empty()) {
          value.emplace(std::move(state_->items.front()));
          state_->items.pop_front();
        } else if (state_->senders == 0) {
          return std::unexpected(ReceiveError::closed);
        } else {
          return std::unexpected(ReceiveError::empty);
        }
      }
      if (state_->writable.has_waiters()) state_->writable.wake_all();
      return std::move(*value);
    }

    boost::asio::awaitable<std::optional<T>> receive() { return receive_waiting<T>(*this); }

    // Ready when a value is queued, no sender is left or the channel was closed.
    // An asynchronous operation, for first_of; wait() is the same as a coroutine.
    template <class Token>
    auto async_wait(Token&& token) const {
      auto state = state_;
      return state->readable.async_wait_until(
          [state] {
            std::lock_guard lock(state->mutex);
            return !state->items.empty() || state->senders == 0 || !state->receiver;
          },
          std::forward<Token>(token));
    }
    boost::asio::awaitable<void> wait() const { co_await async_wait(boost::asio::as_tuple(boost::asio::use_awaitable)); }

   private:
    friend class CrossChannel;
    explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  // A new channel with room for `capacity` values (at least 1); its receiver runs on `executor`.
  static std::pair<Sender, Receiver> make(const Executor& executor, std::size_t capacity) {
    auto state = std::make_shared<State>(executor, capacity == 0 ? 1 : capacity);
    state->open();
    return {Sender(state), Receiver(state)};
  }
};

}  // namespace net::kit
