#include "core/ui/src/icon.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>

namespace icon {
namespace {

constexpr std::size_t kFileHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint32_t kInfoHeaderSize = 40;
// The stored size of a 32-bit image grows with its edge squared and is a 32-bit number, so no
// usable image is this wide; refusing wider ones first keeps the size arithmetic in range.
constexpr std::int64_t kWidestEdge = 32767;

constexpr std::uint32_t kBadgeDisc = 0xFFF0A800;
constexpr std::uint32_t kBadgeRing = 0xFFFFFFFF;
constexpr std::uint32_t kBadgeMark = 0xFF202020;

std::uint16_t u16_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t u32_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
         std::uint32_t{bytes[at + 3]} << 24;
}

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The bytes of one directory entry's image, when its offset and size lie inside the file.
std::optional<std::span<const std::uint8_t>> entry_bytes(std::span<const std::uint8_t> file, std::size_t entry) {
  const std::uint32_t size = u32_at(file, entry + 8);
  const std::uint32_t offset = u32_at(file, entry + 12);
  if (offset > file.size() || size > file.size() - offset) return std::nullopt;
  return file.subspan(offset, size);
}

// The 32-bit image an entry holds, rows turned top-down; nothing for any other kind of image.
std::optional<Image> read_image(std::span<const std::uint8_t> bytes) {
  // A PNG image, a palette image or a damaged header all fail here.
  if (bytes.size() < kInfoHeaderSize) return std::nullopt;
  const auto header_size = u32_at(bytes, 0);
  const auto width = static_cast<std::int32_t>(u32_at(bytes, 4));
  const auto height = static_cast<std::int32_t>(u32_at(bytes, 8));
  const auto bit_count = u16_at(bytes, 14);
  if (header_size != kInfoHeaderSize || bit_count != 32 || width <= 0 || width > kWidestEdge ||
      std::int64_t{height} != 2 * std::int64_t{width})
    return std::nullopt;
  const auto edge = static_cast<std::uint32_t>(width);
  const std::size_t count = std::size_t{edge} * edge;
  if (bytes.size() - kInfoHeaderSize < 4 * count) return std::nullopt;

  Image image{edge, std::vector<std::uint32_t>(count)};
  for (std::uint32_t row = 0; row < edge; ++row) {
    const std::size_t from = kInfoHeaderSize + std::size_t{row} * edge * 4;
    const std::size_t to = std::size_t{edge - 1 - row} * edge;
    for (std::uint32_t x = 0; x < edge; ++x) image.pixels[to + x] = u32_at(bytes, from + std::size_t{x} * 4);
  }
  return image;
}

// The first of the source rows (or columns) that destination row `y` takes in, and one past its
// last: never empty, never beyond the source.
std::pair<std::uint64_t, std::uint64_t> box(std::uint64_t y, std::uint64_t source, std::uint64_t target) {
  const std::uint64_t first = y * source / target;
  const std::uint64_t end = ((y + 1) * source + target - 1) / target;
  return {first, std::min(source, std::max(end, first + 1))};
}

}  // namespace

std::vector<Image> collect_images(std::span<const std::uint8_t> file) {
  std::vector<Image> images;
  if (file.size() < kFileHeaderSize || u16_at(file, 0) != 0 || u16_at(file, 2) != 1) return images;
  const std::size_t count = u16_at(file, 4);
  // A directory cut short by the end of the file keeps only the entries inside it.
  const std::size_t listed = std::min(count, (file.size() - kFileHeaderSize) / kEntrySize);
  for (std::size_t i = 0; i < listed; ++i) {
    const auto bytes = entry_bytes(file, kFileHeaderSize + i * kEntrySize);
    if (!bytes) continue;
    if (auto image = read_image(*bytes)) images.push_back(std::move(*image));
  }
  std::ranges::stable_sort(images, {}, &Image::edge);
  return images;
}

Image choose(const std::vector<Image>& images, std::uint32_t edge) {
  if (images.empty()) return Image{edge, std::vector<std::uint32_t>(std::size_t{edge} * edge, 0)};
  auto chosen = std::ranges::find_if(images, [edge](const Image& image) { return image.edge >= edge; });
  if (chosen == images.end()) chosen = std::ranges::max_element(images, {}, &Image::edge);
  return chosen->edge == edge ? *chosen : resample(*chosen, edge);
}

