// Small Z80 programs in RAM (no firmware) driving the CRTC and Gate Array through the
// port decoder: interrupt rate, frames, and raster splits placed by the processor's
// deferred OUT.
#include <cstring>
#include <vector>

#include "hardware/memory.h"
#include "hardware/ports.h"
#include "video_fixture.h"
#include "z80/z80.h"

using namespace videotest;

namespace {

// Sets the CRTC to the firmware's screen from a table at 0x0050, ROMs off, mode 1,
// border ink from 0x0027, then runs the code at 0x002A. IM 1 handler at 0x0038 counts
// interrupts in the word at 0x0100.
const uint8_t prologue[] = {
    0xF3,              // 0000 DI
    0x31, 0x00, 0xC0,  // 0001 LD SP,C000
    0xED, 0x56,        // 0004 IM 1
    0x21, 0x50, 0x00,  // 0006 LD HL,0050
    0x7E,              // 0009 LD A,(HL)
    0xFE, 0xFF,        // 000A CP FF
    0x28, 0x0D,        // 000C JR Z,001B
    0x01, 0x00, 0xBC,  // 000E LD BC,BC00
    0xED, 0x79,        // 0011 OUT (C),A   register select
    0x23,              // 0013 INC HL
    0x7E,              // 0014 LD A,(HL)
    0x04,              // 0015 INC B
    0xED, 0x79,        // 0016 OUT (C),A   register write
    0x23,              // 0018 INC HL
    0x18, 0xEE,        // 0019 JR 0009
    0x01, 0x00, 0x7F,  // 001B LD BC,7F00
    0x3E, 0x8D,        // 001E LD A,8D     mode 1, both ROMs off
    0xED, 0x79,        // 0020 OUT (C),A
    0x3E, 0x10,        // 0022 LD A,10     select the border
    0xED, 0x79,        // 0024 OUT (C),A
    0x3E, 0x44,        // 0026 LD A,44     ink: hardware colour 4
    0xED, 0x79,        // 0028 OUT (C),A
};
const uint8_t handler[] = {
    0xE5,              // 0038 PUSH HL
    0x2A, 0x00, 0x01,  // 0039 LD HL,(0100)
    0x23,              // 003C INC HL
    0x22, 0x00, 0x01,  // 003D LD (0100),HL
    0xE1,              // 0040 POP HL
    0xFB,              // 0041 EI
    0xC9,              // 0042 RET
};
const uint8_t crtc_table[] = {0, 63, 1, 40, 2, 46, 3, 0x8E, 4, 38, 5, 0, 6, 25, 7, 30, 9, 7, 12, 0x30, 13, 0, 0xFF};

class Z80ProgramTest : public VideoTest {
 protected:
  void SetUp() override {
    VideoTest::SetUp();
    ASSERT_EQ(memory_allocate(0, 4), 0);
    memory_init(64, 4, 4);  // no ROM images: both ROM banks read as empty blocks
    uint8_t* ram0 = bank_block(0);
    std::memset(ram0, 0, BANK_SIZE);
    std::memcpy(ram0, prologue, sizeof prologue);
    std::memcpy(ram0 + 0x38, handler, sizeof handler);
    std::memcpy(ram0 + 0x50, crtc_table, sizeof crtc_table);
    z80_reset(0xFF);
    z80_set_breakpoint(-1);
    z80_set_speed_mode(0);
    clear_stop_request();
  }
  void TearDown() override {
    memory_free();
    VideoTest::TearDown();
  }

  void code(uint16_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), bank_block(0) + at);
  }

  void run_until(uint64_t us) {
    video_arm_break(us);
    while (video_break_armed()) {
      z80_run();
      ASSERT_EQ(stop_request_word & ~(stopbit::TIMED | stopbit::STEP | 0x4000u), 0u)
          << "unexpected stop " << std::hex << stop_request_word;
      clear_stop_request();
    }
  }

  int interrupts() const { return bank_block(0)[0x100] | bank_block(0)[0x101] << 8; }
};

