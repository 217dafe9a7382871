// Tape images and the cassette deck: the pulses each CDT/TZX block makes against
// lengths worked out by hand from the format's rules (T-states of 3.5 MHz, two ticks
// each), CSW and WAV recordings, the deck played through the PPI, and SAVE recorded
// and read back.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/machine.h"
#include "hardware/keyboard.h"
#include "media/tape_deck.h"
#include "media/tape_image.h"
#include "test_support.h"
#include "video/raster.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// ---- Building images ---------------------------------------------------------------------------

// v as n little-endian bytes.
Bytes le(size_t v, int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> 8 * i));
  return b;
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes tzx(std::initializer_list<Bytes> blocks) {
  return cat({{'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20}, cat(blocks)});
}
// A block whose body follows a 32-bit length.
Bytes sized(uint8_t id, const Bytes& body) { return cat({{id}, le(body.size(), 4), body}); }

Bytes standard(uint32_t pause, Bytes data) {
  return cat({{0x10}, le(pause, 2), le(data.size(), 2), data});
}
Bytes turbo(uint32_t pilot, uint32_t s1, uint32_t s2, uint32_t zero, uint32_t one,
            uint32_t pilots, uint8_t last_bits, uint32_t pause, Bytes data) {
  return cat({{0x11}, le(pilot, 2), le(s1, 2), le(s2, 2), le(zero, 2), le(one, 2), le(pilots, 2),
              {last_bits}, le(pause, 2), le(data.size(), 3), data});
}
Bytes tone(uint32_t length, uint32_t count) { return cat({{0x12}, le(length, 2), le(count, 2)}); }
Bytes pause(uint32_t ms) { return cat({{0x20}, le(ms, 2)}); }
Bytes zlib(const Bytes& raw) {
  uLongf n = compressBound(raw.size());
  Bytes out(n);
  compress(out.data(), &n, raw.data(), raw.size());
  out.resize(n);
  return out;
}
// No pause, then two stored pulses.
Bytes csw_block(uint32_t rate, uint8_t compression, Bytes payload) {
  return sized(0x18, cat({le(0, 2), le(rate, 3), {compression}, le(2, 4), payload}));
}
// Pilot: symbol 0 = one edge of 1000 T, played 3 times. Data: symbol 0 = 500+500 T,
// symbol 1 = 1000+1000 T, four 1-bit symbols 1,0,1,0.
Bytes generalized() {
  return sized(0x19, cat({le(0, 2),                      // pause
                          le(1, 4), {1, 1},              // TOTP, NPP, ASP
                          le(4, 4), {2, 2},              // TOTD, NPD, ASD
                          {0}, le(1000, 2), {0}, le(3, 2),  // pilot symbol, played 3 times
                          {0}, le(500, 2), le(500, 2),   // data symbol 0
                          {0}, le(1000, 2), le(1000, 2),  // data symbol 1
                          {0xA0}}));                      // 1 0 1 0
}

// Runs of equal segment lengths: {ticks, count}; the levels are checked apart.
using Runs = std::vector<std::pair<uint32_t, uint32_t>>;
Runs runs_of(const TapeSignal& s) {
  Runs r;
  for (uint32_t seg : s.segments) {
    const uint32_t len = seg & TAPE_LENGTH_MASK;
    if (!r.empty() && r.back().first == len) ++r.back().second;
    else r.push_back({len, 1});
  }
  return r;
}
bool alternates(const TapeSignal& s, size_t from, size_t to) {
  for (size_t i = from + 1; i < to && i < s.segments.size(); ++i)
    if (((s.segments[i] ^ s.segments[i - 1]) & TAPE_LEVEL_BIT) == 0) return false;
  return true;
}
bool high(const TapeSignal& s, size_t i) { return s.segments.at(i) & TAPE_LEVEL_BIT; }
// The signal of an image that must be readable.
TapeSignal signal_of(const Bytes& image) {
  TapeSignal s;
  std::string error;
  EXPECT_TRUE(tape_read_image(image, s, error)) << error;
  return s;
}
using Segments = std::vector<uint32_t>;

// ---- Block cases ---------------------------------------------------------------------------------

struct BlockCase {
  const char* name;  // also the test's name
  Bytes image;
  Runs runs;                 // expected segment lengths in ticks
  size_t blocks = 1;         // entries of the block list
  std::vector<size_t> stops = {};
  bool first_high = true;    // level of the first segment
};

std::ostream& operator<<(std::ostream& o, const BlockCase& c) { return o << c.name; }

std::vector<BlockCase> block_cases() {
  return {
      // Flag 0x80 (data): 3223 pilot pulses of 2168 T, syncs 667 and 735 T, a one bit
      // (2 x 1710 T), seven zero bits (14 x 855 T); the 3241st pulse is high, so the
      // pause starts with the edge to low and is low for its 2 ms.
      {"standard", tzx({standard(2, {0x80})}),
       {{4336, 3223}, {1334, 1}, {1470, 1}, {3420, 2}, {1710, 14}, {14000, 1}}},
      // Header flag 0x00: 8063 pilot pulses; eight zero bits; no pause.
      {"standard_header", tzx({standard(0, {0x00})}),
       {{4336, 8063}, {1334, 1}, {1470, 1}, {1710, 16}}},
      // Two bytes, three bits used of the last: 1 0 1 0 0 0 0 0, then 1 1 1. The last
      // pulse (2 + 2 + 22 = 26th) is low: the pause rises for 1 ms, then falls.
      {"turbo", tzx({turbo(1000, 300, 400, 250, 500, 2, 3, 3, {0xA0, 0xE0})}),
       {{2000, 2}, {600, 1}, {800, 1}, {1000, 2}, {500, 2}, {1000, 2}, {500, 10}, {1000, 6},
        {7000, 1}, {14000, 1}}},
      {"pure_tone", tzx({tone(1000, 5)}), {{2000, 5}}},
      {"pulse_sequence", tzx({{0x13, 3, 100, 0, 200, 0, 0x2C, 0x01}}),
       {{200, 1}, {400, 1}, {600, 1}}},
      // Pure data: 0x0F = four zero bits (500 T pulses), four one bits (1000 T).
      {"pure_data", tzx({{0x14, 0xF4, 0x01, 0xE8, 0x03, 8, 0, 0, 1, 0, 0, 0x0F}}),
       {{1000, 8}, {2000, 8}}},
      // Direct recording, 100 T a sample, five bits used of 0b11100xxx: high 3, low 2.
      {"direct_recording", tzx({{0x15, 100, 0, 0, 0, 5, 1, 0, 0, 0xE7}}), {{600, 1}, {400, 1}}},
      // CSW at 7000 Hz (1000 ticks a sample): pulses of 3 and 5 samples, plain and zlib.
      {"csw_rle", tzx({csw_block(7000, 1, {3, 5})}), {{3000, 1}, {5000, 1}}},
      {"csw_z_rle", tzx({csw_block(7000, 2, zlib({3, 5}))}), {{3000, 1}, {5000, 1}}},
      // Generalized: 3 pilot edges of 1000 T, then symbols 1 0 1 0.
      {"generalized", tzx({generalized()}), {{2000, 5}, {1000, 2}, {2000, 2}, {1000, 2}}},
      // A pause block, and "stop the tape" (pause 0) between two tones.
      {"pause_and_stop", tzx({tone(1000, 1), pause(5), tone(1000, 1), pause(0), tone(500, 2)}),
       {{2000, 1}, {35000, 1}, {2000, 1}, {1000, 2}}, 5, {3}},
      // A loop of three around a tone of two pulses is listed once and played thrice.
      {"loop", tzx({{0x24, 3, 0}, tone(1000, 2), {0x25}}), {{2000, 6}}, 2},
      // Groups, texts, glue and an unknown block with a length: listed, no pulses.
      {"information_blocks",
       tzx({{0x21, 2, 'G', '1'}, {0x30, 2, 'h', 'i'}, tone(1000, 1), {0x22},
            {0x5A, 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20}, {0x4B, 2, 0, 0, 0, 9, 9}, tone(700, 1)}),
       {{2000, 1}, {1400, 1}}, 7},
      // The signal level set low, then high: each next pulse toggles from it.
      {"set_signal_level", tzx({{0x2B, 1, 0, 0, 0, 1}, tone(1000, 1)}), {{2000, 1}}, 1, {}, false},
  };
}

class TapeBlocks : public testing::TestWithParam<BlockCase> {};

TEST_P(TapeBlocks, PulseLengthsLevelsAndStops) {
  const BlockCase& c = GetParam();
  const TapeSignal s = signal_of(c.image);
  EXPECT_EQ(runs_of(s), c.runs);
  EXPECT_EQ(high(s, 0), c.first_high);
  EXPECT_EQ(s.stops, c.stops);
  EXPECT_EQ(s.blocks.size(), c.blocks);
}

INSTANTIATE_TEST_SUITE_P(Cdt, TapeBlocks, testing::ValuesIn(block_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TapeImages, DataPulsesAlternateAndGroupsAreNamed) {
  const TapeSignal s = signal_of(tzx({{0x21, 2, 'G', '1'}, standard(0, {0x5A, 0xC3})}));
  EXPECT_TRUE(alternates(s, 0, s.segments.size()));
  EXPECT_EQ(s.blocks[0].description, "Group: G1");
  EXPECT_EQ(s.blocks[1].description, "Standard data, 2 bytes");
}

TEST(TapeImages, DamagedImagesAreRefusedWithAMessage) {
  const Bytes whole = tzx({turbo(1000, 300, 400, 250, 500, 2, 8, 0, {1, 2, 3, 4})});
  struct Bad {
    Bytes image;
    const char* says;
  } cases[] = {
      {Bytes(whole.begin(), whole.end() - 2), "truncated turbo data block"},
      {tzx({{0x12, 1}}), "truncated pure tone"},
      {tzx({{0x24, 0xFF, 0xFF}, {0x24, 0xFF, 0xFF}, {0x24, 0xFF, 0xFF}, {0x25}, {0x25}, {0x25}}),
       "too long"},
      {tzx({csw_block(7000, 2, {1, 2, 3})}), "compressed data is damaged"},
      {{'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 2, 0}, "version 2"},
      {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, "no format chunk"},
      // A chunk of odd length at the very end, its pad byte missing.
      {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'L', 'I', 'S', 'T', 1, 0, 0, 0, 7},
       "no format chunk"},
      {{1, 2, 3}, "not a tape image"},
  };
  for (const Bad& c : cases) {
    TapeSignal s;
    std::string error;
    EXPECT_FALSE(tape_read_image(c.image, s, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

// ---- CSW and WAV files ----------------------------------------------------------------------------

// Version 1 (16-bit rate), or version 2 (32-bit rate, a pulse count, the encoder's
// name and two bytes of header extension).
Bytes csw_file(int version, uint32_t rate, uint8_t compression, bool start_high, Bytes data) {
  const auto v = static_cast<uint8_t>(version);
  const Bytes head = cat({text("Compressed Square Wave"), {0x1A, v, 0}});
  const Bytes flags = {compression, static_cast<uint8_t>(start_high ? 1 : 0)};
  if (version == 1) return cat({head, le(rate, 2), flags, le(0, 3), data});
  return cat({head, le(rate, 4), le(3, 4), flags, {2}, Bytes(16, 0), {0xEE, 0xEE}, data});
}

TEST(TapeImages, CswVersionsGiveTheSamePulses) {
  // 44,100 Hz: 3 samples are 476.19 ticks, placed by absolute position (476, 476, then
  // a long pulse of 70,000 samples given as 0 and a 32-bit count).
  const Bytes rle = {3, 3, 0, 0x70, 0x11, 0x01, 0x00};
  for (const Bytes& image : {csw_file(1, 44100, 1, true, rle), csw_file(2, 44100, 1, true, rle),
                             csw_file(2, 44100, 2, true, zlib(rle))}) {
    const auto long_pulse = static_cast<uint32_t>(tape_sample_ticks(70006, 44100) - 952);
    EXPECT_EQ(signal_of(image).segments,
              (Segments{TAPE_LEVEL_BIT | 476u, 476u, TAPE_LEVEL_BIT | long_pulse}));
  }
}

Bytes wav(uint32_t rate, int channels, int bits, const std::vector<int>& first_channel) {
  Bytes data;
  for (int v : first_channel)
    for (int c = 0; c < channels; ++c) {
      const int s = c == 0 ? v : -v;  // the other channel inverted: it must not count
      if (bits == 8) data.push_back(static_cast<uint8_t>(128 + s / 256));
      else data = cat({data, le(static_cast<uint16_t>(s), 2)});
    }
  const int frame = channels * bits / 8;
  return cat({text("RIFF"), le(36 + data.size(), 4), text("WAVEfmt "), le(16, 4), le(1, 2),
              le(channels, 2), le(rate, 4), le(rate * frame, 4), le(frame, 2), le(bits, 2),
              text("data"), le(data.size(), 4), data});
}

TEST(TapeImages, WavLevelsFollowTheFirstChannelWithHysteresis) {
  // 7000 Hz, so a sample is 1000 ticks. Small wobbles around the middle make no edge.
  const std::vector<int> samples = {8000, 9000, 1000, -2000, -9000, -8000, -500, 300, 9000, 9000};
  for (int channels : {1, 2})
    for (int bits : {8, 16})
      EXPECT_EQ(signal_of(wav(7000, channels, bits, samples)).segments,
                (Segments{TAPE_LEVEL_BIT | 3000u, 5000u, TAPE_LEVEL_BIT | 2000u}))
          << channels << " channels, " << bits << " bits";
}

// ---- The deck through the PPI ----------------------------------------------------------------------

class TapeDeck : public testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::temp_dir("deck");
    machine_attach_units();  // the PPI reaches the deck through what set-up attaches
    microsecond_counter = 1000;
    ppi_reset();
  }
  void TearDown() override {
    ppi_write(2, 0);
    tape_deck_eject();
    fs::remove_all(dir);
  }
  // Port B bit 7 at microsecond t.
  bool level_at(uint64_t t) {
    microsecond_counter = t;
    return ppi_read(1) & 0x80;
  }
  void port_c_at(uint64_t t, uint8_t v) {
    microsecond_counter = t;
    ppi_write(2, v);
  }
  fs::path dir;
};

TapeSignal two_tones_with_stop() {
  // 7 ticks a microsecond: pulses of 100 µs, then a stop, then a pulse of 300 µs.
  TapeSignal s;
  TapeBuilder b{s};
  b.begin_block("first");
  b.pulse(700);
  b.pulse(700);
  b.stop();
  b.begin_block("second");
  b.pulse(2100);
  return s;
}

TEST_F(TapeDeck, PlaysOnlyWithTheMotorAndHoldsAtStopsAndTheEnd) {
  tape_deck_insert_signal(two_tones_with_stop(), (dir / "t.cdt").string());
  EXPECT_FALSE(level_at(1050));  // motor off: the tape stands
  port_c_at(2000, 0x10);
  EXPECT_TRUE(level_at(2050));
  EXPECT_FALSE(level_at(2150));
  port_c_at(2160, 0x00);         // motor off for a while: position kept
  EXPECT_FALSE(level_at(9000));
  port_c_at(9000, 0x10);
  EXPECT_FALSE(level_at(9030));  // 190 µs into the tape: still the second pulse
  EXPECT_FALSE(level_at(9100));  // the stop: PLAY released
  EXPECT_FALSE(tape_deck_status().playing);
  EXPECT_EQ(tape_deck_status().position_ticks, 1400u);
  tape_deck_play();
  EXPECT_TRUE(level_at(9200));
  EXPECT_TRUE(level_at(9399));
  EXPECT_TRUE(level_at(20000));  // the end: the deck stops and the level stays
  EXPECT_FALSE(tape_deck_status().playing);
  EXPECT_EQ(tape_deck_status().position_ticks, 3500u);
  // Winding: to the second block, then back to the start.
  ASSERT_TRUE(tape_deck_wind_to_block(1));
  EXPECT_EQ(tape_deck_status().block, 1u);
  EXPECT_EQ(tape_deck_status().position_ticks, 1400u);
  tape_deck_rewind();
  tape_deck_play();
  EXPECT_TRUE(level_at(20050));
  EXPECT_FALSE(tape_deck_wind_to_block(2));
}

TEST_F(TapeDeck, TheBitSetCommandMovesTheMotorAndACounterResetIsNoTime) {
  tape_deck_insert_signal(two_tones_with_stop(), (dir / "t.cdt").string());
  microsecond_counter = 5000;
  ppi_write(3, 0x09);  // port C bit 4 set through the control register
  EXPECT_TRUE(level_at(5050));
  EXPECT_TRUE(tape_deck_status().motor);
  // A machine reset starts the microsecond counter again: the tape does not jump.
  EXPECT_TRUE(level_at(10));
  EXPECT_EQ(tape_deck_status().position_ticks, 350u);
}

TEST_F(TapeDeck, SaveIsRecordedUnderANewNameAsCdtOrCsw) {
  // The image played is never overwritten: the recording takes the next free name.
  const fs::path played = dir / "game.cdt";
  std::ofstream(played, std::ios::binary).write("ZXTape!\x1A\x01\x14", 10);
  std::ofstream(dir / "game-1.cdt") << "x";
  std::string error;
  ASSERT_TRUE(tape_deck_insert(played.c_str(), error)) << error;
  // Motor on, the write line toggled at 0, 500, 1500, 1800 µs after 10,000, motor off.
  for (auto [t, v] : {std::pair<uint64_t, uint8_t>{10000, 0x10}, {10000, 0x30}, {10500, 0x10},
                      {11500, 0x30}, {11800, 0x10}, {12000, 0x00}})
    port_c_at(t, v);
  EXPECT_EQ(testsupport::file_bytes(played).size(), 10u);
  const fs::path written = dir / "game-2.cdt";
  ASSERT_TRUE(fs::exists(written));
  EXPECT_EQ(tape_deck_status().written, written.string());
  const TapeSignal s = signal_of(testsupport::file_bytes(written));
  // Samples of 22.57 µs: each stretch within one sample of its length.
  const double expected[] = {500, 1000, 300, 200};
  ASSERT_GE(s.segments.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(high(s, i), i % 2 == 0) << i;
    EXPECT_NEAR((s.segments[i] & TAPE_LENGTH_MASK) / 7.0, expected[i], 23.0) << i;
  }

  // A recording to a new CSW name is a CSW image.
  const fs::path blank = dir / "new.csw";
  ASSERT_TRUE(tape_deck_insert(blank.c_str(), error)) << error;
  port_c_at(20000, 0x10);
  port_c_at(20000, 0x30);
  port_c_at(20907, 0x10);  // 907 µs: 40 samples at 44,100 Hz
  port_c_at(21000, 0x00);
  tape_deck_eject();
  const TapeSignal csw = signal_of(testsupport::file_bytes(blank));
  ASSERT_EQ(csw.segments.size(), 2u);
  EXPECT_EQ(csw.segments[0], TAPE_LEVEL_BIT | static_cast<uint32_t>(tape_sample_ticks(40, 44100)));
}

TEST_F(TapeDeck, ATapeSwitchesTheBypassOffAndEjectingOnAgain) {
  // A 464 operating system ROM whose jumpblock copy points the cassette entries at
  // routines from 0x2000 on and the entries before them at routines from 0x1000 on: set-up
  // patches only a ROM that looks like the firmware.
  std::vector<uint8_t> rom(16384, 0);
  for (int entry = 0xBB00; entry <= 0xBC9B; entry += 3) {
    const int at = 0x8AC + (entry - 0xBB00) / 3 * 2;
    rom[at] = static_cast<uint8_t>(entry & 0xFF);
    rom[at + 1] = entry >= 0xBC65 ? 0x20 : 0x10;
  }
  const uint8_t reset_code[] = {0x01, 0x89, 0x7F, 0xED, 0x49};  // a firmware begins with it
  std::copy(std::begin(reset_code), std::end(reset_code), rom.begin());
  set_setting(kw::TAPE_BYPASS, 1);
  tape_deck_note_os_rom(rom.data(), model::CPC464);
  std::string error;
  ASSERT_TRUE(tape_deck_insert((dir / "blank.cdt").c_str(), error));
  EXPECT_FALSE(tape_bypass_wanted());
  EXPECT_EQ(rom[0x2065], 0);
  tape_deck_eject();
  EXPECT_TRUE(tape_bypass_wanted());
  EXPECT_EQ(rom[0x2065], 0xED);
  EXPECT_EQ(rom[0x2066], 0xFC);
  tape_deck_teardown();
}

}  // namespace
