#include "core/net/src/handshake.hpp"

#include <limits>
#include <memory>
#include <optional>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/http/rfc7230.hpp>
#include <boost/beast/websocket.hpp>

#include "core/net/src/page_server.hpp"

namespace net::connection {

namespace asio = boost::asio;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;

namespace {

// Whether `text` is a URI scheme: a letter, then letters, digits, "+", "-" or "." (RFC 3986).
bool is_scheme(std::string_view text) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (text.empty() || !letter(text.front())) return false;
  for (char c : text)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  return true;
}

// The path of a request target without its query; the absolute form "http://host/path" counts
// by its path. Its host part ends at the first "/", "?" or "#" (RFC 3986), so a "?" there starts
// the query and leaves the path empty, which is "/". A target of any other form is its own path.
std::string_view target_path(std::string_view target) {
  if (!target.starts_with('/')) {
    if (auto scheme = target.find("://"); scheme != std::string_view::npos && is_scheme(target.substr(0, scheme))) {
      auto path = target.find_first_of("/?#", scheme + 3);
      if (path == std::string_view::npos || target[path] != '/') return "/";
      target = target.substr(path);
    }
  }
  return target.substr(0, target.find('?'));
}

bool visible_ascii_or_tab(std::string_view value) {
  for (unsigned char c : value)
    if (c != '\t' && (c < 0x20 || c > 0x7E)) return false;
  return true;
}

constexpr Refusal kNotFound{404, "Not Found", "not found"};
constexpr Refusal kOriginNotAllowed{403, "Forbidden", "origin not allowed"};

// The WebSocket settings of every page.
void apply_page_settings(PageStream& stream, const PageServerConfig& config) {
  stream.read_message_max(config.max_message_size);  // bounds single frames as well
  stream.write_buffer_bytes(131072);
  stream.auto_fragment(false);  // each text goes out as one frame
  stream.text(true);
}

}  // namespace

std::optional<Refusal> check_request(const PageRequest& request, std::string_view path,
                                     const std::unordered_set<std::string>& allowed) {
  if (target_path(request.target()) != path) return kNotFound;
  auto [first, last] = request.equal_range(http::field::origin);
  if (first == last) return std::nullopt;
  if (std::next(first) != last) return kOriginNotAllowed;
  std::string_view origin = first->value();
  if (origin.empty()) return std::nullopt;
  if (!visible_ascii_or_tab(origin)) return kOriginNotAllowed;
  if (allowed.contains(std::string(origin))) return std::nullopt;
  return kOriginNotAllowed;
}

std::string refusal_response(const Refusal& refusal) {
  return "HTTP/1.1 " + std::to_string(refusal.status) + " " + std::string(refusal.reason) + "\r\n\r\n" +
         std::string(refusal.body);
}

bool meets_upgrade_rules(const PageRequest& request) {
  // The same checks, in the same order, as the library makes before it answers 101.
  if (request.version() != 11) return false;
  if (request.method() != http::verb::get) return false;
  if (request.find(http::field::host) == request.end()) return false;
  auto connection = request.find(http::field::connection);
  if (connection == request.end() || !http::token_list{connection->value()}.exists("upgrade")) return false;
  auto upgrade = request.find(http::field::upgrade);
  if (upgrade == request.end() || !http::token_list{upgrade->value()}.exists("websocket")) return false;
  auto key = request.find(http::field::sec_websocket_key);
  if (key == request.end() || key->value().size() > 24) return false;
  auto version = request.find(http::field::sec_websocket_version);
  if (version == request.end() || version->value() != "13") return false;
  return true;
}

std::string error_text(const boost::system::error_code& ec) {
  const auto& category = ec.category();
  if (category == boost::system::system_category() || category == boost::system::generic_category() ||
      category == asio::error::get_misc_category() || category == stream_category())
    return "IO error: " + ec.message();
  return ec.message();
}

asio::awaitable<std::expected<void, std::string>> accept_page_handshake(PageStream& stream,
                                                                       const PageServerConfig& config) {
  using Result = std::expected<void, std::string>;
  // Bytes after the request are dropped with the buffer: a client waits for the answer before it
  // sends frames.
  boost::beast::flat_buffer buffer;
  http::request_parser<http::empty_body> parser;
  // The stream's size cap bounds the request, not the parser's smaller default.
  parser.header_limit(std::numeric_limits<std::uint32_t>::max());
  auto [read_error, read_size] =
      co_await http::async_read(stream.next_layer(), buffer, parser, asio::as_tuple(asio::use_awaitable));
  if (read_error) co_return Result(std::unexpect, error_text(read_error));
  const PageRequest& request = parser.get();

  apply_page_settings(stream, config);
  const bool upgrade = meets_upgrade_rules(request);
  if (upgrade) {
    if (auto refusal = check_request(request, config.path, config.allowed_origins)) {
      std::string answer = refusal_response(*refusal);
      auto [write_error, written] =
          co_await asio::async_write(stream.next_layer(), asio::buffer(answer), asio::as_tuple(asio::use_awaitable));
      if (write_error) co_return Result(std::unexpect, error_text(write_error));
      co_return Result(std::unexpect,
                       "HTTP error: " + std::to_string(refusal->status) + " " + std::string(refusal->reason));
    }
  }
  // The library answers: 101 for a request that passed, its own error response otherwise. It names
  // itself and its version in a Server field of every answer, which would tell every web page on the
  // PC, and puts the field back when a decorator takes it out. So its own write is held back, and its
  // answer as the decorator sees it, before that field, is written here.
  auto answer = std::make_shared<std::optional<websocket::response_type>>();
  stream.set_option(websocket::stream_base::decorator([answer](websocket::response_type& made) { *answer = made; }));
  stream.next_layer().hold_writes(true);
  auto [accept_error] = co_await stream.async_accept(request, asio::as_tuple(asio::use_awaitable));
  stream.next_layer().hold_writes(false);
  if (*answer) {
    auto [write_error, written] =
        co_await http::async_write(stream.next_layer(), **answer, asio::as_tuple(asio::use_awaitable));
    if (write_error) co_return Result(std::unexpect, error_text(write_error));
  }
  if (accept_error) co_return Result(std::unexpect, error_text(accept_error));
  // Never serve a page whose request skipped the checks, should the library ever accept more.
  if (!upgrade) co_return Result(std::unexpect, "the request was accepted without its checks");
  co_return Result();
}

}  // namespace net::connection
