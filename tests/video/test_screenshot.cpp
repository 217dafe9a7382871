// Screenshots: the area of the frame they show, the colour indexing and the BMP file.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "test_support.h"
#include "video/picture_file.h"
#include "video/screenshot.h"

namespace {

TEST(Screenshot, AreaIsTheDisplayAreaInFrameRows) {
  EXPECT_EQ(screenshot_area(DisplayBounds{40, 30, 238, 360}), (ScreenRect{80, 60, 640, 402}));
  // Nothing displayed: the whole frame.
  EXPECT_EQ(screenshot_area(DisplayBounds{0, 0, 0, 0}), (ScreenRect{0, 0, 768, 544}));
  // Bounds reaching beyond the frame are clipped to it (the raster engine's reset
  // bounds end at beam x 768, frame x 1536).
  EXPECT_EQ(screenshot_area(DisplayBounds{0, 0, 400, 768}), (ScreenRect{0, 0, 768, 544}));
  EXPECT_EQ(screenshot_area(DisplayBounds{300, 250, 600, 500}), (ScreenRect{600, 500, 168, 44}));
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
  // Little-endian fields; 72 DPI is 2835 (0x0B13) pixels per metre.
  const std::vector<uint8_t> want = {
      'B', 'M', 90, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,  // file size, pixel data offset
      40, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0,             // info header size, width, height
      1, 0, 8, 0, 0, 0, 0, 0, 24, 0, 0, 0,             // planes, bits, no compression, data size
      0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0,  // resolution, colours
      0x30, 0x20, 0x10, 0, 0xC0, 0xB0, 0xA0, 0, 0xFF, 0xFF, 0xFF, 0,  // blue, green, red, 0
      2, 0, 0, 0, 2, 0, 0, 0,  // bottom row first, each padded with zeros
      1, 1, 1, 1, 1, 0, 0, 0,  //
      0, 1, 2, 0, 1, 0, 0, 0};
  EXPECT_EQ(testsupport::file_bytes(path), want);

  // A picture whose pixel count does not match its size is refused.
  pic.pixels.pop_back();
  EXPECT_EQ(write_indexed_bmp(path.string(), pic, error), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
