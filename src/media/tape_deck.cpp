#include "media/tape_deck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "media/media_file.h"
#include "media/tape.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

constexpr size_t OS_ROM_SIZE = 16384;
constexpr uint8_t PORT_C_MOTOR = 0x10;
constexpr uint8_t PORT_C_WRITE = 0x20;
// The longest stretch kept at the end of a recording: the firmware leaves the motor
// running a while after the last block.
constexpr uint32_t MAX_TRAILING_US = 1000000;
// Recorded stretches reserved at the first edge of a session, so that a SAVE of normal
// length never grows the buffer inside the port write.
constexpr size_t RECORD_RESERVE = 1u << 20;

// The recording: stretches of the write line in microseconds (level in bit 31), and the
// index of the first stretch of each motor session.
struct Recording {
  std::vector<uint32_t> stretches;
  std::vector<size_t> sessions;
  bool session_open = false;  // an edge came since the motor started
  bool unsaved = false;
  uint64_t last_edge_us = 0;
  bool level = false;
  std::string file;  // chosen at the first write, rewritten afterwards
};

struct Deck {
  TapeSignal signal;
  std::string name;
  bool loaded = false;
  bool playing = false;
  bool motor = false;
  bool write_level = false;
  size_t segment = 0;      // under the head
  uint64_t used = 0;       // ticks of it already played
  uint64_t position = 0;   // ticks from the start of the tape
  uint64_t length = 0;     // ticks of the whole tape
  size_t next_stop = 0;    // index into signal.stops
  uint64_t last_us = 0;    // microsecond counter when the position was last updated
  bool level = false;
  bool fast_loading = true;
  Recording rec;
};
Deck deck;

struct KeptRom {
  uint8_t* rom = nullptr;
  int model = 0;
  uint8_t original[OS_ROM_SIZE];
};
KeptRom kept;

// ---- Playing --------------------------------------------------------------------------------

bool running() { return deck.loaded && deck.playing && deck.motor; }

void update_throttle() { video_hold_throttle(deck.fast_loading && running()); }

uint32_t segment_length(size_t i) { return deck.signal.segments[i] & TAPE_LENGTH_MASK; }

// Moves the head by the microseconds since the last update; stops at a stop mark or at
// the end of the tape.
void advance() {
  const uint64_t now = microsecond_counter;
  // A machine reset starts the counter again from 0: no time has passed for the tape.
  uint64_t ticks = now > deck.last_us ? (now - deck.last_us) * TAPE_TICKS_PER_US : 0;
  deck.last_us = now;
  if (!running()) return;
  const std::vector<uint32_t>& seg = deck.signal.segments;
  const std::vector<size_t>& stops = deck.signal.stops;
  while (ticks > 0) {
    if (deck.next_stop < stops.size() && stops[deck.next_stop] == deck.segment && deck.used == 0) {
      ++deck.next_stop;
      deck.playing = false;
      break;
    }
    if (deck.segment >= seg.size()) {
      deck.playing = false;
      break;
    }
    const uint64_t left = segment_length(deck.segment) - deck.used;
    const uint64_t step = ticks < left ? ticks : left;
    deck.used += step;
    deck.position += step;
    ticks -= step;
    deck.level = seg[deck.segment] & TAPE_LEVEL_BIT;
    if (deck.used == segment_length(deck.segment)) {
      ++deck.segment;
      deck.used = 0;
    }
  }
  if (!deck.playing) update_throttle();
}

// Puts the head at the start of segment i.
void seek_segment(size_t i) {
  advance();
  const std::vector<uint32_t>& seg = deck.signal.segments;
  i = std::min(i, seg.size());
  deck.position = 0;
  for (size_t k = 0; k < i; ++k) deck.position += segment_length(k);
  deck.segment = i;
  deck.used = 0;
  const std::vector<size_t>& stops = deck.signal.stops;
  // A stop mark right at the new place does not hold the tape: PLAY starts from it.
  deck.next_stop = static_cast<size_t>(std::upper_bound(stops.begin(), stops.end(), i) - stops.begin());
  deck.level = false;
}

