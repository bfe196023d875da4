#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/steady_timer.hpp>

namespace net::kit {

// How a spawned task ended.
struct TaskEnd {
  enum class How { Finished, Cancelled, Failed };
  How how = How::Finished;
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

// The handle on one spawned coroutine, which Asio's co_spawn does not give: its end can be waited
// for, by any number of tasks and also after it came, and it can be asked to stop (a terminal
// cancellation). Dropping the handle lets the task run on, detached. Runtime thread only.
class Task {
  struct State {
    explicit State(const boost::asio::any_io_executor& executor)
        : done(executor, boost::asio::steady_timer::time_point::max()) {}
    std::optional<TaskEnd> end;
    bool aborted = false;
    boost::asio::cancellation_signal signal;
    boost::asio::steady_timer done;  // never rings: cancelled to wake every join at the end
  };

 public:
  Task() = default;  // no task; joins at once as finished
  static Task spawn(const boost::asio::any_io_executor& executor, boost::asio::awaitable<void> body);

  bool finished() const { return !state_ || state_->end.has_value(); }

  // Asks the task to stop: the operation it waits in ends with operation_aborted, and its next
  // co_await throws. The task ends on its own after that; abort does not wait.
  void abort();

  // Waits for the end of the task.
  boost::asio::awaitable<TaskEnd> join();

 private:
  std::shared_ptr<State> state_;
};

}  // namespace net::kit
