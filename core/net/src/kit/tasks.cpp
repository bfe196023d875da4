#include "core/net/src/kit/tasks.hpp"

#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/multiple_exceptions.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

namespace net::kit {

namespace asio = boost::asio;

std::string TaskEnd::text() const {
  switch (how) {
    case How::Finished: return "finished";
    case How::Cancelled: return "the task was cancelled";
    case How::Failed: return fault.empty() ? std::string("no message") : fault;
  }
  return {};
}

TaskEnd task_end(const std::exception_ptr& error, bool aborted) {
  if (!error) return aborted ? TaskEnd{TaskEnd::How::Cancelled, {}} : TaskEnd{};
  try {
    std::rethrow_exception(error);
  } catch (const asio::multiple_exceptions& e) {
    // Every branch of a race failed, as all do when the task is cancelled: the first one tells.
    return task_end(e.first_exception(), aborted);
  } catch (const boost::system::system_error& e) {
    if (aborted && e.code() == asio::error::operation_aborted) return {TaskEnd::How::Cancelled, {}};
    return {TaskEnd::How::Failed, e.what()};
  } catch (const std::exception& e) {
    return {TaskEnd::How::Failed, e.what()};
  } catch (...) {
    return {TaskEnd::How::Failed, {}};
  }
}

Task Task::spawn(const asio::any_io_executor& executor, asio::awaitable<void> body) {
  Task task;
  task.state_ = std::make_shared<State>(executor);
  auto state = task.state_;
  asio::co_spawn(executor, std::move(body),
                 asio::bind_cancellation_slot(state->signal.slot(), [state](std::exception_ptr error) {
                   state->end = task_end(error, state->aborted);
                   state->done.cancel();
                   // The cancellation signal may still be in use while the coroutine winds down
                   // after this handler; keep it until then.
                   asio::post(state->done.get_executor(), [state] {});
                 }));
  return task;
}

void Task::abort() {
  if (finished() || state_->aborted) return;
  state_->aborted = true;
  state_->signal.emit(asio::cancellation_type::terminal);
}

asio::awaitable<TaskEnd> Task::join() {
  auto state = state_;
  if (!state) co_return TaskEnd{};
  // A cancelled join throws at its next wait.
  while (!state->end) co_await state->done.async_wait(asio::as_tuple(asio::use_awaitable));
  co_return *state->end;
}

}  // namespace net::kit
