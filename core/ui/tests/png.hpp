#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Screenshots of the UI tests as PNG files. Pure, so that it is tested natively.
namespace ui_testing {

// Pixels as a 32-bit top-down DIB holds them: 0xAARRGGBB per pixel, rows top-down.
struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint32_t> pixels;  // width x height
};

// The image as a PNG file: 8-bit RGB without interlacing (the screen has no alpha), its data in
// stored (uncompressed) deflate blocks.
std::vector<std::uint8_t> encode_png(const Image& image);

// The checksums PNG needs: the CRC-32 of its chunks and the Adler-32 of its zlib stream.
std::uint32_t crc32(std::span<const std::uint8_t> bytes);
std::uint32_t adler32(std::span<const std::uint8_t> bytes);

}  // namespace ui_testing
