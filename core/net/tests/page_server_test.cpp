#include <gtest/gtest.h>

#include <cctype>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/websocket/error.hpp>

#include "core/base/tests/log_capture.hpp"
#include "core/net/src/page_server.hpp"
#include "core/net/tests/bridge.hpp"
#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"

namespace {

using namespace net;
using namespace net::testing;
using tcp = boost::asio::ip::tcp;

class PageServerTest : public ::testing::Test {
 protected:
  base::testing::LogCapture log;
  Runtime rt;

  void TearDown() override {
    if (!HasFailure()) return;
    std::string lines;
    for (const auto& line : log.lines()) lines += line;
    ADD_FAILURE() << "log lines:\n" << lines;
  }

  asio::awaitable<bool> logged_soon(std::string message) {
    co_return co_await eventually([&] { return log.contains(message); });
  }

  // The close code of a Close frame's payload; 0 when it has none.
  static unsigned close_code(const Frame& frame) {
    if (frame.payload.size() < 2) return 0;
    return (static_cast<std::uint8_t>(frame.payload[0]) << 8) | static_cast<std::uint8_t>(frame.payload[1]);
  }

  // Whether the server can be reached on `port`.
  asio::awaitable<bool> connectable(std::uint16_t port) {
    const auto executor = co_await asio::this_coro::executor;
    tcp::socket socket(executor);
    auto [ec] = co_await socket.async_connect(tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                              asio::as_tuple(asio::use_awaitable));
    co_return !ec;
  }
};

TEST_F(PageServerTest, OpensAPageAndExchangesTexts) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    auto head = co_await client.upgrade();
    CO_ASSERT_TRUE(head);
    EXPECT_TRUE(head->starts_with("HTTP/1.1 101 Switching Protocols\r\n")) << *head;
    EXPECT_NE(head->find("\r\nSec-WebSocket-Accept: " + std::string(sample_accept) + "\r\n"), std::string::npos) << *head;
    EXPECT_EQ(head->find("Sec-WebSocket-Protocol"), std::string::npos);
    EXPECT_EQ(head->find("Sec-WebSocket-Extensions"), std::string::npos);

    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    EXPECT_EQ(page->page, 1u);

    // Texts to the page: one unmasked, final text frame each, shared texts sent as they are.
    const SharedText big = shared_text(std::string(200000, 'z'));
    EXPECT_TRUE(page->queue.try_send(shared_text("hello")));
    EXPECT_TRUE(page->queue.try_send(big));
    for (const std::string& expected : {std::string("hello"), *big}) {
      auto frame = co_await client.read_frame();
      CO_ASSERT_TRUE(frame);
      EXPECT_EQ(frame->opcode, op_text);
      EXPECT_TRUE(frame->fin);
      EXPECT_FALSE(frame->masked);
      EXPECT_EQ(frame->payload, expected);
    }

    // Texts from the page reach the collector link as they are, in order.
    co_await client.send_frame(op_text, R"({"type":"subscribe","keys":[]})");
    co_await client.send_frame(op_text, " untrimmed \n");
    CO_EXPECT_EQ(co_await bridge.next_text(), R"({"type":"subscribe","keys":[]})");
    CO_EXPECT_EQ(co_await bridge.next_text(), " untrimmed \n");

    co_await client.send_frame(op_close, "");
    auto answer = co_await client.read_frame();
    CO_ASSERT_TRUE(answer);
    EXPECT_EQ(answer->opcode, op_close);
    CO_EXPECT_TRUE(co_await client.closed_by_server());
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: it closed"));
}

// The library's answers do not name it: no Server field, in the switching-protocols response nor in
// its own refusal of a request that is no upgrade.
TEST_F(PageServerTest, TheLibrarysAnswersCarryNoServerField) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    {
      auto client = co_await RawClient::connect(bridge.port());
      auto head = co_await client.upgrade();
      CO_ASSERT_TRUE(head);
      EXPECT_EQ(*head, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
                       "Sec-WebSocket-Accept: " + std::string(sample_accept) + "\r\n\r\n");
      CO_ASSERT_TRUE(co_await bridge.next_connected());
      co_await client.send_frame(op_close, "");
      CO_EXPECT_TRUE(co_await bridge.next_closed());
    }
    {
      auto client = co_await RawClient::connect(bridge.port());
      co_await client.send("GET /api/v1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
      std::string answer = co_await client.read_to_end();
      EXPECT_TRUE(answer.starts_with("HTTP/1.1 400 Bad Request\r\n")) << answer;
      for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_EQ(answer.find("\r\nserver:"), std::string::npos) << answer;
    }
    co_await bridge.stop();
  });
  bridge.finish();
}

