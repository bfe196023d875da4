#include "core/base/src/clip.hpp"

#include <cstddef>

namespace base {
namespace {

// The length of the character that starts with `lead`, told by that byte alone. A byte that cannot
// start a character counts as one, so the walk always moves on.
std::size_t char_length(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  return 1;
}

}  // namespace

std::string clip(std::string_view text) {
  constexpr std::size_t kKeep = 80;
  std::size_t at = 0;
  for (std::size_t count = 0; count < kKeep; ++count) {
    if (at >= text.size()) return std::string(text);
    at += char_length(static_cast<unsigned char>(text[at]));
  }
  if (at >= text.size()) return std::string(text);
  std::string out(text.substr(0, at));
  out += "...";
  return out;
}

}  // namespace base
