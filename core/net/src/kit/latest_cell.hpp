#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <utility>

#include "core/net/src/kit/wait_list.hpp"

namespace net::kit {

// A latest-value cell with one writer and one reader. Each write replaces a value that the reader
// has not taken yet, so the reader only ever sees the newest one. The reader sees the cell closed
// once the writer is gone and the last value is taken; the writer learns when the reader is gone.
// Runtime thread only.
template <class T>
class LatestCell {
  struct State {
    explicit State(const Executor& executor) : changed(executor) {}
    std::optional<T> value;
    bool writer = true;
    bool reader = true;
    WaitList changed;
  };

 public:
  class Writer {
   public:
    Writer(Writer&&) noexcept = default;
    Writer& operator=(Writer other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Writer() {
      if (!state_) return;
      state_->writer = false;
      state_->changed.wake_all();
    }

    // Replaces the value; false (and the value dropped) when the reader is gone.
    bool set(T value) {
      if (!has_reader()) return false;
      state_->value = std::move(value);
      state_->changed.wake_all();
      return true;
    }

    bool has_reader() const { return state_ && state_->reader; }

   private:
    friend class LatestCell;
    explicit Writer(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  class Reader {
   public:
    Reader(Reader&&) noexcept = default;
    Reader& operator=(Reader other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Reader() {
      if (!state_) return;
      state_->reader = false;
      state_->value.reset();
    }

    // The newest value not taken yet; `empty` when there is none, `closed` when none will come.
    std::expected<T, ReceiveError> try_take() {
      if (state_->value) {
        T value = std::move(*state_->value);
        state_->value.reset();
        return value;
      }
      if (!state_->writer) return std::unexpected(ReceiveError::closed);
      return std::unexpected(ReceiveError::empty);
    }

    // Ready when a new value waits or the writer is gone.
    // An asynchronous operation, for first_of; wait() is the same as a coroutine.
    template <class Token>
    auto async_wait(Token&& token) const {
      auto state = state_;
      return state->changed.async_wait_until([state] { return state->value.has_value() || !state->writer; },
                                             std::forward<Token>(token));
    }
    boost::asio::awaitable<void> wait() const { co_await async_wait(boost::asio::as_tuple(boost::asio::use_awaitable)); }

   private:
    friend class LatestCell;
    explicit Reader(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  // A new, empty cell.
  static std::pair<Writer, Reader> make(const Executor& executor) {
    auto state = std::make_shared<State>(executor);
    return {Writer(state), Reader(state)};
  }
};

}  // namespace net::kit