TEST_F(PageServerTest, RefusalsAreExactBytesThenTheEnd) {
  struct Case {
    std::string path;
    std::string headers;
    std::string answer;  // empty: the page opens
  };
  const std::string not_found = "HTTP/1.1 404 Not Found\r\n\r\nnot found";
  const std::string forbidden = "HTTP/1.1 403 Forbidden\r\n\r\norigin not allowed";
  const std::vector<Case> cases = {
      {"/api/v1/", "", not_found},
      {"/api/v1", "Origin: https://evil.example\r\n", forbidden},
      {"/nope", "Origin: https://evil.example\r\n", not_found},
      {"/api/v1", "Origin: https://app.tolvaro.example\r\nOrigin: https://app.tolvaro.example\r\n", forbidden},
      {"/api/v1?x=1", "Origin: https://app.tolvaro.example\r\n", ""},
      {"/api/v1", "Origin:\r\n", ""},
  };
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    for (const Case& c : cases) {
      auto client = co_await RawClient::connect(bridge.port());
      co_await client.send(upgrade_request(c.path, c.headers));
      if (c.answer.empty()) {
        auto head = co_await client.read_until("\r\n\r\n");
        CO_ASSERT_TRUE(head);
        EXPECT_TRUE(head->starts_with("HTTP/1.1 101 ")) << c.path << " " << c.headers;
        CO_ASSERT_TRUE(co_await bridge.next_connected());
        co_await client.send_frame(op_close, "");
        CO_EXPECT_TRUE(co_await bridge.next_closed());
      } else {
        const std::string answer = co_await client.read_to_end();
        EXPECT_EQ(answer, c.answer) << c.path << " " << c.headers;
      }
    }
    co_await bridge.stop();
  });
  bridge.finish();
  const std::vector<std::string> refusals = {
      "a handshake failed: HTTP error: 404 Not Found (refusal 1)",
      "a handshake failed: HTTP error: 403 Forbidden (refusal 2)",
      "a handshake failed: HTTP error: 404 Not Found (refusal 3)",
      "a handshake failed: HTTP error: 403 Forbidden (refusal 4)",
  };
  for (const auto& line : refusals) EXPECT_TRUE(log.contains(line)) << line;
  for (const auto& entry : log.entries()) {
    if (entry.message.starts_with("a handshake failed")) {
      EXPECT_EQ(entry.level, "warn");
    }
  }
}

TEST_F(PageServerTest, APlainHttpRequestGetsTheLibrarysAnswerNotTheChecks) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    co_await client.send("GET /wrong HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: https://evil.example\r\n\r\n");
    const std::string answer = co_await client.read_to_end();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 400 ")) << answer;
    co_await bridge.stop();
  });
  bridge.finish();
  auto messages = log.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].starts_with("a handshake failed: ")) << messages[0];
  EXPECT_TRUE(messages[0].ends_with(" (refusal 1)")) << messages[0];
  EXPECT_EQ(messages[0].find("HTTP error"), std::string::npos);
}

TEST_F(PageServerTest, TheHandshakeSizeCap) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    // 16384 bytes of a request that never ends: the next read fails.
    {
      auto client = co_await RawClient::connect(bridge.port());
      std::string endless = "GET /api/v1 HTTP/1.1\r\nX-Filler: ";
      endless.append(16384 - endless.size(), 'f');
      co_await client.send(endless);
      CO_EXPECT_EQ(co_await client.read_to_end(), "");
    }
    // A whole request whose last read crosses the cap is unaffected.
    {
      auto client = co_await RawClient::connect(bridge.port());
      std::string filler(16500 - upgrade_request("/api/v1", "X-Filler: \r\n").size(), 'f');
      const std::string request = upgrade_request("/api/v1", "X-Filler: " + filler + "\r\n");
      CO_ASSERT_EQ(request.size(), 16500u);
      co_await client.send(std::string_view(request).substr(0, 16300));
      co_await sleep(50ms);
      co_await client.send(std::string_view(request).substr(16300));
      auto head = co_await client.read_until("\r\n\r\n");
      CO_ASSERT_TRUE(head);
      EXPECT_TRUE(head->starts_with("HTTP/1.1 101 ")) << *head;
      CO_ASSERT_TRUE(co_await bridge.next_connected());
      co_await client.send_frame(op_close, "");
      CO_EXPECT_TRUE(co_await bridge.next_closed());
    }
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("a handshake failed: IO error: handshake over the size cap (refusal 1)"));
}

