// CDT/TZX reader: the blocks CPC tapes use become pulses. Timings in the file are
// T-states of a 3.5 MHz clock (the format's convention, also for CPC tapes), two ticks
// each. Loops are unrolled; groups, texts and other information blocks only name
// themselves in the block list; unknown blocks are skipped by the length the format
// gives every block it may add later.
#include <cstdio>
#include <string>

#include "media/tape_image.h"

namespace {

constexpr uint64_t TICKS_PER_TSTATE = 2;
constexpr size_t HEADER_SIZE = 10;  // "ZXTape!" 0x1A major minor
constexpr int MAX_LOOP_DEPTH = 16;
constexpr size_t MAX_BLOCKS_PLAYED = 1u << 20;

// The ROM timings of block 0x10 (T-states).
constexpr uint32_t STD_PILOT = 2168, STD_SYNC1 = 667, STD_SYNC2 = 735, STD_ZERO = 855,
                   STD_ONE = 1710;
constexpr uint32_t STD_PILOT_HEADER = 8063, STD_PILOT_DATA = 3223;

// Block ids.
enum : uint8_t {
  STANDARD = 0x10, TURBO = 0x11, PURE_TONE = 0x12, PULSES = 0x13, PURE_DATA = 0x14,
  DIRECT = 0x15, CSW = 0x18, GENERALIZED = 0x19, PAUSE = 0x20, GROUP_START = 0x21,
  GROUP_END = 0x22, JUMP = 0x23, LOOP_START = 0x24, LOOP_END = 0x25, CALL = 0x26, RETURN = 0x27,
  SELECT = 0x28, STOP_48K = 0x2A, SET_LEVEL = 0x2B, TEXT = 0x30, MESSAGE = 0x31, ARCHIVE = 0x32,
  HARDWARE = 0x33, EMULATION = 0x34, CUSTOM = 0x35, SNAPSHOT = 0x40, GLUE = 0x5A,
};

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;  // of the current block's body (after its id)
  std::string& error;

  bool have(size_t n) const { return n <= size - pos; }
  uint32_t byte(size_t at) const { return data[pos + at]; }
  uint32_t word(size_t at) const { return byte(at) | byte(at + 1) << 8; }
  uint32_t triple(size_t at) const { return word(at) | byte(at + 2) << 16; }
  uint32_t dword(size_t at) const { return triple(at) | byte(at + 3) << 24; }
  bool fail(const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "%s (the block at offset %zu)", what, pos - 1);
    error = text;
    return false;
  }
};

// Bits of `count` bytes (the last one with `last_bits` bits), MSB first: each bit two
// pulses of the zero or one length.
void data_bits(TapeBuilder& b, const uint8_t* bytes, size_t count, uint32_t last_bits,
               uint32_t zero, uint32_t one) {
  for (size_t i = 0; i < count && !b.full; ++i) {
    const uint32_t bits = (i + 1 == count) ? last_bits : 8;
    for (uint32_t k = 0; k < bits; ++k) {
      const uint64_t t = ((bytes[i] << k) & 0x80 ? one : zero) * TICKS_PER_TSTATE;
      b.pulse(t);
      b.pulse(t);
    }
  }
}

// The shape shared by blocks 0x10, 0x11 and 0x14.
struct DataShape {
  uint32_t pilot, pilot_count, sync1, sync2, zero, one, last_bits, pause;
};

void data_block(TapeBuilder& b, const DataShape& s, const uint8_t* bytes, size_t count) {
  for (uint32_t i = 0; i < s.pilot_count && !b.full; ++i) b.pulse(s.pilot * TICKS_PER_TSTATE);
  if (s.sync1) b.pulse(s.sync1 * TICKS_PER_TSTATE);
  if (s.sync2) b.pulse(s.sync2 * TICKS_PER_TSTATE);
  const uint32_t last = s.last_bits == 0 || s.last_bits > 8 ? 8 : s.last_bits;
  data_bits(b, bytes, count, last, s.zero, s.one);
  b.pause_ms(s.pause);
}

std::string describe(const char* kind, size_t bytes) {
  return std::string(kind) + ", " + std::to_string(bytes) + " bytes";
}

std::string text_of(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (p[i] >= 32 && p[i] < 127) ? static_cast<char>(p[i]) : ' ';
  return s;
}

// Each plays the block whose body starts at r.pos and sets `len` to the body's length;
// false (with the error set) for a damaged block.
bool standard(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(4)) return r.fail("truncated standard data block");
  const uint32_t n = r.word(2);
  len = 4 + n;
  if (!r.have(len)) return r.fail("truncated standard data block");
  b.begin_block(describe("Standard data", n));
  const uint8_t* bytes = r.data + r.pos + 4;
  const uint32_t pilots = n && bytes[0] < 0x80 ? STD_PILOT_HEADER : STD_PILOT_DATA;
  data_block(b, {STD_PILOT, pilots, STD_SYNC1, STD_SYNC2, STD_ZERO, STD_ONE, 8, r.word(0)},
             bytes, n);
  return true;
}

