// Picture files: the PNG decodes to the picture's pixels, the BMP's row padding, errors.
#include <gtest/gtest.h>
#include <png.h>

#include "test_support.h"
#include "video/picture_file.h"

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
  // A whole frame as a picture (each monitor line on two rows, the 5- and 6-bit channels
  // widened) written as a PNG and as a BMP file is e2e.boot's screenshot, compared pixel
  // for pixel with its reference picture.
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
  // Bottom-up, blue green red (as e2e.boot's BMP screenshot shows): the second stored
  // row, the top one, starts after the padding.
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