TEST_F(PageServerTest, AHandshakeTimeOutIsARefusalAndFreesItsSlot) {
  auto config = test_config();
  config.max_handshakes = 1;
  config.handshake_timeout = 200ms;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto silent = co_await RawClient::connect(bridge.port());
    CO_EXPECT_TRUE(co_await silent.closed_by_server());
    CO_EXPECT_TRUE(co_await logged_soon("a handshake timed out (refusal 1)"));
    auto client = co_await RawClient::connect(bridge.port());
    CO_EXPECT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    EXPECT_EQ(page->page, 2u);  // the silent one had page id 1
    co_await client.send_frame(op_close, "");
    CO_EXPECT_TRUE(co_await bridge.next_closed());
    co_await bridge.stop();
  });
  bridge.finish();
}

TEST_F(PageServerTest, TheFifthHandshakeAtOnceIsClosedAndTakesNoPageId) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    std::vector<RawClient> silent;
    for (int i = 0; i < 4; ++i) silent.push_back(co_await RawClient::connect(bridge.port()));
    auto fifth = co_await RawClient::connect(bridge.port());
    CO_EXPECT_EQ(co_await fifth.read_to_end(), "");  // closed unanswered, long before any time-out
    EXPECT_TRUE(log.contains("refused a connection: too many handshakes at once (refusal 1)"));
    silent.clear();  // their handshakes fail now
    CO_EXPECT_TRUE(co_await eventually([&] { return log.messages().size() == 5; }));
    auto client = co_await RawClient::connect(bridge.port());
    CO_EXPECT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    EXPECT_EQ(page->page, 5u);  // ids 1 to 4 went to the silent ones, none to the refused one
    co_await client.send_frame(op_close, "");
    CO_EXPECT_TRUE(co_await bridge.next_closed());
    co_await bridge.stop();
  });
  bridge.finish();
  for (const auto& entry : log.entries()) {
    if (entry.message.find("refusal") != std::string::npos) {
      EXPECT_EQ(entry.level, "warn");
    }
  }
}

TEST_F(PageServerTest, ANinthPageGetsACloseFrameWithoutCodeAndNoEvents) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    std::vector<RawClient> pages;
    for (PageId id = 1; id <= 8; ++id) {
      pages.push_back(co_await RawClient::connect(bridge.port()));
      CO_ASSERT_TRUE(co_await pages.back().open());
      auto connected = co_await bridge.next_connected();
      CO_ASSERT_TRUE(connected);
      EXPECT_EQ(connected->page, id);
    }
    auto ninth = co_await RawClient::connect(bridge.port());
    CO_EXPECT_TRUE(co_await ninth.open());  // the handshake completes
    auto close = co_await ninth.read_frame();
    CO_ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, op_close);
    EXPECT_EQ(close->payload, "");  // no status code
    EXPECT_FALSE(close->masked);
    CO_EXPECT_EQ(co_await ninth.read_to_end(), "");  // then the end, with no answer awaited
    EXPECT_TRUE(log.contains("closed a new page: too many pages open (refusal 1)"));

    // A page that goes frees its slot for the next one.
    co_await pages.front().send_frame(op_close, "");
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    auto tenth = co_await RawClient::connect(bridge.port());
    CO_EXPECT_TRUE(co_await tenth.open());
    auto connected = co_await bridge.next_connected();
    CO_ASSERT_TRUE(connected);
    EXPECT_EQ(connected->page, 10u);
    co_await bridge.stop();
  });
  bridge.finish();
}

TEST_F(PageServerTest, ABurstOf201MessagesEndsThePageAtThe201st) {
  auto clock = std::make_shared<FakeClock>();
  TestBridge bridge(rt.executor(), with_clock(test_config(), clock));
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    std::string burst;
    for (int i = 0; i < 201; ++i) burst += client_frame(op_text, std::to_string(i));
    co_await client.send(burst);
    for (int i = 0; i < 200; ++i) CO_ASSERT_EQ(co_await bridge.next_text(), std::to_string(i));
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    auto close = co_await client.read_frame();
    CO_ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, op_close);
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: it sent too many messages"));
}