TEST_F(Z80ProgramTest, BorderSplitsFallOnCharactersSetByTheOutTiming) {
  // With interrupts off: OUT (C),A; OUT (C),E; JR back — 4 + 4 + 3 µs. Each OUT takes
  // effect in its last microsecond but one, so the border is colour 4 for 4 characters
  // and colour 12 for 7.
  code(0x2A, {0x1E, 0x4C,         // 002A LD E,4C
              0x3E, 0x44,         // 002C LD A,44
              0xED, 0x79,         // 002E OUT (C),A
              0xED, 0x59,         // 0030 OUT (C),E
              0x18, 0xFA});       // 0032 JR 002E
  run_until(60 * 19968);  // the monitor's vertical hold has settled
  ASSERT_EQ(beam_state().vertical_hold, 0);
  // A monitor line in the top border: runs of one colour, whole characters long (the
  // first and the last run are cut by the line's ends).
  const uint16_t* row = frame_buffer + 2 * FRAME_WIDTH * 10;
  int seen = 0;
  for (int x = 1, start = 0; x < FRAME_WIDTH; ++x) {
    if (row[x] == row[start]) continue;
    if (start != 0) {
      ++seen;
      const int length = x - start;
      EXPECT_TRUE(row[start] == host_colour[4] || row[start] == host_colour[12]) << "x " << start;
      EXPECT_TRUE(length == 4 * 16 || length == 7 * 16) << "run of " << length << " pixels";
    }
    start = x;
  }
  EXPECT_GE(seen, 6);
}

// The clock lets the processor count plain stretches itself and draws them later; the
// picture, the memory, the registers and the time must come out as when every
// instruction is handed to the clock at once (the fast loop off), also while the program
// keeps writing to the memory on show and changing inks.
TEST_F(Z80ProgramTest, ProcessorCountingAheadDrawsWhatEveryInstructionDraws) {
  struct Result {
    std::vector<uint16_t> frame;
    std::vector<uint8_t> memory;
    uint8_t registers[Z80_SNAPSHOT_BLOCK];
    uint64_t us;
    int interrupts, frames, frame_ends;
  };
  auto run = [this](bool fast) {
    video_set_fast_path(fast);
    for (int q = 1; q < 4; ++q) std::memset(bank_block(q), 0, BANK_SIZE);
    code(0x2A, {0xC3, 0x00, 0x02});     // JP 0200
    code(0x200, {0x01, 0x00, 0x7F,      // 0200 LD BC,7F00
                 0x21, 0x00, 0xC0,      // 0203 LD HL,C000   the screen
                 0xFB,                  // 0206 EI
                 0x16, 0x00,            // 0207 LD D,0
                 0xED, 0x5F,            // 0209 LD A,R
                 0xAE,                  // 020B XOR (HL)
                 0x77,                  // 020C LD (HL),A
                 0x23,                  // 020D INC HL
                 0xCB, 0xF4,            // 020E SET 6,H
                 0xCB, 0xFC,            // 0210 SET 7,H
                 0xE5,                  // 0212 PUSH HL
                 0xE1,                  // 0213 POP HL
                 0x15,                  // 0214 DEC D
                 0x20, 0xF2,            // 0215 JR NZ,0209
                 0xED, 0x5F,            // 0217 LD A,R
                 0xE6, 0x1F,            // 0219 AND 1F
                 0xF6, 0x40,            // 021B OR 40
                 0xED, 0x79,            // 021D OUT (C),A   ink of the selected pen
                 0x0C,                  // 021F INC C
                 0xCB, 0xA9,            // 0220 RES 5,C
                 0xED, 0x49,            // 0222 OUT (C),C   select the next pen (or the border)
                 0x16, 0x20,            // 0224 LD D,20
                 0x18, 0xE1});          // 0226 JR 0209
    run_until(8 * 19968);
    Result r;
    r.frame.assign(frame_buffer, frame_buffer + FRAME_PIXELS);
    for (int q = 0; q < 4; ++q) r.memory.insert(r.memory.end(), bank_block(q), bank_block(q) + BANK_SIZE);
    z80_save_registers(r.registers);
    r.us = microsecond_counter;
    r.interrupts = interrupts();
    r.frames = renders;
    r.frame_ends = marks;
    video_set_fast_path(true);
    return r;
  };
  const Result every = run(false);
  TearDown();
  SetUp();
  const Result ahead = run(true);
  EXPECT_EQ(every.us, ahead.us);
  // Six interrupts a frame from the EI on; frames from the one the prologue started, each
  // with its frame-end work.
  const std::vector<int> counts{47, 7, 7};
  EXPECT_EQ((std::vector<int>{every.interrupts, every.frames, every.frame_ends}), counts);
  EXPECT_EQ((std::vector<int>{ahead.interrupts, ahead.frames, ahead.frame_ends}), counts);
  EXPECT_EQ(0, std::memcmp(every.registers, ahead.registers, sizeof every.registers));
  EXPECT_TRUE(every.memory == ahead.memory);
  EXPECT_TRUE(every.frame == ahead.frame);
}

}  // namespace
