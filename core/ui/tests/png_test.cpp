// The PNG writer of the screenshots, read back by an independent decoder (Python's zlib).
#include "core/ui/tests/png.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(PngChecksums, MatchTheirPublishedCheckValues) {
  EXPECT_EQ(ui_testing::crc32(bytes_of("123456789")), 0xCBF43926u);
  EXPECT_EQ(ui_testing::crc32(bytes_of("")), 0u);
  EXPECT_EQ(ui_testing::adler32(bytes_of("Wikipedia")), 0x11E60398u);
  EXPECT_EQ(ui_testing::adler32(bytes_of("")), 1u);
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// Sizes around the 65535-byte limit of a stored block: one row is 1 + 3 x width bytes, so 28 x 771
// fills one block exactly and 28 x 772 needs a second.
TEST(PngFile, DecodesToTheSamePixelsInRgbOrder) {
  struct Case {
    std::uint32_t width, height;
  };
  for (Case c : {Case{1, 1}, Case{28, 771}, Case{28, 772}, Case{130, 180}}) {
    ui_testing::Image image{c.width, c.height, {}};
    std::string expected_hex;
    for (std::uint32_t y = 0; y < c.height; ++y)
      for (std::uint32_t x = 0; x < c.width; ++x) {
        const std::uint32_t argb = 0xFF000000u | ((x * 7) & 0xFF) << 16 | ((y * 3) & 0xFF) << 8 | ((x ^ y) & 0xFF);
        image.pixels.push_back(argb);
        char hex[7];
        std::snprintf(hex, sizeof hex, "%06x", argb & 0xFFFFFFu);
        expected_hex += hex;
      }
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("tolvaro_png_" + std::to_string(c.width) + "x" + std::to_string(c.height) + ".png");
    {
      const std::vector<std::uint8_t> png = ui_testing::encode_png(image);
      std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    }
    const std::string decoded = run("python3 " TOLVARO_DECODE_PNG " " + file.string() + " 2>&1");
    std::filesystem::remove(file);
    const std::size_t line = decoded.find('\n');
    EXPECT_EQ(decoded.substr(0, line), std::to_string(c.width) + " " + std::to_string(c.height) + " 8 2 0");
    // Compared whole; a difference is not printed (the text runs to 140 000 characters).
    EXPECT_TRUE(line != std::string::npos && decoded.substr(line + 1) == expected_hex + "\n")
        << "pixels differ at " << c.width << "x" << c.height;
  }
}

}  // namespace
