#include "core/net/src/connection.hpp"

#include <chrono>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <variant>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>

#include "core/base/src/log.hpp"
#include "core/base/src/token_bucket.hpp"
#include "core/net/src/closing.hpp"
#include "core/net/src/handshake.hpp"
#include "core/net/src/page_server.hpp"

namespace net {

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using namespace asio::experimental::awaitable_operators;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

std::string_view close_reason_text(CloseReason reason) {
  switch (reason) {
    case CloseReason::BridgeStopping: return "the bridge is stopping";
    case CloseReason::BridgeClosed: return "the bridge closed it";
    case CloseReason::Disconnected: return "it disconnected";
    case CloseReason::ConnectionFailed: return "its connection failed";
    case CloseReason::TooManyMessages: return "it sent too many messages";
    case CloseReason::Closed: return "it closed";
    case CloseReason::SendFailed: return "sending to it failed";
    case CloseReason::StoppedReading: return "it stopped reading";
  }
  return "its connection failed";
}

namespace {

bool coin_flip() {
  thread_local std::minstd_rand random{std::random_device{}()};
  return std::uniform_int_distribution<int>(0, 1)(random) == 1;
}

tcp::socket& socket_of(PageStream& stream) { return stream.next_layer().next_layer(); }

using connection::close_after;
using connection::close_when_stopped;

std::string page_line(PageId page, std::string_view rest) {
  return "page " + std::to_string(page) + std::string(rest);
}

// The stop flag first; a refusal of the handshake is counted and logged, a stop is not.
asio::awaitable<bool> handshake(PageStream& stream, PageServerShared& shared, StopFlag& stop) {
  tcp::socket& socket = socket_of(stream);
  bool stopped = false;
  bool timed_out = false;
  auto outcome = co_await (close_when_stopped(stop, socket, stopped) ||
                           close_after(shared.config.handshake_timeout, socket, timed_out) ||
                           connection::accept_page_handshake(stream, shared.config));
  if (stopped) co_return false;  // abandoned: nothing logged, nothing counted
  if (timed_out) {
    page_server::log_refusal(shared, "a handshake timed out");
    co_return false;
  }
  if (outcome.index() != 2) co_return false;
  auto& result = std::get<2>(outcome);
  if (result) co_return true;
  page_server::log_refusal(shared, "a handshake failed: " + result.error());
  co_return false;
}

asio::awaitable<void> send_closed_event(PageEventQueue::Sender events, PageEvent event) {
  co_await events.send(std::move(event));
}

// Why reading ended, and the line to log first should that be the reason the page ends with.
struct ReadEnd {
  CloseReason reason;
  std::string line = {};
  bool at_once = false;  // the page ends before what is still queued for it is sent
};

// An open page, as its two loops share it: the write loop sends what the collector link queues and
// latches for it, one text at a time under the send deadline, and ends the page; the read loop hands
// the page's texts to the collector link and tells the write loop, through the page's one wake, why
// reading ended. What the page sends waits while the write loop has something to send or a send in
// flight: the page is served before it is read further, and a page that stops reading stops being
// read too. While one of its texts is handed to the collector link, nothing is sent to the page.
struct OpenPage {
  PageStream& stream;
  PageId page;
  std::shared_ptr<StopFlag> stop;
  std::shared_ptr<kit::Wake> wake;
  PageQueue::Receiver queue;
  LatestCell::Reader latest;
  PageEventQueue::Sender& events;
  const PageServerConfig& config;
  base::TokenBucket messages;  // one token per message or control frame
  kit::Wake writer_idle;        // the write loop has nothing to send and waits
  kit::Wake handed_over;        // the read loop's text has reached the collector link, or will not
  std::optional<ReadEnd> read_end = {};
  bool closing = false;       // the write loop has ended
  bool writing = true;        // the write loop sends, or has not yet found everything sent
  bool handing_over = false;  // the read loop waits for room for a text in the page-event queue

