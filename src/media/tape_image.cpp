// The signal builder shared by the tape image readers, and the choice of reader by a
// file's contents.
#include "media/tape_image.h"

#include <cstring>

namespace {

constexpr uint64_t TICKS_PER_MS = TAPE_TICKS_PER_SECOND / 1000;

bool starts_with(const std::vector<uint8_t>& bytes, size_t at, const char* text) {
  const size_t n = std::strlen(text);
  return bytes.size() >= at + n && std::memcmp(bytes.data() + at, text, n) == 0;
}

}  // namespace

void TapeBuilder::hold(bool high, uint64_t ticks) {
  std::vector<uint32_t>& seg = signal.segments;
  if (++steps > TAPE_MAX_STEPS) full = true;
  if (ticks == 0 || full) return;
  level = high;
  paused = false;
  const uint32_t level_bit = high ? TAPE_LEVEL_BIT : 0;
  // Equal levels in a row are one stretch (direct recordings hold a level for many
  // samples), except across a block start or a stop, which must stay addressable.
  if (seg.size() > merge_floor && (seg.back() & TAPE_LEVEL_BIT) == level_bit) {
    const uint64_t room = TAPE_LENGTH_MASK - (seg.back() & TAPE_LENGTH_MASK);
    const uint64_t add = ticks < room ? ticks : room;
    seg.back() += static_cast<uint32_t>(add);
    ticks -= add;
  }
  while (ticks > 0) {
    if (seg.size() >= TAPE_MAX_SEGMENTS) {
      full = true;
      return;
    }
    const uint64_t part = ticks < TAPE_LENGTH_MASK ? ticks : TAPE_LENGTH_MASK;
    seg.push_back(level_bit | static_cast<uint32_t>(part));
    ticks -= part;
  }
}

void TapeBuilder::pause_ms(uint32_t ms) {
  if (ms == 0) return;
  uint64_t ticks = ms * TICKS_PER_MS;
  // The edge that ends the last pulse comes first: a loader times the last bit up to
  // it. When it goes high, the high level lasts 1 ms before the pause goes low.
  if (!paused && !level) {
    hold(true, TICKS_PER_MS);
    ticks -= TICKS_PER_MS;
  }
  hold(false, ticks);
  paused = true;
}

void TapeBuilder::stop() {
  merge_floor = signal.segments.size();
  if (signal.stops.empty() || signal.stops.back() != merge_floor) signal.stops.push_back(merge_floor);
}

void TapeBuilder::begin_block(std::string description) {
  merge_floor = signal.segments.size();
  if (listing) signal.blocks.push_back({std::move(description), merge_floor});
}

bool tape_read_image(const std::vector<uint8_t>& bytes, TapeSignal& signal, std::string& error) {
  signal = TapeSignal{};
  if (starts_with(bytes, 0, "ZXTape!")) return tape_read_tzx(bytes.data(), bytes.size(), signal, error);
  if (starts_with(bytes, 0, "Compressed Square Wave"))
    return tape_read_csw(bytes.data(), bytes.size(), signal, error);
  if (starts_with(bytes, 0, "RIFF") && starts_with(bytes, 8, "WAVE"))
    return tape_read_wav(bytes.data(), bytes.size(), signal, error);
  error = "not a tape image (CDT/TZX, CSW or WAV)";
  return false;
}
