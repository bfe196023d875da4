#include "core/net/tests/raw_client.hpp"

#include <array>

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace net::testing {

using tcp = asio::ip::tcp;

// A connected pair of loopback sockets: the server's end and the client's end.
asio::awaitable<std::pair<tcp::socket, tcp::socket>> socket_pair() {
  auto executor = co_await asio::this_coro::executor;
  tcp::acceptor listener(executor, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  tcp::socket client(executor);
  co_await client.async_connect(listener.local_endpoint(), asio::use_awaitable);
  tcp::socket server = co_await listener.async_accept(asio::use_awaitable);
  co_return std::pair{std::move(server), std::move(client)};
}

std::string upgrade_request(std::string_view path, std::string_view headers) {
  std::string request = "GET " + std::string(path) + " HTTP/1.1\r\n";
  request += "Host: 127.0.0.1\r\n";
  request += "Upgrade: websocket\r\n";
  request += "Connection: Upgrade\r\n";
  request += "Sec-WebSocket-Key: " + std::string(sample_key) + "\r\n";
  request += "Sec-WebSocket-Version: 13\r\n";
  request += headers;
  request += "\r\n";
  return request;
}

std::string client_frame(std::uint8_t opcode, std::string_view payload, bool fin, bool masked) {
  std::string frame;
  frame.push_back(static_cast<char>((fin ? 0x80 : 0) | opcode));
  const std::uint8_t mask_bit = masked ? 0x80 : 0;
  if (payload.size() < 126) {
    frame.push_back(static_cast<char>(mask_bit | payload.size()));
  } else if (payload.size() <= 0xFFFF) {
    frame.push_back(static_cast<char>(mask_bit | 126));
    frame.push_back(static_cast<char>(payload.size() >> 8));
    frame.push_back(static_cast<char>(payload.size() & 0xFF));
  } else {
    frame.push_back(static_cast<char>(mask_bit | 127));
    for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(static_cast<char>((payload.size() >> shift) & 0xFF));
  }
  const std::array<std::uint8_t, 4> key{0x12, 0x34, 0x56, 0x78};
  if (masked) frame.append(key.begin(), key.end());
  const std::size_t start = frame.size();
  frame.append(payload);
  if (masked)
    for (std::size_t i = 0; i < payload.size(); ++i) frame[start + i] = static_cast<char>(frame[start + i] ^ key[i % 4]);
  return frame;
}

asio::awaitable<RawClient> RawClient::connect(std::uint16_t port) {
  const auto executor = co_await asio::this_coro::executor;
  tcp::socket socket(executor);
  co_await socket.async_connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), asio::use_awaitable);
  co_return RawClient(std::move(socket));
}

asio::awaitable<bool> RawClient::send(std::string_view bytes) {
  auto [ec, n] = co_await asio::async_write(socket_, asio::buffer(bytes), asio::as_tuple(asio::use_awaitable));
  co_return !ec;
}

asio::awaitable<bool> RawClient::fill() {
  std::array<char, 65536> chunk;
  auto outcome = co_await within(patience, socket_.async_read_some(asio::buffer(chunk), asio::as_tuple(asio::use_awaitable)));
  if (!outcome) co_return false;
  auto [ec, n] = *outcome;
  buffered_.append(chunk.data(), n);
  co_return !ec || n > 0;
}

asio::awaitable<std::optional<std::string>> RawClient::read_until(std::string_view delimiter) {
  for (;;) {
    if (auto at = buffered_.find(delimiter); at != std::string::npos) {
      std::string head = buffered_.substr(0, at + delimiter.size());
      buffered_.erase(0, at + delimiter.size());
      co_return head;
    }
    const bool more = co_await fill();
    if (!more) co_return std::nullopt;
  }
}

asio::awaitable<std::string> RawClient::read_to_end() {
  for (;;) {
    const bool more = co_await fill();
    if (!more) break;
  }
  co_return std::exchange(buffered_, {});
}

asio::awaitable<bool> RawClient::closed_by_server() {
  const auto end = std::chrono::steady_clock::now() + patience;
  std::array<char, 65536> chunk;
  while (std::chrono::steady_clock::now() < end) {
    auto outcome = co_await within(patience, socket_.async_read_some(asio::buffer(chunk), asio::as_tuple(asio::use_awaitable)));
    if (!outcome) co_return false;
    if (std::get<0>(*outcome)) co_return true;
  }
  co_return false;
}

asio::awaitable<std::optional<std::string>> RawClient::upgrade(std::string_view path, std::string_view headers) {
  const std::string request = upgrade_request(path, headers);
  const bool sent = co_await send(request);
  if (!sent) co_return std::nullopt;
  co_return co_await read_until("\r\n\r\n");
}

asio::awaitable<bool> RawClient::open() {
  auto head = co_await upgrade();
  co_return head && head->starts_with("HTTP/1.1 101 ");
}

asio::awaitable<std::optional<std::string>> RawClient::read_text() {
  auto frame = co_await read_frame();
  if (!frame || frame->opcode != op_text) co_return std::nullopt;
  co_return frame->payload;
}

asio::awaitable<std::optional<Frame>> RawClient::read_frame() {
  auto need = [&](std::size_t n) -> asio::awaitable<bool> {
    while (buffered_.size() < n) {
      const bool more = co_await fill();
      if (!more) co_return false;
    }
    co_return true;
  };
  bool enough = co_await need(2);
  if (!enough) co_return std::nullopt;
  Frame frame;
  const auto b0 = static_cast<std::uint8_t>(buffered_[0]);
  const auto b1 = static_cast<std::uint8_t>(buffered_[1]);
  frame.fin = (b0 & 0x80) != 0;
  frame.opcode = b0 & 0x0F;
  frame.masked = (b1 & 0x80) != 0;
  std::uint64_t length = b1 & 0x7F;
  std::size_t header = 2;
  if (length == 126) {
    enough = co_await need(4);
    if (!enough) co_return std::nullopt;
    length = (static_cast<std::uint8_t>(buffered_[2]) << 8) | static_cast<std::uint8_t>(buffered_[3]);
    header = 4;
  } else if (length == 127) {
    enough = co_await need(10);
    if (!enough) co_return std::nullopt;
    length = 0;
    for (int i = 2; i < 10; ++i) length = (length << 8) | static_cast<std::uint8_t>(buffered_[i]);
    header = 10;
  }
  const std::size_t key_at = header;
  if (frame.masked) header += 4;
  enough = co_await need(header + length);
  if (!enough) co_return std::nullopt;
  frame.payload = buffered_.substr(header, length);
  if (frame.masked)
    for (std::size_t i = 0; i < length; ++i) frame.payload[i] = static_cast<char>(frame.payload[i] ^ buffered_[key_at + i % 4]);
  buffered_.erase(0, header + length);
  co_return frame;
}

asio::awaitable<bool> RawClient::answer_close() {
  co_await send_frame(op_close, "");
  co_return co_await closed_by_server();
}

}  // namespace net::testing
