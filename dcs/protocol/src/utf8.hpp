#pragma once

#include <string>
#include <string_view>

namespace protocol::utf8 {

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF, no cut-off sequence.
bool is_valid(std::string_view bytes);

// The bytes as UTF-8 text, each maximal ill-formed subsequence replaced by U+FFFD (the usual lossy
// decoding), so that a text from outside can go into a log line.
std::string decode_lossy(std::string_view bytes);

}  // namespace protocol::utf8
