#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <utility>

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

// A channel for exactly one value. The receiver sees it closed when the sender goes without
// sending; the sender learns when the receiver is gone. Runtime thread only.
template <class T>
class OneShot {
  struct State {
    explicit State(const Executor& executor) : ready(executor) {}
    std::optional<T> value;
    bool sender = true;
    bool receiver = true;
    WaitList ready;
  };

 public:
  class Sender {
   public:
    Sender(Sender&&) noexcept = default;
    Sender& operator=(Sender other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Sender() { close(); }

    // Sends the value and gives up the sender; false (and the value dropped) when the receiver is
    // gone or a value was sent already.
    bool send(T value) {
      if (!state_ || !state_->receiver) {
        close();
        return false;
      }
      state_->value = std::move(value);
      close();
      return true;
    }

    bool has_receiver() const { return state_ && state_->receiver; }

   private:
    friend class OneShot;
    explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void close() {
      if (!state_) return;
      state_->sender = false;
      state_->ready.wake_all();
      state_.reset();
    }
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
      state_->value.reset();
    }

    // The value once sent; `empty` before, `closed` when taken already or the sender left without.
    std::expected<T, ReceiveError> try_receive() {
      if (state_->value) {
        T value = std::move(*state_->value);
        state_->value.reset();
        return value;
      }
      if (!state_->sender) return std::unexpected(ReceiveError::closed);
      return std::unexpected(ReceiveError::empty);
    }

    // The value, waiting for it; nothing when the sender left without sending.
    boost::asio::awaitable<std::optional<T>> receive() { return receive_waiting<T>(*this); }

    // Ready when the value is there or the sender is gone.
    boost::asio::awaitable<void> wait() const {
      auto state = state_;
      co_await wait_until(state->ready, [&] { return state->value.has_value() || !state->sender; });
    }

   private:
    friend class OneShot;
    explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  static std::pair<Sender, Receiver> make(const Executor& executor) {
    auto state = std::make_shared<State>(executor);
    return {Sender(state), Receiver(state)};
  }
};

}  // namespace net::kit
