// The strict JSON reader of page texts and collector datagrams.
//
// Properties: it never accepts a text that nlohmann-json refuses, and what it accepts has the same
// value as nlohmann-json reads; it refuses NUL bytes, a byte order mark, text that is not UTF-8
// and nesting past kMaxDepth; is_object agrees with parse; an accepted value written out again
// reads back as the same value.

#include <nlohmann/json.hpp>

#include "core/base/src/unicode.hpp"
#include "dcs/protocol/src/strict_json.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using nlohmann::json;
namespace strict_json = protocol::strict_json;

std::size_t depth(const json& value) {
  // Iterative, so that a deep value cannot overflow the fuzzer's stack.
  std::size_t deepest = 0;
  std::vector<std::pair<const json*, std::size_t>> todo{{&value, 0}};
  while (!todo.empty()) {
    const auto [at, level] = todo.back();
    todo.pop_back();
    if (!at->is_structured()) continue;
    deepest = std::max(deepest, level + 1);
    for (const json& child : *at) todo.push_back({&child, level + 1});
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::bytes(data, size);
  const std::optional<json> strict = strict_json::parse(text);
  FUZZ_CHECK(strict_json::is_object(text) == (strict && strict->is_object()));
  if (!strict) return 0;

  FUZZ_CHECK(text.find('\0') == std::string_view::npos);
  FUZZ_CHECK(!text.starts_with("\xEF\xBB\xBF"));
  FUZZ_CHECK(base::unicode::is_valid_utf8(text));
  FUZZ_CHECK(depth(*strict) <= strict_json::kMaxDepth);

  const json lenient = json::parse(text, nullptr, /*allow_exceptions=*/false);
  FUZZ_CHECK(!lenient.is_discarded());
  FUZZ_CHECK(lenient == *strict);

  const std::optional<json> again = strict_json::parse(strict->dump());
  FUZZ_CHECK(again && *again == *strict);
  return 0;
}