TEST_F(PageServerTest, APageSendingAtItsRateIsNeverEnded) {
  auto clock = std::make_shared<FakeClock>();
  TestBridge bridge(rt.executor(), with_clock(test_config(), clock));
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    for (int i = 0; i < 600; ++i) {
      co_await client.send_frame(op_text, std::to_string(i));
      CO_ASSERT_EQ(co_await bridge.next_text(), std::to_string(i));
      clock->advance(5ms);
    }
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: the bridge is stopping"));
}

TEST_F(PageServerTest, PingsPongsAndBinaryMessagesEachCostAToken) {
  auto clock = std::make_shared<FakeClock>();
  auto config = with_clock(test_config(), clock);
  config.messages_per_second = 3;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    co_await client.send_frame(op_ping, "p1");
    auto pong = co_await client.read_frame();
    CO_ASSERT_TRUE(pong);
    EXPECT_EQ(pong->opcode, op_pong);  // the library's own answer
    EXPECT_EQ(pong->payload, "p1");
    co_await client.send_frame(op_binary, "bin");
    co_await client.send_frame(op_pong, "unasked");
    co_await client.send_frame(op_text, "one too many");
    auto next = co_await client.read_frame();  // nothing for the binary message or the pong
    CO_ASSERT_TRUE(next);
    EXPECT_EQ(next->opcode, op_close);
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);  // the text never reached the collector link
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: it sent too many messages"));
}

TEST_F(PageServerTest, ACloseWithNoTokenLeftIsTooManyMessages) {
  auto clock = std::make_shared<FakeClock>();
  auto config = with_clock(test_config(), clock);
  config.messages_per_second = 1;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    co_await client.send_frame(op_text, "only one");
    CO_EXPECT_EQ(co_await bridge.next_text(), "only one");
    co_await client.send_frame(op_close, "");
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: it sent too many messages"));
  EXPECT_FALSE(log.contains("page 1 closed: it closed"));
}

TEST_F(PageServerTest, BytesOverTheBurstEndThePage) {
  auto clock = std::make_shared<FakeClock>();
  auto config = with_clock(test_config(), clock);
  config.byte_burst = 1000;
  config.bytes_per_second = 1;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());  // handshake bytes do not count
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    co_await client.send_frame(op_text, std::string(900, 'a'));  // 908 bytes with its header
    CO_EXPECT_EQ(co_await bridge.next_text(), std::string(900, 'a'));
    co_await client.send_frame(op_text, std::string(100, 'b'));  // 108 bytes, 92 left
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    co_await bridge.stop();
  });
  bridge.finish();
  auto messages = log.messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], "page 1: IO error: page sent more bytes than allowed");
  EXPECT_EQ(messages[1], "page 1 closed: its connection failed");
  EXPECT_EQ(log.entries()[0].level, "info");
}

TEST_F(PageServerTest, MessagesAndFramesOverTheSizeLimit) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    // Exactly the limit passes.
    {
      auto client = co_await RawClient::connect(bridge.port());
      CO_ASSERT_TRUE(co_await client.open());
      CO_ASSERT_TRUE(co_await bridge.next_connected());
      co_await client.send_frame(op_text, std::string(1048576, 'm'));
      auto text = co_await bridge.next_text();
      CO_ASSERT_TRUE(text);
      EXPECT_EQ(text->size(), 1048576u);
      co_await client.send_frame(op_close, "");
      CO_EXPECT_TRUE(co_await bridge.next_closed());
    }
    // One byte more in one frame, or in a message of two frames, ends the page.
    for (bool fragmented : {false, true}) {
      auto client = co_await RawClient::connect(bridge.port());
      CO_ASSERT_TRUE(co_await client.open());
      CO_ASSERT_TRUE(co_await bridge.next_connected());
      if (fragmented) {
        co_await client.send_frame(op_text, std::string(600000, 'f'), false);
        co_await client.send_frame(op_continuation, std::string(448577, 'f'));
      } else {
        co_await client.send_frame(op_text, std::string(1048577, 'm'));
      }
      auto close = co_await client.read_frame();
      CO_ASSERT_TRUE(close);
      EXPECT_EQ(close->opcode, op_close);
      EXPECT_EQ(close_code(*close), 1009u);  // message too big
      CO_EXPECT_TRUE(co_await bridge.next_closed());
    }
    co_await bridge.stop();
  });
  bridge.finish();
  const std::string too_big = boost::system::error_code(boost::beast::websocket::error::message_too_big).message();
  EXPECT_TRUE(log.contains("page 2: " + too_big)) << too_big;
  EXPECT_TRUE(log.contains("page 3: " + too_big));
  EXPECT_TRUE(log.contains("page 2 closed: its connection failed"));
  EXPECT_TRUE(log.contains("page 3 closed: its connection failed"));
}

