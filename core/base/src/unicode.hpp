#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 and UTF-16 for texts that come from outside (arguments, environment values, registry
// data, files, packets), none of which is promised to be well formed. Free of locales and of the
// system, so that every build gives the same answers.
//
// One policy for ill-formed input throughout: each maximal ill-formed subpart of UTF-8 and each
// unpaired surrogate of UTF-16 becomes one U+FFFD, as the Unicode standard recommends. Callers that
// must refuse such input ask is_valid_utf8 / is_valid_utf16 first.
namespace base::unicode {

inline constexpr char32_t kReplacement = 0xFFFD;

// One step through UTF-8 bytes: the scalar value at the front and the bytes it takes. An ill-formed
// sequence gives `valid` false, `value` U+FFFD and the length of its maximal subpart (at least 1).
struct Decoded {
  char32_t value;
  std::size_t length;
  bool valid;
};
// `bytes` must not be empty.
Decoded decode_first(std::string_view bytes);

// Appends `value` in UTF-8; a surrogate or a value past U+10FFFF goes in as U+FFFD.
void append_utf8(std::string& out, char32_t value);

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF, no cut-off sequence.
bool is_valid_utf8(std::string_view bytes);
// The bytes as well-formed UTF-8, ill-formed parts replaced.
std::string utf8_lossy(std::string_view bytes);

// UTF-8 bytes to scalar values (ill-formed parts replaced) and back.
std::u32string decode_utf8(std::string_view bytes);
std::string encode_utf8(std::u32string_view text);

// One scalar value in UTF-16: one unit, or a surrogate pair past U+FFFF. A surrogate or a value past
// U+10FFFF goes in as U+FFFD.
struct Utf16Units {
  std::array<char16_t, 2> units;
  std::size_t length;  // 1 or 2
  std::u16string_view view() const { return {units.data(), length}; }
};
Utf16Units encode_utf16(char32_t value);

// True when every surrogate is part of a pair.
bool is_valid_utf16(std::u16string_view units);
// UTF-16 to UTF-8 and back, ill-formed parts replaced either way.
std::string utf16_to_utf8(std::u16string_view units);
std::u16string utf8_to_utf16(std::string_view bytes);

// Unicode's White_Space property (not the C locale's isspace).
bool is_white_space(char32_t c);
// `text` without the white space at both ends.
std::u32string_view trim_white_space(std::u32string_view text);
// The same for UTF-8 text; an ill-formed part ends the white space.
std::string_view trim_white_space(std::string_view text);

}  // namespace base::unicode
