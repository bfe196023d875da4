#include "core/ui/src/wide.hpp"

#include <algorithm>

#include "core/base/src/unicode.hpp"

namespace wide {
namespace {

// Appends one scalar value as UTF-16 into `out`.
void append_unit(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// The text's characters, ill-formed parts as U+FFFD and U+0000 as a blank.
template <class Sink>
void for_each_char(std::string_view text, Sink&& sink) {
  while (!text.empty()) {
    base::unicode::Decoded d = base::unicode::decode_first(text);
    text.remove_prefix(d.length);
    if (!sink(d.value == 0 ? char32_t{0x20} : d.value)) return;
  }
}

}  // namespace

std::u16string to_wide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for_each_char(text, [&](char32_t c) {
    append_unit(out, c);
    return true;
  });
  return out;
}

void fill_wide(std::span<char16_t> field, std::string_view text) {
  if (field.empty()) return;
  const std::size_t room = field.size() - 1;
  std::size_t written = 0;
  for_each_char(text, [&](char32_t c) {
    const std::size_t need = c < 0x10000 ? 1 : 2;
    if (written + need > room) return false;
    if (need == 1) {
      field[written] = static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      field[written] = static_cast<char16_t>(0xD800 + (c >> 10));
      field[written + 1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
    written += need;
    return true;
  });
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(written), field.end(), char16_t{0});
}

std::string from_wide(const char16_t* text) {
  if (text == nullptr) return {};
  return base::unicode::utf16_to_utf8(std::u16string_view(text));
}

}  // namespace wide
