#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <boost/asio/ip/tcp.hpp>

#include "core/net/tests/runtime.hpp"

namespace net::testing {

// One WebSocket frame as it came over the wire.
struct Frame {
  bool fin = false;
  std::uint8_t opcode = 0;
  bool masked = false;
  std::string payload;
};

inline constexpr std::uint8_t op_continuation = 0x0, op_text = 0x1, op_binary = 0x2, op_close = 0x8,
                              op_ping = 0x9, op_pong = 0xA;

// The sample key of RFC 6455 and its accept value.
inline constexpr std::string_view sample_key = "dGhlIHNhbXBsZSBub25jZQ==";
inline constexpr std::string_view sample_accept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

// A connected pair of loopback sockets: the server's end and the client's end.
asio::awaitable<std::pair<asio::ip::tcp::socket, asio::ip::tcp::socket>> socket_pair();

// The client's opening handshake for `path`, with `headers` (each ending in CR LF) added.
std::string upgrade_request(std::string_view path = "/api/v1", std::string_view headers = "");

// One frame as a client writes it: masked unless asked otherwise.
std::string client_frame(std::uint8_t opcode, std::string_view payload, bool fin = true, bool masked = true);

// A client that speaks raw bytes over TCP, so that tests see exactly what the server writes.
// Every read gives up after `patience`.
class RawClient {
 public:
  static asio::awaitable<RawClient> connect(std::uint16_t port);

  asio::awaitable<bool> send(std::string_view bytes);
  // Everything up to and including `delimiter`; nothing when the stream ends first.
  asio::awaitable<std::optional<std::string>> read_until(std::string_view delimiter);
  // Everything until the server closes the connection.
  asio::awaitable<std::string> read_to_end();
  // Whether the server closes the connection within `patience`, ignoring what it sends until then.
  asio::awaitable<bool> closed_by_server();

  // Sends the upgrade request and reads the response head.
  asio::awaitable<std::optional<std::string>> upgrade(std::string_view path = "/api/v1", std::string_view headers = "");
  // Upgrades and checks for 101; true when the page is open.
  asio::awaitable<bool> open();

  asio::awaitable<bool> send_frame(std::uint8_t opcode, std::string_view payload, bool fin = true, bool masked = true) {
    const std::string frame = client_frame(opcode, payload, fin, masked);
    co_return co_await send(frame);
  }
  // The next frame; nothing when the stream ends (or breaks) first.
  asio::awaitable<std::optional<Frame>> read_frame();
  // The payload of the next frame when it is a text frame; nothing for any other frame or the end.
  asio::awaitable<std::optional<std::string>> read_text();

  // Answers the server's Close and waits for the end of the connection.
  asio::awaitable<bool> answer_close();

  asio::ip::tcp::socket& socket() { return socket_; }

 private:
  explicit RawClient(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}
  asio::awaitable<bool> fill();  // reads more into buffered_; false at the end
  asio::ip::tcp::socket socket_;
  std::string buffered_;
};

}  // namespace net::testing
