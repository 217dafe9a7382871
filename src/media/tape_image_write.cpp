// Writing recordings as tape images that this program and other emulators read.
#include <algorithm>
#include <cstring>

#include "media/tape_image.h"

namespace {

// Samples of the direct-recording block: 79 T-states of 3.5 MHz, about 22.6 µs, fine
// enough for the firmware's fastest speed (half-periods from about 170 µs).
constexpr uint32_t DIRECT_TSTATES = 79;
constexpr uint64_t DIRECT_TICKS = DIRECT_TSTATES * 2;
constexpr uint32_t SESSION_PAUSE_MS = 1000;
// A block's data length is a 24-bit field: longer sessions take several blocks.
constexpr size_t MAX_DIRECT_BYTES = 0x800000;
constexpr uint32_t CSW_RATE = 44100;

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back(v >> 8 & 0xFF);
}
void put24(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v);
  out.push_back(v >> 16 & 0xFF);
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v);
  put16(out, v >> 16);
}

// The session's levels sampled at the middle of every sample period.
std::vector<uint8_t> sample_session(const uint32_t* s, size_t count, size_t& samples) {
  std::vector<uint8_t> bits;
  uint64_t end = 0;  // ticks at the end of the current stretch
  uint64_t t = DIRECT_TICKS / 2;
  samples = 0;
  for (size_t i = 0; i < count; ++i) {
    end += (s[i] & TAPE_LENGTH_MASK) * TAPE_TICKS_PER_US;
    const bool high = s[i] & TAPE_LEVEL_BIT;
    for (; t < end; t += DIRECT_TICKS, ++samples) {
      if (samples % 8 == 0) bits.push_back(0);
      if (high) bits.back() |= static_cast<uint8_t>(0x80 >> (samples % 8));
    }
  }
  return bits;
}

void direct_block(std::vector<uint8_t>& out, const uint8_t* bits, size_t bytes, uint32_t last_bits,
                  uint32_t pause_ms) {
  out.push_back(0x15);
  put16(out, DIRECT_TSTATES);
  put16(out, pause_ms);
  out.push_back(static_cast<uint8_t>(last_bits));
  put24(out, static_cast<uint32_t>(bytes));
  out.insert(out.end(), bits, bits + bytes);
}

size_t session_end(const std::vector<size_t>& sessions, size_t i, size_t total) {
  return i + 1 < sessions.size() ? sessions[i + 1] : total;
}

}  // namespace

std::vector<uint8_t> tape_encode_cdt(const std::vector<uint32_t>& stretches,
                                     const std::vector<size_t>& sessions) {
  std::vector<uint8_t> out = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20};
  for (size_t k = 0; k < sessions.size(); ++k) {
    const size_t from = std::min(sessions[k], stretches.size());
    const size_t to = std::min(session_end(sessions, k, stretches.size()), stretches.size());
    size_t samples = 0;
    const std::vector<uint8_t> bits = sample_session(stretches.data() + from, to - from, samples);
    for (size_t at = 0; at < bits.size(); at += MAX_DIRECT_BYTES) {
      const size_t n = std::min(MAX_DIRECT_BYTES, bits.size() - at);
      const bool last = at + n == bits.size();
      const uint32_t last_bits = last && samples % 8 ? samples % 8 : 8;
      direct_block(out, bits.data() + at, n, last_bits, last ? SESSION_PAUSE_MS : 0);
    }
  }
  return out;
}

std::vector<uint8_t> tape_encode_csw(const std::vector<uint32_t>& stretches,
                                     const std::vector<size_t>& sessions) {
  std::vector<uint8_t> out(0x20, 0);
  std::memcpy(out.data(), "Compressed Square Wave", 22);
  out[0x16] = 0x1A;
  out[0x17] = 1;  // version 1.01
  out[0x18] = 1;
  out[0x19] = CSW_RATE & 0xFF;
  out[0x1A] = CSW_RATE >> 8;
  out[0x1B] = 1;  // RLE
  const bool start_high = !stretches.empty() && (stretches[0] & TAPE_LEVEL_BIT);
  out[0x1C] = start_high ? 1 : 0;
  // Edges at absolute sample positions; the silence between sessions joins the low
  // stretch around it.
  uint64_t us = 0, last_sample = 0;
  bool level = start_high;
  auto edge_at = [&](uint64_t at_us) {
    const uint64_t sample = (at_us * CSW_RATE + 500000) / 1000000;
    // Two edges in one sample still make two pulses: the later one moves a sample on.
    const uint64_t n = sample > last_sample ? sample - last_sample : 1;
    if (n < 256) {
      out.push_back(static_cast<uint8_t>(n));
    } else {
      out.push_back(0);
      put32(out, static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX)));
    }
    last_sample += n;
  };
  size_t next_session = 1;
  for (size_t i = 0; i < stretches.size(); ++i) {
    if (next_session < sessions.size() && sessions[next_session] == i) {
      ++next_session;
      if (level) {
        edge_at(us);
        level = false;
      }
      us += SESSION_PAUSE_MS * 1000;
    }
    const bool high = stretches[i] & TAPE_LEVEL_BIT;
    if (high != level) {
      edge_at(us);
      level = high;
    }
    us += stretches[i] & TAPE_LENGTH_MASK;
  }
  edge_at(us);
  return out;
}
