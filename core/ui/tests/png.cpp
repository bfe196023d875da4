#include "core/ui/tests/png.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace ui_testing {

namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Length, type, data, and the CRC of type and data.
void put_chunk(std::vector<std::uint8_t>& out, std::string_view type, std::span<const std::uint8_t> data) {
  put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typed = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  put32(out, crc32(std::span(out).subspan(typed)));
}

// A zlib stream of stored deflate blocks (each at most 65535 bytes).
std::vector<std::uint8_t> zlib_stored(std::span<const std::uint8_t> raw) {
  std::vector<std::uint8_t> out{0x78, 0x01};  // deflate, 32 KiB window; 0x7801 is a multiple of 31
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
    const bool last = at + n == raw.size();
    out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(~n));
    out.push_back(static_cast<std::uint8_t>(~n >> 8));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at), raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  put32(out, adler32(raw));
  return out;
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes) {
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (std::uint8_t v : bytes) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::vector<std::uint8_t> encode_png(const Image& image) {
  // Each row: filter type 0, then R, G, B of each pixel.
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(image.height) * (1 + 3 * static_cast<std::size_t>(image.width)));
  for (std::uint32_t y = 0; y < image.height; ++y) {
    raw.push_back(0);
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint32_t p = image.pixels[static_cast<std::size_t>(y) * image.width + x];
      raw.push_back(static_cast<std::uint8_t>(p >> 16));
      raw.push_back(static_cast<std::uint8_t>(p >> 8));
      raw.push_back(static_cast<std::uint8_t>(p));
    }
  }
  std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  put32(header, image.width);
  put32(header, image.height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // bit depth 8, RGB, deflate, filter 0, no interlace
  put_chunk(out, "IHDR", header);
  put_chunk(out, "IDAT", zlib_stored(raw));
  put_chunk(out, "IEND", {});
  return out;
}

}  // namespace ui_testing
