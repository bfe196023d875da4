#include "dcs/protocol/src/utf8.hpp"

#include <cstddef>

namespace protocol::utf8 {
namespace {

struct Step {
  bool valid;
  std::size_t length;  // bytes of the character, or of the ill-formed part to replace (at least 1)
};

// Reads the character that starts at `at`. Follows the table of well-formed byte sequences of the
// Unicode standard, so an ill-formed part ends at the first byte that cannot continue it.
Step next(std::string_view bytes, std::size_t at) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return {true, 1};
  std::size_t continuations = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
  } else if (lead == 0xE0) {
    continuations = 2;
    low = 0xA0;
  } else if (lead == 0xED) {
    continuations = 2;
    high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    continuations = 2;
  } else if (lead == 0xF0) {
    continuations = 3;
    low = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    continuations = 3;
  } else if (lead == 0xF4) {
    continuations = 3;
    high = 0x8F;
  } else {
    return {false, 1};
  }
  std::size_t length = 1;
  for (std::size_t i = 0; i < continuations; ++i) {
    if (at + length >= bytes.size()) return {false, length};
    const auto byte = static_cast<unsigned char>(bytes[at + length]);
    if (byte < low || byte > high) return {false, length};
    low = 0x80;
    high = 0xBF;
    ++length;
  }
  return {true, length};
}

}  // namespace

bool is_valid(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const Step step = next(bytes, at);
    if (!step.valid) return false;
    at += step.length;
  }
  return true;
}

std::string decode_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const Step step = next(bytes, at);
    if (step.valid)
      out.append(bytes.substr(at, step.length));
    else
      out.append("\xEF\xBF\xBD");
    at += step.length;
  }
  return out;
}

}  // namespace protocol::utf8
