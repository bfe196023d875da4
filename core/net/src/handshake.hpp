#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include <boost/asio/awaitable.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "core/net/src/capped_stream.hpp"

namespace net {

struct PageServerConfig;

// A page's open WebSocket stream.
using PageStream = boost::beast::websocket::stream<CappedStream>;
using PageRequest = boost::beast::http::request<boost::beast::http::empty_body>;

namespace connection {

// Why a page's request is refused: the status line and the body of the answer.
struct Refusal {
  unsigned status;
  std::string_view reason;  // the status's reason phrase
  std::string_view body;
};

// Decides whether a page may connect, from the request target and the Origin headers only:
// the path (without the query) must be `path` byte for byte (404 "not found"), and there must be no
// Origin header, one with an empty value, or one whose value is in `allowed` byte for byte (403
// "origin not allowed"). Nothing when accepted.
std::optional<Refusal> check_request(const PageRequest& request, std::string_view path,
                                     const std::unordered_set<std::string>& allowed);

// The refusal as written to the socket: the status line, an empty line and the body; no header.
std::string refusal_response(const Refusal& refusal);

// Whether the request meets the WebSocket library's own rules for an upgrade (RFC 6455 with the
// library's limits). Requests that do not are left to the library to answer, before the path or
// the Origin is looked at.
bool meets_upgrade_rules(const PageRequest& request);

// The text of an error from the page's stream or the WebSocket library, as logged: errors of the
// socket and of the stream's caps read "IO error: " followed by the system's or the cap's text.
std::string error_text(const boost::system::error_code& ec);

// The server side of the WebSocket handshake on a stream in handshake mode, with check_request as
// its request hook and the page settings applied. Completes with the open stream, or with the text
// of what went wrong ("HTTP error: 404 Not Found" after a refusal was written).
boost::asio::awaitable<std::expected<void, std::string>> accept_page_handshake(PageStream& stream,
                                                                              const PageServerConfig& config);

}  // namespace connection
}  // namespace net
