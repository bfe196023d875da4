#include "core/ui/src/icon.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using icon::Image;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kAmber = 0xFFF0A800;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kDark = 0xFF202020;

Image solid(std::uint32_t edge, std::uint32_t pixel) { return Image{edge, std::vector<std::uint32_t>(edge * edge, pixel)}; }

// Every pixel different, and different from one edge to the next, so that a flipped row, a swapped
// image or a filtered one shows.
Image pattern(std::uint32_t edge) {
  Image image{edge, {}};
  for (std::uint32_t y = 0; y < edge; ++y)
    for (std::uint32_t x = 0; x < edge; ++x) image.pixels.push_back(0xFF000000 | edge << 16 | y << 8 | x);
  return image;
}

void put_u16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_u32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void set_u32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t u32_at(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

// An ICO image entry as icon editors write it: header, colour rows bottom-up, an empty AND mask.
Bytes dib(const Image& image) {
  Bytes out;
  put_u32(out, 40);
  put_u32(out, image.edge);
  put_u32(out, 2 * image.edge);
  put_u16(out, 1);
  put_u16(out, 32);
  for (int i = 0; i < 6; ++i) put_u32(out, 0);
  for (std::uint32_t row = image.edge; row-- > 0;)
    for (std::uint32_t x = 0; x < image.edge; ++x) put_u32(out, image.at(x, row));
  out.resize(out.size() + (image.edge + 31) / 32 * 4 * image.edge, 0);
  return out;
}

// An ICO file of the given entries, in that order.
Bytes ico(const std::vector<Bytes>& entries) {
  Bytes out;
  put_u16(out, 0);
  put_u16(out, 1);
  put_u16(out, static_cast<std::uint16_t>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (const Bytes& entry : entries) {
    out.insert(out.end(), {0, 0, 0, 0});
    put_u16(out, 1);
    put_u16(out, 32);
    put_u32(out, static_cast<std::uint32_t>(entry.size()));
    put_u32(out, offset);
    offset += static_cast<std::uint32_t>(entry.size());
  }
  for (const Bytes& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
  return out;
}

std::vector<std::uint32_t> edges_of(const std::vector<Image>& images) {
  std::vector<std::uint32_t> edges;
  for (const Image& image : images) edges.push_back(image.edge);
  return edges;
}

const Bytes kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                    0, 0, 1, 0, 0, 0, 1, 0, 8, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

TEST(CollectImages, ReadsTheDibEntriesTopDownSortedByEdgeEqualEdgesInFileOrder) {
  Image first32 = pattern(32);
  Image second32 = solid(32, 0x80102030);
  const Bytes file = ico({dib(first32), dib(pattern(16)), kPng, dib(second32), dib(pattern(20))});
  const std::vector<Image> images = icon::collect_images(file);
  ASSERT_EQ(edges_of(images), (std::vector<std::uint32_t>{16, 20, 32, 32}));
  EXPECT_EQ(images[0], pattern(16));
  EXPECT_EQ(images[1], pattern(20));
  EXPECT_EQ(images[2], first32);
  EXPECT_EQ(images[3], second32);
}

TEST(CollectImages, TheBuiltInFileHoldsTheEightSizesAndAPngAndItsMasksMatchItsAlpha) {
  const auto span = icon::embedded_icon_file();
  const Bytes file(span.begin(), span.end());
  EXPECT_EQ(edges_of(icon::collect_images(file)), (std::vector<std::uint32_t>{16, 20, 24, 28, 32, 40, 48, 64}));
  ASSERT_GE(file.size(), 6u + 9 * 16);
  EXPECT_EQ(file[4] | file[5] << 8, 9);
  const std::uint32_t expected_edges[] = {16, 20, 24, 28, 32, 40, 48, 64, 256};
  for (std::size_t i = 0; i < 9; ++i) {
    const std::size_t entry = 6 + 16 * i;
    const std::uint32_t edge = expected_edges[i];
    EXPECT_EQ(file[entry], edge % 256) << i;
    const std::uint32_t size = u32_at(file, entry + 8);
    const std::uint32_t offset = u32_at(file, entry + 12);
    ASSERT_LE(std::uint64_t{offset} + size, file.size()) << i;
    if (edge == 256) {
      EXPECT_TRUE(std::equal(kPng.begin(), kPng.begin() + 8, file.begin() + offset));
      continue;
    }
    // The mask, which the system uses where it ignores alpha, covers exactly the clear pixels.
    const std::uint32_t stride = (edge + 31) / 32 * 4;
    ASSERT_EQ(size, 40 + 4 * edge * edge + stride * edge) << edge;
    std::size_t opaque = 0;
    for (std::uint32_t row = 0; row < edge; ++row) {
      for (std::uint32_t x = 0; x < edge; ++x) {
        const std::uint32_t pixel = u32_at(file, offset + 40 + (row * edge + x) * 4);
        const bool bit = file[offset + 40 + 4 * edge * edge + row * stride + x / 8] & (0x80 >> (x % 8));
        const std::uint32_t alpha = pixel >> 24;
        EXPECT_EQ(bit, alpha == 0) << edge << " at " << x << "," << row;
        // Where the system draws with the mask alone, a clear pixel's colour is XOR-ed onto the screen.
        if (alpha == 0) {
          EXPECT_EQ(pixel, 0u) << edge << " at " << x << "," << row;
        }
        opaque += alpha == 255;
      }
    }
    // A mark that fills most of its square, not an empty image.
    EXPECT_GT(opaque, edge * edge * 3 / 4) << edge;
  }
}

// A file with a 16 and a 32 pixel image; the cases below damage one thing in it.
struct Damage {
  std::string what;
  std::function<void(Bytes&)> change;
  std::vector<std::uint32_t> edges;
};

constexpr std::size_t kEntry0 = 6, kEntry1 = 22;
constexpr std::size_t kImage0 = 38;                 // 40 + 4*16*16 + 4*16 = 1128 bytes
constexpr std::size_t kImage1 = kImage0 + 1128;     // 40 + 4*32*32 + 4*32 = 4264 bytes
constexpr std::size_t kFileSize = kImage1 + 4264;

TEST(CollectImages, DamagedFilesGiveTheIntactImagesOnly) {
  const Bytes good = ico({dib(pattern(16)), dib(pattern(32))});
  ASSERT_EQ(good.size(), kFileSize);
  const std::vector<Damage> cases = {
      {"intact", [](Bytes&) {}, {16, 32}},
      {"empty", [](Bytes& f) { f.clear(); }, {}},
      {"header cut short", [](Bytes& f) { f.resize(5); }, {}},
      {"reserved field set", [](Bytes& f) { f[0] = 1; }, {}},
      {"a cursor file", [](Bytes& f) { f[2] = 2; }, {}},
      {"no entries", [](Bytes& f) { f[4] = 0; }, {}},
      {"directory cut inside the first entry", [](Bytes& f) { f.resize(kEntry0 + 15); }, {}},
      {"directory cut inside the second entry", [](Bytes& f) { f.resize(kEntry1 + 8); }, {}},
      {"more entries counted than written", [](Bytes& f) { f[4] = 0xFF; f[5] = 0xFF; }, {16, 32}},
      {"last image one byte short", [](Bytes& f) { f.pop_back(); }, {16}},
      {"file ends inside the first image", [](Bytes& f) { f.resize(kImage0 + 600); }, {}},
      {"offset past the end", [](Bytes& f) { set_u32(f, kEntry0 + 12, kFileSize + 1); }, {32}},
      {"offset and size wrap around", [](Bytes& f) { set_u32(f, kEntry1 + 12, 0xFFFFFFF0); }, {16}},
      {"size wraps the offset around", [](Bytes& f) { set_u32(f, kEntry1 + 8, 0xFFFFFFFF); }, {16}},
      {"size below 16", [](Bytes& f) { set_u32(f, kEntry0 + 8, 15); }, {32}},
      {"size too small for the header", [](Bytes& f) { set_u32(f, kEntry0 + 8, 39); }, {32}},
      {"size one byte short of the pixels", [](Bytes& f) { set_u32(f, kEntry0 + 8, 40 + 1024 - 1); }, {32}},
      {"size holds the pixels but no mask", [](Bytes& f) { set_u32(f, kEntry0 + 8, 40 + 1024); }, {16, 32}},
      {"other header size", [](Bytes& f) { f[kImage0] = 124; }, {32}},
      {"24 bits a pixel", [](Bytes& f) { f[kImage0 + 14] = 24; }, {32}},
      {"zero width", [](Bytes& f) { set_u32(f, kImage0 + 4, 0); set_u32(f, kImage0 + 8, 0); }, {32}},
      {"negative width",
       [](Bytes& f) { set_u32(f, kImage0 + 4, 0xFFFFFFF0); set_u32(f, kImage0 + 8, 0xFFFFFFE0); }, {32}},
      {"height not twice the width", [](Bytes& f) { set_u32(f, kImage0 + 8, 16); }, {32}},
      {"twice the largest width wraps to -2",
       [](Bytes& f) { set_u32(f, kImage1 + 4, 0x7FFFFFFF); set_u32(f, kImage1 + 8, 0xFFFFFFFE); }, {16}},
      {"a width whose pixel size wraps to 0 in 32 bits",
       [](Bytes& f) { set_u32(f, kImage1 + 4, 0x8000); set_u32(f, kImage1 + 8, 0x10000); }, {16}},
      {"a width larger than the file",
       [](Bytes& f) { set_u32(f, kImage1 + 4, 0x7FFF); set_u32(f, kImage1 + 8, 0xFFFE); }, {16}},
  };
  for (const Damage& c : cases) {
    Bytes file = good;
    c.change(file);
    EXPECT_EQ(edges_of(icon::collect_images(file)), c.edges) << c.what;
  }
}

// Each source image one colour of its own, so the result tells which was used.
std::uint32_t colour_of(std::uint32_t edge) { return 0xFF000000 | edge << 8 | (edge ^ 0x5A); }

std::vector<Image> sources(std::initializer_list<std::uint32_t> edges) {
  std::vector<Image> images;
  for (std::uint32_t edge : edges) images.push_back(solid(edge, colour_of(edge)));
  return images;
}

TEST(Choose, TheFirstLargeEnoughElseTheLargestScaledToTheEdge) {
  const std::vector<Image> images = sources({16, 20, 24, 28, 32, 40, 48, 64});
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {16, 16}, {20, 20}, {24, 24}, {28, 28}, {32, 32}, {40, 40}, {48, 48}, {64, 64},
      {8, 16},  {17, 20}, {36, 40}, {63, 64}, {65, 64}, {96, 64}, {256, 64},
  };
  for (auto [edge, source] : cases) EXPECT_EQ(icon::choose(images, edge), solid(edge, colour_of(source))) << edge;
}

// The pattern with every other pixel clear but still coloured: the box filter, even from an edge to
// the same edge, turns such a pixel into 0, so an image that went through it shows.
Image clear_checks(std::uint32_t edge) {
  Image image = pattern(edge);
  for (std::uint32_t y = 0; y < edge; ++y)
    for (std::uint32_t x = (y % 2); x < edge; x += 2) image.pixels[std::size_t{y} * edge + x] &= 0x00FFFFFF;
  return image;
}

TEST(Choose, AnImageOfTheEdgeIsUsedAsItIs) {
  const std::initializer_list<std::uint32_t> edges = {16, 20, 24, 28, 32, 40, 48, 64};
  for (std::uint32_t edge : edges) {
    const Image own = clear_checks(edge);
    ASSERT_NE(icon::resample(own, edge), own) << "the fixture tells a filtered image from the original";
    std::vector<Image> images = sources(edges);
    images[static_cast<std::size_t>(std::ranges::find(edges, edge) - edges.begin())] = own;
    EXPECT_EQ(icon::choose(images, edge), own) << edge;
  }
}

TEST(Choose, OfEqualEdgesTheFirstWins) {
  std::vector<Image> images = {solid(32, 0xFF000001), solid(32, 0xFF000002)};
  EXPECT_EQ(icon::choose(images, 24).at(0, 0), 0xFF000001u);  // large enough
  EXPECT_EQ(icon::choose(images, 48).at(0, 0), 0xFF000001u);  // the largest
}

TEST(Choose, NoImagesGiveATransparentImageOfTheEdge) {
  EXPECT_EQ(icon::choose({}, 20), solid(20, 0));
}

TEST(Resample, AlphaWeightsTheColoursAndIsAveragedItself) {
  struct Case {
    std::string what;
    std::vector<std::uint32_t> source;  // 2 x 2
    std::uint32_t result;               // 1 x 1
  };
  const Case cases[] = {
      // alpha (255 + 51 + 0 + 102) / 4 = 102; red (200*255 + 100*102) / 408 = 150; green
      // (100*255 + 50*102) / 408 = 75; blue (255*51 + 16*102) / 408 = 35.9 -> 35
      {"weighted", {0xFFC86400, 0x330000FF, 0x00FFFFFF, 0x66643210}, 0x66964B23},
      {"all clear, whatever their colour", {0x00FFFFFF, 0x00123456, 0x00000000, 0x00ABCDEF}, 0x00000000},
      // alpha 1/4 truncates to 0, but the one weighted colour is kept
      {"nearly clear", {0x01FF8040, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF}, 0x00FF8040},
      {"opaque colours truncate", {0xFF000000, 0xFF000001, 0xFF000001, 0xFF000001}, 0xFF000000},
      {"alpha truncates", {0xFF102030, 0x00000000, 0x00000000, 0x00000000}, 0x3F102030},  // 255/4 = 63.75
  };
  for (const Case& c : cases) {
    const Image result = icon::resample(Image{2, c.source}, 1);
    EXPECT_EQ(result, (Image{1, {c.result}})) << c.what;
  }
}

// An opaque image whose red byte is the value of its column, or of its row.
Image stripes(const std::vector<std::uint32_t>& reds, bool by_row) {
  const auto edge = static_cast<std::uint32_t>(reds.size());
  Image image{edge, {}};
  for (std::uint32_t y = 0; y < edge; ++y)
    for (std::uint32_t x = 0; x < edge; ++x) image.pixels.push_back(0xFF000000 | reds[by_row ? y : x] << 16);
  return image;
}

// The red bytes along the first row, or down the first column.
std::vector<std::uint32_t> reds_of(const Image& image, bool by_row) {
  std::vector<std::uint32_t> reds;
  for (std::uint32_t i = 0; i < image.edge; ++i) reds.push_back((by_row ? image.at(0, i) : image.at(i, 0)) >> 16 & 0xFF);
  return reds;
}

TEST(Resample, BoxesOverlapWhereTheEdgesDoNotDivide) {
  struct Case {
    std::vector<std::uint32_t> source;
    std::uint32_t edge;
    std::vector<std::uint32_t> result;
  };
  const Case cases[] = {
      {{0, 30, 90}, 2, {15, 60}},               // columns 0-1 and 1-2
      {{10, 40}, 3, {10, 25, 40}},              // enlarging: one, two, one source columns
      {{10, 20, 30, 40}, 2, {15, 35}},          // halving
      {{10, 20, 30, 40, 50}, 3, {15, 30, 45}},  // 0-1, 1-3, 3-4
      {{77}, 4, {77, 77, 77, 77}},
  };
  for (const Case& c : cases) {
    for (bool by_row : {false, true}) {
      const Image result = icon::resample(stripes(c.source, by_row), c.edge);
      ASSERT_EQ(result.edge, c.edge);
      EXPECT_EQ(reds_of(result, by_row), c.result) << c.source.size() << " to " << c.edge << (by_row ? " rows" : "");
    }
  }
}

TEST(Resample, FourTimesLargerMakesEachPixelABlock) {
  const Image source = pattern(64);
  const Image large = icon::resample(source, 256);
  const std::pair<std::uint32_t, std::uint32_t> places[] = {{0, 0}, {1, 0}, {63, 0}, {5, 17}, {63, 63}};
  for (auto [x, y] : places)
    for (std::uint32_t dy = 0; dy < 4; ++dy)
      for (std::uint32_t dx = 0; dx < 4; ++dx) EXPECT_EQ(large.at(4 * x + dx, 4 * y + dy), source.at(x, y));
}

struct Spot {
  std::uint32_t x, y, colour;
};

TEST(Badge, DiscRingAndMarkAt16And32) {
  constexpr std::uint32_t kOut = 0x12345678;  // the image's own pixel
  const std::pair<std::uint32_t, std::vector<Spot>> cases[] = {
      {16,
       {
           {9, 11, kAmber},  {13, 13, kAmber},
           {11, 8, kAmber},  {11, 9, kDark},  {11, 10, kDark},  {11, 11, kDark},   // bar, rows 9-11
           {10, 10, kAmber}, {12, 10, kAmber},                                    // one column
           {11, 12, kAmber}, {11, 13, kDark},  {11, 14, kAmber},                  // dot, row 13
           {15, 11, kWhite},                                                      // 4.506 from the centre
           {11, 6, kWhite},  {6, 11, kWhite},  {14, 14, kWhite}, {11, 15, kWhite},
           {11, 5, kOut},    {5, 11, kOut},    {15, 15, kOut},   {0, 0, kOut},    // beyond 5.48
       }},
      {32,
       {
           {21, 20, kAmber}, {24, 20, kAmber}, {22, 17, kAmber}, {23, 17, kAmber},
           {22, 18, kDark},  {23, 18, kDark},  {22, 23, kDark},  {23, 23, kDark},  // bar, rows 18-23
           {22, 24, kAmber}, {23, 25, kAmber},
           {22, 26, kDark},  {23, 26, kDark},  {22, 27, kDark},  {23, 27, kDark},  // dot, rows 26-27
           {22, 28, kAmber},
           {31, 22, kWhite},                                                      // 8.9601 from the centre
           {22, 12, kWhite}, {12, 22, kWhite},                                    // 10.04
           {22, 11, kOut},   {11, 22, kOut},   {31, 31, kOut},   {30, 30, kOut},  {0, 0, kOut},
       }},
  };
  for (const auto& [edge, spots] : cases) {
    Image image = solid(edge, kOut);
    icon::draw_badge(image);
    for (const Spot& s : spots) EXPECT_EQ(image.at(s.x, s.y), s.colour) << edge << " at " << s.x << "," << s.y;
  }
}

TEST(Badge, EveryPixelOfDiscRingAndMarkAt16And32) {
  constexpr std::uint32_t kOut = 0x12345678;  // the image's own pixel
  struct Case {
    std::uint32_t edge;
    double centre, disc, ring;             // radii of the disc and of the ring's outside
    std::vector<std::uint32_t> columns;    // the mark's stroke
    std::vector<std::uint32_t> mark_rows;  // the bar's rows, then the dot's
  };
  const Case cases[] = {
      {16, 11.02, 4.48, 5.48, {11}, {9, 10, 11, 13}},
      {32, 22.54, 8.96, 10.96, {22, 23}, {18, 19, 20, 21, 22, 23, 26, 27}},
  };
  for (const Case& c : cases) {
    Image image = solid(c.edge, kOut);
    icon::draw_badge(image);
    std::size_t disc = 0, mark = 0;
    for (std::uint32_t y = 0; y < c.edge; ++y) {
      for (std::uint32_t x = 0; x < c.edge; ++x) {
        const double dx = x + 0.5 - c.centre, dy = y + 0.5 - c.centre;
        const double distance_squared = dx * dx + dy * dy;
        std::uint32_t expected = kOut;
        const auto has = [](const std::vector<std::uint32_t>& list, std::uint32_t v) {
          return std::ranges::find(list, v) != list.end();
        };
        if (has(c.columns, x) && has(c.mark_rows, y)) {
          expected = kDark;
          ++mark;
        } else if (distance_squared <= c.disc * c.disc) {
          expected = kAmber;
          ++disc;
        } else if (distance_squared <= c.ring * c.ring) {
          expected = kWhite;
        }
        EXPECT_EQ(image.at(x, y), expected) << c.edge << " at " << x << "," << y;
      }
    }
    // The mark lies inside the disc, which is mostly amber.
    EXPECT_EQ(mark, c.columns.size() * c.mark_rows.size()) << c.edge;
    EXPECT_GT(disc, 3 * mark) << c.edge;
  }
}

TEST(Badge, AtTinyEdgesWhatFallsAboveOrLeftOfTheImageIsLeftOut) {
  // The disc keeps its 2.5-pixel radius, so its centre moves up and left of the image: at 2 pixels
  // to (-1, -1), the bar above row 0 and only the dot's row 0 inside; at 1 pixel to (-2, -2).
  Image two = solid(2, 0);
  icon::draw_badge(two);
  EXPECT_EQ(two, (Image{2, {kDark, kWhite, kWhite, 0}}));
  Image one = solid(1, 0);
  icon::draw_badge(one);
  EXPECT_EQ(one, solid(1, 0));
}

TEST(IconResource, HeaderThenColourRowsBottomUpThenTheMask) {
  Image image{3, {0xFF000102, 0x00030405, 0x80060708,   // top row
                  0x01090A0B, 0x000C0D0E, 0xFF0F1011,
                  0xFE121314, 0xFF151617, 0x00000000}};  // bottom row
  const Bytes bytes = icon::icon_resource(image);
  const Bytes expected = {
      40, 0, 0, 0, 3, 0, 0, 0, 6, 0, 0, 0, 1, 0, 32, 0,  // size, width, height, planes, bits
      0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  // compression, image size, resolution
      0,  0, 0, 0, 0, 0, 0, 0,                           // colours used and important
      0x14, 0x13, 0x12, 0xFE, 0x17, 0x16, 0x15, 0xFF, 0x00, 0x00, 0x00, 0x00,  // bottom row first
      0x0B, 0x0A, 0x09, 0x01, 0x0E, 0x0D, 0x0C, 0x00, 0x11, 0x10, 0x0F, 0xFF,
      0x02, 0x01, 0x00, 0xFF, 0x05, 0x04, 0x03, 0x00, 0x08, 0x07, 0x06, 0x80,
      0x20, 0, 0, 0,  // bottom row: only the third pixel is clear
      0x40, 0, 0, 0,  // alpha 1 is not clear
      0x40, 0, 0, 0,
  };
  EXPECT_EQ(bytes, expected);
}

TEST(IconResource, SizeOfHeaderPixelsAndMask) {
  const std::pair<std::uint32_t, std::size_t> cases[] = {
      {16, 40 + 1024 + 64},   {20, 40 + 1600 + 80},     {32, 40 + 4096 + 128},
      {33, 40 + 4356 + 264},  {64, 40 + 16384 + 512},   {256, 40 + 262144 + 8192},
  };
  for (auto [edge, size] : cases) EXPECT_EQ(icon::icon_resource(solid(edge, kAmber)).size(), size) << edge;
}

TEST(IconResource, MaskBitsAreSetExactlyWhereAlphaIsZeroAcrossBytes) {
  Image image = solid(40, 0x80FFFFFF);
  image.pixels[1] = 0x01000000;  // nearly clear: no bit
  for (auto [x, y] : {std::pair{0, 0}, {7, 0}, {8, 1}, {33, 39}, {39, 20}}) image.pixels[y * 40 + x] = 0x00FFFFFF;
  const Bytes bytes = icon::icon_resource(image);
  const std::size_t mask = 40 + 4 * 40 * 40;
  Bytes expected(8 * 40, 0);  // rows of 8 bytes, the image's last row first
  expected[39 * 8 + 0] = 0x81;  // (0, 0) and (7, 0)
  expected[38 * 8 + 1] = 0x80;  // (8, 1)
  expected[0 * 8 + 4] = 0x40;   // (33, 39)
  expected[19 * 8 + 4] = 0x01;  // (39, 20)
  EXPECT_EQ(Bytes(bytes.begin() + mask, bytes.end()), expected);
}

TEST(TrayIconResource, ABadgedIconFromAFileWithoutImagesIsClearButForTheBadge) {
  for (const Bytes& file : {Bytes{}, ico({kPng})}) {
    const Bytes bytes = icon::tray_icon_resource(file, 16, true);
    ASSERT_EQ(bytes.size(), 1128u);
    const std::size_t bottom_row = 40;  // image row 15
    EXPECT_EQ(u32_at(bytes, bottom_row), 0u);                // (0, 15)
    EXPECT_EQ(u32_at(bytes, bottom_row + 4 * 11), kWhite);   // (11, 15)
    EXPECT_EQ(u32_at(bytes, 40 + 4 * 16 * 2 + 4 * 11), kDark);  // (11, 13)
    EXPECT_EQ(bytes[40 + 1024 + 4 * 15], 0xFF);  // the mask's top row: all clear
    EXPECT_EQ(bytes[40 + 1024], 0xFF);           // the bottom row: clear left of the ring
    EXPECT_EQ(bytes[40 + 1024 + 1], 0x03);  // the ring covers columns 8 to 13
    EXPECT_EQ(icon::tray_icon_resource(file, 16, false), icon::icon_resource(solid(16, 0)));
  }
}

TEST(TrayIconResource, TheFilesImageScaledAndBadged) {
  const Bytes file = ico({dib(solid(40, 0xFF3366CC)), dib(pattern(16))});
  Image expected = solid(36, 0xFF3366CC);
  EXPECT_EQ(icon::tray_icon_resource(file, 36, false), icon::icon_resource(expected));
  icon::draw_badge(expected);
  EXPECT_EQ(icon::tray_icon_resource(file, 36, true), icon::icon_resource(expected));
}

}  // namespace
