#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string_view>

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "core/net/src/capped_stream.hpp"
#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"

namespace {

using namespace net::testing;
using net::CappedStream;
using net::StreamError;
using tcp = boost::asio::ip::tcp;

// Reads once; the error and the bytes.
asio::awaitable<std::pair<boost::system::error_code, std::string>> read_once(CappedStream& stream) {
  std::array<char, 4096> buffer;
  auto [ec, n] = co_await stream.async_read_some(asio::buffer(buffer), asio::as_tuple(asio::use_awaitable));
  co_return std::pair{ec, std::string(buffer.data(), n)};
}

asio::awaitable<void> write(tcp::socket& socket, std::string_view bytes) {
  co_await asio::async_write(socket, asio::buffer(bytes), asio::use_awaitable);
}

TEST(CappedStream, TheReadThatCrossesTheCapIsWholeAndOnlyTheNextOneFails) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [server, client] = co_await socket_pair();
    CappedStream stream(std::move(server), 10);
    co_await write(client, "12345678");
    auto first = co_await read_once(stream);
    EXPECT_FALSE(first.first);
    EXPECT_EQ(first.second, "12345678");
    co_await write(client, "abcde");  // 2 bytes of budget left
    auto crossing = co_await read_once(stream);
    EXPECT_FALSE(crossing.first);
    EXPECT_EQ(crossing.second, "abcde");
    co_await write(client, "x");
    auto over = co_await read_once(stream);
    EXPECT_EQ(over.first, net::make_error_code(StreamError::HandshakeOverCap));
    EXPECT_EQ(over.first.message(), "handshake over the size cap");
    // The failed read did not touch the socket: the byte is still there.
    std::array<char, 1> byte;
    co_await asio::async_read(stream.next_layer(), asio::buffer(byte), asio::use_awaitable);
    EXPECT_EQ(byte[0], 'x');
  });
}

TEST(CappedStream, MessageModeTakesEveryByteFromTheBucket) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [server, client] = co_await socket_pair();
    CappedStream stream(std::move(server), 4);
    const auto frozen = base::Clock::now();
    stream.enter_message_mode(1, 100, frozen, [frozen] { return frozen; });
    EXPECT_TRUE(stream.in_message_mode());
    co_await write(client, std::string(60, 'a'));  // far over the handshake cap: no longer counted
    auto first = co_await read_once(stream);
    EXPECT_FALSE(first.first);
    EXPECT_EQ(first.second.size(), 60u);
    co_await write(client, std::string(60, 'b'));  // 40 tokens left
    auto second = co_await read_once(stream);
    EXPECT_EQ(second.first, net::make_error_code(StreamError::TooManyBytes));
    EXPECT_EQ(second.first.message(), "page sent more bytes than allowed");
    EXPECT_TRUE(second.second.empty());  // the bytes were thrown away
  });
}

TEST(CappedStream, TheEndOfTheStreamNeverFailsOnTheBucket) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [server, client] = co_await socket_pair();
    CappedStream stream(std::move(server), 4);
    const auto frozen = base::Clock::now();
    stream.enter_message_mode(1, 10, frozen, [frozen] { return frozen; });
    co_await write(client, std::string(10, 'a'));
    auto all = co_await read_once(stream);  // the bucket is empty now
    EXPECT_FALSE(all.first);
    client.close();
    auto end = co_await read_once(stream);
    EXPECT_EQ(end.first, asio::error::eof);
  });
}

TEST(CappedStream, StoppedReadingEndsThePendingReadAndEveryLaterOne) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [server, client] = co_await socket_pair();
    CappedStream stream(std::move(server), 16384);
    std::optional<boost::system::error_code> pending;
    std::array<char, 16> buffer;
    stream.async_read_some(asio::buffer(buffer), [&](boost::system::error_code ec, std::size_t) { pending = ec; });
    co_await sleep(5ms);
    EXPECT_FALSE(pending);  // nothing sent yet
    stream.stop_reading();
    CO_ASSERT_TRUE(co_await eventually([&] { return pending.has_value(); }));
    EXPECT_EQ(*pending, asio::error::operation_aborted);
    // Later reads fail at once and leave what the peer sent where it is.
    co_await write(client, "left");
    CO_ASSERT_TRUE(co_await eventually([&] { return stream.next_layer().available() == 4; }));
    auto later = co_await read_once(stream);
    EXPECT_EQ(later.first, asio::error::operation_aborted);
    EXPECT_EQ(stream.next_layer().available(), 4u);
    // Writes still work, and are whole.
    co_await asio::async_write(stream, asio::buffer(std::string_view("out")), asio::use_awaitable);
    EXPECT_FALSE(stream.writing());
    EXPECT_TRUE(stream.writes_whole());
    std::array<char, 3> got;
    co_await asio::async_read(client, asio::buffer(got), asio::use_awaitable);
    EXPECT_EQ(std::string_view(got.data(), got.size()), "out");
  });
}

TEST(CappedStream, AFailedWriteIsRemembered) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [server, client] = co_await socket_pair();
    CappedStream stream(std::move(server), 16384);
    co_await asio::async_write(stream, asio::buffer(std::string_view("fine")), asio::use_awaitable);
    EXPECT_TRUE(stream.writes_whole());
    stream.next_layer().shutdown(tcp::socket::shutdown_send);
    auto [ec, n] = co_await asio::async_write(stream, asio::buffer(std::string_view("after")),
                                              asio::as_tuple(asio::use_awaitable));
    EXPECT_TRUE(ec);
    EXPECT_FALSE(stream.writing());
    EXPECT_FALSE(stream.writes_whole());
  });
}

TEST(CappedStream, TeardownClosesAtOnceWithoutWaitingForThePeer) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [server, client] = co_await socket_pair();
    CappedStream stream(std::move(server), 4);
    auto token = asio::as_tuple(asio::use_awaitable);
    auto [ec] = co_await asio::async_initiate<decltype(token), void(boost::system::error_code)>(
        [&](auto handler) { net::async_teardown(boost::beast::role_type::server, stream, std::move(handler)); }, token);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(stream.next_layer().is_open());
    // The client, which never closed, sees the end.
    std::array<char, 16> buffer;
    auto read = co_await within(patience, client.async_read_some(asio::buffer(buffer), asio::as_tuple(asio::use_awaitable)));
    CO_ASSERT_TRUE(read);
    EXPECT_EQ(std::get<0>(*read), asio::error::eof);
  });
}

}  // namespace
