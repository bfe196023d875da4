#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The notification-area icon, drawn at the exact edge the system uses for small icons: the program's
// embedded ICO file gives the image nearest in size, an alpha-weighted box filter scales it, an
// attention badge (amber disc, white ring, dark exclamation mark, bottom right) goes on when asked,
// and the result becomes the bytes of an icon resource. Everything here is pure; only
// draw_tray_icon (icon_win32.hpp) hands the bytes to Windows.
namespace icon {

// A square image, rows top-down, each pixel 0xAARRGGBB (bytes B, G, R, A in memory), straight alpha.
struct Image {
  std::uint32_t edge = 0;
  std::vector<std::uint32_t> pixels;  // edge x edge
  std::uint32_t at(std::uint32_t x, std::uint32_t y) const { return pixels[std::size_t{y} * edge + x]; }
  bool operator==(const Image&) const = default;
};

// The program's icon file, built in.
std::span<const std::uint8_t> embedded_icon_file();

// The 32-bit DIB images of an ICO file whose every offset and size lies inside the file, sorted by
// edge (ascending, equal edges in directory order). A damaged or foreign file gives fewer images, or
// none; nothing is ever read outside `file`.
std::vector<Image> collect_images(std::span<const std::uint8_t> file);

// The first image at least `edge` large, else the largest, scaled to `edge`; a transparent image of
// `edge` when there is none.
Image choose(const std::vector<Image>& images, std::uint32_t edge);

// The box filter from the image's edge to `edge`: colours averaged with alpha as weight, alpha a
// plain average, every division truncated.
Image resample(const Image& image, std::uint32_t edge);

// Paints the attention badge over the image's bottom-right corner.
void draw_badge(Image& image);

// An icon resource as CreateIconFromResourceEx takes it: BITMAPINFOHEADER, colour rows bottom-up,
// then the AND mask bottom-up with a bit set exactly where alpha is 0.
std::vector<std::uint8_t> icon_resource(const Image& image);

// The whole pipeline over `file`: choose, scale, badge when asked, resource bytes.
std::vector<std::uint8_t> tray_icon_resource(std::span<const std::uint8_t> file, std::uint32_t edge, bool badge);

}  // namespace icon
