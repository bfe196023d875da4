// The page server's request check: the raw bytes of a page's upgrade request through Beast's
// request parser, set up as the handshake sets it up, then connection::meets_upgrade_rules and
// connection::check_request on every request whose header the parser took.
//
// Properties: a refusal is exactly 404 "not found" or 403 "origin not allowed", and its response
// is the status line, an empty line and the body; a request whose path (the target of the origin
// form up to its query) differs from the page path is refused with 404, and one with the page path
// never is; past the path, the answer follows the Origin headers as counted here by their names
// (none, or one with an empty value: accepted; several: 403; one with a byte outside visible ASCII
// but the tab: 403; one other: accepted exactly when it is on the list); an accepted request of
// another form ends in the page path before any "?" and has no "#" before it.

#include <limits>

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include "core/net/src/handshake.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

namespace http = boost::beast::http;
using net::connection::Refusal;

constexpr std::string_view kPath = "/api/v1";

const std::unordered_set<std::string>& allowed() {
  static const std::unordered_set<std::string> origins = {"https://app.tolvaro.example",
                                                          "http://localhost:5173", "null"};
  return origins;
}

bool same_refusal(const Refusal& a, unsigned status, std::string_view reason, std::string_view body) {
  return a.status == status && a.reason == reason && a.body == body;
}

bool equal_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// What the Origin headers alone decide: 0 to accept, else 403.
unsigned origin_verdict(const net::PageRequest& request) {
  std::vector<std::string_view> origins;
  for (const auto& field : request)
    if (equal_ascii_case(field.name_string(), "Origin")) origins.push_back(field.value());
  if (origins.empty()) return 0;
  if (origins.size() > 1) return 403;
  const std::string_view origin = origins.front();
  if (origin.empty()) return 0;
  for (unsigned char c : origin)
    if (c != '\t' && (c < 0x20 || c > 0x7E)) return 403;
  return allowed().contains(std::string(origin)) ? 0 : 403;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  http::request_parser<http::empty_body> parser;
  parser.header_limit(std::numeric_limits<std::uint32_t>::max());
  parser.eager(true);
  boost::beast::error_code ec;
  parser.put(boost::asio::buffer(data, size), ec);
  if (!parser.is_header_done()) return 0;
  const net::PageRequest& request = parser.get();

  (void)net::connection::meets_upgrade_rules(request);
  const std::optional<Refusal> refusal = net::connection::check_request(request, kPath, allowed());
  if (refusal) {
    const bool not_found = same_refusal(*refusal, 404, "Not Found", "not found");
    FUZZ_CHECK(not_found || same_refusal(*refusal, 403, "Forbidden", "origin not allowed"));
    const std::string status_line = "HTTP/1.1 " + std::to_string(refusal->status) + " " +
                                    std::string(refusal->reason) + "\r\n";
    FUZZ_CHECK(net::connection::refusal_response(*refusal) ==
               status_line + "\r\n" + std::string(refusal->body));
  }

  const std::string_view target = request.target();
  const std::string_view before_query = target.substr(0, target.find('?'));
  if (target.starts_with('/')) {
    if (before_query != kPath) {
      FUZZ_CHECK(refusal && refusal->status == 404);
      return 0;
    }
    FUZZ_CHECK(!refusal || refusal->status != 404);
  }
  if (!refusal || refusal->status != 404) {
    FUZZ_CHECK(before_query.ends_with(kPath) && before_query.find('#') == std::string_view::npos);
    FUZZ_CHECK((refusal ? refusal->status : 0u) == origin_verdict(request));
  }
  return 0;
}
