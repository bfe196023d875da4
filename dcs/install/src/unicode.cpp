#include "dcs/install/src/unicode.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace machine {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct LowerRun {
  char32_t first;
  char32_t last;
  std::uint8_t stride;
  std::int32_t delta;
};

constexpr LowerRun kLowerRuns[] = {
#include "dcs/install/src/lower_table.inc"
};

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one character at `i`, advancing `i` past it (or past the maximal invalid prefix).
char32_t next_code_point(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  std::size_t need;
  char32_t c;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return kReplacement;
  }
  ++i;
  for (std::size_t k = 0; k < need; ++k) {
    if (i >= s.size()) return kReplacement;
    const auto b = static_cast<unsigned char>(s[i]);
    if (k == 0 ? (b < lo || b > hi) : !is_continuation(b)) return kReplacement;
    c = (c << 6) | (b & 0x3F);
    ++i;
  }
  return c;
}

}  // namespace

std::u32string decode_utf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) out.push_back(next_code_point(bytes, i));
  return out;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) append_utf8(out, c);
  return out;
}

std::u16string utf8_to_utf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = next_code_point(bytes, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, u);
    }
  }
  return out;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::u32string_view trim_white_space(std::u32string_view text) {
  while (!text.empty() && is_white_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_white_space(text.back())) text.remove_suffix(1);
  return text;
}

char32_t simple_lower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  // The last run that starts at or before c is the only one that may hold it.
  const auto* end = std::end(kLowerRuns);
  const auto* run = std::upper_bound(std::begin(kLowerRuns), end, c,
                                     [](char32_t v, const LowerRun& r) { return v < r.first; });
  if (run == std::begin(kLowerRuns)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->stride != 0) return c;
  return static_cast<char32_t>(static_cast<std::int32_t>(c) + run->delta);
}

std::string lower_full(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = next_code_point(utf8, i);
    if (c == 0x130) {
      out.push_back('i');
      append_utf8(out, 0x307);
    } else {
      append_utf8(out, simple_lower(c));
    }
  }
  return out;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

bool equal_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

}  // namespace machine
