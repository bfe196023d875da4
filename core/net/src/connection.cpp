#include "core/net/src/connection.hpp"

#include <chrono>
#include <optional>
#include <random>
#include <string>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>

#include "core/base/src/log.hpp"
#include "core/base/src/token_bucket.hpp"
#include "core/net/src/closing.hpp"
#include "core/net/src/handshake.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/src/page_server.hpp"

namespace net {

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using namespace asio::experimental::awaitable_operators;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

std::string_view close_reason_text(CloseReason reason) {
  switch (reason) {
    case CloseReason::bridge_stopping: return "the bridge is stopping";
    case CloseReason::bridge_closed: return "the bridge closed it";
    case CloseReason::disconnected: return "it disconnected";
    case CloseReason::connection_failed: return "its connection failed";
    case CloseReason::too_many_messages: return "it sent too many messages";
    case CloseReason::closed: return "it closed";
    case CloseReason::send_failed: return "sending to it failed";
    case CloseReason::stopped_reading: return "it stopped reading";
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

// The page's reading side: one read of the WebSocket stream at a time, whose result waits here
// until the page loop takes it. Shared with the read in flight, which may end after the task.
struct Reader {
  Reader(const kit::Executor& executor, base::TokenBucket messages) : messages(messages), ready(executor) {}
  boost::beast::flat_buffer buffer;
  bool reading = false;             // a read is in flight
  std::optional<ErrorCode> result;  // of the last read, not taken yet
  bool too_many = false;            // a control frame found the message bucket empty
  base::TokenBucket messages;       // one token per message or control frame
  kit::WaitList ready;
};

void start_read(PageStream& stream, const std::shared_ptr<Reader>& reader) {
  reader->reading = true;
  stream.async_read(reader->buffer, [reader](ErrorCode ec, std::size_t) {
    reader->reading = false;
    reader->result = ec;
    reader->ready.wake_all();
  });
}

// A deferred wait for kit::first_of.
auto reader_ready(const std::shared_ptr<Reader>& reader) {
  return reader->ready.async_wait_until([reader] { return reader->result.has_value() || reader->too_many; },
                                        asio::deferred);
}

asio::awaitable<void> read_ended(std::shared_ptr<Reader> reader) {
  co_await kit::wait_until(reader->ready, [&] { return !reader->reading; });
}

std::string page_line(PageId page, std::string_view rest) {
  return "page " + std::to_string(page) + std::string(rest);
}

// The stop flag first; a refusal of the handshake is counted and logged, a stop is not.
asio::awaitable<bool> handshake(PageStream& stream, PageServerShared& shared, const kit::StopWatch& stop) {
  tcp::socket& socket = socket_of(stream);
  bool stopped = false;
  bool timed_out = false;
  auto outcome = co_await (close_when_stopped(stop, socket, stopped) ||
                           close_after(shared.config.handshake_timeout, socket, timed_out) ||
                           connection::accept_page_handshake(stream, shared.config));
  co_await kit::throw_if_aborted();
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

// Sends one text message under the page's send deadline.
asio::awaitable<std::optional<CloseReason>> send_text(PageStream& stream, const std::string& text,
                                                      connection::SendDeadline& deadline) {
  deadline.started();
  auto [ec, written] = co_await stream.async_write(asio::buffer(text), asio::as_tuple(asio::use_awaitable));
  deadline.ended();
  co_await kit::throw_if_aborted();
  if (deadline.fired()) co_return CloseReason::stopped_reading;
  if (ec) co_return CloseReason::send_failed;
  co_return std::nullopt;
}

asio::awaitable<void> send_closed_event(PageEventQueue::Sender events, PageEvent event) {
  co_await events.send(std::move(event));
}

// Each pass looks at its inputs in this order and serves the first that is ready: the stop, the
// newest tick, the queued texts, then what the page sent.
asio::awaitable<CloseReason> page_loop(PageStream& stream, const std::shared_ptr<Reader>& reader,
                                       PageQueue::Receiver& queue, LatestCell::Reader& latest,
                                       const kit::StopWatch& stop, PageEventQueue::Sender& events, PageId page,
                                       const PageServerConfig& config) {
  // The library answers pings by itself; they are charged here, as are pongs and Close frames.
  stream.control_callback([reader, now = config.now](websocket::frame_type, std::string_view) {
    if (!reader->messages.try_take(1, now())) {
      reader->too_many = true;
      reader->ready.wake_all();
    }
  });
  connection::SendDeadline deadline(socket_of(stream), config.send_timeout);
  start_read(stream, reader);
  for (;;) {
    if (stop.raised()) co_return CloseReason::bridge_stopping;

    if (auto tick = latest.try_take()) {
      if (*tick) {
        const auto failed = co_await send_text(stream, **tick, deadline);
        if (failed) co_return *failed;
      }
      continue;
    } else if (tick.error() == kit::ReceiveError::closed) {
      co_return CloseReason::bridge_closed;
    }

    if (auto text = queue.try_receive()) {
      if (*text) {
        const auto failed = co_await send_text(stream, **text, deadline);
        if (failed) co_return *failed;
      }
      continue;
    } else if (text.error() == kit::ReceiveError::closed) {
      co_return CloseReason::bridge_closed;
    }

    if (reader->too_many) co_return CloseReason::too_many_messages;
    if (reader->result) {
      const ErrorCode ec = *reader->result;
      reader->result.reset();
      // A Close frame that found no token left was caught above, by its control callback.
      if (ec == websocket::error::closed) co_return CloseReason::closed;
      if (ec == asio::error::eof) co_return CloseReason::disconnected;
      if (ec) {
        base::info(page_line(page, ": ") + connection::error_text(ec));
        co_return CloseReason::connection_failed;
      }
      if (!reader->messages.try_take(1, config.now())) co_return CloseReason::too_many_messages;
      if (stream.got_text()) {
        std::string text = boost::beast::buffers_to_string(reader->buffer.data());
        reader->buffer.consume(reader->buffer.size());
        PageEvent event{PageEvent::Text{page, std::move(text)}};
        const bool handed_over = co_await connection::send_event(events, std::move(event), stop);
        if (!handed_over) co_return CloseReason::bridge_stopping;
      } else {
        reader->buffer.consume(reader->buffer.size());  // binary messages are not for the bridge
      }
      if (reader->buffer.capacity() > 65536) reader->buffer.shrink_to_fit();
      start_read(stream, reader);
      continue;
    }

    // One raced group of plain waits: this runs for every message a page sends or receives.
    asio::awaitable<void> waiting = kit::first_of(stop.async_wait(asio::deferred), latest.async_wait(asio::deferred),
                                                  queue.async_wait(asio::deferred), reader_ready(reader));
    co_await std::move(waiting);
    co_await kit::throw_if_aborted();
  }
}

}  // namespace

PageGuard::~PageGuard() {
  auto sent = events_.try_send(PageEvent{PageEvent::Closed{page_}});
  if (sent || sent.error().error == kit::SendError::closed) return;
  try {
    asio::co_spawn(events_.get_executor(), send_closed_event(events_, std::move(sent.error().value)), asio::detached);
  } catch (...) {
    // No runtime left to wait on: the event is lost with it.
  }
}

namespace connection {

asio::awaitable<bool> send_event(PageEventQueue::Sender& events, PageEvent event, const kit::StopWatch& stop) {
  for (;;) {
    // A fair race: when both are ready, either may win.
    const bool stop_first = coin_flip();
    if (stop_first && stop.raised()) co_return false;
    auto sent = events.try_send(std::move(event));
    if (sent) co_return true;
    if (sent.error().error == kit::SendError::closed) co_return false;
    event = std::move(sent.error().value);
    if (stop.raised()) co_return false;
    co_await (page_server::stopped(stop) || events.wait_room());
    co_await kit::throw_if_aborted();
  }
}

asio::awaitable<void> serve_page(tcp::socket socket, kit::Slots::Permit handshake_slot, PageId page,
                                 kit::StopWatch stop, std::shared_ptr<PageServerShared> shared,
                                 PageEventQueue::Sender events) {
  const PageServerConfig& config = shared->config;
  ErrorCode ignored;
  socket.set_option(tcp::no_delay(true), ignored);  // small messages must not wait for Nagle
  PageStream stream(std::move(socket), config.handshake_cap);

  const bool open = co_await handshake(stream, *shared, stop);
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
  auto [queue_sender, queue] = PageQueue::make(executor, config.page_queue);
  auto [latest_writer, latest] = LatestCell::make(executor);
  PageEvent connected{PageEvent::Connected{page, std::move(queue_sender), std::move(latest_writer)}};
  const bool announced = co_await send_event(events, std::move(connected), stop);
  if (!announced) co_return;
  // Armed right where the event is known to be queued: nothing can interrupt the task in between.
  PageGuard guard(events, page);
  const auto messages = static_cast<double>(config.messages_per_second);
  auto reader = std::make_shared<Reader>(executor, base::TokenBucket(messages, messages, config.now()));

  const CloseReason reason = co_await page_loop(stream, reader, queue, latest, stop, events, page, config);
  base::info(page_line(page, " closed: ") + std::string(close_reason_text(reason)));
  // Also when the connection failed or the page went: the Close goes out if the socket still takes it.
  // A named value, not a temporary: g++ 12 destroys a temporary in a co_await expression twice.
  const connection::ReadEnded reads_done = [reader] { return read_ended(reader); };
  co_await connection::close_handshake(stream, reads_done);
  // Released in this order: the guard (Closed), the latest cell, the queue, the page slot, the stream.
}

}  // namespace connection
}  // namespace net