bool turbo(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(0x12)) return r.fail("truncated turbo data block");
  const uint32_t n = r.triple(0x0F);
  len = 0x12 + static_cast<size_t>(n);
  if (!r.have(len)) return r.fail("truncated turbo data block");
  b.begin_block(describe("Turbo data", n));
  data_block(b, {r.word(0), r.word(0x0A), r.word(2), r.word(4), r.word(6), r.word(8), r.byte(0x0C),
                 r.word(0x0D)},
             r.data + r.pos + 0x12, n);
  return true;
}

bool pure_data(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(0x0A)) return r.fail("truncated pure data block");
  const uint32_t n = r.triple(7);
  len = 0x0A + static_cast<size_t>(n);
  if (!r.have(len)) return r.fail("truncated pure data block");
  b.begin_block(describe("Pure data", n));
  data_block(b, {0, 0, 0, 0, r.word(0), r.word(2), r.byte(4), r.word(5)}, r.data + r.pos + 0x0A, n);
  return true;
}

bool pure_tone(Reader& r, TapeBuilder& b, size_t& len) {
  len = 4;
  if (!r.have(len)) return r.fail("truncated pure tone block");
  b.begin_block("Pure tone, " + std::to_string(r.word(2)) + " pulses");
  for (uint32_t i = 0; i < r.word(2) && !b.full; ++i) b.pulse(r.word(0) * TICKS_PER_TSTATE);
  return true;
}

bool pulses(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(1)) return r.fail("truncated pulse sequence");
  len = 1 + 2 * r.byte(0);
  if (!r.have(len)) return r.fail("truncated pulse sequence");
  b.begin_block("Pulse sequence, " + std::to_string(r.byte(0)) + " pulses");
  for (uint32_t i = 0; i < r.byte(0); ++i) b.pulse(r.word(1 + 2 * i) * TICKS_PER_TSTATE);
  return true;
}

bool direct(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(8)) return r.fail("truncated direct recording");
  const uint32_t n = r.triple(5);
  len = 8 + static_cast<size_t>(n);
  if (!r.have(len)) return r.fail("truncated direct recording");
  b.begin_block(describe("Direct recording", n));
  const uint64_t per_sample = r.word(0) * TICKS_PER_TSTATE;
  const uint32_t last = r.byte(4) == 0 || r.byte(4) > 8 ? 8 : r.byte(4);
  for (uint32_t i = 0; i < n && !b.full; ++i) {
    const uint32_t v = r.byte(8 + i);
    for (uint32_t k = 0; k < (i + 1 == n ? last : 8); ++k) b.hold((v << k) & 0x80, per_sample);
  }
  b.pause_ms(r.word(2));
  return true;
}

bool csw(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(4)) return r.fail("truncated CSW recording");
  len = 4 + static_cast<size_t>(r.dword(0));
  if (len < 0x0E || !r.have(len)) return r.fail("truncated CSW recording");
  const uint32_t rate = r.triple(6);
  const uint32_t kind = r.byte(9);
  if (rate == 0) return r.fail("CSW recording with sample rate 0");
  b.begin_block(describe("CSW recording", len - 0x0E));
  const uint8_t* payload = r.data + r.pos + 0x0E;
  const size_t payload_size = len - 0x0E;
  if (kind == 1) {
    if (!tape_csw_pulses(payload, payload_size, rate, b, r.error)) return false;
  } else if (kind == 2) {
    std::vector<uint8_t> raw;
    if (!tape_inflate(payload, payload_size, TAPE_MAX_SEGMENTS * 5, raw, r.error)) return false;
    if (!tape_csw_pulses(raw.data(), raw.size(), rate, b, r.error)) return false;
  } else {
    return r.fail("CSW recording with unknown compression");
  }
  b.pause_ms(r.word(4));
  return true;
}

// ---- Block 0x19: symbols of pulse sequences, a pilot table and a data stream ----------

struct Symbols {
  const uint8_t* at;  // first definition: flags byte, then `pulses` words
  uint32_t count;     // alphabet size
  uint32_t pulses;    // pulses per symbol (the longest)
  size_t size() const { return static_cast<size_t>(count) * (1 + 2 * pulses); }
};

