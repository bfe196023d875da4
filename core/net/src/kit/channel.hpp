#pragma once

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/experimental/channel_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "core/net/src/kit/wake.hpp"

namespace net::kit {

enum class SendError { full, closed };
enum class ReceiveError { empty, closed };

// A value that was not queued comes back to its sender with the reason.
template <class T>
struct Unsent {
  SendError error;
  T value;
};

// A bounded channel with separate ends, the one way into a runtime from other threads as well. Asio
// lacks it: its channels are one object for both ends, count a value as taken as soon as a receive
// waits, drop what they hold when closed, and must not be touched once their io_context is gone,
// which another thread cannot know. Here a value is taken when the receiving task takes it; the
// receiver sees the channel closed once every sender is gone and the values are taken; senders see
// it closed once the receiver is gone, which drops what is queued. The Asio objects go with the
// receiver, on the runtime thread, so a sender on another thread may outlive the runtime; the
// receiver itself goes before its io_context, as every Asio object must (with the frame that holds
// it, at the latest when the io_context shuts down).
//
// try_send works from any thread; the waiting send and the receiver only on the runtime thread.
template <class T>
class Channel {
  // Closed, and made anew, to wake every sender that waits for room.
  using Room = boost::asio::experimental::channel<void(ErrorCode)>;

  struct State {
    State(const Executor& executor, std::size_t capacity, std::shared_ptr<Wake> readable)
        : executor(executor), capacity(capacity), readable(std::move(readable)), room(std::make_shared<Room>(executor)) {}

    std::mutex mutex;  // over the fields below, and the life of the Asio objects for other threads
    Executor executor;
    std::deque<T> values;
    std::size_t capacity;
    std::size_t senders = 1;
    bool receiver = true;
    std::shared_ptr<Wake> readable;  // notified for a value or no sender left
    std::shared_ptr<Room> room;
    bool room_wanted = false;  // a sender waits on `room`
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
      if (--state_->senders == 0 && state_->readable) Wake::notify_from_any_thread(state_->readable);
    }

    // Queues `value` without waiting; gives it back when the channel is full or closed.
    std::expected<void, Unsent<T>> try_send(T value) {
      if (!state_) return std::unexpected(Unsent<T>{SendError::closed, std::move(value)});  // moved from
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver) return std::unexpected(Unsent<T>{SendError::closed, std::move(value)});
      if (state_->values.size() >= state_->capacity) return std::unexpected(Unsent<T>{SendError::full, std::move(value)});
      state_->values.push_back(std::move(value));
      Wake::notify_from_any_thread(state_->readable);
      return {};
    }

    // Ends when there may be room or the receiver is gone; throws when cancelled. Runtime thread only.
    boost::asio::awaitable<void> wait_room() const {
      std::shared_ptr<Room> room;
      {
        std::lock_guard lock(state_->mutex);
        if (!state_->receiver || state_->values.size() < state_->capacity) co_return;
        room = state_->room;
        state_->room_wanted = true;
      }
      auto [ec] = co_await room->async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
      if (ec == boost::asio::experimental::error::channel_cancelled)
        throw boost::system::system_error(boost::asio::error::operation_aborted);
    }

    // Queues `value`, waiting for room; gives it back only when the receiver is gone. A cancelled
    // send loses the value.
    boost::asio::awaitable<std::expected<void, T>> send(T value) {
      for (;;) {
        auto sent = try_send(std::move(value));
        if (sent) co_return std::expected<void, T>{};
        value = std::move(sent.error().value);
        if (sent.error().error == SendError::closed) co_return std::unexpected(std::move(value));
        co_await wait_room();
      }
    }

    bool is_closed() const {
      if (!state_) return true;
      std::lock_guard lock(state_->mutex);
      return !state_->receiver;
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
      readable_->notify();
      dropped.swap(state_->values);
      state_->readable.reset();
      state_->room->close();  // waiting senders end, and find the channel closed
      state_->room.reset();
    }

    // The oldest value; `empty` when none is queued, `closed` when none will come any more.
    std::expected<T, ReceiveError> try_receive() {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver) return std::unexpected(ReceiveError::closed);
      if (state_->values.empty())
        return std::unexpected(state_->senders == 0 ? ReceiveError::closed : ReceiveError::empty);
      T value = std::move(state_->values.front());
      state_->values.pop_front();
      if (state_->room_wanted) {
        state_->room->close();
        state_->room = std::make_shared<Room>(state_->executor);
        state_->room_wanted = false;
      }
      return value;
    }

    // The next value, waiting for one; nothing once the channel is closed. A cancelled receive
    // takes nothing: it throws.
    boost::asio::awaitable<std::optional<T>> receive() {
      for (;;) {
        auto value = try_receive();
        if (value) co_return std::move(*value);
        if (value.error() == ReceiveError::closed) co_return std::nullopt;
        co_await wait();
      }
    }

    // Ends when there may be a value or the end; throws when cancelled. async_wait is the same as
    // an Asio operation, whose error code says whether it was cancelled.
    template <class Token>
    auto async_wait(Token&& token) const {
      return readable_->async_wait(std::forward<Token>(token));
    }
    boost::asio::awaitable<void> wait() const { return readable_->wait(); }

    bool is_closed() const {
      std::lock_guard lock(state_->mutex);
      return !state_->receiver || (state_->values.empty() && state_->senders == 0);
    }
    std::size_t size() const {
      std::lock_guard lock(state_->mutex);
      return state_->values.size();
    }

   private:
    friend class Channel;
    explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)), readable_(state_->readable) {}
    std::shared_ptr<State> state_;
    std::shared_ptr<Wake> readable_;  // the receiver's own hold: the state lets go of it at the close
  };

  // A new channel with room for `capacity` values (at least 1); its receiver runs on `executor`,
  // and its values and its end notify `readable`, which the receiving task may share with other
  // sources it waits on.
  static std::pair<Sender, Receiver> make(const Executor& executor, std::size_t capacity,
                                          std::shared_ptr<Wake> readable) {
    auto state = std::make_shared<State>(executor, capacity == 0 ? 1 : capacity, std::move(readable));
    return {Sender(state), Receiver(state)};
  }
  static std::pair<Sender, Receiver> make(const Executor& executor, std::size_t capacity) {
    return make(executor, capacity, std::make_shared<Wake>(executor));
  }
};

}  // namespace net::kit
