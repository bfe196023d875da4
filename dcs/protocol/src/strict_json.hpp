#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

// The JSON rules of both links of the relay (page messages and collector datagrams), in front of
// nlohmann-json, which on its own is too lenient for text from outside: it stops at a NUL byte (so
// "{}\0junk" would pass), skips a leading byte order mark and nests without limit.
//
// A text is JSON here when it is valid UTF-8 and holds exactly one JSON value (RFC 8259), with
// nothing but blanks, tabs, line feeds and carriage returns around it, no NUL byte and no byte
// order mark, no more than kMaxDepth nested arrays and objects, and every number within the range
// of a 64-bit float. Objects keep their keys in ascending byte order; of a key given twice in one
// object the last value counts.
namespace protocol::strict_json {

inline constexpr std::size_t kMaxDepth = 128;

// The value of a JSON text, or nothing when the text is not JSON by the rules above.
std::optional<nlohmann::json> parse(std::string_view text);

// Whether the text is JSON by the rules above and its value is an object. Builds no value.
bool is_object(std::string_view text);

}  // namespace protocol::strict_json
