#include "core/base/src/unicode.hpp"

namespace base::unicode {
namespace {

bool in(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Calls `f` with each step through `bytes` and the bytes it takes, from the front.
template <class F>
void for_each_decoded(std::string_view bytes, F f) {
  while (!bytes.empty()) {
    const Decoded d = decode_first(bytes);
    f(d, bytes.substr(0, d.length));
    bytes.remove_prefix(d.length);
  }
}

}  // namespace

Decoded decode_first(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};
  // The range of the second byte depends on the lead (the table of well-formed byte sequences of
  // the Unicode standard): it rules out overlong forms, surrogates and values above U+10FFFF, so
  // that an ill-formed part ends at the first byte that cannot continue it.
  std::size_t count;
  unsigned char low = 0x80, high = 0xBF;
  char32_t value;
  if (in(lead, 0xC2, 0xDF)) {
    count = 2, value = lead & 0x1F;
  } else if (in(lead, 0xE0, 0xEF)) {
    count = 3, value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (in(lead, 0xF0, 0xF4)) {
    count = 4, value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {kReplacement, 1, false};
  }
  for (std::size_t i = 1; i < count; ++i) {
    if (i >= bytes.size() || !in(byte(i), low, high)) return {kReplacement, i, false};
    value = (value << 6) | (byte(i) & 0x3F);
    low = 0x80, high = 0xBF;
  }
  return {value, count, true};
}

void append_utf8(std::string& out, char32_t value) {
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = kReplacement;
  if (value < 0x80) {
    out.push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (value >> 6)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (value >> 12)));
    out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (value >> 18)));
    out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

bool is_valid_utf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const Decoded d = decode_first(bytes);
    if (!d.valid) return false;
    bytes.remove_prefix(d.length);
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for_each_decoded(bytes, [&](const Decoded& d, std::string_view part) {
    if (d.valid)
      out.append(part);
    else
      append_utf8(out, kReplacement);
  });
  return out;
}

std::u32string decode_utf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for_each_decoded(bytes, [&](const Decoded& d, std::string_view) { out.push_back(d.value); });
  return out;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) append_utf8(out, c);
  return out;
}

Utf16Units encode_utf16(char32_t value) {
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = kReplacement;
  if (value < 0x10000) return {{static_cast<char16_t>(value), 0}, 1};
  value -= 0x10000;
  return {{static_cast<char16_t>(0xD800 + (value >> 10)), static_cast<char16_t>(0xDC00 + (value & 0x3FF))}, 2};
}

bool is_valid_utf16(std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (is_high_surrogate(units[i]) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      ++i;
    } else if (is_high_surrogate(units[i]) || is_low_surrogate(units[i])) {
      return false;
    }
  }
  return true;
}

std::string utf16_to_utf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      append_utf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{units[i + 1]} - 0xDC00));
      ++i;
    } else {
      // A lone surrogate is turned into U+FFFD by append_utf8.
      append_utf8(out, unit);
    }
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for_each_decoded(bytes, [&](const Decoded& d, std::string_view) { out.append(encode_utf16(d.value).view()); });
  return out;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::u32string_view trim_white_space(std::u32string_view text) {
  while (!text.empty() && is_white_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_white_space(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view trim_white_space(std::string_view text) {
  // From the front: drop characters while they are white space.
  while (!text.empty()) {
    const Decoded d = decode_first(text);
    if (!d.valid || !is_white_space(d.value)) break;
    text.remove_prefix(d.length);
  }
  // From the back: find the start of the last character by skipping continuation bytes.
  while (!text.empty()) {
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
      --start;
    const Decoded d = decode_first(text.substr(start));
    if (!d.valid || d.length != text.size() - start || !is_white_space(d.value)) break;
    text.remove_suffix(d.length);
  }
  return text;
}

}  // namespace base::unicode
