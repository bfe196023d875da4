#pragma once

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "core/net/src/kit/wake.hpp"

namespace net::kit {

enum class SendError { Full, Closed };
enum class ReceiveError { Empty, Closed };

// A value that was not queued comes back to its sender with the reason.
template <class T>
struct Unsent {
  SendError error;
  T value;
};

// A bounded channel with two ends, also the one way into a runtime from other threads. Asio lacks
// it: its channels are one object for both ends, take a value as soon as a receive waits, drop what
// they hold when closed, and must not be touched once their io_context is gone, which another thread
// cannot know. Here the receiver sees the channel closed once every sender is gone and the values are
// taken; senders see it closed once the receiver is gone, which drops what is queued. try_send works
// from any thread, also after the runtime has gone; the receiver and the waiting send run on the
// runtime thread, and the receiver goes before its io_context does.
template <class T>
class Channel {
  using Room = boost::asio::steady_timer;  // never rings: cancelled, and made anew, to wake senders

  struct State {
    State(const Executor& executor, std::size_t capacity, std::shared_ptr<Wake> readable)
        : executor(executor), capacity(capacity), readable(std::move(readable)), room(make_room()) {}
    std::shared_ptr<Room> make_room() const { return std::make_shared<Room>(executor, Room::time_point::max()); }

    std::mutex mutex;  // over what follows; the Asio objects go with the receiver
    const Executor executor;
    const std::size_t capacity;
    std::deque<T> values;
    std::size_t senders = 1;
    bool receiver = true;
    std::shared_ptr<Wake> readable;  // a value came, or the last sender went
    std::shared_ptr<Room> room;
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
      if (--state_->senders == 0 && state_->receiver) Wake::notify_from_any_thread(state_->readable);
    }

    // Queues `value` without waiting; gives it back when the channel is full or closed.
    std::expected<void, Unsent<T>> try_send(T value) {
      if (!state_) return std::unexpected(Unsent<T>{SendError::Closed, std::move(value)});  // moved from
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver) return std::unexpected(Unsent<T>{SendError::Closed, std::move(value)});
      if (state_->values.size() >= state_->capacity) return std::unexpected(Unsent<T>{SendError::Full, std::move(value)});
      state_->values.push_back(std::move(value));
      Wake::notify_from_any_thread(state_->readable);
      return {};
    }

    // Queues `value`, in place of the newest value not taken yet when the channel is full; false
    // (and the value dropped) when the receiver is gone.
    bool replace(T value) {
      auto sent = try_send(std::move(value));
      if (sent || sent.error().error == SendError::Closed) return sent.has_value();
      std::lock_guard lock(state_->mutex);
      state_->values.back() = std::move(sent.error().value);
      Wake::notify_from_any_thread(state_->readable);
      return true;
    }

    // Ends when there may be room or the receiver is gone; throws when cancelled. Runtime thread.
    boost::asio::awaitable<void> wait_room() const {
      std::shared_ptr<Room> room;
      {
        std::lock_guard lock(state_->mutex);
        if (!state_->receiver || state_->values.size() < state_->capacity) co_return;
        room = state_->room;
      }
      co_await room->async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
      co_await throw_if_cancelled();
      std::lock_guard lock(state_->mutex);
      if (state_->room == room) throw boost::system::system_error(boost::asio::error::operation_aborted);
    }

    // Queues `value`, waiting for room; gives it back only when the receiver is gone. A cancelled
    // send queues nothing, and loses the value.
    boost::asio::awaitable<std::expected<void, T>> send(T value) {
      for (;;) {
        auto sent = try_send(std::move(value));
        if (sent) co_return std::expected<void, T>{};
        value = std::move(sent.error().value);
        if (sent.error().error == SendError::Closed) co_return std::unexpected(std::move(value));
        co_await wait_room();
      }
    }

    std::size_t size() const {
      std::lock_guard lock(state_->mutex);
      return state_->values.size();
    }
    std::size_t capacity() const { return state_->capacity; }
    const Executor& get_executor() const { return state_->executor; }

   private:
    friend class Channel;
    explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  class Receiver {
   public:
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver other) noexcept {
      std::swap(state_, other.state_);
      std::swap(readable_, other.readable_);
      return *this;
    }
    ~Receiver() { close(); }

    // Closes the channel for good, as dropping the receiver does; a receive in progress ends.
    void close() {
      if (!state_) return;
      std::deque<T> dropped;
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver) return;
      state_->receiver = false;
      dropped.swap(state_->values);
      readable_->notify();
      state_->room->cancel();  // waiting senders find the channel closed
      state_->readable.reset();
      state_->room.reset();
    }

    // The oldest value; `Empty` when none is queued, `Closed` when none will come any more.
    std::expected<T, ReceiveError> try_receive() {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver) return std::unexpected(ReceiveError::Closed);
      if (state_->values.empty()) return std::unexpected(state_->senders == 0 ? ReceiveError::Closed : ReceiveError::Empty);
      T value = std::move(state_->values.front());
      state_->values.pop_front();
      if (state_->room.use_count() > 1) {  // senders wait for room: wake them all
        state_->room->cancel();
        state_->room = state_->make_room();
      }
      return value;
    }

    // The next value, waiting for one; nothing once the channel is closed. A cancelled receive takes
    // nothing: it throws.
    boost::asio::awaitable<std::optional<T>> receive() {
      for (;;) {
        auto value = try_receive();
        if (value) co_return std::move(*value);
        if (value.error() == ReceiveError::Closed) co_return std::nullopt;
        co_await readable_->wait();
      }
    }

    // Ends when there may be a value or the end; throws when cancelled.
    boost::asio::awaitable<void> wait() const { return readable_->wait(); }

    std::size_t size() const {
      std::lock_guard lock(state_->mutex);
      return state_->values.size();
    }

   private:
    friend class Channel;
    Receiver(std::shared_ptr<State> state, std::shared_ptr<Wake> readable)
        : state_(std::move(state)), readable_(std::move(readable)) {}
    std::shared_ptr<State> state_;
    std::shared_ptr<Wake> readable_;  // its own: the state lets go of it at the close
  };

  // A new channel with room for `capacity` values (at least 1), whose receiver runs on `executor`.
  // Its values and its end notify `readable`, which the receiving task may share with other sources.
  static std::pair<Sender, Receiver> make(const Executor& executor, std::size_t capacity,
                                          std::shared_ptr<Wake> readable = nullptr) {
    if (!readable) readable = std::make_shared<Wake>(executor);
    auto state = std::make_shared<State>(executor, capacity == 0 ? 1 : capacity, readable);
    return {Sender(state), Receiver(state, std::move(readable))};
  }
};

}  // namespace net::kit