TEST_F(PageServerTest, AnUnmaskedFrameEndsThePage) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    co_await client.send_frame(op_text, "plain", true, false);
    auto close = co_await client.read_frame();
    CO_ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, op_close);
    EXPECT_EQ(close_code(*close), 1002u);  // protocol error
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);  // and no Text
    co_await bridge.stop();
  });
  bridge.finish();
  auto messages = log.messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0],
            "page 1: " + boost::system::error_code(boost::beast::websocket::error::bad_unmasked_frame).message());
  EXPECT_EQ(messages[1], "page 1 closed: its connection failed");
}

// Whatever ended a page, it gets one Close frame, and the connection ends right after it: no second
// Close where the library sent its own, and no wait for an answer.
TEST_F(PageServerTest, EveryEndingSendsOneCloseFrameThenTheEnd) {
  struct Case {
    std::string reason;
    std::string bytes;        // what the page sends once open
    bool half_close = false;  // then ends its side of the connection
    std::uint32_t messages_per_second = 200;
    std::uint32_t byte_burst = 2097152;
    std::string close_payload = {};  // of the bridge's Close frame
  };
  const std::vector<Case> cases = {
      // The library answers a page's Close itself, with code 1000.
      {"it closed", client_frame(op_close, ""), false, 200, 2097152, "\x03\xE8"},
      {"it disconnected", "", true},
      {"it disconnected", client_frame(op_text, "then nothing more"), true},
      {"its connection failed", client_frame(op_text, std::string(1100, 'b')), false, 200, 1000},
      {"its connection failed", client_frame(op_text, std::string(1048577, 'm')), false, 200, 2097152, "\x03\xF1"},
      {"its connection failed", client_frame(op_text, "plain", true, false), false, 200, 2097152, "\x03\xEA"},
      {"it sent too many messages", client_frame(op_text, "one") + client_frame(op_text, "two"), false, 1},
      {"it sent too many messages", client_frame(op_text, "one") + client_frame(op_ping, "p"), false, 1},
      {"it sent too many messages", client_frame(op_text, "one") + client_frame(op_close, ""), false, 1, 2097152,
       "\x03\xE8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason + " after " + std::to_string(c.bytes.size()) + " bytes");
    log.clear();
    auto clock = std::make_shared<FakeClock>();
    auto config = with_clock(test_config(), clock);
    config.messages_per_second = c.messages_per_second;
    config.byte_burst = c.byte_burst;
    TestBridge bridge(rt.executor(), config);
    rt.run([&]() -> asio::awaitable<void> {
      auto client = co_await RawClient::connect(bridge.port());
      CO_ASSERT_TRUE(co_await client.open());
      CO_ASSERT_TRUE(co_await bridge.next_connected());
      if (!c.bytes.empty()) co_await client.send(c.bytes);
      if (c.half_close) client.socket().shutdown(tcp::socket::shutdown_send);
      // The library's pongs may come first.
      std::optional<Frame> close = co_await client.read_frame();
      while (close && close->opcode == op_pong) close = co_await client.read_frame();
      CO_ASSERT_TRUE(close);
      EXPECT_EQ(close->opcode, op_close);
      EXPECT_EQ(close->payload, c.close_payload);
      CO_EXPECT_EQ(co_await client.read_to_end(), "");
      for (;;) {
        auto event = co_await bridge.next_event();
        CO_ASSERT_TRUE(event);
        if (std::holds_alternative<PageEvent::Closed>(event->what)) break;
      }
      co_await bridge.stop();
    });
    bridge.finish();
    EXPECT_TRUE(log.contains("page 1 closed: " + c.reason));
  }
}

TEST_F(PageServerTest, TheNewestTickGoesBeforeQueuedTexts) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    // All in one step of the collector link: the page task sees them together.
    page->queue.try_send(shared_text("m1"));
    page->queue.try_send(shared_text("m2"));
    page->latest.set(shared_text("tick 1"));
    page->latest.set(shared_text("tick 2"));  // replaces tick 1, which is never sent
    for (const char* expected : {"tick 2", "m1", "m2"}) {
      auto frame = co_await client.read_frame();
      CO_ASSERT_TRUE(frame);
      EXPECT_EQ(frame->payload, expected);
    }
    page->latest.set(shared_text("tick 3"));
    auto frame = co_await client.read_frame();
    CO_ASSERT_TRUE(frame);
    EXPECT_EQ(frame->payload, "tick 3");
    co_await client.send_frame(op_close, "");
    CO_EXPECT_TRUE(co_await bridge.next_closed());
    co_await bridge.stop();
  });
  bridge.finish();
}

