// Snapshot chunk conversion for the M4 board (command 0x4317): a snapshot whose memory is
// held in "MEMn" chunks, stored or run-length encoded, becomes a plain snapshot that CPC
// software can read in one pass.
#include <algorithm>
#include <cstring>
#include <vector>

#include "m4/sdcard.h"
#include "media/snapshot.h"

namespace {

constexpr long BLOCK_SIZE = 65536;
constexpr int MAX_BLOCKS = 10;          // MEM0 to MEM9
constexpr int CHUNK_HEADER = 8;         // 4-byte name, 32-bit length
constexpr uint8_t RLE_MARK = 0xE5;

bool write_at(std::FILE* out, long offset, const uint8_t* data, std::size_t length) {
  return std::fseek(out, offset, SEEK_SET) == 0 && std::fwrite(data, 1, length, out) == length;
}

// Decodes a chunk into one 64 KB block; output past the block is dropped.
std::vector<uint8_t> decode(const std::vector<uint8_t>& in) {
  if (in.size() == static_cast<std::size_t>(BLOCK_SIZE)) return in;
  std::vector<uint8_t> out;
  out.reserve(BLOCK_SIZE);
  for (std::size_t i = 0; i < in.size() && out.size() < static_cast<std::size_t>(BLOCK_SIZE);) {
    const uint8_t b = in[i++];
    if (b != RLE_MARK) {
      out.push_back(b);
      continue;
    }
    if (i >= in.size()) break;
    const uint8_t count = in[i++];
    if (count == 0) {
      out.push_back(RLE_MARK);
      continue;
    }
    if (i >= in.size()) break;
    const uint8_t value = in[i++];
    const std::size_t room = static_cast<std::size_t>(BLOCK_SIZE) - out.size();
    out.insert(out.end(), std::min<std::size_t>(count, room), value);
  }
  out.resize(BLOCK_SIZE, 0);
  return out;
}

bool copy_plain_blocks(std::FILE* in, std::FILE* out, int blocks) {
  std::vector<uint8_t> block(BLOCK_SIZE);
  for (int b = 0; b < blocks; ++b) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), in);
    if (got == 0) break;
    if (!write_at(out, sna::HEADER_SIZE + b * BLOCK_SIZE, block.data(), got)) return false;
  }
  return true;
}

}  // namespace

namespace m4 {

bool convert_snapshot(std::FILE* in, std::FILE* out) {
  uint8_t header[sna::HEADER_SIZE];
  if (std::fread(header, 1, sizeof header, in) != sizeof header) return false;
  const int size_kb = header[sna::MEMORY_SIZE] | header[sna::MEMORY_SIZE + 1] << 8;
  const int plain_blocks = size_kb / 64;
  if (plain_blocks > MAX_BLOCKS) return false;
  if (!write_at(out, 0, header, sizeof header) || !copy_plain_blocks(in, out, plain_blocks)) return false;
  std::fseek(in, sna::HEADER_SIZE + plain_blocks * BLOCK_SIZE, SEEK_SET);
  int highest = -1;
  uint8_t chunk[CHUNK_HEADER];
  while (std::fread(chunk, 1, sizeof chunk, in) == sizeof chunk) {
    const uint32_t length = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | static_cast<uint32_t>(chunk[7]) << 24;
    const bool memory = std::memcmp(chunk, "MEM", 3) == 0 && chunk[3] >= '0' && chunk[3] <= '9';
    if (!memory) {
      // Other chunks (their meaning is the writer's) are passed over.
      if (std::fseek(in, static_cast<long>(length), SEEK_CUR) != 0) break;
      continue;
    }
    // A memory chunk is never longer than a stored block.
    if (length > static_cast<uint32_t>(BLOCK_SIZE)) return false;
    std::vector<uint8_t> data(length);
    if (std::fread(data.data(), 1, length, in) != length) return false;
    const int n = chunk[3] - '0';
    const std::vector<uint8_t> block = decode(data);
    if (!write_at(out, sna::HEADER_SIZE + n * BLOCK_SIZE, block.data(), block.size())) return false;
    highest = std::max(highest, n);
  }
  if (highest >= 0) {
    const int kb = (highest + 1) * 64;
    const uint8_t size[2] = {static_cast<uint8_t>(kb), static_cast<uint8_t>(kb >> 8)};
    if (!write_at(out, sna::MEMORY_SIZE, size, 2)) return false;
  }
  return std::fflush(out) == 0;
}

}  // namespace m4
