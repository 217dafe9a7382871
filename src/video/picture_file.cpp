#include "video/picture_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "video/raster.h"

// ---- Checksums ---------------------------------------------------------------------------

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
  static uint32_t table[256];
  static bool built = false;
  if (!built) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    built = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t adler32_update(uint32_t adler, const uint8_t* data, size_t size) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

// ---- Deflate with the fixed codes -----------------------------------------------------------

namespace {

class BitWriter {
 public:
  std::vector<uint8_t> out;
  // Extra bits and block headers: least significant bit first.
  void bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) put((value >> i) & 1);
  }
  // Huffman codes: most significant bit first.
  void code(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) put((value >> i) & 1);
  }
  void flush() {
    if (used) out.push_back(current);
    current = 0;
    used = 0;
  }

 private:
  uint8_t current = 0;
  int used = 0;
  void put(uint32_t bit) {
    current |= static_cast<uint8_t>(bit << used);
    if (++used == 8) flush();
  }
};

void literal_code(BitWriter& w, int symbol) {
  if (symbol < 144)
    w.code(0x30 + symbol, 8);
  else if (symbol < 256)
    w.code(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    w.code(symbol - 256, 7);
  else
    w.code(0xC0 + symbol - 280, 8);
}

const int length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int distance_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                               33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void match_code(BitWriter& w, int length, int distance) {
  int l = 28;
  while (length_base[l] > length) --l;
  literal_code(w, 257 + l);
  w.bits(length - length_base[l], length_extra[l]);
  int d = 29;
  while (distance_base[d] > distance) --d;
  w.code(d, 5);
  w.bits(distance - distance_base[d], distance_extra[d]);
}

}  // namespace

std::vector<uint8_t> deflate_fixed(const uint8_t* data, size_t size) {
  constexpr int WINDOW = 32768, HASH_BITS = 15, MAX_CHAIN = 32, MIN_MATCH = 3, MAX_MATCH = 258;
  BitWriter w;
  w.bits(1, 1);  // final block
  w.bits(1, 2);  // fixed codes
  std::vector<int32_t> head(1 << HASH_BITS, -1);
  std::vector<int32_t> prev(size, -1);
  auto hash = [&](size_t i) {
    return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & ((1 << HASH_BITS) - 1);
  };
  auto insert = [&](size_t i) {
    if (i + MIN_MATCH > size) return;
    int h = hash(i);
    prev[i] = head[h];
    head[h] = static_cast<int32_t>(i);
  };
  size_t i = 0;
  while (i < size) {
    int best_len = 0, best_dist = 0;
    if (i + MIN_MATCH <= size) {
      int32_t cand = head[hash(i)];
      const size_t limit = std::min<size_t>(MAX_MATCH, size - i);
      for (int chain = 0; cand >= 0 && chain < MAX_CHAIN; ++chain, cand = prev[cand]) {
        const size_t dist = i - static_cast<size_t>(cand);
        if (dist > WINDOW) break;
        size_t len = 0;
        while (len < limit && data[cand + len] == data[i + len]) ++len;
        if (static_cast<int>(len) > best_len) {
          best_len = static_cast<int>(len);
          best_dist = static_cast<int>(dist);
          if (len == limit) break;
        }
      }
    }
    if (best_len >= MIN_MATCH) {
      match_code(w, best_len, best_dist);
      for (int k = 0; k < best_len; ++k) insert(i + k);
      i += best_len;
    } else {
      literal_code(w, data[i]);
      insert(i);
      ++i;
    }
  }
  literal_code(w, 256);
  w.flush();
  return std::move(w.out);
}

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

void put32be(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

void chunk(std::vector<uint8_t>& file, const char* type, const std::vector<uint8_t>& data) {
  put32be(file, static_cast<uint32_t>(data.size()));
  const size_t start = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  put32be(file, crc32_update(0, file.data() + start, file.size() - start));
}

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

std::vector<uint8_t> encode_png(const RgbPicture& p) {
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  put32be(ihdr, static_cast<uint32_t>(p.width));
  put32be(ihdr, static_cast<uint32_t>(p.height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, filter 0, no interlace
  chunk(file, "IHDR", ihdr);

  // Scan lines with filter byte 2 (difference to the row above): the repeated monitor
  // lines and the border become runs of zeros.
  const size_t stride = static_cast<size_t>(p.width) * 3;
  std::vector<uint8_t> raw;
  raw.reserve((stride + 1) * static_cast<size_t>(p.height));
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* row = p.rgb.data() + stride * static_cast<size_t>(y);
    const uint8_t* above = y > 0 ? row - stride : nullptr;
    raw.push_back(2);
    for (size_t x = 0; x < stride; ++x)
      raw.push_back(static_cast<uint8_t>(row[x] - (above ? above[x] : 0)));
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  std::vector<uint8_t> body = deflate_fixed(raw.data(), raw.size());
  z.insert(z.end(), body.begin(), body.end());
  put32be(z, adler32_update(1, raw.data(), raw.size()));
  chunk(file, "IDAT", z);
  chunk(file, "IEND", {});
  return file;
}

int write_png(const std::string& path, const RgbPicture& p, std::string& error) {
  if (!valid(p, error)) return 1;
  return write_file(path, encode_png(p), error);
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
