#pragma once

#include <memory>
#include <utility>

#include "core/net/src/kit/wait_list.hpp"

namespace net::kit {

class StopWatch;

// The raising end of a stop flag. Raising is for good: every watcher that looks later, or starts
// waiting later, sees the flag raised. Dropping the flag raises it too, so a watcher never waits for
// an owner that is gone. Runtime thread only.
class StopFlag {
 public:
  static std::pair<StopFlag, StopWatch> make(const Executor& executor);

  StopFlag(StopFlag&&) noexcept = default;
  StopFlag& operator=(StopFlag other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  ~StopFlag() { raise(); }

  void raise();

 private:
  friend class StopWatch;
  struct State {
    explicit State(const Executor& executor) : changed(executor) {}
    bool raised = false;
    WaitList changed;
  };
  explicit StopFlag(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

// A watcher of a stop flag; copies watch the same flag.
class StopWatch {
 public:
  bool raised() const { return state_->raised; }

  // Resolves once the flag is raised, at once when it is already.
  // An asynchronous operation, for first_of; wait() is the same as a coroutine.
  template <class Token>
  auto async_wait(Token&& token) const {
    auto state = state_;
    return state->changed.async_wait_until([state] { return state->raised; }, std::forward<Token>(token));
  }
  boost::asio::awaitable<void> wait() const { co_await async_wait(boost::asio::as_tuple(boost::asio::use_awaitable)); }

 private:
  friend class StopFlag;
  explicit StopWatch(std::shared_ptr<StopFlag::State> state) : state_(std::move(state)) {}
  std::shared_ptr<StopFlag::State> state_;
};

inline std::pair<StopFlag, StopWatch> StopFlag::make(const Executor& executor) {
  auto state = std::make_shared<State>(executor);
  return {StopFlag(state), StopWatch(state)};
}

inline void StopFlag::raise() {
  if (!state_ || state_->raised) return;
  state_->raised = true;
  state_->changed.wake_all();
}

}  // namespace net::kit