// ---- Recording ------------------------------------------------------------------------------

void record(bool level, uint64_t us) {
  Recording& r = deck.rec;
  r.stretches.push_back((level ? TAPE_LEVEL_BIT : 0) |
                        static_cast<uint32_t>(std::min<uint64_t>(us, TAPE_LENGTH_MASK)));
}

void write_edge(bool level) {
  Recording& r = deck.rec;
  const uint64_t now = microsecond_counter;
  if (!r.session_open) {
    if (r.stretches.capacity() - r.stretches.size() < RECORD_RESERVE) {
      r.stretches.reserve(r.stretches.size() + RECORD_RESERVE);
      r.sessions.reserve(r.sessions.size() + 64);
    }
    r.sessions.push_back(r.stretches.size());
    r.session_open = true;
  } else {
    record(r.level, now > r.last_edge_us ? now - r.last_edge_us : 0);
  }
  r.last_edge_us = now;
  r.level = level;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A recording goes to the deck's own name when that is a blank tape, else to
// "name-N.ext" with the first N not taken; never over the image being played.
std::string recording_name() {
  std::string base = deck.name;
  std::string archive, member;
  if (media_split_archive_path(base, archive, member)) {
    const size_t slash = archive.rfind('/');
    base = (slash == std::string::npos ? std::string() : archive.substr(0, slash + 1)) + member;
  }
  if (!deck.loaded || !deck.signal.segments.empty() || exists(base)) {
    const size_t slash = base.rfind('/');
    const size_t dot = base.rfind('.');
    const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string stem = has_ext ? base.substr(0, dot) : base;
    std::string ext = has_ext ? base.substr(dot) : ".cdt";
    if (ext != ".csw" && ext != ".CSW") ext = ".cdt";
    for (int n = 1;; ++n) {
      std::string candidate = stem + "-" + std::to_string(n) + ext;
      if (!exists(candidate)) return candidate;
    }
  }
  return base;
}

void close_session() {
  Recording& r = deck.rec;
  if (!r.session_open) return;
  const uint64_t now = microsecond_counter;
  record(r.level, std::min<uint64_t>(now > r.last_edge_us ? now - r.last_edge_us : 0, MAX_TRAILING_US));
  r.session_open = false;
  r.unsaved = true;
}

void save_recording() {
  Recording& r = deck.rec;
  close_session();
  if (!r.unsaved) return;
  if (r.file.empty()) r.file = recording_name();
  const bool csw = r.file.size() > 4 && (r.file.compare(r.file.size() - 4, 4, ".csw") == 0 ||
                                         r.file.compare(r.file.size() - 4, 4, ".CSW") == 0);
  const std::vector<uint8_t> bytes =
      csw ? tape_encode_csw(r.stretches, r.sessions) : tape_encode_cdt(r.stretches, r.sessions);
  FILE* f = std::fopen(r.file.c_str(), "wb");
  const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) f = nullptr;
  if (ok && f) {
    std::printf("Tape recording written to %s\n", r.file.c_str());
    r.unsaved = false;
  } else {
    std::printf("Tape recording could not be written to %s\n", r.file.c_str());
  }
}

// ---- The bypass -------------------------------------------------------------------------------

void apply_bypass() {
  const bool on = tape_bypass_wanted();
  z80_set_rom_trap(on);
  if (!kept.rom) return;
  std::memcpy(kept.rom, kept.original, OS_ROM_SIZE);
  if (on) tape_patch_rom(kept.rom, kept.model);
}