void play_symbol(TapeBuilder& b, const Symbols& s, uint32_t index) {
  const uint8_t* d = s.at + static_cast<size_t>(index) * (1 + 2 * s.pulses);
  for (uint32_t i = 0; i < s.pulses; ++i) {
    const uint64_t t = (d[1 + 2 * i] | d[2 + 2 * i] << 8) * TICKS_PER_TSTATE;
    if (t == 0) break;  // a zero ends a shorter symbol
    if (i > 0) {
      b.pulse(t);
      continue;
    }
    switch (d[0] & 3) {
      case 0: b.pulse(t); break;
      case 1: b.hold(b.level, t); break;
      case 2: b.hold(false, t); break;
      default: b.hold(true, t); break;
    }
  }
}

bool generalized_body(Reader& r, TapeBuilder& b, size_t len) {
  const uint32_t totp = r.dword(6), npp = r.byte(10), asp = r.byte(11) ? r.byte(11) : 256;
  const uint32_t totd = r.dword(12), npd = r.byte(16), asd = r.byte(17) ? r.byte(17) : 256;
  size_t at = 18;
  const uint8_t* base = r.data + r.pos;
  if (totp > 0) {
    Symbols pilot{base + at, asp, npp};
    if (pilot.size() + 3ull * totp > len - at) return r.fail("truncated generalized data block");
    at += pilot.size();
    for (uint32_t i = 0; i < totp && !b.full; ++i, at += 3) {
      const uint32_t sym = base[at], reps = base[at + 1] | base[at + 2] << 8;
      if (sym >= asp) return r.fail("generalized data block uses an undefined symbol");
      for (uint32_t k = 0; k < reps && !b.full; ++k) play_symbol(b, pilot, sym);
    }
  }
  if (totd > 0) {
    Symbols data{base + at, asd, npd};
    uint32_t nb = 0;
    while ((1u << nb) < asd) ++nb;
    const uint64_t stream = (static_cast<uint64_t>(totd) * nb + 7) / 8;
    if (data.size() + stream > len - at) return r.fail("truncated generalized data block");
    at += data.size();
    for (uint64_t i = 0; i < totd && !b.full; ++i) {
      uint32_t sym = 0;
      for (uint32_t k = 0; k < nb; ++k) {
        const uint64_t bit = i * nb + k;
        sym = sym << 1 | ((base[at + bit / 8] >> (7 - bit % 8)) & 1);
      }
      if (sym >= asd) return r.fail("generalized data block uses an undefined symbol");
      play_symbol(b, data, sym);
    }
  }
  b.pause_ms(r.word(4));
  return true;
}

bool generalized(Reader& r, TapeBuilder& b, size_t& len) {
  if (!r.have(4)) return r.fail("truncated generalized data block");
  len = 4 + static_cast<size_t>(r.dword(0));
  if (len < 18 || !r.have(len)) return r.fail("truncated generalized data block");
  b.begin_block(describe("Generalized data", len));
  return generalized_body(r, b, len);
}

// ---- Information and control blocks --------------------------------------------------------

// The body length of a block the player does not turn into pulses; false (with the
// error set) when the block is cut off.
bool skip_length(Reader& r, uint8_t id, size_t& len) {
  auto sized = [&](size_t fixed, size_t extra) {
    len = fixed + extra;
    return r.have(len) ? true : r.fail("truncated block");
  };
  switch (id) {
    case GROUP_START: case TEXT: return r.have(1) ? sized(1, r.byte(0)) : r.fail("truncated block");
    case GROUP_END: case LOOP_END: case RETURN: return sized(0, 0);
    case JUMP: case LOOP_START: return sized(2, 0);
    case CALL: return r.have(2) ? sized(2, 2 * r.word(0)) : r.fail("truncated block");
    case SELECT: case ARCHIVE: return r.have(2) ? sized(2, r.word(0)) : r.fail("truncated block");
    case MESSAGE: return r.have(2) ? sized(2, r.byte(1)) : r.fail("truncated block");
    case HARDWARE: return r.have(1) ? sized(1, 3 * r.byte(0)) : r.fail("truncated block");
    case EMULATION: return sized(8, 0);
    case CUSTOM: return r.have(14) ? sized(14, r.dword(10)) : r.fail("truncated block");
    case SNAPSHOT: return r.have(4) ? sized(4, r.triple(1)) : r.fail("truncated block");
    case GLUE: return sized(9, 0);
    default: return r.have(4) ? sized(4, r.dword(0)) : r.fail("truncated block");
  }
}

