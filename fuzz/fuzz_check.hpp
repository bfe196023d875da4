#pragma once

// What the fuzz targets share: a property check that stays in release builds (unlike assert) and
// ends the run so that libFuzzer keeps the input, and the splitting of one input into parts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition) \
  ((condition) ? void() : ::fuzz::property_broken(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void property_broken(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::abort();
}

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The text cut at every `separator`: n separators give n + 1 parts.
template <typename Char>
std::vector<std::basic_string_view<Char>> split(std::basic_string_view<Char> text, Char separator) {
  std::vector<std::basic_string_view<Char>> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::basic_string_view<Char>::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace fuzz
