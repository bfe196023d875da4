#pragma once

#include <span>
#include <string>
#include <string_view>

// UTF-8 text to the UTF-16 the Windows calls take, and back; built on base::unicode, so ill-formed
// input becomes U+FFFD either way. Pure: usable on any thread.
namespace wide {

// A new buffer: the text in UTF-16 followed by one 0 unit (`c_str()`). Every U+0000 of the text
// becomes U+0020, so that the text cannot end early.
std::u16string to_wide(std::string_view text);

// Writes the text into a fixed field of N units (a tooltip, a balloon title or text): characters in
// order while at most N - 1 units are written, stopping at the first one that would not fit whole
// (a surrogate pair goes in whole or not at all); U+0000 becomes U+0020; every unit after the text is
// 0, so the field always ends with a 0 unit. An empty field is left as it is.
void fill_wide(std::span<char16_t> field, std::string_view text);

// The text up to the first 0 unit, unpaired surrogates turned into U+FFFD. Null reads as empty.
std::string from_wide(const char16_t* text);

}  // namespace wide
