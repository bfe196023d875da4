// The tray icon through the real system (Wine): the handle it makes holds the pipeline's pixels.
#include "core/ui/src/icon_win32.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/ui/src/icon.hpp"

namespace {

// The screen's device context, borrowed with GetDC and given back with ReleaseDC (not deleted).
struct BorrowedScreenDc {
  using Value = HDC;
  static HDC invalid() noexcept { return nullptr; }
  static bool valid(HDC dc) noexcept { return dc != nullptr; }
  static void close(HDC dc) noexcept { ReleaseDC(nullptr, dc); }
};
using ScreenDc = win32::Owned<BorrowedScreenDc>;

// A bitmap's rows, top-down, at `bits` bits a pixel; empty when the system cannot give them.
std::vector<std::uint8_t> rows_of(HGDIOBJ bitmap, std::uint32_t edge, int bits) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD palette[2];  // a 1-bit bitmap's two colours
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = static_cast<LONG>(edge);
  info.header.biHeight = -static_cast<LONG>(edge);
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biCompression = BI_RGB;
  const std::size_t stride = (edge * bits + 31) / 32 * 4;
  std::vector<std::uint8_t> rows(stride * edge);
  const ScreenDc screen(GetDC(nullptr));
  const int lines = GetDIBits(screen.get(), static_cast<HBITMAP>(bitmap), 0, edge, rows.data(),
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  if (lines != static_cast<int>(edge)) rows.clear();
  return rows;
}

TEST(DrawTrayIcon, TheIconHoldsThePipelinesPixelsAndMask) {
  for (std::uint32_t edge : {16u, 32u}) {
    for (bool badge : {false, true}) {
      SCOPED_TRACE(testing::Message() << "edge " << edge << (badge ? " with the badge" : ""));
      const auto icon = icon::draw_tray_icon(edge, badge);
      ASSERT_TRUE(icon.has_value()) << icon.error().text;
      ASSERT_TRUE(icon->valid());
      ICONINFO info{};
      ASSERT_TRUE(GetIconInfo(icon->get(), &info));
      // The colour and mask bitmaps are the caller's to delete.
      const win32::GdiObject colour_bitmap(info.hbmColor);
      const win32::GdiObject mask_bitmap(info.hbmMask);
      EXPECT_TRUE(info.fIcon);
      BITMAP colour{};
      ASSERT_NE(GetObjectW(colour_bitmap.get(), sizeof colour, &colour), 0);
      EXPECT_EQ(colour.bmWidth, static_cast<LONG>(edge));
      EXPECT_EQ(colour.bmHeight, static_cast<LONG>(edge));

      icon::Image expected = icon::choose(icon::collect_images(icon::embedded_icon_file()), edge);
      if (badge) icon::draw_badge(expected);
      // The system keeps the colours as given, straight alpha and all, so they compare exactly.
      const std::vector<std::uint8_t> pixels = rows_of(colour_bitmap.get(), edge, 32);
      ASSERT_EQ(pixels.size(), 4 * edge * edge);
      const std::vector<std::uint8_t> mask = rows_of(mask_bitmap.get(), edge, 1);
      ASSERT_FALSE(mask.empty());
      const std::size_t mask_stride = (edge + 31) / 32 * 4;
      std::size_t differ = 0, clear = 0;
      for (std::uint32_t y = 0; y < edge; ++y) {
        for (std::uint32_t x = 0; x < edge; ++x) {
          const std::size_t at = 4 * (std::size_t{y} * edge + x);
          const std::uint32_t got = pixels[at] | pixels[at + 1] << 8 | pixels[at + 2] << 16 |
                                    std::uint32_t{pixels[at + 3]} << 24;
          differ += got != expected.at(x, y);
          const bool masked = mask[y * mask_stride + x / 8] & (0x80 >> (x % 8));
          EXPECT_EQ(masked, expected.at(x, y) >> 24 == 0) << x << "," << y;
          clear += masked;
        }
      }
      EXPECT_EQ(differ, 0u);
      EXPECT_GT(clear, 0u);  // the image's rounded corners are clear
      if (badge) {
        // The mark's dot at 16 pixels is row 13 of column 11; at 32, rows 26-27 of columns 22-23.
        const std::size_t dot = edge == 16 ? 4 * (13 * 16 + 11) : 4 * (26 * 32 + 22);
        EXPECT_EQ(pixels[dot + 3], 0xFF);
        EXPECT_EQ(pixels[dot + 2], 0x20);
      }
    }
  }
}

}  // namespace
