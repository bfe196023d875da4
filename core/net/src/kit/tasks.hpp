#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/cancellation_signal.hpp>

#include "core/net/src/kit/wait_list.hpp"

namespace net::kit {

// How a spawned task ended.
struct TaskEnd {
  enum class How { finished, cancelled, failed };
  How how = How::finished;
  // The fault's message for a failed task; empty when it carried none.
  std::string fault;

  // The runtime's words for the end: "finished", "the task was cancelled", or the fault's message
  // ("no message" when it carried none).
  std::string text() const;
};

// Classifies the outcome of a coroutine: `error` is what escaped it, `aborted` whether it was asked
// to stop before it ended. A task asked to stop was cancelled, whether it returned or ended by the
// resulting operation_aborted; any other fault is a failure.
TaskEnd task_end(const std::exception_ptr& error, bool aborted);

// The handle on one spawned coroutine. Dropping the handle lets the task run on, detached.
class Task {
  struct State {
    explicit State(const Executor& executor) : done(executor) {}
    std::optional<TaskEnd> end;
    bool aborted = false;
    boost::asio::cancellation_signal signal;
    WaitList done;
  };

 public:
  Task() = default;  // no task; joins at once as finished
  static Task spawn(const Executor& executor, boost::asio::awaitable<void> body);

  bool finished() const { return !state_ || state_->end.has_value(); }

  // Asks the task to stop: the operation it waits in ends with operation_aborted, and its next
  // co_await throws. The task ends on its own after that; abort does not wait.
  void abort();

  // Waits for the end of the task.
  boost::asio::awaitable<TaskEnd> join();

 private:
  std::shared_ptr<State> state_;
};

// A set of spawned coroutines whose ends can be taken in the order they happen, and which can be
// stopped together. Dropping the set aborts the tasks still running. Runtime thread only.
class TaskSet {
  struct Running {
    boost::asio::cancellation_signal signal;
    bool aborted = false;
  };
  struct State {
    explicit State(const Executor& executor) : executor(executor), ended_ready(executor) {}
    Executor executor;
    std::uint64_t next_id = 0;
    std::map<std::uint64_t, Running> running;
    std::deque<TaskEnd> ended;
    WaitList ended_ready;
  };

 public:
  explicit TaskSet(const Executor& executor);
  TaskSet(const TaskSet&) = delete;
  TaskSet& operator=(const TaskSet&) = delete;
  ~TaskSet();

  void spawn(boost::asio::awaitable<void> body);

  // Tasks running plus ended ones not taken yet.
  std::size_t size() const { return state_->running.size() + state_->ended.size(); }
  bool empty() const { return size() == 0; }
  bool has_ended() const { return !state_->ended.empty(); }

  // The end of the task that ended first among those not taken yet.
  std::optional<TaskEnd> try_next();

  // Ready when an ended task waits to be taken. Never ready for an empty set.
  boost::asio::awaitable<void> wait() const;

  // The next end, waiting for one; nothing when the set is empty.
  boost::asio::awaitable<std::optional<TaskEnd>> next();

  // Asks every running task to stop (see Task::abort); does not wait for them.
  void abort_all();

 private:
  std::shared_ptr<State> state_;
};

}  // namespace net::kit
