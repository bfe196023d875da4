#include "dcs/shuttle/src/run_loop.hpp"

#include <random>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/execution/context.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/query.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

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

constexpr std::uint32_t receive_warning_quota = 10;

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
  std::uint32_t receive_quota = receive_warning_quota;
  std::minstd_rand random{std::random_device{}()};
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
      buffer(receive_buffer_size),
      commands(std::move(parts.commands)),
      page_events(std::move(parts.page_events)),
      bridge_version(std::move(parts.bridge_version)),
      status(std::move(parts.status)),
      repair(std::move(parts.repair)),
      page_server(std::move(parts.page_server)) {
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
                   [&](const action::Log& log) { base::log(log.warn ? base::Level::warn : base::Level::info, log.text); },
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
  if (sent.error().error == kit::SendError::closed) {
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

asio::awaitable<void> RunLoop::wait_inputs(base::Instant due, bool page_events, bool datagrams) {
  State& s = *state_;
  const auto executor = co_await asio::this_coro::executor;
  asio::steady_timer sleep(executor, due);  // a deadline in the past fires at once
  // Each wait only says that its input may be ready and takes nothing: the losing waits are
  // cancelled without losing a command, an event or a datagram. They race as plain operations in
  // one group, which costs far less than a task per wait: this runs for every input.
  const auto& commands = s.commands;
  const auto& events = s.page_events;
  constexpr auto readable = udp::socket::wait_read;
  // Each race is a named value: g++ 12 can destroy the temporaries of a co_await expression twice.
  if (page_events && datagrams) {
    asio::awaitable<void> waiting = kit::first_of(sleep.async_wait(asio::deferred), commands.async_wait(asio::deferred),
                                                  events.async_wait(asio::deferred),
                                                  s.socket.async_wait(readable, asio::deferred));
    co_await std::move(waiting);
  } else if (page_events) {
    asio::awaitable<void> waiting = kit::first_of(sleep.async_wait(asio::deferred), commands.async_wait(asio::deferred),
                                                  events.async_wait(asio::deferred));
    co_await std::move(waiting);
  } else if (datagrams) {
    asio::awaitable<void> waiting = kit::first_of(sleep.async_wait(asio::deferred), commands.async_wait(asio::deferred),
                                                  s.socket.async_wait(readable, asio::deferred));
    co_await std::move(waiting);
  } else {
    asio::awaitable<void> waiting =
        kit::first_of(sleep.async_wait(asio::deferred), commands.async_wait(asio::deferred));
    co_await std::move(waiting);
  }
}

asio::awaitable<void> RunLoop::serve() {
  State& s = *state_;
  bool page_events_open = true;
  enum Input { deadline, command, page_event_input, datagram_input, none };
  for (;;) {
    const base::Instant due = s.core.next_deadline();
    // The socket is left unread from the second datagram of a poll until the next poll; later
    // datagrams wait in its buffer.
    const bool reading = s.core.takes_datagrams();
    co_await wait_inputs(due, page_events_open, reading);
    co_await kit::throw_if_aborted();

    // No input has priority: start at a random one and go round in a fixed order, taking the first
    // that is ready. Only the chosen input's value is taken; the others stay where they are.
    const int first = std::uniform_int_distribution<int>(0, 3)(s.random);
    Input chosen = none;
    bool command_value = false;
    bool commands_closed = false;
    std::optional<net::PageEvent> event;
    std::size_t received = 0;
    ErrorCode receive_error;
    for (int i = 0; i < 4 && chosen == none; ++i) {
      switch (static_cast<Input>((first + i) % 4)) {
        case deadline:
          if (base::Clock::now() >= due) chosen = deadline;
          break;
        case command: {
          auto taken = s.commands.try_receive();
          if (taken) {
            command_value = *taken;
            chosen = command;
          } else if (taken.error() == kit::ReceiveError::closed) {
            commands_closed = true;
            chosen = command;
          }
          break;
        }
        case page_event_input: {
          if (!page_events_open) break;
          auto taken = s.page_events.try_receive();
          if (taken) {
            event.emplace(std::move(*taken));
            chosen = page_event_input;
          } else if (taken.error() == kit::ReceiveError::closed) {
            page_events_open = false;  // no page server any more: serve the rest without it
          }
          break;
        }
        case datagram_input: {
          if (!reading) break;
          udp::endpoint sender;  // not looked at
          ErrorCode ec;
          const std::size_t n = s.socket.receive_from(asio::buffer(s.buffer), sender, 0, ec);
          if (ec == asio::error::would_block || ec == asio::error::try_again) break;
          received = n;
          receive_error = ec;
          chosen = datagram_input;
          break;
        }
        case none:
          break;
      }
    }
    if (chosen == none) continue;

    const base::Instant now = base::Clock::now();
    switch (chosen) {
      case deadline:
        break;
      case command:
        if (commands_closed || command_value) co_return;
        status_changed(now);
        break;
      case page_event_input:
        page_event(std::move(*event), now);
        break;
      case datagram_input:
        if (receive_error)
          receive_failed(receive_error);
        else
          datagram(std::string_view(s.buffer.data(), received), now);
        break;
      case none:
        break;
    }
    after_input(now);
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
