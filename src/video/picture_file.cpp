#include "video/picture_file.h"

#include <png.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "video/raster.h"

// ---- Pictures -------------------------------------------------------------------------------

void rgb565_to_rgb(uint16_t p, uint8_t* out) {
  const int r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
  out[0] = static_cast<uint8_t>(r << 3 | r >> 2);
  out[1] = static_cast<uint8_t>(g << 2 | g >> 4);
  out[2] = static_cast<uint8_t>(b << 3 | b >> 2);
}

RgbPicture frame_picture() {
  RgbPicture pic;
  pic.width = FRAME_WIDTH;
  pic.height = FRAME_HEIGHT;
  pic.rgb.resize(static_cast<size_t>(FRAME_WIDTH) * FRAME_HEIGHT * 3);
  for (int y = 0; y < FRAME_HEIGHT; ++y) {
    const uint16_t* row = frame_buffer + static_cast<size_t>(y & ~1) * FRAME_WIDTH;
    uint8_t* out = pic.rgb.data() + static_cast<size_t>(y) * FRAME_WIDTH * 3;
    for (int x = 0; x < FRAME_WIDTH; ++x) rgb565_to_rgb(row[x], out + 3 * x);
  }
  return pic;
}

namespace {

int write_file(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    error = path + ": " + std::strerror(errno ? errno : EIO);
    return 1;
  }
  return 0;
}

bool valid(const RgbPicture& p, std::string& error) {
  if (p.width <= 0 || p.height <= 0 ||
      p.rgb.size() != static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3) {
    error = "picture has no pixels";
    return false;
  }
  return true;
}

bool ends_with(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
  return true;
}

}  // namespace

bool encode_png(const RgbPicture& p, std::vector<uint8_t>& file, std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(p.width);
  image.height = static_cast<png_uint_32>(p.height);
  image.format = PNG_FORMAT_RGB;
  const png_int_32 stride = static_cast<png_int_32>(p.width) * 3;
  // First the size, then the bytes.
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, p.rgb.data(), stride, nullptr)) {
    file.resize(size);
    if (png_image_write_to_memory(&image, file.data(), &size, 0, p.rgb.data(), stride, nullptr)) {
      file.resize(size);
      return true;
    }
  }
  error = std::string("PNG encoding failed: ") + image.message;
  png_image_free(&image);
  return false;
}

int write_png(const std::string& path, const RgbPicture& p, std::string& error) {
  if (!valid(p, error)) return 1;
  std::vector<uint8_t> file;
  if (!encode_png(p, file, error)) return 1;
  return write_file(path, file, error);
}

int write_bmp(const std::string& path, const RgbPicture& p, std::string& error) {
  if (!valid(p, error)) return 1;
  const uint32_t stride = (static_cast<uint32_t>(p.width) * 3 + 3) & ~3u;
  const uint32_t data_size = stride * static_cast<uint32_t>(p.height);
  std::vector<uint8_t> f(54 + data_size, 0);
  auto put16 = [&](size_t at, uint32_t x) {
    f[at] = static_cast<uint8_t>(x);
    f[at + 1] = static_cast<uint8_t>(x >> 8);
  };
  auto put32 = [&](size_t at, uint32_t x) {
    put16(at, x & 0xFFFF);
    put16(at + 2, x >> 16);
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(p.width));
  put32(22, static_cast<uint32_t>(p.height));
  put16(26, 1);
  put16(28, 24);
  put32(34, data_size);
  put32(38, 2835);
  put32(42, 2835);
  for (int y = 0; y < p.height; ++y) {
    // Rows bottom-up, pixels as blue, green, red.
    const uint8_t* src = p.rgb.data() + static_cast<size_t>(p.height - 1 - y) * p.width * 3;
    uint8_t* dst = f.data() + 54 + static_cast<size_t>(y) * stride;
    for (int x = 0; x < p.width; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  return write_file(path, f, error);
}

int write_picture(const std::string& path, const RgbPicture& p, std::string& error) {
  if (ends_with(path, ".png")) return write_png(path, p, error);
  if (ends_with(path, ".bmp")) return write_bmp(path, p, error);
  error = path + ": the picture's name must end in .png or .bmp";
  return 1;
}