TEST_F(PageServerTest, DroppedChannelsSendTheWaitingTickThenClose) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    page->queue.try_send(shared_text("never sent"));
    page->latest.set(shared_text("last tick"));
    bridge.drop(1);  // the collector link removes the page
    auto tick = co_await client.read_frame();
    CO_ASSERT_TRUE(tick);
    EXPECT_EQ(tick->payload, "last tick");
    auto close = co_await client.read_frame();
    CO_ASSERT_TRUE(close);
    EXPECT_EQ(close->opcode, op_close);
    EXPECT_EQ(close->payload, "");
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: the bridge closed it"));
}

// Queues more than the socket buffers can hold to a page that does not read.
void flood(PageQueue::Sender& queue) {
  const SharedText megabyte = shared_text(std::string(1 << 20, 'x'));
  while (queue.try_send(megabyte)) {
  }
}

// A page that opens and then reads nothing, with more queued for it than the socket buffers hold;
// nothing when it did not open.
asio::awaitable<std::optional<RawClient>> flooded_page(TestBridge& bridge) {
  auto client = co_await RawClient::connect(bridge.port());
  const bool opened = co_await client.open();
  if (!opened) co_return std::nullopt;
  auto page = co_await bridge.next_connected();
  if (!page) co_return std::nullopt;
  flood(page->queue);
  co_return std::move(client);
}

TEST_F(PageServerTest, APageThatStopsReadingIsEndedAfterTheSendTimeOut) {
  auto config = test_config();
  config.send_timeout = 300ms;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await flooded_page(bridge);
    CO_ASSERT_TRUE(client);
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: it stopped reading"));
}

// While a send to the page is stuck, what the page sends is not read: its text never reaches the
// collector link, which hears only that the page went.
TEST_F(PageServerTest, WhatAPageSendsWaitsWhileASendToItIsStuck) {
  auto config = test_config();
  config.send_timeout = 300ms;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await flooded_page(bridge);
    CO_ASSERT_TRUE(client);
    co_await sleep(50ms);  // the first send is under way
    CO_ASSERT_TRUE(co_await client->send_frame(op_text, R"({"type":"ticks","enabled":true})"));
    auto event = co_await bridge.next_event();
    CO_ASSERT_TRUE(event);
    CO_EXPECT_TRUE(std::holds_alternative<PageEvent::Closed>(event->what));
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: it stopped reading"));
}

// The send time-out is for one send: a page that takes each text in time stays open, however
// long the texts keep coming.
TEST_F(PageServerTest, APageThatKeepsReadingOutlastsTheSendTimeOut) {
  auto config = test_config();
  config.send_timeout = 200ms;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    for (int i = 0; i < 12; ++i) {
      const std::string text = "text " + std::to_string(i);
      EXPECT_TRUE(page->queue.try_send(shared_text(text)));
      auto frame = co_await client.read_frame();
      CO_ASSERT_TRUE(frame);
      EXPECT_EQ(frame->payload, text);
      co_await sleep(50ms);
    }
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: the bridge is stopping"));
}

