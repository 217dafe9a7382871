// Screenshot files: checksums against their published check values, the deflate stream
// decoded by an independent inflater, PNG and BMP layout.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "test_support.h"
#include "video/picture_file.h"
#include "video/raster.h"

namespace {

// Inflate for fixed-code blocks (RFC 1951 section 3.2.6), the only kind the encoder writes.
class Inflater {
 public:
  explicit Inflater(const std::vector<uint8_t>& in) : in_(in) {}

  std::vector<uint8_t> run() {
    std::vector<uint8_t> out;
    bool last = false;
    while (!last) {
      last = bits(1);
      int type = bits(2);
      if (type == 1) {
        for (;;) {
          int sym = literal();
          if (sym < 256) {
            out.push_back(static_cast<uint8_t>(sym));
          } else if (sym == 256) {
            break;
          } else {
            static const int lbase[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
            static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
            static const int dbase[] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                        6145, 8193, 12289, 16385, 24577};
            static const int dextra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
            int l = sym - 257;
            if (l > 28) throw std::runtime_error("length code");
            int len = lbase[l] + bits(lextra[l]);
            int d = reversed(5);
            if (d > 29) throw std::runtime_error("distance code");
            size_t dist = static_cast<size_t>(dbase[d] + bits(dextra[d]));
            if (dist > out.size()) throw std::runtime_error("distance too far");
            for (int i = 0; i < len; ++i) out.push_back(out[out.size() - dist]);
          }
        }
      } else {
        throw std::runtime_error("unexpected block type");
      }
    }
    return out;
  }

 private:
  const std::vector<uint8_t>& in_;
  size_t bitpos_ = 0;

  int bits(int n) {
    int v = 0;
    for (int i = 0; i < n; ++i, ++bitpos_) {
      if (bitpos_ / 8 >= in_.size()) throw std::runtime_error("out of data");
      v |= ((in_[bitpos_ / 8] >> (bitpos_ % 8)) & 1) << i;
    }
    return v;
  }
  int reversed(int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | bits(1);
    return v;
  }
  int literal() {
    int code = reversed(7);
    if (code <= 0x17) return 256 + code;
    code = code << 1 | bits(1);
    if (code >= 0x30 && code <= 0xBF) return code - 0x30;
    if (code >= 0xC0 && code <= 0xC7) return 280 + code - 0xC0;
    code = code << 1 | bits(1);
    return 144 + code - 0x190;
  }
};

TEST(PictureTest, ChecksumsMatchTheirCheckValues) {
  const char* check = "123456789";
  EXPECT_EQ(crc32_update(0, reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
  const char* wiki = "Wikipedia";
  EXPECT_EQ(adler32_update(1, reinterpret_cast<const uint8_t*>(wiki), 9), 0x11E60398u);
}

TEST(PictureTest, DeflateRoundTrips) {
  std::vector<std::vector<uint8_t>> inputs;
  inputs.push_back({});
  inputs.push_back({'a'});
  std::vector<uint8_t> runs(100000, 0x42);
  inputs.push_back(runs);
  std::vector<uint8_t> mixed;
  uint32_t s = 12345;
  for (int i = 0; i < 70000; ++i) {
    s = s * 1103515245u + 12345u;
    // Literals of every value, and repeats at short and long distances.
    if (i > 40000 && (s >> 16) % 3 == 0)
      mixed.push_back(mixed[mixed.size() - 1 - (s >> 20) % 33000 % mixed.size()]);
    else
      mixed.push_back(static_cast<uint8_t>(s >> 16));
  }
  inputs.push_back(mixed);
  for (const auto& in : inputs) {
    std::vector<uint8_t> z = deflate_fixed(in.data(), in.size());
    Inflater inf(z);
    EXPECT_EQ(inf.run(), in) << "input of " << in.size() << " bytes";
  }
  EXPECT_LT(deflate_fixed(runs.data(), runs.size()).size(), 1000u) << "runs compress";
}

TEST(PictureTest, PngHoldsThePictureRowsFilteredByTheRowAbove) {
  RgbPicture p;
  p.width = 5;
  p.height = 3;
  for (int i = 0; i < 45; ++i) p.rgb.push_back(static_cast<uint8_t>(i * 7));
  std::vector<uint8_t> png = encode_png(p);
  ASSERT_GT(png.size(), 8u + 25u + 12u + 12u);
  EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
  EXPECT_EQ(std::memcmp(png.data() + 12, "IHDR", 4), 0);
  EXPECT_EQ(png[19], 5);   // width
  EXPECT_EQ(png[23], 3);   // height
  EXPECT_EQ(png[24], 8);   // bit depth
  EXPECT_EQ(png[25], 2);   // RGB
  // IDAT: zlib header, deflate, Adler-32.
  const size_t idat = 8 + 25;
  const uint32_t len = uint32_t(png[idat]) << 24 | png[idat + 1] << 16 | png[idat + 2] << 8 | png[idat + 3];
  EXPECT_EQ(std::memcmp(png.data() + idat + 4, "IDAT", 4), 0);
  std::vector<uint8_t> z(png.begin() + idat + 8, png.begin() + idat + 8 + len);
  EXPECT_EQ((z[0] << 8 | z[1]) % 31, 0) << "zlib header check";
  std::vector<uint8_t> body(z.begin() + 2, z.end() - 4);
  std::vector<uint8_t> raw = Inflater(body).run();
  ASSERT_EQ(raw.size(), 3u * (1 + 15));
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(raw[y * 16], 2) << "filter: up";
    for (int x = 0; x < 15; ++x) {
      uint8_t above = y ? p.rgb[(y - 1) * 15 + x] : 0;
      EXPECT_EQ(static_cast<uint8_t>(raw[y * 16 + 1 + x] + above), p.rgb[y * 15 + x]);
    }
  }
  // Chunk CRCs cover type and data.
  const uint32_t crc = uint32_t(png[idat + 8 + len]) << 24 | png[idat + 9 + len] << 16 |
                       png[idat + 10 + len] << 8 | png[idat + 11 + len];
  EXPECT_EQ(crc, crc32_update(0, png.data() + idat + 4, len + 4));
  EXPECT_EQ(std::memcmp(png.data() + png.size() - 8, "IEND", 4), 0);
}

TEST(PictureTest, FramePictureRepeatsEachMonitorLine) {
  clear_frame_buffer();
  frame_buffer[2 * FRAME_WIDTH * 10 + 5] = 0xF800;  // red on monitor line 10
  RgbPicture p = frame_picture();
  ASSERT_EQ(p.width, 768);
  ASSERT_EQ(p.height, 544);
  for (int row : {20, 21}) {
    const uint8_t* px = &p.rgb[(row * 768 + 5) * 3];
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 0);
    EXPECT_EQ(px[2], 0);
  }
  EXPECT_EQ(p.rgb[(22 * 768 + 5) * 3], 0);
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
  std::ifstream in(dir / "a.BMP", std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
