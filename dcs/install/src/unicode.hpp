#pragma once

#include <string>
#include <string_view>

#include "core/base/src/unicode.hpp"

// Text helpers of the install code, free of locales so that both builds give the same answers:
// the shared UTF-8 / UTF-16 conversions (lossy: what cannot be represented becomes U+FFFD, since
// Windows hands out UTF-16 that may hold unpaired surrogates) and the lower-casing that makes the
// keys of paths.
namespace machine {

using base::unicode::decode_utf8;
using base::unicode::encode_utf8;
using base::unicode::is_white_space;
using base::unicode::trim_white_space;
using base::unicode::utf16_to_utf8;
using base::unicode::utf8_to_utf16;

// The simple (one code point to one) Unicode lower case of `c`.
char32_t simple_lower(char32_t c);

// Full Unicode lower-casing of UTF-8 text, character by character (U+0130 becomes "i" and a
// combining dot above). No context rules, so the key of a path is the keys of its names joined.
std::string lower_full(std::string_view utf8);

// ASCII letters folded to lower case, everything else unchanged.
std::string ascii_lower(std::string_view text);
bool equal_ascii_case(std::string_view a, std::string_view b);

}  // namespace machine
