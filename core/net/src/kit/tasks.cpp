#include "core/net/src/kit/tasks.hpp"

#include <system_error>
#include <utility>
#include <vector>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/system/system_error.hpp>

namespace net::kit {

namespace asio = boost::asio;

std::string TaskEnd::text() const {
  switch (how) {
    case How::finished: return "finished";
    case How::cancelled: return "the task was cancelled";
    case How::failed: return fault.empty() ? std::string("no message") : fault;
  }
  return {};
}

TaskEnd task_end(const std::exception_ptr& error, bool aborted) {
  if (!error) return aborted ? TaskEnd{TaskEnd::How::cancelled, {}} : TaskEnd{};
  try {
    std::rethrow_exception(error);
  } catch (const boost::system::system_error& e) {
    if (aborted && e.code() == asio::error::operation_aborted) return {TaskEnd::How::cancelled, {}};
    return {TaskEnd::How::failed, e.what()};
  } catch (const std::exception& e) {
    return {TaskEnd::How::failed, e.what()};
  } catch (...) {
    return {TaskEnd::How::failed, {}};
  }
}

Task Task::spawn(const Executor& executor, asio::awaitable<void> body) {
  Task task;
  task.state_ = std::make_shared<State>(executor);
  auto state = task.state_;
  asio::co_spawn(executor, std::move(body),
                 asio::bind_cancellation_slot(state->signal.slot(), [state](std::exception_ptr error) {
                   state->end = task_end(error, state->aborted);
                   state->done.wake_all();
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
  while (!state->end) {
    co_await wait_until(state->done, [&] { return state->end.has_value(); });
    co_await throw_if_aborted();
  }
  co_return *state->end;
}

TaskSet::TaskSet(const Executor& executor) : state_(std::make_shared<State>(executor)) {}

TaskSet::~TaskSet() { abort_all(); }

void TaskSet::spawn(asio::awaitable<void> body) {
  auto state = state_;
  const std::uint64_t id = state->next_id++;
  Running& running = state->running[id];
  asio::co_spawn(state->executor, std::move(body),
                 asio::bind_cancellation_slot(running.signal.slot(), [state, id](std::exception_ptr error) {
                   // Recorded in a later turn: the coroutine may still use its cancellation signal
                   // while it winds down after this handler.
                   asio::post(state->executor, [state, id, error] {
                     auto it = state->running.find(id);
                     if (it == state->running.end()) return;
                     state->ended.push_back(task_end(error, it->second.aborted));
                     state->running.erase(it);
                     state->ended_ready.wake_all();
                   });
                 }));
}

std::optional<TaskEnd> TaskSet::try_next() {
  if (state_->ended.empty()) return std::nullopt;
  TaskEnd end = std::move(state_->ended.front());
  state_->ended.pop_front();
  return end;
}

asio::awaitable<void> TaskSet::wait() const {
  auto state = state_;
  co_await wait_until(state->ended_ready, [&] { return !state->ended.empty(); });
}

asio::awaitable<std::optional<TaskEnd>> TaskSet::next() {
  for (;;) {
    if (auto end = try_next()) co_return end;
    if (empty()) co_return std::nullopt;
    co_await wait();
    co_await throw_if_aborted();
  }
}

void TaskSet::abort_all() {
  // Emitting can run code that changes the map; go by a list of ids.
  std::vector<std::uint64_t> ids;
  for (auto& [id, running] : state_->running)
    if (!running.aborted) ids.push_back(id);
  for (std::uint64_t id : ids) {
    auto it = state_->running.find(id);
    if (it == state_->running.end()) continue;
    it->second.aborted = true;
    it->second.signal.emit(asio::cancellation_type::terminal);
  }
}

}  // namespace net::kit