  // The first end counts; the write loop acts on it in its turn.
  void end_reading(ReadEnd end) {
    if (read_end) return;
    read_end = std::move(end);
    wake->notify();
  }
};

// Looks at its inputs in this order: the stop, the newest tick, the queued texts, then the end of
// reading; sends one text at a time.
asio::awaitable<CloseReason> write_loop(OpenPage& p) {
  // However the loop ends, reading ends with it: the read in flight, and every later one.
  struct StopReading {
    OpenPage& p;
    ~StopReading() {
      p.closing = true;
      p.stream.next_layer().stop_reading();
    }
  } stop_reading{p};
  connection::SendDeadline deadline(socket_of(p.stream), p.config.send_timeout);
  for (;;) {
    while (p.handing_over) co_await p.handed_over.wait();
    if (p.stop->raised()) co_return CloseReason::BridgeStopping;
    if (p.read_end && p.read_end->at_once) co_return p.read_end->reason;
    std::optional<SharedText> text;
    if (auto tick = p.latest.try_take()) {
      text = std::move(*tick);
    } else if (tick.error() == kit::ReceiveError::Closed) {
      co_return CloseReason::BridgeClosed;
    } else if (auto queued = p.queue.try_receive()) {
      text = std::move(*queued);
    } else if (queued.error() == kit::ReceiveError::Closed) {
      co_return CloseReason::BridgeClosed;
    } else if (p.read_end) {
      if (!p.read_end->line.empty()) base::info(p.read_end->line);
      co_return p.read_end->reason;
    } else {
      p.writing = false;
      p.writer_idle.notify();
      co_await p.wake->wait();
      p.writing = true;
      continue;
    }
    if (!*text) continue;
    deadline.started();
    auto [ec, written] = co_await p.stream.async_write(asio::buffer(**text), asio::as_tuple(asio::use_awaitable));
    deadline.ended();
    if (deadline.fired()) co_return CloseReason::StoppedReading;
    if (ec) co_return CloseReason::SendFailed;
  }
}

// Never ends by itself: once reading has ended it waits to be cancelled with the write loop.
asio::awaitable<void> read_loop(OpenPage& p) {
  boost::beast::flat_buffer buffer;
  while (!p.read_end && !p.closing) {
    while (p.writing) co_await p.writer_idle.wait();
    auto [ec, n] = co_await p.stream.async_read(buffer, asio::as_tuple(asio::use_awaitable));
    // A read that was already waiting when a send began is served after the send as well.
    while (p.writing && !p.closing) co_await p.writer_idle.wait();
    // A control frame may have found the message bucket empty meanwhile.
    if (p.read_end || p.closing) break;
    if (ec == websocket::error::closed) {
      p.end_reading({CloseReason::Closed});
    } else if (ec == asio::error::eof) {
      p.end_reading({CloseReason::Disconnected});
    } else if (ec) {
      p.end_reading({CloseReason::ConnectionFailed, page_line(p.page, ": ") + connection::error_text(ec)});
    } else if (!p.messages.try_take(1, p.config.now())) {
      p.end_reading({CloseReason::TooManyMessages});
    } else if (p.stream.got_text()) {
      PageEvent event{PageEvent::Text{p.page, boost::beast::buffers_to_string(buffer.data())}};
      p.handing_over = true;
      const bool handed_over = co_await connection::send_event(p.events, std::move(event), *p.stop);
      p.handing_over = false;
      p.handed_over.notify();
      if (!handed_over) p.end_reading({CloseReason::BridgeStopping, {}, true});
    }
    buffer.consume(buffer.size());  // binary messages are not for the bridge
    if (buffer.capacity() > 65536) buffer.shrink_to_fit();
  }
  co_await kit::until_cancelled();
}

// Both loops, until the write loop has ended the page and reading has stopped; a fault in either
// ends both.
asio::awaitable<CloseReason> serve_open_page(OpenPage& p) {
  // The library answers pings by itself; they are charged here, as are pongs and Close frames.
  p.stream.control_callback([&p](websocket::frame_type, std::string_view) {
    if (!p.messages.try_take(1, p.config.now())) p.end_reading({CloseReason::TooManyMessages});
  });
  const auto executor = co_await asio::this_coro::executor;
  // A named value, not a temporary: g++ 12 destroys a temporary in a co_await expression twice.
  auto loops = asio::experimental::make_parallel_group(asio::co_spawn(executor, write_loop(p), asio::deferred),
                                                       asio::co_spawn(executor, read_loop(p), asio::deferred));
  auto [order, write_fault, reason, read_fault] =
      co_await std::move(loops).async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  p.stream.control_callback();
  if (order[0] == 1 && read_fault) std::rethrow_exception(read_fault);
  if (write_fault) std::rethrow_exception(write_fault);
  co_return reason;
}

}  // namespace

PageGuard::~PageGuard() {
  auto sent = events_.try_send(PageEvent{PageEvent::Closed{page_}});
  if (sent || sent.error().error == kit::SendError::Closed) return;
  try {
    asio::co_spawn(events_.get_executor(), send_closed_event(events_, std::move(sent.error().value)), asio::detached);
  } catch (...) {
    // No runtime left to wait on: the event is lost with it.
  }
}

namespace connection {

asio::awaitable<bool> send_event(PageEventQueue::Sender& events, PageEvent event, StopFlag& stop,
                                 const std::function<void()>& queued) {
  for (;;) {
    // A fair race: when both are ready, either may win.
    const bool stop_first = coin_flip();
    if (stop_first && stop.raised()) co_return false;
    auto sent = events.try_send(std::move(event));
    if (sent) {
      if (queued) queued();
      co_return true;
    }
    if (sent.error().error == kit::SendError::Closed) co_return false;
    event = std::move(sent.error().value);
    if (stop.raised()) co_return false;
    // A named value, not a temporary: g++ 12 destroys a temporary in a co_await expression twice.
    asio::awaitable<std::variant<std::monostate, std::monostate>> waiting = (stop.wait() || events.wait_room());
    co_await std::move(waiting);
  }
}

asio::awaitable<void> serve_page(tcp::socket socket, kit::Slots::Permit handshake_slot, PageId page,
                                 std::shared_ptr<StopFlag> stop, std::shared_ptr<kit::Wake> wake,
                                 std::shared_ptr<PageServerShared> shared, PageEventQueue::Sender events) {
  const PageServerConfig& config = shared->config;
  ErrorCode ignored;
  socket.set_option(tcp::no_delay(true), ignored);  // small messages must not wait for Nagle
  PageStream stream(std::move(socket), config.handshake_cap);

  const bool open = co_await handshake(stream, *shared, *stop);
  handshake_slot.release();
  if (!open) co_return;

  auto page_slot = shared->page_slots.try_take();
  if (!page_slot) {
    page_server::log_refusal(*shared, "closed a new page: too many pages open");
    co_await connection::close_handshake(stream);
    co_return;
  }
  stream.next_layer().enter_message_mode(config.bytes_per_second, config.byte_burst, config.now(), config.now);

  const auto executor = co_await asio::this_coro::executor;
  auto [queue_sender, queue] = PageQueue::make(executor, config.page_queue, wake);
  auto [latest_writer, latest] = LatestCell::make(executor, wake);
  PageEvent connected{PageEvent::Connected{page, std::move(queue_sender), std::move(latest_writer)}};
  // Released in this order, however the task ends: the guard (Closed), the latest cell, the queue,
  // the page slot, the stream.
  std::optional<OpenPage> open_page;
  std::optional<PageGuard> guard;
  // Armed in the very step that queues Connected: the page is reported Closed exactly when it was
  // reported Connected, however the task ends from there.
  const bool announced = co_await send_event(events, std::move(connected), *stop, [&] { guard.emplace(events, page); });
  if (!announced) co_return;

  const auto messages = static_cast<double>(config.messages_per_second);
  open_page.emplace(stream, page, stop, std::move(wake), std::move(queue), std::move(latest), events, config,
                    base::TokenBucket(messages, messages, config.now()), kit::Wake(executor), kit::Wake(executor));
  const CloseReason reason = co_await serve_open_page(*open_page);
  base::info(page_line(page, " closed: ") + std::string(close_reason_text(reason)));
  // Also when the connection failed or the page went: the Close goes out if the socket still takes it.
  co_await connection::close_handshake(stream);
}

}  // namespace connection
}  // namespace net
