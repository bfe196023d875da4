#include "dcs/shuttle/src/run_loop.hpp"

#include <exception>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/execution/context.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/query.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "core/base/src/log.hpp"
#include "core/base/src/quota.hpp"
#include "dcs/protocol/src/page_message.hpp"
#include "dcs/shuttle/src/udp_resets.hpp"

namespace shuttle {

namespace asio = boost::asio;
namespace kit = net::kit;
using udp = asio::ip::udp;
using ErrorCode = boost::system::error_code;

namespace {

constexpr std::uint32_t kReceiveWarningQuota = 10;

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

}  // namespace

struct LiveLinks;

struct RunLoop::State {
  explicit State(Parts parts);
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  protocol::ShuttleCore core;
  udp::socket socket;
  udp::endpoint collector;
  std::vector<char> buffer;  // allocated once, reused for every receive
  CommandChannel::Receiver commands;
  net::PageEventQueue::Receiver page_events;
  std::unordered_map<protocol::PageId, PageLink> links;
  std::string bridge_version;
  std::shared_ptr<StatusSource> status;
  std::shared_ptr<RepairOpener> repair;
  std::optional<net::PageServer> page_server;
  bool collector_send_failed = false;
  bool reported_quiet = true;  // the core's own starting value: nothing to report before a packet
  std::uint32_t receive_quota = kReceiveWarningQuota;
  asio::steady_timer deadline;  // at the core's next deadline
  kit::Wake datagrams_taken;    // notified when the core takes datagrams again, at its next poll
  bool datagrams_parked = false;  // the datagram loop waits for that
  std::shared_ptr<LiveLinks> live;  // where the runtime's shutdown finds this link
};

namespace {

void send_to_collector(RunLoop::State& s, std::string_view bytes) {
  ErrorCode ec;
  s.socket.send_to(asio::buffer(bytes.data(), bytes.size()), s.collector, 0, ec);
  if (!ec) {
    s.collector_send_failed = false;
    return;
  }
  if (s.collector_send_failed) return;
  s.collector_send_failed = true;
  base::warn("sending to the collector failed: " + ec.message());
}

void finish(RunLoop::State& s) {
  const protocol::ShuttleActions actions = s.core.handle(protocol::event::Stop{}, base::Clock::now());
  for (const protocol::ShuttleAction& a : actions) {
    if (const auto* send = std::get_if<protocol::action::SendToCollector>(&a)) send_to_collector(s, send->bytes);
    if (const auto* log = std::get_if<protocol::action::Log>(&a)) base::info(log->text);
  }
}

}  // namespace

// The links alive on one runtime. When the runtime goes before a link has stopped, the runtime kit
// destroys the link's frames, and the link's RunLoop releases the held presses as it goes. That is
// too late on Windows: there every socket service closes its sockets in its own shutdown, before
// the frames go (Asio posts their unwinding, which only the io_context's last step carries out).
// This service joins the runtime after the link's socket is there, so it shuts down first and
// releases the presses while the socket is still open.
struct LiveLinks {
  std::unordered_set<RunLoop::State*> links;
  void shut_down() {
    for (RunLoop::State* link : std::exchange(links, {})) {
      try {
        finish(*link);
      } catch (...) {
        // Nothing more can be done for the presses while the runtime goes.
      }
    }
  }
};

namespace {

class LinkShutdown : public asio::execution_context::service {
 public:
  using key_type = LinkShutdown;
  static inline asio::execution_context::id id;
  explicit LinkShutdown(asio::execution_context& context)
      : asio::execution_context::service(context), live(std::make_shared<LiveLinks>()) {}
  std::shared_ptr<LiveLinks> live;

