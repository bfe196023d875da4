#include <gtest/gtest.h>

#include <boost/asio/error.hpp>

#include "core/net/src/bind_error.hpp"
#include "core/net/src/capped_stream.hpp"
#include "core/net/src/handshake.hpp"
#include "core/net/src/page_server.hpp"

namespace {

using net::PageRequest;
using namespace net::connection;
namespace http = boost::beast::http;

const std::unordered_set<std::string> allowed = {"https://app.tolvaro.example", "http://localhost:5173"};

PageRequest request(std::string target, std::vector<std::string> origins = {}) {
  PageRequest r{http::verb::get, target, 11};
  r.set(http::field::host, "127.0.0.1:2992");
  r.set(http::field::upgrade, "websocket");
  r.set(http::field::connection, "Upgrade");
  r.set(http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
  r.set(http::field::sec_websocket_version, "13");
  for (auto& origin : origins) r.insert("Origin", origin);
  return r;
}

struct CheckCase {
  const char* name;
  std::string target;
  std::vector<std::string> origins;
  unsigned status;  // 0: accepted
};

TEST(CheckRequest, PathAndOriginRules) {
  const std::vector<CheckCase> cases = {
      {"the path", "/api/v1", {}, 0},
      {"the path with a query", "/api/v1?page=7&x=/", {}, 0},
      {"the absolute form of the path", "http://127.0.0.1:2992/api/v1", {}, 0},
      {"the absolute form with a query", "http://127.0.0.1:2992/api/v1?x=/", {}, 0},
      {"the absolute form without a path", "http://127.0.0.1:2992", {}, 404},
      // The host part ends at "?" or "#": what follows is no path.
      {"the path inside the absolute form's query", "http://127.0.0.1:2992?/api/v1", {}, 404},
      {"the path after a fragment in the host part", "http://127.0.0.1#/api/v1", {}, 404},
      // Only a scheme of letters, digits, "+", "-" and "." makes the absolute form.
      {"another scheme", "ws+x-1.a://127.0.0.1/api/v1", {}, 0},
      {"a scheme with a question mark", "?http://127.0.0.1/api/v1", {}, 404},
      {"a scheme that starts with a digit", "1http://127.0.0.1/api/v1", {}, 404},
      {"no scheme", "://127.0.0.1/api/v1", {}, 404},
      {"a trailing slash", "/api/v1/", {}, 404},
      {"capitals", "/API/V1", {}, 404},
      {"a prefix", "/api", {}, 404},
      {"a longer path", "/api/v1/x", {}, 404},
      {"the root", "/", {}, 404},
      {"a wrong path with a wrong Origin: the path first", "/nope", {"https://evil.example"}, 404},
      {"an allowed Origin", "/api/v1", {"https://app.tolvaro.example"}, 0},
      {"another allowed Origin", "/api/v1", {"http://localhost:5173"}, 0},
      {"an empty Origin", "/api/v1", {""}, 0},
      {"an Origin not on the list", "/api/v1", {"https://evil.example"}, 403},
      {"an Origin with a trailing slash", "/api/v1", {"https://app.tolvaro.example/"}, 403},
      {"an Origin in other letter case", "/api/v1", {"https://App.Tolvaro.example"}, 403},
      {"the opaque Origin null", "/api/v1", {"null"}, 403},
      {"two allowed Origins", "/api/v1", {"https://app.tolvaro.example", "http://localhost:5173"}, 403},
      {"two empty Origins", "/api/v1", {"", ""}, 403},
      {"an Origin with a byte above ASCII", "/api/v1", {"https://app.tolvaro.example\xC3\xA9"}, 403},
      {"an Origin with a control byte", "/api/v1", {std::string("https://app.tolvaro.ex\x01mple")}, 403},
  };
  for (const auto& c : cases) {
    auto refusal = check_request(request(c.target, c.origins), "/api/v1", allowed);
    EXPECT_EQ(refusal ? refusal->status : 0u, c.status) << c.name;
  }
}

TEST(CheckRequest, AnOriginHeaderNameInAnyLetterCaseCounts) {
  auto r = request("/api/v1");
  r.insert("oRiGiN", "https://evil.example");
  auto refusal = check_request(r, "/api/v1", allowed);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->status, 403u);
}

TEST(CheckRequest, AnEmptyAllowListRefusesEveryOrigin) {
  EXPECT_TRUE(check_request(request("/api/v1", {"https://app.tolvaro.example"}), "/api/v1", {}));
  EXPECT_FALSE(check_request(request("/api/v1"), "/api/v1", {}));
}

TEST(RefusalResponse, IsTheStatusLineAnEmptyLineAndTheBodyWithoutHeaders) {
  auto not_found = check_request(request("/x"), "/api/v1", allowed);
  auto forbidden = check_request(request("/api/v1", {"null"}), "/api/v1", allowed);
  ASSERT_TRUE(not_found && forbidden);
  EXPECT_EQ(refusal_response(*not_found), "HTTP/1.1 404 Not Found\r\n\r\nnot found");
  EXPECT_EQ(refusal_response(*forbidden), "HTTP/1.1 403 Forbidden\r\n\r\norigin not allowed");
}

TEST(UpgradeRules, FollowTheLibrary) {
  EXPECT_TRUE(meets_upgrade_rules(request("/api/v1")));
  auto without = [](http::field field) {
    auto r = request("/api/v1");
    r.erase(field);
    return r;
  };
  EXPECT_FALSE(meets_upgrade_rules(without(http::field::upgrade)));
  EXPECT_FALSE(meets_upgrade_rules(without(http::field::connection)));
  EXPECT_FALSE(meets_upgrade_rules(without(http::field::host)));
  EXPECT_FALSE(meets_upgrade_rules(without(http::field::sec_websocket_key)));
  EXPECT_FALSE(meets_upgrade_rules(without(http::field::sec_websocket_version)));
  auto post = request("/api/v1");
  post.method(http::verb::post);
  EXPECT_FALSE(meets_upgrade_rules(post));
  auto old = request("/api/v1");
  old.version(10);
  EXPECT_FALSE(meets_upgrade_rules(old));
  auto version_8 = request("/api/v1");
  version_8.set(http::field::sec_websocket_version, "8");
  EXPECT_FALSE(meets_upgrade_rules(version_8));
  auto tokens = request("/api/v1");
  tokens.set(http::field::connection, "keep-alive, Upgrade");
  EXPECT_TRUE(meets_upgrade_rules(tokens));
}

TEST(ErrorText, CapsAndSocketErrorsReadAsIoErrors) {
  EXPECT_EQ(error_text(net::make_error_code(net::StreamError::HandshakeOverCap)),
            "IO error: handshake over the size cap");
  EXPECT_EQ(error_text(net::make_error_code(net::StreamError::TooManyBytes)),
            "IO error: page sent more bytes than allowed");
  EXPECT_TRUE(error_text(boost::asio::error::connection_reset).starts_with("IO error: "));
  const boost::system::error_code too_big = boost::beast::websocket::error::message_too_big;
  EXPECT_EQ(error_text(too_big), too_big.message());
}

TEST(BindError, TextsNameTheProtocolAndThePort) {
  auto in_use = net::BindError::from(net::Protocol::Tcp, 2992, boost::asio::error::address_in_use);
  EXPECT_TRUE(in_use.in_use);
  EXPECT_EQ(in_use.text(),
            "TCP port 127.0.0.1:2992 is already in use. Tolvaro DCS Bridge, or the older Node bridge, is probably "
            "already running.");
  const boost::system::error_code denied = boost::asio::error::access_denied;
  auto other = net::BindError::from(net::Protocol::Udp, 9790, denied);
  EXPECT_FALSE(other.in_use);
  EXPECT_EQ(other.text(), "cannot open UDP port 127.0.0.1:9790: " + denied.message());
}

TEST(RefusalCounter, LogsTheFirstTenThenEveryThousandth) {
  net::RefusalCounter counter;
  std::vector<std::uint64_t> logged;
  for (int i = 1; i <= 3000; ++i) {
    auto line = counter.count("a handshake timed out");
    if (!line) continue;
    EXPECT_EQ(*line, "a handshake timed out (refusal " + std::to_string(i) + ")");
    logged.push_back(i);
  }
  EXPECT_EQ(logged, (std::vector<std::uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1000, 2000, 3000}));
  EXPECT_EQ(counter.total(), 3000u);
}

}  // namespace
