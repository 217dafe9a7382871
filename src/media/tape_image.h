// Tape images as a signal: the readers of CDT/TZX, CSW and WAV files turn an image into
// one list of constant-level stretches ("segments") that the tape deck plays.
//
// Time on tape is counted in ticks of 1/7 µs: the CPC's microsecond is 7 ticks, and a
// T-state of the 3.5 MHz clock in which CDT/TZX files give their timings is 2 ticks, so
// both convert exactly. Sample-based images (CSW, WAV, direct recordings) are placed by
// absolute sample position, so rounding never adds up over a long tape.
//
// A segment is one 32-bit word: bit 31 the level (1 high), bits 30-0 its length in ticks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint64_t TAPE_TICKS_PER_US = 7;
constexpr uint64_t TAPE_TICKS_PER_SECOND = 7000000;
constexpr uint32_t TAPE_LEVEL_BIT = 0x80000000u;
constexpr uint32_t TAPE_LENGTH_MASK = 0x7FFFFFFFu;
// Readers refuse images whose signal would exceed this many segments (about an hour of
// the fastest loaders): a small file with nested loops must not fill the host's memory.
constexpr size_t TAPE_MAX_SEGMENTS = 24u * 1024 * 1024;
// Nor may one make endless empty pulses (length 0 in a loop): the builder gives up after
// this many stretches asked for, empty or not (a 0x15 block asks once per sample).
constexpr uint64_t TAPE_MAX_STEPS = 200u * 1024 * 1024;

// One block of the image as the tape window lists it.
struct TapeBlockInfo {
  std::string description;  // "Turbo data, 2048 bytes", "Text: ...", ...
  size_t first_segment;     // where its signal starts
};

struct TapeSignal {
  std::vector<uint32_t> segments;
  std::vector<TapeBlockInfo> blocks;
  std::vector<size_t> stops;  // segment indices at which the deck stops playing (sorted)
};

// Appends to a signal while keeping the current level, as the readers need it.
struct TapeBuilder {
  TapeSignal& signal;
  bool level = false;  // the level of the last segment (a tape starts low)
  bool full = false;   // TAPE_MAX_SEGMENTS or TAPE_MAX_STEPS reached: the rest is dropped
  uint64_t steps = 0;  // calls of hold
  bool listing = true; // begin_block adds to the block list (not while a loop repeats)
  bool paused = true;  // the last segment belongs to a pause (or there is none yet)
  size_t merge_floor = 0;  // segments before this index are never lengthened

  // A stretch of the given level; long ones are split, empty ones dropped.
  void hold(bool high, uint64_t ticks);
  // An edge, then the new level for `ticks`: one pulse of a CDT/TZX block.
  void pulse(uint64_t ticks) { hold(!level, ticks); }
  // A pause: first the edge that ends the last pulse (to high for 1 ms, when the level
  // was low), then low. A pause after a pause is low throughout.
  void pause_ms(uint32_t ms);
  // The deck stops here (a "stop the tape" block).
  void stop();
  // A new entry of the block list, starting at the next segment.
  void begin_block(std::string description);
};

// Readers: the image's bytes become its signal. False with a message in `error` for a
// file that is not such an image or is damaged; what was read before the damage stays
// in the signal only when the function says so.
bool tape_read_tzx(const uint8_t* data, size_t size, TapeSignal& signal, std::string& error);
bool tape_read_csw(const uint8_t* data, size_t size, TapeSignal& signal, std::string& error);
bool tape_read_wav(const uint8_t* data, size_t size, TapeSignal& signal, std::string& error);

// The pulse list of a CSW payload (v1 RLE bytes, or the inflated v2 data): each byte a
// count of samples, 0 followed by a 32-bit count. Used by CSW files and CDT block 0x18.
// Starts with an edge from the builder's level.
bool tape_csw_pulses(const uint8_t* data, size_t size, uint32_t sample_rate, TapeBuilder& out,
                     std::string& error);
// Inflates zlib data (CSW v2, CDT block 0x18 compression 2) into `out`, which must not
// grow beyond `limit` bytes.
bool tape_inflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out,
                  std::string& error);

// Reads any supported image, chosen by its contents: "ZXTape!" CDT/TZX, "Compressed
// Square Wave" CSW, "RIFF....WAVE" WAV.
bool tape_read_image(const std::vector<uint8_t>& bytes, TapeSignal& signal, std::string& error);

// Ticks of `samples` samples at `rate` Hz, rounded, computed from the absolute position.
inline uint64_t tape_sample_ticks(uint64_t samples, uint32_t rate) {
  return (samples * TAPE_TICKS_PER_SECOND + rate / 2) / rate;
}

// Writers of a recording: stretches in microseconds (level in bit 31, as segments), the
// index of the first stretch of each motor session. A CDT holds one direct-recording
// block per session (44.3 kHz samples, then a pause); a CSW (version 1, 44,100 Hz) holds
// the sessions one after the other with a second of silence between them.
std::vector<uint8_t> tape_encode_cdt(const std::vector<uint32_t>& stretches,
                                     const std::vector<size_t>& sessions);
std::vector<uint8_t> tape_encode_csw(const std::vector<uint32_t>& stretches,
                                     const std::vector<size_t>& sessions);
