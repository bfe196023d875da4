#include <gtest/gtest.h>

#include <array>

#include <boost/asio/ip/tcp.hpp>

#include "core/net/src/closing.hpp"
#include "core/net/src/page_server.hpp"
#include "core/net/tests/bridge.hpp"
#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"

namespace {

using namespace net;
using namespace net::testing;
using namespace asio::experimental::awaitable_operators;
using tcp = asio::ip::tcp;

asio::awaitable<RawClient> connect_to(const tcp::acceptor& listener) {
  co_return co_await RawClient::connect(listener.local_endpoint().port());
}

// Everything `socket` receives until the end of its stream.
asio::awaitable<std::string> read_to_end(tcp::socket& socket) {
  std::string got;
  std::array<char, 65536> chunk;
  for (;;) {
    auto read = co_await within(patience, socket.async_read_some(asio::buffer(chunk), asio::as_tuple(asio::use_awaitable)));
    if (!read) break;
    auto [ec, n] = *read;
    got.append(chunk.data(), n);
    if (ec) break;
  }
  co_return got;
}

// Writes 'f' bytes to `socket` until it takes no more without waiting; how many it took.
std::size_t fill_send_buffer(tcp::socket& socket) {
  socket.non_blocking(true);
  const std::string chunk(65536, 'f');
  std::size_t total = 0;
  for (;;) {
    boost::system::error_code ec;
    const std::size_t n = socket.write_some(asio::buffer(chunk), ec);
    total += n;
    if (ec) break;
  }
  socket.non_blocking(false);
  return total;
}

// The bytes waiting on `socket`, or nothing when it is closed.
std::optional<std::size_t> unread(const tcp::socket& socket) {
  boost::system::error_code ec;
  const std::size_t n = socket.available(ec);
  if (ec) return std::nullopt;
  return n;
}

TEST(CloseHandshake, SendsABareCloseAndReadsNothingOfTheAnswer) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    const PageServerConfig config = test_config();
    tcp::acceptor listener(rt.executor(), tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    auto client = co_await connect_to(listener);
    PageStream stream(co_await listener.async_accept(asio::use_awaitable), config.handshake_cap);
    auto [accepted, opened] = co_await (connection::accept_page_handshake(stream, config) && client.open());
    CO_ASSERT_TRUE(accepted);
    CO_ASSERT_TRUE(opened);

    // The page has already answered, and more: none of it may be read.
    const std::string answer = client_frame(op_close, "") + client_frame(op_text, "after the close");
    co_await client.send(answer);
    tcp::socket& socket = stream.next_layer().next_layer();
    CO_ASSERT_TRUE(co_await eventually([&] { return unread(socket) == answer.size(); }));

    co_await connection::close_handshake(stream);
    EXPECT_EQ(unread(socket), answer.size());  // still open, nothing taken
    auto close = co_await client.read_frame();
    CO_ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, op_close);
    EXPECT_TRUE(close->fin);
    EXPECT_FALSE(close->masked);
    EXPECT_EQ(close->payload, "");  // no status code, no reason
  });
}

TEST(CloseHandshake, SendsNothingOnAClosedSocketOrAfterAWriteCutShort) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    // Closed: nothing to do, at once.
    {
      auto [server, client] = co_await socket_pair();
      PageStream stream(std::move(server), 16384);
      stream.next_layer().next_layer().close();
      const bool ended = co_await within(patience, connection::close_handshake(stream));
      EXPECT_TRUE(ended);
    }
    // A write cut short: a Close now would land inside the frame that was being sent.
    {
      auto [server, client] = co_await socket_pair();
      PageStream stream(std::move(server), 16384);
      CappedStream& capped = stream.next_layer();
      const std::size_t filled = fill_send_buffer(capped.next_layer());
      const std::string frame(65536, 'x');
      bool written = false;
      capped.async_write_some(asio::buffer(frame), [&](boost::system::error_code ec, std::size_t) { written = !ec; });
      EXPECT_TRUE(capped.writing());  // the page reads nothing: the write waits for room
      co_await connection::close_handshake(stream);  // cancels the write, sends nothing
      CO_ASSERT_TRUE(co_await eventually([&] { return !capped.writing(); }));
      EXPECT_FALSE(written);
      EXPECT_FALSE(capped.writes_whole());
      EXPECT_TRUE(capped.next_layer().is_open());
      capped.next_layer().close();
      // The client gets what filled the buffer, and no Close frame after it.
      const std::string got = co_await read_to_end(client);
      EXPECT_EQ(got.size(), filled);
      EXPECT_EQ(got.find('\x88'), std::string::npos);
    }
  });
}

// Both branches of a race are ready before either runs: only the first may act.
asio::awaitable<void> race_two_timeouts(tcp::socket& a, bool& fired_a, tcp::socket& b, bool& fired_b) {
  co_await (connection::close_after(0ms, a, fired_a) || connection::close_after(0ms, b, fired_b));
}

TEST(CloseAfter, ARaceLostToTheOtherBranchLeavesTheSocketAlone) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    for (int round = 0; round < 20; ++round) {
      auto [a, peer_a] = co_await socket_pair();
      auto [b, peer_b] = co_await socket_pair();
      bool fired_a = false;
      bool fired_b = false;
      co_await race_two_timeouts(a, fired_a, b, fired_b);
      EXPECT_NE(fired_a, fired_b) << "round " << round;
      EXPECT_EQ(a.is_open(), !fired_a) << "round " << round;
      EXPECT_EQ(b.is_open(), !fired_b) << "round " << round;
    }
  });
}

}  // namespace
