#include "core/net/src/closing.hpp"

#include <array>
#include <optional>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include "core/net/src/page_server.hpp"

namespace net::connection {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;
using tcp = asio::ip::tcp;

namespace {

// Whether the race this branch runs in has been decided for another branch.
asio::awaitable<bool> lost_the_race() {
  const auto state = co_await asio::this_coro::cancellation_state;
  co_return state.cancelled() != asio::cancellation_type::none;
}

// A final frame with the Close opcode and an empty payload, unmasked as a server sends it.
constexpr std::array<unsigned char, 2> kBareCloseFrame{0x88, 0x00};

asio::awaitable<void> send_close(PageStream& stream) {
  CappedStream& capped = stream.next_layer();
  capped.stop_reading();
  // The library cannot send a Close without then reading for the answer, so the frame is written
  // below it, which is safe only while nothing else is being written and nothing was cut short.
  if (!capped.next_layer().is_open() || capped.writing() || !capped.writes_whole()) co_return;
  co_await asio::async_write(capped, asio::buffer(kBareCloseFrame), asio::as_tuple(asio::use_awaitable));
}

}  // namespace

void close_socket(tcp::socket& socket) {
  boost::system::error_code ignored;
  socket.cancel(ignored);
  socket.shutdown(tcp::socket::shutdown_both, ignored);
  socket.close(ignored);
}

asio::awaitable<void> close_after(std::chrono::milliseconds limit, tcp::socket& socket, bool& fired) {
  const auto executor = co_await asio::this_coro::executor;
  asio::steady_timer timer(executor, limit);
  auto [ec] = co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
  if (ec) co_return;
  const bool lost = co_await lost_the_race();
  if (lost) co_return;
  fired = true;
  close_socket(socket);
}

struct SendDeadline::State {
  State(tcp::socket& socket, std::chrono::milliseconds limit)
      : timer(socket.get_executor()), socket(&socket), limit(limit) {}
  asio::steady_timer timer;
  tcp::socket* socket;  // none once the deadline has gone
  std::chrono::milliseconds limit;
  std::optional<std::chrono::steady_clock::time_point> since;  // the start of the send in flight
  bool armed = false;
  bool fired = false;
};

namespace {

void arm(const std::shared_ptr<SendDeadline::State>& state) {
  state->armed = true;
  state->timer.expires_at(*state->since + state->limit);
  state->timer.async_wait([state](boost::system::error_code ec) {
    state->armed = false;
    if (ec || !state->socket || !state->since) return;
    // The send it was set for may have ended; the one in flight now gets its own full time.
    if (std::chrono::steady_clock::now() < *state->since + state->limit) {
      arm(state);
      return;
    }
    state->fired = true;
    close_socket(*state->socket);
  });
}

}  // namespace

SendDeadline::SendDeadline(tcp::socket& socket, std::chrono::milliseconds limit)
    : state_(std::make_shared<State>(socket, limit)) {}

SendDeadline::~SendDeadline() {
  state_->socket = nullptr;
  state_->timer.cancel();
}

void SendDeadline::started() {
  state_->since = std::chrono::steady_clock::now();
  if (!state_->armed) arm(state_);
}

void SendDeadline::ended() { state_->since.reset(); }

bool SendDeadline::fired() const { return state_->fired; }

asio::awaitable<void> close_when_stopped(StopFlag& stop, tcp::socket& socket, bool& fired) {
  co_await stop.wait();
  const bool lost = co_await lost_the_race();
  if (lost) co_return;
  fired = true;
  close_socket(socket);
}

asio::awaitable<void> close_handshake(PageStream& stream) {
  tcp::socket& socket = stream.next_layer().next_layer();
  if (!socket.is_open()) co_return;
  bool timed_out = false;
  co_await (send_close(stream) || close_after(kCloseTimeout, socket, timed_out));
}

}  // namespace net::connection
