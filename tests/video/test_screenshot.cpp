// Screenshots: the area of the frame they show, the colour indexing and the BMP file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "test_support.h"
#include "video/picture_file.h"
#include "video/screenshot.h"

namespace {

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }


TEST(Screenshot, AreaIsTheDisplayAreaInFrameRows) {
  EXPECT_EQ(screenshot_area(DisplayBounds{40, 30, 238, 360}), (ScreenRect{80, 60, 640, 402}));
  // Nothing displayed: the whole frame.
  EXPECT_EQ(screenshot_area(DisplayBounds{0, 0, 0, 0}), (ScreenRect{0, 0, 768, 544}));
  // Bounds reaching beyond the frame are clipped to it (the raster engine's reset
  // bounds end at beam x 768, frame x 1536).
  EXPECT_EQ(screenshot_area(DisplayBounds{0, 0, 400, 768}), (ScreenRect{0, 0, 768, 544}));
  const ScreenRect r = screenshot_area(DisplayBounds{300, 250, 600, 500});
  EXPECT_EQ(r.x, 600);
  EXPECT_EQ(r.w, 168);
  EXPECT_EQ(r.y + r.h, 544);
  EXPECT_EQ(r.y % 2, 0);
}

TEST(Screenshot, IndexedPictureRepeatsMonitorLinesAndCollectsColours) {
  std::vector<uint16_t> frame(FRAME_PIXELS, 0xBEEF);  // odd rows: garbage the picture ignores
  for (int y = 0; y < FRAME_HEIGHT; y += 2)
    for (int x = 0; x < FRAME_WIDTH; ++x) frame[y * FRAME_WIDTH + x] = (x / 16 + y / 2) % 3 == 0 ? 0x001F : 0xF800;
  const IndexedPicture pic = indexed_frame_picture(frame.data(), ScreenRect{16, 4, 64, 6});
  ASSERT_EQ(pic.width, 64);
  ASSERT_EQ(pic.height, 6);
  ASSERT_EQ(pic.palette.size(), 2u);
  for (uint32_t c : pic.palette) EXPECT_TRUE(c == 0x0000FF || c == 0xFF0000) << std::hex << c;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint16_t src = frame[((4 + y) & ~1) * FRAME_WIDTH + 16 + x];
      const uint32_t want = src == 0x001F ? 0x0000FF : 0xFF0000;
      ASSERT_EQ(pic.palette[pic.pixels[y * 64 + x]], want) << x << "," << y;
    }
  // An area outside the frame gives an empty picture, which is not written.
  const IndexedPicture none = indexed_frame_picture(frame.data(), ScreenRect{800, 0, 10, 10});
  EXPECT_EQ(none.width, 0);
  std::string error;
  EXPECT_EQ(write_indexed_bmp("/nonexistent-dir/x.bmp", none, error), 1);
  EXPECT_FALSE(error.empty());
}

TEST(Screenshot, MoreThan256ColoursTakeTheNearestEntry) {
  std::vector<uint16_t> frame(FRAME_PIXELS, 0);
  for (int x = 0; x < 300; ++x) frame[x] = static_cast<uint16_t>(x * 97);  // 300 distinct values
  const IndexedPicture pic = indexed_frame_picture(frame.data(), ScreenRect{0, 0, 300, 2});
  ASSERT_EQ(pic.palette.size(), 256u);
  for (int x = 256; x < 300; ++x) {
    uint8_t c[3];
    rgb565_to_rgb(frame[x], c);
    const uint32_t p = pic.palette[pic.pixels[x]];
    // The chosen entry is at least as close as every other.
    auto dist = [&](uint32_t e) {
      long d = 0;
      for (int k = 0; k < 3; ++k) {
        const long diff = static_cast<long>((e >> (16 - 8 * k)) & 255) - c[k];
        d += diff * diff;
      }
      return d;
    };
    for (uint32_t e : pic.palette) ASSERT_LE(dist(p), dist(e));
  }
}

TEST(Screenshot, BmpFileLayout) {
  IndexedPicture pic;
  pic.width = 5;  // rows padded to 8 bytes
  pic.height = 3;
  pic.palette = {0x102030, 0xA0B0C0, 0xFFFFFF};
  pic.pixels = {0, 1, 2, 0, 1,  //
                1, 1, 1, 1, 1,  //
                2, 0, 0, 0, 2};
  const auto dir = testsupport::temp_dir("screenshot");
  const auto path = dir / "shot.bmp";
  std::string error;
  ASSERT_EQ(write_indexed_bmp(path.string(), pic, error), 0) << error;
  const std::vector<uint8_t> b = testsupport::file_bytes(path);
  ASSERT_EQ(b.size(), 14u + 40 + 3 * 4 + 3 * 8);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(u32(b, 2), b.size());
  EXPECT_EQ(u32(b, 10), 14u + 40 + 12);  // pixel data offset
  EXPECT_EQ(u32(b, 14), 40u);
  EXPECT_EQ(u32(b, 18), 5u);
  EXPECT_EQ(u32(b, 22), 3u);
  EXPECT_EQ(u16(b, 26), 1);
  EXPECT_EQ(u16(b, 28), 8);
  EXPECT_EQ(u32(b, 30), 0u);
  EXPECT_EQ(u32(b, 46), 3u);
  // Palette entries blue, green, red, 0.
  EXPECT_EQ(b[54], 0x30);
  EXPECT_EQ(b[55], 0x20);
  EXPECT_EQ(b[56], 0x10);
  EXPECT_EQ(b[57], 0);
  // Bottom row first, each padded with zeros.
  const size_t data = 66;
  const uint8_t want[3][8] = {{2, 0, 0, 0, 2, 0, 0, 0}, {1, 1, 1, 1, 1, 0, 0, 0}, {0, 1, 2, 0, 1, 0, 0, 0}};
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < 8; ++i) ASSERT_EQ(b[data + r * 8 + i], want[r][i]) << r << "," << i;

  // A picture whose pixel count does not match its size is refused.
  pic.pixels.pop_back();
  EXPECT_EQ(write_indexed_bmp(path.string(), pic, error), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