Image resample(const Image& image, std::uint32_t edge) {
  Image out{edge, std::vector<std::uint32_t>(std::size_t{edge} * edge, 0)};
  const std::uint64_t source = image.edge;
  if (source == 0) return out;
  for (std::uint32_t y = 0; y < edge; ++y) {
    const auto [r0, r1] = box(y, source, edge);
    for (std::uint32_t x = 0; x < edge; ++x) {
      const auto [c0, c1] = box(x, source, edge);
      std::uint64_t n = 0, sum_a = 0, sum_b = 0, sum_g = 0, sum_r = 0;
      for (std::uint64_t r = r0; r < r1; ++r) {
        for (std::uint64_t c = c0; c < c1; ++c) {
          const std::uint32_t pixel = image.pixels[r * source + c];
          const std::uint64_t a = pixel >> 24;
          ++n;
          sum_a += a;
          sum_b += (pixel & 0xFF) * a;
          sum_g += ((pixel >> 8) & 0xFF) * a;
          sum_r += ((pixel >> 16) & 0xFF) * a;
        }
      }
      std::uint64_t result = (sum_a / n) << 24;
      if (sum_a > 0) result |= (sum_r / sum_a) << 16 | (sum_g / sum_a) << 8 | sum_b / sum_a;
      out.pixels[std::size_t{y} * edge + x] = static_cast<std::uint32_t>(result);
    }
  }
  return out;
}

void draw_badge(Image& image) {
  const std::uint32_t edge = image.edge;
  const double e = edge;
  const double r = std::max(0.28 * e, 2.5);
  const double ring = r + std::max(e / 16, 1.0);
  const double c = e - r - 0.5;
  for (std::uint32_t y = 0; y < edge; ++y) {
    for (std::uint32_t x = 0; x < edge; ++x) {
      const double distance = std::hypot(x + 0.5 - c, y + 0.5 - c);
      std::uint32_t& pixel = image.pixels[std::size_t{y} * edge + x];
      if (distance <= r)
        pixel = kBadgeDisc;
      else if (distance <= ring)
        pixel = kBadgeRing;
    }
  }

  // The exclamation mark: a bar and a dot of one stroke width, over the disc's centre column. At
  // tiny edges the disc's centre lies above and left of the image; what falls outside is left out.
  const std::int64_t w = std::max<std::int64_t>(edge / 16, 1);
  const std::int64_t x0 = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(c)) - (w - 1) / 2, 0);
  const auto paint_rows = [&](std::int64_t first, std::int64_t last) {
    for (std::int64_t y = std::max<std::int64_t>(first, 0); y <= last && y < edge; ++y)
      for (std::int64_t x = x0; x < x0 + w && x < edge; ++x)
        image.pixels[static_cast<std::size_t>(y) * edge + static_cast<std::size_t>(x)] = kBadgeMark;
  };
  paint_rows(static_cast<std::int64_t>(std::ceil(c - 0.6 * r)), static_cast<std::int64_t>(std::floor(c + 0.15 * r)));
  const auto dot = static_cast<std::int64_t>(std::floor(c + 0.45 * r));
  paint_rows(dot, dot + w - 1);
}

std::vector<std::uint8_t> icon_resource(const Image& image) {
  const std::uint32_t edge = image.edge;
  const std::size_t stride = (std::size_t{edge} + 31) / 32 * 4;
  std::vector<std::uint8_t> out;
  out.reserve(kInfoHeaderSize + std::size_t{edge} * edge * 4 + stride * edge);

  // The height counts the colour rows and the mask rows.
  put_u32(out, kInfoHeaderSize);
  put_u32(out, edge);
  put_u32(out, 2 * edge);
  put_u16(out, 1);   // planes
  put_u16(out, 32);  // bits a pixel
  for (int field = 0; field < 6; ++field) put_u32(out, 0);  // uncompressed; no size, resolution or palette

  for (std::uint32_t row = edge; row-- > 0;)
    for (std::uint32_t x = 0; x < edge; ++x) put_u32(out, image.at(x, row));

  for (std::uint32_t row = edge; row-- > 0;) {
    const std::size_t start = out.size();
    out.resize(start + stride, 0);
    for (std::uint32_t x = 0; x < edge; ++x)
      if (image.at(x, row) >> 24 == 0) out[start + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  }
  return out;
}

std::vector<std::uint8_t> tray_icon_resource(std::span<const std::uint8_t> file, std::uint32_t edge, bool badge) {
  Image image = choose(collect_images(file), edge);
  if (badge) draw_badge(image);
  return icon_resource(image);
}

}  // namespace icon
