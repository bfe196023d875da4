#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <utility>

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

// A latest-value cell, which Asio lacks: the one writer replaces the value, so the one reader only
// ever sees the newest. Each change, and the writer's going, notifies the reader's wake. The reader
// sees the cell closed once the writer is gone and the last value is taken; the writer learns when
// the reader is gone. Runtime thread only.
template <class T>
class LatestCell {
  struct State {
    std::optional<T> value;
    bool writer = true;
    bool reader = true;
    std::shared_ptr<Wake> changed;
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
      state_->changed->notify();
    }

    // Replaces the value; false (and the value dropped) when the reader is gone.
    bool set(T value) {
      if (!has_reader()) return false;
      state_->value = std::move(value);
      state_->changed->notify();
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
      if (state_->value) return std::exchange(state_->value, std::nullopt).value();
      if (!state_->writer) return std::unexpected(ReceiveError::closed);
      return std::unexpected(ReceiveError::empty);
    }

    // Ends at the next change, or at once when one came since the last wait; throws when cancelled.
    boost::asio::awaitable<void> wait() const { return state_->changed->wait(); }

   private:
    friend class LatestCell;
    explicit Reader(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  // A new, empty cell whose changes notify `changed`.
  static std::pair<Writer, Reader> make(std::shared_ptr<Wake> changed) {
    auto state = std::make_shared<State>(State{std::nullopt, true, true, std::move(changed)});
    return {Writer(state), Reader(state)};
  }
  static std::pair<Writer, Reader> make(const Executor& executor) { return make(std::make_shared<Wake>(executor)); }
};

}  // namespace net::kit