 private:
  void shutdown() override { live->shut_down(); }
};

}  // namespace

RunLoop::State::State(Parts parts)
    : core(std::move(parts.core)),
      socket(std::move(parts.socket)),
      collector(parts.collector),
      buffer(kReceiveBufferSize),
      commands(std::move(parts.commands)),
      page_events(std::move(parts.page_events)),
      bridge_version(std::move(parts.bridge_version)),
      status(std::move(parts.status)),
      repair(std::move(parts.repair)),
      page_server(std::move(parts.page_server)),
      deadline(socket.get_executor(), core.next_deadline()),
      datagrams_taken(socket.get_executor()) {
  asio::execution_context& context = asio::query(socket.get_executor(), asio::execution::context);
  live = asio::use_service<LinkShutdown>(context).live;
  live->links.insert(this);
}

RunLoop::State::~State() { live->links.erase(this); }

RunLoop::RunLoop(Parts parts) : state_(std::make_unique<State>(std::move(parts))) {}
RunLoop::RunLoop(RunLoop&&) noexcept = default;

RunLoop::~RunLoop() {
  if (!state_) return;
  try {
    finish();
  } catch (...) {
    // Nothing more can be done for the presses while the link goes.
  }
}

const protocol::ShuttleCore& RunLoop::core() const { return state_->core; }
bool RunLoop::has_link(protocol::PageId page) const { return state_->links.contains(page); }
std::size_t RunLoop::link_count() const { return state_->links.size(); }

std::uint16_t RunLoop::local_port() const {
  ErrorCode ec;
  const udp::endpoint local = state_->socket.local_endpoint(ec);
  return ec ? 0 : local.port();
}

void RunLoop::page_event(net::PageEvent event, base::Instant now) {
  State& s = *state_;
  std::visit(Overloaded{
                 [&](net::PageEvent::Connected& connected) { page_connected(std::move(connected), now); },
                 [&](net::PageEvent::Text& text) {
                   perform(s.core.handle(protocol::event::PageText{text.page, text.text}, now));
                 },
                 [&](net::PageEvent::Closed& closed) {
                   remove_page(closed.page);
                   perform(s.core.handle(protocol::event::PageClosed{closed.page}, now));
                 },
             },
             event.what);
}

void RunLoop::page_connected(net::PageEvent::Connected connected, base::Instant now) {
  State& s = *state_;
  const protocol::PageId page = connected.page;
  base::info("page " + std::to_string(page) + " connected");
  // Page ids are never reused; should one come again, the old link goes the usual way, so the
  // status source still hears of every link exactly once.
  remove_page(page);
  s.links.emplace(page, PageLink{std::move(connected.queue), std::move(connected.latest)});
  perform(s.core.handle(protocol::event::PageOpened{page}, now));
  s.status->page_opened();
}

void RunLoop::datagram(std::string_view bytes, base::Instant now) {
  perform(state_->core.handle(protocol::event::CollectorDatagram{bytes}, now));
}

void RunLoop::receive_failed(const ErrorCode& error) {
  if (run_loop::is_reset_error(error)) return;
  if (auto line = base::within_quota(state_->receive_quota, "receiving from the collector failed: " + error.message()))
    base::warn(*line);
}

void RunLoop::status_changed(base::Instant now) {
  perform(state_->core.handle(protocol::event::StatusChanged{}, now));
}

void RunLoop::after_input(base::Instant now) {
  State& s = *state_;
  perform(s.core.handle(protocol::event::Timer{}, now));
  if (s.core.collector_quiet() != s.reported_quiet) {
    s.reported_quiet = s.core.collector_quiet();
    s.status->set_collector_quiet(s.reported_quiet);
  }
  // A new deadline ends the deadline loop's wait, which then waits for it.
  if (s.core.next_deadline() != s.deadline.expiry()) s.deadline.expires_at(s.core.next_deadline());
  if (s.datagrams_parked && s.core.takes_datagrams()) {
    s.datagrams_parked = false;
    s.datagrams_taken.notify();
  }
}

void RunLoop::perform(const protocol::ShuttleActions& actions) {
  namespace action = protocol::action;
  for (const protocol::ShuttleAction& a : actions) {
    std::visit(Overloaded{
                   [&](const action::SendToCollector& send) { send_to_collector(send.bytes); },
                   [&](const action::SendToPage& send) { send_to_page(send.page, send.text); },
                   [&](const action::SendHello& hello) { send_hello(hello.page, hello.collector_quiet); },
                   [&](const action::SendLatest& latest) { send_latest(latest.page, latest.text); },
                   [&](const action::OpenRepair&) { state_->repair->open(); },
                   [&](const action::ClosePage& close) { remove_page(close.page); },
                   [&](const action::Log& log) { base::log(log.warn ? base::Level::Warn : base::Level::Info, log.text); },
               },
               a);
  }
}

void RunLoop::send_hello(protocol::PageId page, bool collector_quiet) {
  State& s = *state_;
  // Read anew for every hello, in this order, so that each page gets the facts of its moment.
  const InstallSummary summary = s.status->status();
  const bool running = s.status->simulator_running();
  const protocol::DcsStatus dcs{summary.status, summary.collector_version, collector_quiet, running};
  send_to_page(page, std::make_shared<const std::string>(protocol::page_message::hello_message(s.bridge_version, dcs)));
}

void RunLoop::send_latest(protocol::PageId page, net::SharedText text) {
  const auto link = state_->links.find(page);
  if (link == state_->links.end()) return;
  if (!link->second.latest.set(std::move(text))) remove_page(page);
}

void RunLoop::send_to_collector(std::string_view bytes) { shuttle::send_to_collector(*state_, bytes); }

void RunLoop::send_to_page(protocol::PageId page, net::SharedText text) {
  const auto link = state_->links.find(page);
  if (link == state_->links.end()) return;
  auto sent = link->second.queue.try_send(std::move(text));
  if (sent) return;
  if (sent.error().error == kit::SendError::Closed) {
    remove_page(page);
    return;
  }
  if (link->second.behind_warned) return;
  link->second.behind_warned = true;
  base::warn("page " + std::to_string(page) + " is behind; dropping messages for it");
}

void RunLoop::remove_page(protocol::PageId page) {
  State& s = *state_;
  auto node = s.links.extract(page);
  if (node.empty()) return;
  { PageLink gone = std::move(node.mapped()); }  // closes the page's channels first
  s.status->page_closed();
}

void RunLoop::finish() { shuttle::finish(*state_); }

// Each input has a loop of its own; the first to end, the command loop at a stop or any loop on a
// fault, ends them all. No input has priority: their completions are served in the order they come,
// and a loop whose channel holds more values lets the others have their turn after each one.
asio::awaitable<void> RunLoop::serve() {
  const auto executor = co_await asio::this_coro::executor;
  // A named value, not a temporary: g++ 12 can destroy the temporaries of a co_await expression twice.
  auto inputs = asio::experimental::make_parallel_group(
      asio::co_spawn(executor, command_loop(), asio::deferred), asio::co_spawn(executor, page_event_loop(), asio::deferred),
      asio::co_spawn(executor, datagram_loop(), asio::deferred), asio::co_spawn(executor, deadline_loop(), asio::deferred));
  auto [order, commands, events, datagrams, deadline] =
      co_await std::move(inputs).async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  const std::exception_ptr ends[] = {commands, events, datagrams, deadline};
  if (ends[order[0]]) std::rethrow_exception(ends[order[0]]);
}

namespace {

// A channel that holds a value gives it without a wait: after each one, a loop goes to the back of
// the runtime's queue, so that the inputs that came meanwhile are served in between.
asio::awaitable<void> yield_turn() {
  co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
}

}  // namespace

asio::awaitable<void> RunLoop::command_loop() {
  State& s = *state_;
  for (;;) {
    const std::optional<bool> command = co_await s.commands.receive();
    // Stop, or every sender gone.
    if (!command || *command) co_return;
    const base::Instant now = base::Clock::now();
    status_changed(now);
    after_input(now);
    co_await yield_turn();
  }
}

asio::awaitable<void> RunLoop::page_event_loop() {
  State& s = *state_;
  for (;;) {
    std::optional<net::PageEvent> event = co_await s.page_events.receive();
    if (!event) break;
    const base::Instant now = base::Clock::now();
    page_event(std::move(*event), now);
    after_input(now);
    co_await yield_turn();
  }
  // No page server any more: the link serves the rest without it.
  co_await kit::until_cancelled();
}

asio::awaitable<void> RunLoop::datagram_loop() {
  State& s = *state_;
  for (;;) {
    // From the second datagram of a poll until the next poll, the socket is left unread and later
    // datagrams wait in its buffer.
    if (!s.core.takes_datagrams()) {
      s.datagrams_parked = true;
      co_await s.datagrams_taken.wait();
      continue;
    }
    auto [ec, n] = co_await s.socket.async_receive(asio::buffer(s.buffer), asio::as_tuple(asio::use_awaitable));
    // Cancelled, as the other loops are when one ends.
    if (ec == asio::error::operation_aborted) throw boost::system::system_error(ec);
    const base::Instant now = base::Clock::now();
    if (ec)
      receive_failed(ec);
    else
      datagram(std::string_view(s.buffer.data(), n), now);
    after_input(now);
  }
}

asio::awaitable<void> RunLoop::deadline_loop() {
  State& s = *state_;
  for (;;) {
    auto [ec] = co_await s.deadline.async_wait(asio::as_tuple(asio::use_awaitable));
    if (ec) continue;  // moved by an input: the new one is set already
    after_input(base::Clock::now());
  }
}

namespace run_loop {

std::expected<udp::socket, ErrorCode> open_socket(const asio::any_io_executor& executor, std::uint16_t port) {
  udp::socket socket(executor);
  ErrorCode ec;
  // Opened and bound by hand, without address reuse, so that a port in use is refused.
  socket.open(udp::v4(), ec);
  if (!ec) socket.bind(udp::endpoint(asio::ip::address_v4::loopback(), port), ec);
  if (!ec) socket.local_endpoint(ec);
  if (!ec) socket.non_blocking(true, ec);
  if (ec) return std::unexpected(ec);
  disable_udp_resets(socket);
  return socket;
}

asio::awaitable<void> run(RunLoop loop) {
  co_await loop.serve();
  co_await shut_down(loop);
}

asio::awaitable<void> shut_down(RunLoop& loop) {
  RunLoop::State& s = *loop.state_;
  base::info("stopping");
  loop.finish();
  // Nothing is queued to a page from here on: the links go first, then the count.
  const std::size_t open = s.links.size();
  s.links.clear();
  for (std::size_t i = 0; i < open; ++i) s.status->page_closed();
  if (s.page_server) {
    net::PageServer server = std::move(*s.page_server);
    s.page_server.reset();
    co_await server.stop();  // logs a failed page server itself
  }
}

bool is_reset_error(const ErrorCode& error) {
  return error == asio::error::connection_reset || error == asio::error::connection_refused;
}

}  // namespace run_loop
}  // namespace shuttle
