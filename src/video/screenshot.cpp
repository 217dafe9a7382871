#include "video/screenshot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "video/picture_file.h"

ScreenRect screenshot_area(const DisplayBounds& bounds) {
  ScreenRect r = source_rect(true, bounds, true, 0);
  // Clip to the frame; an area that does not meet it falls back to the whole frame.
  int x1 = r.x < 0 ? 0 : r.x, y1 = r.y < 0 ? 0 : r.y;
  int x2 = r.x + r.w > FRAME_WIDTH ? FRAME_WIDTH : r.x + r.w;
  int y2 = r.y + r.h > FRAME_HEIGHT ? FRAME_HEIGHT : r.y + r.h;
  // Whole monitor lines only: start on an even row, end after an odd one.
  y1 &= ~1;
  y2 = (y2 + 1) & ~1;
  if (y2 > FRAME_HEIGHT) y2 = FRAME_HEIGHT;
  if (x2 <= x1 || y2 <= y1) return ScreenRect{0, 0, FRAME_WIDTH, FRAME_HEIGHT};
  return ScreenRect{x1, y1, x2 - x1, y2 - y1};
}

namespace {

uint32_t rgb_of(uint16_t pixel) {
  uint8_t c[3];
  rgb565_to_rgb(pixel, c);
  return static_cast<uint32_t>(c[0]) << 16 | static_cast<uint32_t>(c[1]) << 8 | c[2];
}

int nearest_entry(const std::vector<uint32_t>& palette, uint32_t rgb) {
  int best = 0;
  long best_distance = -1;
  for (size_t i = 0; i < palette.size(); ++i) {
    long d = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const long diff = static_cast<long>((palette[i] >> shift) & 255) - ((rgb >> shift) & 255);
      d += diff * diff;
    }
    if (best_distance < 0 || d < best_distance) {
      best_distance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

void put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

}  // namespace

IndexedPicture indexed_frame_picture(const uint16_t* frame, ScreenRect area) {
  IndexedPicture pic;
  int x1 = area.x < 0 ? 0 : area.x, y1 = area.y < 0 ? 0 : area.y;
  int x2 = area.x + area.w > FRAME_WIDTH ? FRAME_WIDTH : area.x + area.w;
  int y2 = area.y + area.h > FRAME_HEIGHT ? FRAME_HEIGHT : area.y + area.h;
  if (x2 <= x1 || y2 <= y1) return pic;
  pic.width = x2 - x1;
  pic.height = y2 - y1;
  pic.pixels.resize(static_cast<size_t>(pic.width) * pic.height);
  // Index of each RGB565 value seen so far (-1 unseen).
  std::vector<int16_t> index_of(65536, -1);
  for (int y = 0; y < pic.height; ++y) {
    const uint16_t* row = frame + ((y1 + y) & ~1) * FRAME_WIDTH;  // the monitor line
    uint8_t* out = pic.pixels.data() + static_cast<size_t>(y) * pic.width;
    for (int x = 0; x < pic.width; ++x) {
      const uint16_t p = row[x1 + x];
      if (index_of[p] < 0) {
        if (pic.palette.size() < 256) {
          index_of[p] = static_cast<int16_t>(pic.palette.size());
          pic.palette.push_back(rgb_of(p));
        } else {
          index_of[p] = static_cast<int16_t>(nearest_entry(pic.palette, rgb_of(p)));
        }
      }
      out[x] = static_cast<uint8_t>(index_of[p]);
    }
  }
  return pic;
}

int write_indexed_bmp(const std::string& path, const IndexedPicture& pic, std::string& error) {
  if (pic.width <= 0 || pic.height <= 0 || pic.palette.empty() || pic.palette.size() > 256 ||
      pic.pixels.size() != static_cast<size_t>(pic.width) * pic.height) {
    error = "Couldn't save screenshot: empty picture";
    return 1;
  }
  const uint32_t colours = static_cast<uint32_t>(pic.palette.size());
  const uint32_t stride = (static_cast<uint32_t>(pic.width) + 3) & ~3u;
  const uint32_t data_offset = 14 + 40 + 4 * colours;
  const uint32_t data_size = stride * static_cast<uint32_t>(pic.height);
  std::vector<uint8_t> out;
  out.reserve(data_offset + data_size);
  out.push_back('B');
  out.push_back('M');
  put32(out, data_offset + data_size);
  put32(out, 0);
  put32(out, data_offset);
  put32(out, 40);  // BITMAPINFOHEADER
  put32(out, static_cast<uint32_t>(pic.width));
  put32(out, static_cast<uint32_t>(pic.height));  // positive: rows bottom-up
  put16(out, 1);                                  // planes
  put16(out, 8);                                  // bits per pixel
  put32(out, 0);                                  // no compression
  put32(out, data_size);
  put32(out, 2835);  // 72 DPI
  put32(out, 2835);
  put32(out, colours);
  put32(out, colours);
  for (uint32_t c : pic.palette) put32(out, c & 0xFFFFFF);  // blue, green, red, 0
  for (int y = pic.height - 1; y >= 0; --y) {
    const uint8_t* row = pic.pixels.data() + static_cast<size_t>(y) * pic.width;
    out.insert(out.end(), row, row + pic.width);
    out.insert(out.end(), stride - pic.width, 0);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    error = "Couldn't save screenshot " + path + ": " + std::strerror(errno);
    return 1;
  }
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  if (std::fclose(f) != 0 || !ok) {
    error = "Couldn't save screenshot " + path + ": write error";
    return 1;
  }
  return 0;
}
