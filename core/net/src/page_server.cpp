#include "core/net/src/page_server.hpp"

#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include <boost/asio/as_tuple.hpp>
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

constexpr int listen_backlog = 128;
constexpr std::chrono::milliseconds stop_grace{500};
constexpr std::chrono::milliseconds accept_error_pause{100};
constexpr std::uint32_t warning_quota = 10;

// One accept at a time on the listener, whose result waits here until the accept loop takes it.
// Shared with the accept in flight, which ends after the loop when the listener closes.
struct AcceptPump : std::enable_shared_from_this<AcceptPump> {
  explicit AcceptPump(const kit::Executor& executor) : ready(executor) {}
  std::optional<std::pair<ErrorCode, tcp::socket>> result;
  kit::WaitList ready;

  void start(tcp::acceptor& listener) {
    listener.async_accept([self = shared_from_this()](ErrorCode ec, tcp::socket socket) {
      self->result.emplace(ec, std::move(socket));
      self->ready.wake_all();
    });
  }

  asio::awaitable<void> wait() {
    auto self = shared_from_this();
    co_await kit::wait_until(self->ready, [&] { return self->result.has_value(); });
  }
};

void log_quota(base::Level level, std::uint32_t& quota, std::string message) {
  if (auto line = base::within_quota(quota, std::move(message))) base::log(level, *line);
}

// Open pages get the grace to end by themselves; those still running after it are cut off.
asio::awaitable<void> stop_pages(kit::TaskSet& pages) {
  const auto executor = co_await asio::this_coro::executor;
  asio::steady_timer grace(executor, stop_grace);
  while (!pages.empty()) {
    while (pages.try_next()) {
      // Failures while stopping are not logged.
    }
    if (pages.empty()) co_return;
    auto outcome = co_await (pages.wait() || grace.async_wait(asio::as_tuple(asio::use_awaitable)));
    co_await kit::throw_if_aborted();
    if (outcome.index() == 1) break;
  }
  while (pages.try_next()) {
  }
  if (pages.empty()) co_return;
  base::warn("cut off pages that did not close in time");
  pages.abort_all();
}

asio::awaitable<void> accept_loop(tcp::acceptor listener, kit::StopWatch stop, std::shared_ptr<PageServerShared> shared,
                                  PageEventQueue::Sender events) {
  const auto executor = co_await asio::this_coro::executor;
  kit::Slots handshake_slots(shared->config.max_handshakes);
  kit::TaskSet pages(executor);
  PageId next_page = 1;
  std::uint32_t accept_quota = warning_quota;
  std::uint32_t task_quota = warning_quota;
  std::minstd_rand random{std::random_device{}()};

  auto pump = std::make_shared<AcceptPump>(executor);
  pump->start(listener);
  for (;;) {
    co_await (page_server::stopped(stop) || pump->wait() || pages.wait());
    co_await kit::throw_if_aborted();

    // No input has priority: start at a random one and go round.
    enum Input { stopping, accepted, page_ended };
    const bool ready[] = {stop.raised(), pump->result.has_value(), pages.has_ended()};
    const int first = std::uniform_int_distribution<int>(0, 2)(random);
    std::optional<Input> input;
    for (int i = 0; i < 3 && !input; ++i)
      if (ready[(first + i) % 3]) input = static_cast<Input>((first + i) % 3);
    if (!input) continue;

    if (*input == stopping) break;

    if (*input == page_ended) {
      auto end = pages.try_next();
      if (end && end->how != kit::TaskEnd::How::finished)
        log_quota(base::Level::error, task_quota, "a page's task failed: " + end->text());
      continue;
    }

    auto [ec, socket] = std::move(*pump->result);
    pump->result.reset();
    if (ec) {
      log_quota(base::Level::warn, accept_quota, "accepting a page failed: " + ec.message());
      // The pause does not watch the stop flag.
      asio::steady_timer pause(executor, accept_error_pause);
      co_await pause.async_wait(asio::as_tuple(asio::use_awaitable));
      co_await kit::throw_if_aborted();
      pump->start(listener);
      continue;
    }
    pump->start(listener);
    auto slot = handshake_slots.try_take();
    if (!slot) {
      page_server::log_refusal(*shared, "refused a connection: too many handshakes at once");
      continue;  // the socket closes here, unanswered
    }
    pages.spawn(connection::serve_page(std::move(socket), std::move(*slot), next_page++, stop, shared, events));
  }

  ErrorCode ignored;
  listener.close(ignored);
  co_await stop_pages(pages);
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
  if (!ec) listener.listen(listen_backlog, ec);
  tcp::endpoint local;
  if (!ec) local = listener.local_endpoint(ec);
  if (ec) return std::unexpected(BindError::from(Protocol::tcp, port, ec));

  auto shared = std::make_shared<PageServerShared>(std::move(config));
  auto [flag, watch] = kit::StopFlag::make(executor);
  auto task = kit::Task::spawn(executor, accept_loop(std::move(listener), watch, std::move(shared), std::move(events)));
  return PageServer(std::move(flag), std::move(task), local.port());
}

}  // namespace page_server

asio::awaitable<void> PageServer::stop() {
  stop_.raise();
  const kit::TaskEnd end = co_await task_.join();
  task_ = kit::Task();
  if (end.how != kit::TaskEnd::How::finished) base::log(base::Level::error, "page server task failed: " + end.text());
}

}  // namespace net
