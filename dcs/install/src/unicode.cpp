#include "dcs/install/src/unicode.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace machine {
namespace {

struct LowerRun {
  char32_t first;
  char32_t last;
  std::uint8_t stride;
  std::int32_t delta;
};

constexpr LowerRun kLowerRuns[] = {
#include "dcs/install/src/lower_table.inc"
};

}  // namespace

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
  for (std::string_view rest = utf8; !rest.empty();) {
    const base::unicode::Decoded d = base::unicode::decode_first(rest);
    if (d.value == 0x130) {
      out.push_back('i');
      base::unicode::append_utf8(out, 0x307);
    } else {
      base::unicode::append_utf8(out, simple_lower(d.value));
    }
    rest.remove_prefix(d.length);
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