std::string info_description(const Reader& r, uint8_t id) {
  const uint8_t* p = r.data + r.pos;
  switch (id) {
    case GROUP_START: return "Group: " + text_of(p + 1, p[0]);
    case GROUP_END: return "Group end";
    case TEXT: return "Text: " + text_of(p + 1, p[0]);
    case MESSAGE: return "Message: " + text_of(p + 2, p[1]);
    case ARCHIVE: return "Archive information";
    case HARDWARE: return "Hardware type";
    case EMULATION: return "Emulation information";
    case CUSTOM: return "Custom information: " + text_of(p, 10);
    case GLUE: return "Glue";
    case STOP_48K: return "Stop the tape in 48K mode (not a CPC)";
    default: {
      char text[48];
      std::snprintf(text, sizeof text, "Block %02X skipped", id);
      return text;
    }
  }
}

struct Loop {
  size_t body;        // offset of the first block inside the loop
  uint32_t remaining; // repetitions still to play after this one
};

struct Player {
  Reader r;
  TapeBuilder b;
  Loop loops[MAX_LOOP_DEPTH];
  int depth = 0;

  // One block at r.pos (after its id); sets `next` to the offset of the next id.
  bool block(uint8_t id, size_t& next) {
    size_t len = 0;
    bool ok = true;
    switch (id) {
      case STANDARD: ok = standard(r, b, len); break;
      case TURBO: ok = turbo(r, b, len); break;
      case PURE_TONE: ok = pure_tone(r, b, len); break;
      case PULSES: ok = pulses(r, b, len); break;
      case PURE_DATA: ok = pure_data(r, b, len); break;
      case DIRECT: ok = direct(r, b, len); break;
      case CSW: ok = csw(r, b, len); break;
      case GENERALIZED: ok = generalized(r, b, len); break;
      default: ok = control(id, len); break;
    }
    next = r.pos + len;
    return ok;
  }

  bool control(uint8_t id, size_t& len) {
    switch (id) {
      case PAUSE:
        len = 2;
        if (!r.have(2)) return r.fail("truncated pause block");
        if (r.word(0) == 0) {
          b.begin_block("Stop the tape");
          b.stop();
        } else {
          b.begin_block("Pause, " + std::to_string(r.word(0)) + " ms");
          b.pause_ms(r.word(0));
        }
        return true;
      case SET_LEVEL:
        if (!r.have(5)) return r.fail("truncated signal level block");
        len = 4 + static_cast<size_t>(r.dword(0));
        if (!r.have(len)) return r.fail("truncated signal level block");
        b.level = r.byte(4) & 1;
        return true;
      case LOOP_START: return loop_start(len);
      case LOOP_END: len = 0; return loop_end(len);
      default:
        if (!skip_length(r, id, len)) return false;
        b.begin_block(info_description(r, id));
        return true;
    }
  }

  bool loop_start(size_t& len) {
    len = 2;
    if (!r.have(2)) return r.fail("truncated loop block");
    if (depth == MAX_LOOP_DEPTH) return r.fail("loops nested too deeply");
    b.begin_block("Loop, " + std::to_string(r.word(0)) + " times");
    loops[depth++] = {r.pos + 2, r.word(0) > 0 ? r.word(0) - 1 : 0};
    return true;
  }

  // At a loop end the next block is the loop's first again while repetitions remain.
  bool loop_end(size_t& len) {
    if (depth == 0) return true;  // an end without a start is ignored
    Loop& l = loops[depth - 1];
    if (l.remaining > 0 && !b.full) {
      --l.remaining;
      len = 0;
      r.pos = l.body;  // the caller goes on at pos + len: the loop's first block
      b.listing = false;  // the block list names each block once
      return true;
    }
    if (--depth == 0) b.listing = true;
    return true;
  }
};

}  // namespace

bool tape_read_tzx(const uint8_t* data, size_t size, TapeSignal& signal, std::string& error) {
  if (size < HEADER_SIZE || std::string(reinterpret_cast<const char*>(data), 7) != "ZXTape!" ||
      data[7] != 0x1A) {
    error = "not a CDT/TZX image (no \"ZXTape!\" signature)";
    return false;
  }
  if (data[8] != 1) {
    error = "CDT/TZX version " + std::to_string(data[8]) + " is not supported";
    return false;
  }
  Player p{{data, size, HEADER_SIZE, error}, {signal}, {}, 0};
  size_t at = HEADER_SIZE;
  // Loops of blocks without pulses would otherwise play for ever.
  for (size_t played = 0; at < size; ++played) {
    if (played == MAX_BLOCKS_PLAYED) {
      error = "tape image too long (loops)";
      return false;
    }
    p.r.pos = at + 1;
    size_t next = 0;
    const uint8_t id = data[at];
    // A loop end moves the position itself: its `next` is the loop's first block.
    if (!p.block(id, next)) return false;
    at = next;
    if (p.b.full) {
      error = "tape image too long";
      return false;
    }
  }
  return true;
}