// A send that starts after an earlier one has ended gets the whole time-out from its own start,
// also when the earlier send's time runs out while it waits.
TEST_F(PageServerTest, ASendThatStartsLaterGetsTheWholeSendTimeOut) {
  auto config = test_config();
  config.send_timeout = 3s;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    EXPECT_TRUE(page->queue.try_send(shared_text("first")));
    CO_ASSERT_TRUE(co_await client.read_frame());
    co_await sleep(1500ms);
    // The page reads nothing from here until past the first send's time, and well within the
    // time of the send that gets stuck now.
    flood(page->queue);
    const std::size_t queued = page->queue.size();
    co_await sleep(2250ms);
    for (std::size_t i = 0; i < queued; ++i) {
      auto frame = co_await client.read_frame();
      CO_ASSERT_TRUE(frame);
      CO_ASSERT_EQ(frame->opcode, op_text);
    }
    co_await bridge.stop();
  });
  bridge.finish();
  EXPECT_FALSE(log.contains("page 1 closed: it stopped reading"));
  EXPECT_TRUE(log.contains("page 1 closed: the bridge is stopping"));
}

TEST_F(PageServerTest, AStopClosesOpenPagesWithinTheGrace) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto answering = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await answering.open());
    auto silent = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await silent.open());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    CO_ASSERT_TRUE(co_await bridge.next_connected());
    auto stopping = kit::Task::spawn(rt.executor(), bridge.stop());
    for (RawClient* client : {&answering, &silent}) {
      auto close = co_await client->read_frame();
      CO_ASSERT_TRUE(close);
      EXPECT_EQ(close->opcode, op_close);
      EXPECT_EQ(close->payload, "");
    }
    // Both pages are gone before either answers: the bridge does not wait for the answering Close.
    CO_EXPECT_TRUE(co_await bridge.next_closed());
    CO_EXPECT_TRUE(co_await bridge.next_closed());
    CO_EXPECT_EQ(co_await silent.read_to_end(), "");
    CO_EXPECT_TRUE(co_await answering.answer_close());  // an answer that comes late does no harm
    CO_EXPECT_EQ((co_await stopping.join()).how, kit::TaskEnd::How::Finished);
    CO_EXPECT_FALSE(co_await connectable(bridge.port()));
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("page 1 closed: the bridge is stopping"));
  EXPECT_TRUE(log.contains("page 2 closed: the bridge is stopping"));
  EXPECT_FALSE(log.contains("cut off pages that did not close in time"));
}

TEST_F(PageServerTest, PagesStillBusyAfterTheGraceAreCutOffAndStillReportedClosed) {
  auto config = test_config();
  config.send_timeout = 60s;
  TestBridge bridge(rt.executor(), config);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    flood(page->queue);
    // Once the page task has taken a text, it is stuck sending: the page reads nothing.
    CO_ASSERT_TRUE(co_await eventually([&] { return page->queue.size() < page->queue.capacity(); }));
    co_await sleep(100ms);
    co_await bridge.stop();
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    CO_EXPECT_TRUE(co_await client.closed_by_server());
  });
  bridge.finish();
  EXPECT_TRUE(log.contains("cut off pages that did not close in time"));
  EXPECT_FALSE(log.contains("page 1 closed: the bridge is stopping"));
  for (const auto& message : log.messages()) EXPECT_FALSE(message.starts_with("a page's task failed")) << message;
}

TEST_F(PageServerTest, AStopDuringAHandshakeIsSilent) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    co_await client.send("GET /api/v1 HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    co_await sleep(20ms);
    auto stopping = kit::Task::spawn(rt.executor(), bridge.stop());
    CO_EXPECT_EQ(co_await client.read_to_end(), "");
    co_await stopping.join();
  });
  bridge.finish();
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(PageServerTest, APageNotYetAnnouncedWhenTheStopComesIsDroppedSilently) {
  TestBridge bridge(rt.executor(), test_config(), 1);
  rt.run([&]() -> asio::awaitable<void> {
    EXPECT_TRUE(bridge.sender().try_send(PageEvent{PageEvent::Text{999, "fills the queue"}}));
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    co_await sleep(20ms);
    auto stopping = kit::Task::spawn(rt.executor(), bridge.stop());
    CO_EXPECT_EQ(co_await client.read_to_end(), "");  // no Close frame: the socket is just dropped
    co_await stopping.join();
  });
  auto left = bridge.finish();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<PageEvent::Text>(left[0].what));
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(PageServerTest, APageEndingWhileTheEventQueueIsFullIsStillReportedClosed) {
  TestBridge bridge(rt.executor(), test_config(), 1);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    CO_ASSERT_TRUE(co_await eventually([&] { return bridge.receiver().size() == 1; }));  // Connected, full
    client.socket().close();
    CO_ASSERT_TRUE(co_await logged_soon("page 1 closed: it disconnected"));
    co_await sleep(20ms);  // the page task ends with the queue still full
    auto connected = co_await bridge.next_connected();
    CO_ASSERT_TRUE(connected);
    EXPECT_EQ(connected->page, 1u);
    CO_EXPECT_EQ(co_await bridge.next_closed(), 1u);
    co_await bridge.stop();
  });
  bridge.finish();
}

