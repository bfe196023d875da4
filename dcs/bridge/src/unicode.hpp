#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 and UTF-16 handling for texts that come from outside (arguments, environment values,
// registry data), none of which the system promises to be well formed.
namespace bridge::unicode {

inline constexpr char32_t kReplacement = 0xFFFD;

// One step through UTF-8 bytes: the scalar value at the front and the bytes it takes. An ill-formed
// sequence gives `valid` false and the length of its maximal subpart (at least 1), so that each
// one turns into a single U+FFFD, as the Unicode standard recommends.
struct Decoded {
  char32_t value;
  std::size_t length;
  bool valid;
};
Decoded decode_utf8(std::string_view bytes);

void append_utf8(std::string& out, char32_t value);

bool is_valid_utf8(std::string_view bytes);
std::string utf8_lossy(std::string_view bytes);

bool is_valid_utf16(std::u16string_view units);
// Unpaired surrogates become U+FFFD.
std::string utf16_lossy(std::u16string_view units);
// Ill-formed input bytes become U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// Unicode's White_Space property (not the C locale's isspace).
bool is_white_space(char32_t value);
// `text` without the white space at both ends; `text` must be UTF-8.
std::string_view trim_white_space(std::string_view text);

}  // namespace bridge::unicode