void load_into_deck(TapeSignal signal, const std::string& name) {
  tape_deck_eject();
  deck.signal = std::move(signal);
  deck.name = name;
  deck.loaded = true;
  deck.length = 0;
  for (size_t i = 0; i < deck.signal.segments.size(); ++i) deck.length += segment_length(i);
  deck.last_us = microsecond_counter;
  seek_segment(0);
  deck.playing = true;
  apply_bypass();
  update_throttle();
}

}  // namespace

// ---- Interface ---------------------------------------------------------------------------------

bool tape_deck_insert(const char* path, std::string& error) {
  int temp = 0;
  FILE* f = media_open(path, "rb", temp);
  TapeSignal signal;
  if (!f) {
    if (media_is_archive_path(path) || exists(path)) {
      error = std::string("cannot open the tape image ") + path;
      return false;
    }
    load_into_deck(std::move(signal), path);  // a blank tape
    return true;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  media_close_temp(temp);
  if (!tape_read_image(bytes, signal, error)) {
    error = std::string(path) + ": " + error;
    return false;
  }
  load_into_deck(std::move(signal), path);
  return true;
}

void tape_deck_insert_signal(TapeSignal signal, const std::string& name) {
  load_into_deck(std::move(signal), name);
}

void tape_deck_eject() {
  advance();
  save_recording();
  const bool fast = deck.fast_loading;
  const bool motor = deck.motor;
  const bool write_level = deck.write_level;
  deck = Deck();
  deck.fast_loading = fast;
  deck.motor = motor;
  deck.write_level = write_level;
  deck.last_us = microsecond_counter;
  apply_bypass();
  update_throttle();
}

bool tape_deck_loaded() { return deck.loaded; }

void tape_deck_play() {
  advance();
  deck.playing = deck.loaded;
  update_throttle();
}

void tape_deck_stop() {
  advance();
  deck.playing = false;
  update_throttle();
}

void tape_deck_rewind() { seek_segment(0); }

bool tape_deck_wind_to_block(size_t block) {
  if (block >= deck.signal.blocks.size()) return false;
  seek_segment(deck.signal.blocks[block].first_segment);
  return true;
}

bool tape_deck_read() {
  advance();
  return deck.level;
}

void tape_deck_port_c(uint8_t port_c) {
  const bool motor = port_c & PORT_C_MOTOR;
  const bool write_level = port_c & PORT_C_WRITE;
  if (motor != deck.motor) {
    advance();
    deck.motor = motor;
    if (!motor) save_recording();
    update_throttle();
  }
  if (write_level != deck.write_level) {
    deck.write_level = write_level;
    if (deck.motor && deck.loaded) write_edge(write_level);
  }
}

TapeDeckStatus tape_deck_status() {
  advance();
  TapeDeckStatus s{};
  s.loaded = deck.loaded;
  s.playing = deck.playing;
  s.motor = deck.motor;
  s.recording = deck.rec.session_open;
  const std::vector<TapeBlockInfo>& blocks = deck.signal.blocks;
  for (size_t i = 0; i < blocks.size() && blocks[i].first_segment <= deck.segment; ++i) s.block = i;
  s.position_ticks = deck.position;
  s.length_ticks = deck.length;
  s.name = deck.name;
  s.written = deck.rec.unsaved ? std::string() : deck.rec.file;
  return s;
}

bool tape_deck_active() { return deck.motor && deck.loaded && (deck.playing || deck.rec.session_open); }

const TapeSignal& tape_deck_signal() { return deck.signal; }

void tape_deck_set_fast_loading(bool on) {
  deck.fast_loading = on;
  update_throttle();
}

bool tape_deck_fast_loading() { return deck.fast_loading; }

void tape_deck_note_os_rom(uint8_t* rom, int model) {
  kept.rom = rom;
  kept.model = model;
  std::memcpy(kept.original, rom, OS_ROM_SIZE);
}

bool tape_bypass_wanted() { return setting(kw::TAPE_BYPASS) && !deck.loaded; }

void tape_deck_teardown() {
  advance();
  save_recording();
  kept.rom = nullptr;
}
