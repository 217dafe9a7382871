// WAV reader: a sound recording of a tape becomes a two-level signal. The first channel
// is taken; its level is decided by a Schmitt trigger around the recording's mean, with
// a hysteresis of an eighth of its largest swing, so that hum and noise near the middle
// make no edges while a weak recording still gives clean ones.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/tape_image.h"

namespace {

constexpr uint16_t FORMAT_PCM = 1, FORMAT_EXTENSIBLE = 0xFFFE;
constexpr uint32_t MAX_RATE = 384000;
constexpr int HYSTERESIS_DIVISOR = 8;
constexpr int MIN_HYSTERESIS = 2;  // in 16-bit units: silence stays one level

uint32_t le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

struct WavFormat {
  uint32_t rate = 0;
  uint32_t channels = 0;
  uint32_t bits = 0;
  const uint8_t* samples = nullptr;
  size_t frames = 0;  // samples per channel present in the file
};

bool read_fmt(const uint8_t* p, size_t n, WavFormat& f, std::string& error) {
  if (n < 16) {
    error = "WAV format chunk is too short";
    return false;
  }
  uint32_t format = le16(p);
  if (format == FORMAT_EXTENSIBLE && n >= 26) format = le16(p + 24);  // the sub-format's tag
  f.channels = le16(p + 2);
  f.rate = le32(p + 4);
  f.bits = le16(p + 14);
  if (format != FORMAT_PCM) {
    error = "WAV file is not plain PCM";
    return false;
  }
  if (f.channels == 0 || f.rate == 0 || f.rate > MAX_RATE || (f.bits != 8 && f.bits != 16)) {
    error = "WAV format not supported (needs 8 or 16 bits, 1 to 65535 channels, a rate up to 384 kHz)";
    return false;
  }
  return true;
}

// Walks the RIFF chunks for "fmt " and "data"; a data chunk cut short by the file's end
// is taken as far as it goes.
bool read_chunks(const uint8_t* d, size_t size, WavFormat& f, std::string& error) {
  bool have_fmt = false;
  // A chunk of odd length is followed by a pad byte, which may be missing at the end.
  for (size_t at = 12; at <= size && size - at >= 8;) {
    const size_t len = le32(d + at + 4);
    const uint8_t* body = d + at + 8;
    const size_t present = len < size - at - 8 ? len : size - at - 8;
    if (std::memcmp(d + at, "fmt ", 4) == 0) {
      if (!read_fmt(body, present, f, error)) return false;
      have_fmt = true;
    } else if (std::memcmp(d + at, "data", 4) == 0) {
      if (!have_fmt) break;
      f.samples = body;
      f.frames = present / (f.channels * (f.bits / 8));
      return true;
    }
    if (len > size - at - 8) break;
    at += 8 + len + (len & 1);
  }
  error = have_fmt ? "WAV file has no data chunk" : "WAV file has no format chunk";
  return false;
}

// Sample i of the first channel, as a signed 16-bit value.
int sample(const WavFormat& f, size_t i) {
  const uint8_t* p = f.samples + i * f.channels * (f.bits / 8);
  if (f.bits == 8) return (p[0] - 128) * 256;
  return static_cast<int16_t>(le16(p));
}

}  // namespace

bool tape_read_wav(const uint8_t* data, size_t size, TapeSignal& signal, std::string& error) {
  WavFormat f;
  if (size < 12 || !read_chunks(data, size, f, error)) {
    if (error.empty()) error = "WAV file is truncated";
    return false;
  }
  int64_t sum = 0;
  for (size_t i = 0; i < f.frames; ++i) sum += sample(f, i);
  const int mean = f.frames ? static_cast<int>(sum / static_cast<int64_t>(f.frames)) : 0;
  int swing = 0;
  for (size_t i = 0; i < f.frames; ++i) swing = std::max(swing, std::abs(sample(f, i) - mean));
  const int hysteresis = std::max(MIN_HYSTERESIS, swing / HYSTERESIS_DIVISOR);

  TapeBuilder b{signal};
  b.begin_block("WAV recording, " + std::to_string(f.rate) + " Hz");
  bool high = false;
  size_t since = 0;  // sample of the last edge
  for (size_t i = 0; i < f.frames && !b.full; ++i) {
    const int s = sample(f, i) - mean;
    const bool next = high ? s > -hysteresis : s > hysteresis;
    if (next == high) continue;
    b.hold(high, tape_sample_ticks(i, f.rate) - tape_sample_ticks(since, f.rate));
    high = next;
    since = i;
  }
  b.hold(high, tape_sample_ticks(f.frames, f.rate) - tape_sample_ticks(since, f.rate));
  if (b.full) {
    error = "tape image too long";
    return false;
  }
  return true;
}
