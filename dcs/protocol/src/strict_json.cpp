#include "dcs/protocol/src/strict_json.hpp"

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/src/unicode.hpp"

namespace protocol::strict_json {
namespace {

using nlohmann::json;

// SAX handler that limits the nesting depth, notes what the top value is and, when asked to,
// builds the value. Returning false from any event stops the parse, which then fails.
class Reader {
 public:
  explicit Reader(bool build) : build_(build) {}

  bool null() { return put(nullptr); }
  bool boolean(bool value) { return put(value); }
  bool number_integer(json::number_integer_t value) { return put(value); }
  bool number_unsigned(json::number_unsigned_t value) { return put(value); }
  // The parser has already refused numbers that do not fit a 64-bit float.
  bool number_float(json::number_float_t value, const json::string_t&) { return put(value); }
  // Strings are taken only when a value is built; otherwise the parser keeps its buffer for the
  // next one, and checking a datagram allocates nothing per string.
  bool string(json::string_t& value) { return put(std::ref(value)); }
  bool binary(json::binary_t&) { return false; }  // not produced by JSON text

  bool start_object(std::size_t) { return open(json::value_t::object); }
  bool key(json::string_t& key) {
    if (build_) key_ = std::move(key);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(json::value_t::array); }
  bool end_array() { return close(); }

  bool parse_error(std::size_t, const std::string&, const json::exception&) {
    return false;
  }

  bool top_is_object() const { return top_is_object_; }
  json take() { return std::move(root_); }

 private:
  template <class Value>
  bool put(Value value) {
    if (depth_ == 0) top_is_object_ = false;
    if (build_) place(make(value));
    return true;
  }

  bool open(json::value_t kind) {
    if (depth_ == kMaxDepth) return false;
    if (depth_ == 0) top_is_object_ = kind == json::value_t::object;
    ++depth_;
    if (build_) open_.push_back(place(json(kind)));
    return true;
  }

  template <class Value>
  static json make(Value value) {
    return json(value);
  }
  static json make(std::reference_wrapper<json::string_t> value) { return json(std::move(value.get())); }

  bool close() {
    --depth_;
    if (build_) open_.pop_back();
    return true;
  }

  // Puts a value into the open container (or makes it the root) and returns where it now lives.
  // The container being filled is the innermost open one, so no pointer on the stack moves.
  json* place(json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    // A repeated key replaces the earlier value: the last one counts.
    json& slot = parent[key_];
    slot = std::move(value);
    return &slot;
  }

  bool build_;
  std::size_t depth_ = 0;
  bool top_is_object_ = false;
  json root_;
  std::vector<json*> open_;
  json::string_t key_;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// What nlohmann-json lets through but these rules do not, checked before its parser sees the text.
bool passes_byte_checks(std::string_view text) {
  if (text.empty()) return false;
  if (text.find('\0') != std::string_view::npos) return false;
  if (text.starts_with(kByteOrderMark)) return false;
  return base::unicode::is_valid_utf8(text);
}

bool read(std::string_view text, Reader& reader) {
  if (!passes_byte_checks(text)) return false;
  const char* begin = text.data();
  return json::sax_parse(begin, begin + text.size(), &reader, json::input_format_t::json,
                         /*strict=*/true, /*ignore_comments=*/false);
}

}  // namespace

std::optional<nlohmann::json> parse(std::string_view text) {
  Reader reader(/*build=*/true);
  if (!read(text, reader)) return std::nullopt;
  return reader.take();
}

bool is_object(std::string_view text) {
  Reader reader(/*build=*/false);
  return read(text, reader) && reader.top_is_object();
}

}  // namespace protocol::strict_json
