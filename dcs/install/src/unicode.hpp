#pragma once

#include <string>
#include <string_view>

// Text helpers of the install code, free of locales so that both builds give the same answers.
// Windows hands out UTF-16 that may hold unpaired surrogates; every conversion here is lossy in
// the same way: what cannot be represented becomes U+FFFD.
namespace machine {

// UTF-8 to code points; every maximal invalid subsequence becomes one U+FFFD.
std::u32string decode_utf8(std::string_view bytes);
std::string encode_utf8(std::u32string_view text);

// UTF-8 (invalid sequences become U+FFFD) to UTF-16 and back (unpaired surrogates become U+FFFD).
std::u16string utf8_to_utf16(std::string_view bytes);
std::string utf16_to_utf8(std::u16string_view units);

// The Unicode White_Space property.
bool is_white_space(char32_t c);

// `text` without white space at either end.
std::u32string_view trim_white_space(std::u32string_view text);

// The simple (one code point to one) Unicode lower case of `c`.
char32_t simple_lower(char32_t c);

// Full Unicode lower-casing of UTF-8 text, character by character (U+0130 becomes "i" and a
// combining dot above). No context rules, so the key of a path is the keys of its names joined.
std::string lower_full(std::string_view utf8);

// ASCII letters folded to lower case, everything else unchanged.
std::string ascii_lower(std::string_view text);
bool equal_ascii_case(std::string_view a, std::string_view b);

}  // namespace machine
