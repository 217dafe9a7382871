// CSW reader: a recording as run lengths of one level, counted in samples. Version 1
// holds them as plain bytes (RLE); version 2 may compress them with zlib (Z-RLE).
#include <zlib.h>

#include <cstring>

#include "media/tape_image.h"

namespace {

constexpr size_t SIGNATURE_END = 0x16;  // "Compressed Square Wave", then 0x1A
constexpr size_t V1_DATA = 0x20;
constexpr size_t V2_FIXED_HEADER = 0x34;
constexpr uint8_t COMPRESSION_RLE = 1, COMPRESSION_ZRLE = 2;
constexpr uint8_t FLAG_START_HIGH = 0x01;

uint32_t le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// The CSW header, whatever the version.
struct CswHeader {
  uint32_t rate;
  uint8_t compression;
  uint8_t flags;
  size_t data;  // offset of the pulse data
};

bool read_header(const uint8_t* d, size_t size, CswHeader& h, std::string& error) {
  if (size < V1_DATA || d[SIGNATURE_END] != 0x1A) {
    error = "not a CSW image (header too short)";
    return false;
  }
  const uint8_t major = d[0x17];
  if (major == 1) {
    h = {le16(d + 0x19), d[0x1B], d[0x1C], V1_DATA};
  } else if (major == 2) {
    if (size < V2_FIXED_HEADER) {
      error = "CSW header is truncated";
      return false;
    }
    h = {le32(d + 0x19), d[0x21], d[0x22], V2_FIXED_HEADER + d[0x23]};
  } else {
    error = "CSW version " + std::to_string(major) + " is not supported";
    return false;
  }
  if (h.rate == 0 || h.data > size) {
    error = h.rate == 0 ? "CSW sample rate is 0" : "CSW header is truncated";
    return false;
  }
  if (h.compression != COMPRESSION_RLE && (h.compression != COMPRESSION_ZRLE || major == 1)) {
    error = "CSW compression " + std::to_string(h.compression) + " is not supported";
    return false;
  }
  return true;
}

}  // namespace

bool tape_csw_pulses(const uint8_t* data, size_t size, uint32_t rate, TapeBuilder& out,
                     std::string& error) {
  uint64_t samples = 0;
  for (size_t i = 0; i < size && !out.full;) {
    uint64_t n = data[i++];
    if (n == 0) {
      if (size - i < 4) {
        error = "CSW data ends inside a long pulse";
        return false;
      }
      n = le32(data + i);
      i += 4;
    }
    const uint64_t from = tape_sample_ticks(samples, rate);
    samples += n;
    out.pulse(tape_sample_ticks(samples, rate) - from);
  }
  return true;
}

bool tape_inflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out,
                  std::string& error) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    error = "cannot start decompression";
    return false;
  }
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size < UINT32_MAX ? size : UINT32_MAX);
  out.clear();
  int status = Z_OK;
  while (status == Z_OK) {
    if (out.size() >= limit) break;
    const size_t grow = out.size() < 65536 ? 65536 : out.size();
    const size_t have = out.size();
    out.resize(have + (grow < limit - have ? grow : limit - have));
    z.next_out = out.data() + have;
    z.avail_out = static_cast<uInt>(out.size() - have);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(out.size() - z.avail_out);
    if (status == Z_BUF_ERROR && z.avail_in == 0) break;  // input ended early
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) {
    error = out.size() >= limit ? "compressed data too long" : "compressed data is damaged";
    return false;
  }
  return true;
}

bool tape_read_csw(const uint8_t* data, size_t size, TapeSignal& signal, std::string& error) {
  CswHeader h{};
  if (!read_header(data, size, h, error)) return false;
  TapeBuilder b{signal};
  b.begin_block("CSW recording, " + std::to_string(h.rate) + " Hz");
  b.level = !(h.flags & FLAG_START_HIGH);  // the first pulse's edge gives the start level
  bool ok;
  if (h.compression == COMPRESSION_RLE) {
    ok = tape_csw_pulses(data + h.data, size - h.data, h.rate, b, error);
  } else {
    std::vector<uint8_t> raw;
    ok = tape_inflate(data + h.data, size - h.data, TAPE_MAX_SEGMENTS * 5, raw, error) &&
         tape_csw_pulses(raw.data(), raw.size(), h.rate, b, error);
  }
  if (ok && b.full) {
    error = "tape image too long";
    return false;
  }
  return ok;
}
