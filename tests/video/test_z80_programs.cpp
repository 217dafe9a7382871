// Small Z80 programs in RAM (no firmware) driving the CRTC and Gate Array through the
// port decoder: interrupt rate, frames, and raster splits placed by the processor's
// deferred OUT.
#include <cstring>
#include <map>

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
    uint8_t* ram0 = bank_table[0];
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
    std::copy(bytes.begin(), bytes.end(), bank_table[0] + at);
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

  int interrupts() const { return bank_table[0][0x100] | bank_table[0][0x101] << 8; }
};

TEST_F(Z80ProgramTest, FirmwareTimingInterruptsThreeHundredTimesASecond) {
  code(0x2A, {0xFB, 0x76, 0x18, 0xFD});  // EI; HALT; JR HALT
  run_until(1000000);
  EXPECT_GE(interrupts(), 299);
  EXPECT_LE(interrupts(), 301);
  EXPECT_GE(renders, 49);
  EXPECT_LE(renders, 51);
  EXPECT_EQ(beam_state().vertical_hold, 0);
  // Frame-end work once per frame, at an interrupt.
  EXPECT_GE(marks, 48);
  EXPECT_LE(marks, renders);
  // The border shows the ink the program chose.
  EXPECT_EQ(frame_buffer[2 * FRAME_WIDTH * 5 + 20], host_colour[4]);
}

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
  // A monitor line in the top border: runs of one colour, whole characters long.
  const int y = 10;
  std::map<int, int> runs;  // length → count
  const uint16_t* row = frame_buffer + 2 * FRAME_WIDTH * y;
  int start = 0;
  int seen = 0;
  for (int x = 1; x <= FRAME_WIDTH; ++x) {
    if (x == FRAME_WIDTH || row[x] != row[start]) {
      if (start != 0 && x != FRAME_WIDTH) {
        ++runs[x - start];
        ++seen;
        EXPECT_TRUE(row[start] == host_colour[4] || row[start] == host_colour[12]);
      }
      start = x;
    }
  }
  EXPECT_GE(seen, 6);
  for (auto [len, count] : runs) EXPECT_TRUE(len == 4 * 16 || len == 7 * 16) << "run of " << len << " pixels";
}

}  // namespace
