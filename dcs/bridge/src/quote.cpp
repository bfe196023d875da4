#include "dcs/bridge/src/quote.hpp"

#include <cstdio>

#include "core/base/src/unicode.hpp"

namespace bridge {
namespace {

// Characters that would not show, or would break or reorder the line: control characters, the
// line and paragraph separators, and the invisible format characters (zero-width characters,
// direction marks and overrides, the byte order mark, the soft hyphen).
bool is_invisible(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
         (c >= 0xFFF9 && c <= 0xFFFB);
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    base::unicode::Decoded d = base::unicode::decode_first(text);
    switch (d.value) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        if (is_invisible(d.value)) {
          char buffer[16];
          std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(d.value));
          out += buffer;
        } else {
          base::unicode::append_utf8(out, d.value);
        }
    }
    text.remove_prefix(d.length);
  }
  out += '"';
  return out;
}

}  // namespace bridge
