#include "core/net/src/page_server.hpp"

#include <chrono>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <variant>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "core/base/src/log.hpp"
#include "core/base/src/quota.hpp"
#include "core/net/src/connection.hpp"

namespace net {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {

constexpr int kListenBacklog = 128;
constexpr std::chrono::milliseconds kStopGrace{500};
constexpr std::chrono::milliseconds kAcceptErrorPause{100};
constexpr std::uint32_t kWarningQuota = 10;

void log_quota(base::Level level, std::uint32_t& quota, std::string message) {
  if (auto line = base::within_quota(quota, std::move(message))) base::log(level, *line);
}

// The running page tasks of one accept loop, shared with the tasks' completion handlers.
struct PageTasks {
  explicit PageTasks(const kit::Executor& executor) : all_ended(executor, asio::steady_timer::time_point::max()) {}

  struct Running {
    asio::cancellation_signal cut_off;
    std::shared_ptr<kit::Wake> wake;  // the page's write loop, told of the stop
  };
  std::map<PageId, Running> running;
  bool stopping = false;
  std::uint32_t failure_quota = kWarningQuota;
  asio::steady_timer all_ended;  // the grace of the stop, cut short when the last task ends

  void ended(PageId page, const std::exception_ptr& error) {
    running.erase(page);
    const kit::TaskEnd end = kit::task_end(error, false);
    // Failures while stopping are not logged.
    if (!stopping && end.how != kit::TaskEnd::How::Finished)
      log_quota(base::Level::Error, failure_quota, "a page's task failed: " + end.text());
    if (stopping && running.empty()) all_ended.cancel();
  }
};

void spawn_page(const std::shared_ptr<PageTasks>& tasks, tcp::socket socket, kit::Slots::Permit slot, PageId page,
                const std::shared_ptr<StopFlag>& stop, const std::shared_ptr<PageServerShared>& shared,
                const PageEventQueue::Sender& events) {
  const auto executor = tasks->all_ended.get_executor();
  PageTasks::Running& running = tasks->running[page];
  running.wake = std::make_shared<kit::Wake>(executor);
  asio::co_spawn(executor,
                 connection::serve_page(std::move(socket), std::move(slot), page, stop, running.wake, shared, events),
                 asio::bind_cancellation_slot(running.cut_off.slot(), [tasks, page](std::exception_ptr error) {
                   // Taken out in a later turn: the task may still use its cancellation signal while
                   // it winds down after this handler.
                   asio::post(tasks->all_ended.get_executor(), [tasks, page, error] { tasks->ended(page, error); });
                 }));
}

// Open pages get the grace to end by themselves; those still running after it are cut off.
asio::awaitable<void> stop_pages(PageTasks& tasks) {
  tasks.stopping = true;
  for (auto& [page, running] : tasks.running) running.wake->notify();
  if (tasks.running.empty()) co_return;
  tasks.all_ended.expires_after(kStopGrace);
  co_await tasks.all_ended.async_wait(asio::as_tuple(asio::use_awaitable));
  if (tasks.running.empty()) co_return;
  base::warn("cut off pages that did not close in time");
  for (auto& [page, running] : tasks.running) running.cut_off.emit(asio::cancellation_type::terminal);
}

asio::awaitable<void> accept_loop(tcp::acceptor listener, std::shared_ptr<StopFlag> stop,
                                  std::shared_ptr<PageServerShared> shared, PageEventQueue::Sender events) {
  const auto executor = co_await asio::this_coro::executor;
  kit::Slots handshake_slots(shared->config.max_handshakes);
  auto tasks = std::make_shared<PageTasks>(executor);
  PageId next_page = 1;
  std::uint32_t accept_quota = kWarningQuota;

  for (;;) {
    // A named value, not a temporary: g++ 12 destroys a temporary in a co_await expression twice.
    asio::awaitable<std::variant<std::tuple<ErrorCode, tcp::socket>, std::monostate>> accepting =
        (listener.async_accept(asio::as_tuple(asio::use_awaitable)) || stop->wait());
    auto accepted = co_await std::move(accepting);
    if (accepted.index() == 1) break;

    auto [ec, socket] = std::move(std::get<0>(accepted));
    if (ec) {
      log_quota(base::Level::Warn, accept_quota, "accepting a page failed: " + ec.message());
      // The pause does not watch the stop flag.
      asio::steady_timer pause(executor, kAcceptErrorPause);
      co_await pause.async_wait(asio::use_awaitable);
      continue;
    }
    auto slot = handshake_slots.try_take();
    if (!slot) {
      page_server::log_refusal(*shared, "refused a connection: too many handshakes at once");
      continue;  // the socket closes here, unanswered
    }
    spawn_page(tasks, std::move(socket), std::move(*slot), next_page++, stop, shared, events);
  }

  ErrorCode ignored;
  listener.close(ignored);
  co_await stop_pages(*tasks);
}

}  // namespace

std::optional<std::string> RefusalCounter::count(std::string_view message) {
  const std::uint64_t n = count_.fetch_add(1) + 1;
  if (n > 10 && n % 1000 != 0) return std::nullopt;
  return std::string(message) + " (refusal " + std::to_string(n) + ")";
}

namespace page_server {

void log_refusal(PageServerShared& shared, std::string_view message) {
  if (auto line = shared.refusals.count(message)) base::warn(*line);
}

std::expected<PageServer, BindError> start(const asio::any_io_executor& executor, PageServerConfig config,
                                           PageEventQueue::Sender events) {
  const std::uint16_t port = config.port;
  tcp::acceptor listener(executor);
  ErrorCode ec;
  // Opened, bound and put to listen by hand: the acceptor's constructor would turn on address
  // reuse, which on Windows lets the bridge bind a port that another program is listening on.
  listener.open(tcp::v4(), ec);
  if (!ec) listener.bind(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
  if (!ec) listener.listen(kListenBacklog, ec);
  tcp::endpoint local;
  if (!ec) local = listener.local_endpoint(ec);
  if (ec) return std::unexpected(BindError::from(Protocol::Tcp, port, ec));

  auto shared = std::make_shared<PageServerShared>(std::move(config));
  auto stop = std::make_shared<StopFlag>(executor);
  auto task = kit::Task::spawn(executor, accept_loop(std::move(listener), stop, std::move(shared), std::move(events)));
  return PageServer(std::move(stop), std::move(task), local.port());
}

}  // namespace page_server

asio::awaitable<void> PageServer::stop() {
  stop_->raise();
  const kit::TaskEnd end = co_await task_.join();
  task_ = kit::Task();
  if (end.how != kit::TaskEnd::How::Finished) base::log(base::Level::Error, "page server task failed: " + end.text());
}

}  // namespace net