// A page's text that waits for room in the event queue holds the page: nothing is sent to it
// meanwhile, and what was queued for it goes out once the text is handed over.
TEST_F(PageServerTest, NothingIsSentToAPageWhileItsTextWaitsToBeHandedOver) {
  TestBridge bridge(rt.executor(), test_config(), 1);
  rt.run([&]() -> asio::awaitable<void> {
    auto client = co_await RawClient::connect(bridge.port());
    CO_ASSERT_TRUE(co_await client.open());
    auto page = co_await bridge.next_connected();
    CO_ASSERT_TRUE(page);
    CO_ASSERT_TRUE(co_await client.send_frame(op_text, "first"));
    CO_ASSERT_TRUE(co_await eventually([&] { return bridge.receiver().size() == 1; }));  // full
    CO_ASSERT_TRUE(co_await client.send_frame(op_text, "second"));
    co_await sleep(50ms);  // the page task has read it and waits for room
    EXPECT_TRUE(page->queue.try_send(shared_text("queued meanwhile")));
    auto early = co_await within(300ms, client.read_frame());
    EXPECT_FALSE(early.has_value()) << "sent while the page's text waited";
    CO_EXPECT_EQ(co_await bridge.next_text(), std::optional<std::string>("first"));
    CO_EXPECT_EQ(co_await bridge.next_text(), std::optional<std::string>("second"));
    std::optional<Frame> frame;
    if (early) {
      frame = std::move(*early);
    } else {
      auto read = client.read_frame();
      frame = co_await std::move(read);
    }
    CO_ASSERT_TRUE(frame);
    CO_EXPECT_EQ(frame->payload, "queued meanwhile");
    co_await bridge.stop();
  });
  bridge.finish();
}

TEST_F(PageServerTest, AStopWithNoPageOpenClosesTheListenerAtOnce) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    CO_EXPECT_TRUE(co_await connectable(bridge.port()));
    co_await bridge.stop();
    CO_EXPECT_FALSE(co_await connectable(bridge.port()));
  });
  bridge.finish();
  EXPECT_FALSE(log.contains("cut off pages that did not close in time"));
}

TEST_F(PageServerTest, DroppingTheServerClosesTheListenerToo) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    const std::uint16_t port = bridge.port();
    bridge.server.reset();
    bool refused = false;
    for (int i = 0; i < 400 && !refused; ++i) {
      const bool reached = co_await connectable(port);
      refused = !reached;
      if (!refused) co_await sleep(5ms);
    }
    EXPECT_TRUE(refused);
  });
  bridge.finish();
}

TEST_F(PageServerTest, APortInUseIsReportedAsSuch) {
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    auto config = test_config();
    config.port = bridge.port();
    auto [sender, receiver] = PageEventQueue::make(rt.executor(), 4);
    auto second = page_server::start(rt.executor(), config, sender);
    CO_ASSERT_TRUE(!second);
    EXPECT_TRUE(second.error().in_use);
    EXPECT_EQ(second.error().text(), "TCP port 127.0.0.1:" + std::to_string(bridge.port()) +
                                         " is already in use. Tolvaro DCS Bridge, or the older Node bridge, is "
                                         "probably already running.");
    co_await bridge.stop();
  });
  bridge.finish();
}

TEST_F(PageServerTest, APortHeldByAnotherProgramIsInUse) {
  rt.run([&]() -> asio::awaitable<void> {
    tcp::acceptor other(rt.executor());
    other.open(tcp::v4());
    other.bind(tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    other.listen();
    auto config = test_config();
    config.port = other.local_endpoint().port();
    auto [sender, receiver] = PageEventQueue::make(rt.executor(), 4);
    auto started = page_server::start(rt.executor(), config, sender);
    CO_ASSERT_TRUE(!started);
    EXPECT_TRUE(started.error().in_use) << started.error().text();
    co_return;
  });
}

}  // namespace
