// Screenshot files: the PNG decodes to the picture's pixels, PNG and BMP layout, errors.
#include <gtest/gtest.h>
#include <png.h>

#include <fstream>
#include <iterator>

#include "test_support.h"
#include "video/picture_file.h"
#include "video/raster.h"

namespace {

// The pixels of a PNG file's bytes, decoded as 8-bit RGB.
RgbPicture decode_png(const std::vector<uint8_t>& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  RgbPicture p;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return p;
  image.format = PNG_FORMAT_RGB;
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) p = RgbPicture{};
  png_image_free(&image);
  return p;
}

TEST(PictureTest, PngDecodesToThePicturePixels) {
  RgbPicture p;
  p.width = 5;
  p.height = 3;
  for (int i = 0; i < 45; ++i) p.rgb.push_back(static_cast<uint8_t>(i * 7));
  std::vector<uint8_t> png;
  std::string error;
  ASSERT_TRUE(encode_png(p, png, error)) << error;
  RgbPicture back = decode_png(png);
  EXPECT_EQ(back.width, 5);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.rgb, p.rgb) << "rows from the top, red green blue";

  // A whole frame, written as a file.
  clear_frame_buffer();
  for (int i = 0; i < FRAME_PIXELS; i += 7) frame_buffer[i] = static_cast<uint16_t>(i * 2654435761u);
  RgbPicture frame = frame_picture();
  auto dir = testsupport::temp_dir("picture_png");
  ASSERT_EQ(write_picture((dir / "f.Png").string(), frame, error), 0) << error;
  EXPECT_EQ(decode_png(testsupport::file_bytes(dir / "f.Png")).rgb, frame.rgb);
  std::filesystem::remove_all(dir);
}

TEST(PictureTest, FramePictureRepeatsEachMonitorLine) {
  clear_frame_buffer();
  frame_buffer[2 * FRAME_WIDTH * 10 + 5] = 0xF800;  // red on monitor line 10
  RgbPicture p = frame_picture();
  ASSERT_EQ(p.width, 768);
  ASSERT_EQ(p.height, 544);
  auto pixel = [&](int row) {
    const auto at = p.rgb.begin() + (row * 768 + 5) * 3;
    return std::vector<uint8_t>(at, at + 3);
  };
  EXPECT_EQ(pixel(20), (std::vector<uint8_t>{255, 0, 0}));
  EXPECT_EQ(pixel(21), (std::vector<uint8_t>{255, 0, 0}));
  EXPECT_EQ(pixel(22), (std::vector<uint8_t>{0, 0, 0}));
  uint8_t rgb[3];
  rgb565_to_rgb(0x07E0, rgb);
  EXPECT_EQ(rgb[1], 255);
  rgb565_to_rgb(0x0010, rgb);
  EXPECT_EQ(rgb[2], 132) << "5-bit 16 widens to 132";
}

TEST(PictureTest, BmpAndErrors) {
  auto dir = testsupport::temp_dir("picture");
  RgbPicture p;
  p.width = 3;
  p.height = 2;
  p.rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  std::string error;
  ASSERT_EQ(write_picture((dir / "a.BMP").string(), p, error), 0) << error;
  const std::vector<uint8_t> f = testsupport::file_bytes(dir / "a.BMP");
  ASSERT_EQ(f.size(), 54u + 2 * 12);  // rows padded to 12 bytes
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[28], 24);
  // Bottom-up, blue green red: the first stored pixel is the bottom row's first.
  EXPECT_EQ(f[54], 12);
  EXPECT_EQ(f[55], 11);
  EXPECT_EQ(f[56], 10);
  EXPECT_EQ(f[66], 3);

  EXPECT_EQ(write_picture((dir / "a.gif").string(), p, error), 1);
  EXPECT_NE(error.find(".png or .bmp"), std::string::npos);
  EXPECT_EQ(write_png((dir / "missing" / "a.png").string(), p, error), 1);
  EXPECT_NE(error.find("missing"), std::string::npos);
  RgbPicture empty;
  EXPECT_EQ(write_png((dir / "b.png").string(), empty, error), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
