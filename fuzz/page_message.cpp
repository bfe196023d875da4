// The check of a page's text, PageMessage::parse.
//
// Properties: a text the strict JSON reader refuses is NotJson and nothing else is; a message
// that parses, written back as a page would send it, parses to the same message; every line it
// makes for the collector is printable ASCII within the line limit, and every number in such a
// line reads back as the value it stands for; the error texts of refusals are UTF-8.

#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "core/base/src/unicode.hpp"
#include "dcs/protocol/src/page_message.hpp"
#include "dcs/protocol/src/strict_json.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using nlohmann::json;
using namespace protocol;

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

bool is_printable_line(std::string_view line) {
  if (line.empty() || line.size() > kMaxLineBytes) return false;
  for (char c : line)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// collector_number writes the shortest digits that read back as the value, with no exponent.
void check_number(double value) {
  const std::string text = page_message::collector_number(value);
  FUZZ_CHECK(text.find_first_not_of("-.0123456789") == std::string::npos);
  double back = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
  FUZZ_CHECK(ec == std::errc() && end == text.data() + text.size());
  FUZZ_CHECK(back == value);
}

json write_json(const CollectorWrite& write) {
  return std::visit(Overloaded{
                        [](const Clickable& c) {
                          json out = {{"channel", "clickable"},
                                      {"device", std::to_string(c.device)},
                                      {"address", std::to_string(c.command)},
                                      {"value", c.value}};
                          if (c.release_value) out["releaseValue"] = *c.release_value;
                          return out;
                        },
                        [](const Highlight& h) {
                          return json{{"channel", "highlight"},
                                      {"address", h.element},
                                      {"value", h.seconds}};
                        },
                    },
                    write.kind);
}

// The message as a page would send it.
json message_json(const PageMessage& message) {
  return std::visit(
      Overloaded{
          [](const PageMessage::Subscribe& m) {
            json keys = json::array();
            std::string_view rest = m.line.text;
            FUZZ_CHECK(rest.starts_with("read "));
            rest.remove_prefix(5);
            for (;;) {
              const std::size_t blank = rest.find(' ');
              keys.push_back(std::string(rest.substr(0, blank)));
              if (blank == std::string_view::npos) break;
              rest.remove_prefix(blank + 1);
            }
            return json{{"type", "subscribe"}, {"sim", "dcs"}, {"keys", keys}};
          },
          [](const PageMessage::Writes& m) {
            json writes = json::array();
            for (const CollectorWrite& write : m.writes) writes.push_back(write_json(write));
            return json{{"type", "writes"}, {"sim", "dcs"}, {"writes", writes}};
          },
          [](const PageMessage::Ticks& m) { return json{{"type", "ticks"}, {"on", m.on}}; },
          [](const PageMessage::OpenRepair&) { return json{{"type", "openRepair"}}; },
      },
      message.kind);
}

void check_lines(const PageMessage& message) {
  if (const auto* subscribe = std::get_if<PageMessage::Subscribe>(&message.kind))
    FUZZ_CHECK(is_printable_line(subscribe->line.text));
  if (const auto* writes = std::get_if<PageMessage::Writes>(&message.kind)) {
    FUZZ_CHECK(writes->writes.size() <= kMaxWritesPerMessage);
    for (const CollectorWrite& write : writes->writes) {
      FUZZ_CHECK(is_printable_line(write.to_line()));
      if (const auto* click = std::get_if<Clickable>(&write.kind)) {
        FUZZ_CHECK(click->command >= kMinCommand && std::isfinite(click->value));
        check_number(click->value);
        if (click->release_value) {
          FUZZ_CHECK(std::isfinite(*click->release_value));
          check_number(*click->release_value);
        }
      } else {
        const auto& highlight = std::get<Highlight>(write.kind);
        FUZZ_CHECK(highlight.seconds > 0 && highlight.seconds <= kMaxHighlightSeconds);
        check_number(highlight.seconds);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::bytes(data, size);
  const auto parsed = PageMessage::parse(text);
  const bool is_json = strict_json::parse(text).has_value();
  if (!parsed) {
    const bool not_json = std::holds_alternative<PageMessageError::NotJson>(parsed.error().kind);
    FUZZ_CHECK(not_json == !is_json);
    FUZZ_CHECK(base::unicode::is_valid_utf8(parsed.error().fmt()));
    return 0;
  }
  FUZZ_CHECK(is_json);
  check_lines(*parsed);

  const auto again = PageMessage::parse(message_json(*parsed).dump());
  FUZZ_CHECK(again && *again == *parsed);
  return 0;
}
