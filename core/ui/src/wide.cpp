#include "core/ui/src/wide.hpp"

#include <algorithm>

#include "core/base/src/unicode.hpp"

namespace wide {

std::u16string to_wide(std::string_view text) {
  std::u16string out = base::unicode::utf8_to_utf16(text);
  // A 0 unit comes only from U+0000 itself (never from an ill-formed part, which becomes U+FFFD).
  std::ranges::replace(out, u'\0', u' ');
  return out;
}

void fill_wide(std::span<char16_t> field, std::string_view text) {
  if (field.empty()) return;
  const std::size_t room = field.size() - 1;
  std::size_t written = 0;
  while (!text.empty()) {
    const base::unicode::Decoded d = base::unicode::decode_first(text);
    text.remove_prefix(d.length);
    const base::unicode::Utf16Units units = base::unicode::encode_utf16(d.value == 0 ? char32_t{0x20} : d.value);
    // A surrogate pair goes in whole or not at all.
    if (written + units.length > room) break;
    std::ranges::copy(units.view(), field.begin() + static_cast<std::ptrdiff_t>(written));
    written += units.length;
  }
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(written), field.end(), char16_t{0});
}

std::string from_wide(const char16_t* text) {
  if (text == nullptr) return {};
  return base::unicode::utf16_to_utf8(std::u16string_view(text));
}

}  // namespace wide
