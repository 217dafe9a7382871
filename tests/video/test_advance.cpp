// The processor's clock: time conversion, single-step mode, interrupt offering and
// acknowledge time, and the frame-end work.
#include "video_fixture.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

using namespace videotest;

namespace {

class AdvanceTest : public VideoTest {
 protected:
  uint8_t cpu_ram[4][16384];
  uint32_t wait = 0;
  uint32_t refresh = 0;

  uint8_t* saved_read[4];
  uint8_t* saved_write[4];

  void SetUp() override {
    VideoTest::SetUp();
    std::memset(cpu_ram, 0, sizeof cpu_ram);
    for (int i = 0; i < 4; ++i) {
      saved_read[i] = read_bank[i];
      saved_write[i] = write_bank[i];
      read_bank[i] = write_bank[i] = cpu_ram[i];
    }
    z80_reset(0xFF);
    z80_reg16(z80w::SP) = 0xC000;
    z80_reg16(z80w::PC) = 0x4000;
    z80_reg8(z80r::IM) = 1;
    program_standard_crtc();
  }

  void TearDown() override {
    for (int i = 0; i < 4; ++i) {
      read_bank[i] = saved_read[i];
      write_bank[i] = saved_write[i];
    }
    VideoTest::TearDown();
  }

  void enable_interrupts() { z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET; }

  uint64_t advance(int t, int adj) {
    uint64_t before = microsecond_counter;
    EXPECT_EQ(video_advance(t, adj, wait, refresh), 0);
    return microsecond_counter - before;
  }

  // Runs 4 T-state instructions with interrupts enabled until done() holds.
  template <typename F>
  void run_instructions_until(F done) {
    while (!done()) {
      enable_interrupts();
      advance(4, 0);
    }
  }

  void run_until_pending() {
    for (int i = 0; i < 2 * 19968 && !ga_interrupt_pending(); ++i) video_run(1);
    ASSERT_TRUE(ga_interrupt_pending());
  }
};

TEST_F(AdvanceTest, InstructionTimeRoundsUpToWholeMicroseconds) {
  EXPECT_EQ(advance(4, 0), 1u);
  EXPECT_EQ(advance(6, 0), 2u);
  EXPECT_EQ(advance(4, -2), 2u);
  EXPECT_EQ(advance(10, 1), 3u);
  EXPECT_EQ(advance(11, 0), 3u);
  EXPECT_EQ(advance(23, 0), 6u);
}

// In single-step mode each call runs one microsecond and returns the microseconds the
// instruction still owes; a deferred OUT is performed in its microsecond.
TEST_F(AdvanceTest, SingleStepModeAndDeferredOutFallIntoTheRightMicrosecond) {
  // Position 1: performed when one microsecond of the instruction is left.
  z80.pending_out = Z80PendingOut{0xBC00, 12, 1};
  stop_request_word |= stopbit::STEP;
  const uint64_t t0 = microsecond_counter;
  EXPECT_EQ(video_advance(16, 0, wait, refresh), 3);
  EXPECT_EQ(microsecond_counter - t0, 1u);
  EXPECT_EQ(video_advance(0, 0, wait, refresh), 2);
  EXPECT_NE(crtc_selected(), 12);
  EXPECT_EQ(video_advance(0, 0, wait, refresh), 1);
  EXPECT_EQ(crtc_selected(), 12);
  EXPECT_EQ(video_advance(0, 0, wait, refresh), 0);
  EXPECT_EQ(microsecond_counter - t0, 4u);
  // Position 0: after the last microsecond.
  z80.pending_out = Z80PendingOut{0xBC00, 9, 0};
  EXPECT_EQ(video_advance(8, 0, wait, refresh), 1);
  EXPECT_EQ(crtc_selected(), 12);
  EXPECT_EQ(video_advance(0, 0, wait, refresh), 0);
  EXPECT_EQ(crtc_selected(), 9);
  clear_stop_request();
}

TEST_F(AdvanceTest, InterruptWaitsWhileDisabledAndIsOfferedAfterEachInstruction) {
  run_until_pending();
  for (int i = 0; i < 20; ++i) {
    advance(4, 0);
    EXPECT_TRUE(ga_interrupt_pending());
  }
  EXPECT_EQ(z80_reg16(z80w::PC), 0x4000);
  enable_interrupts();
  uint64_t took = advance(4, 0);
  EXPECT_FALSE(ga_interrupt_pending());
  EXPECT_EQ(z80_reg16(z80w::PC), 0x0038);
  EXPECT_EQ(took, 1u + 4u + 1u) << "instruction, acknowledge (IM 1), one more µs";
  run_until_pending();
  enable_interrupts();
  EXPECT_EQ(advance(4, -4), 2u + 4u) << "the acknowledge is shorter after a negative adjustment";
}

TEST_F(AdvanceTest, LateAcknowledgeClearsCounterBit5) {
  run_until_pending();
  // 40 more lines with the interrupt held.
  video_run(40 * 64);
  int counter = ga_interrupt_counter();
  ASSERT_GE(counter, 32);
  enable_interrupts();
  advance(4, 0);
  EXPECT_EQ(ga_interrupt_counter(), counter & 31);
}

TEST_F(AdvanceTest, WaitWordClearedOnRefusalOnlyWithoutInterruptResume) {
  run_until_pending();
  wait = 7;
  advance(4, 0);
  EXPECT_EQ(wait, 7u) << "INTERRUPT_RESUME 1 keeps it";
  set_setting(kw::INTERRUPT_RESUME, 0);
  video_apply_timing_settings();
  advance(4, 0);
  EXPECT_EQ(wait, 0u);
  wait = 7;
  enable_interrupts();
  advance(4, 0);
  EXPECT_EQ(wait, 0u) << "cleared on delivery";
}

TEST_F(AdvanceTest, FrameEndWorkRunsOncePerFrameAtAnInterrupt) {
  EXPECT_EQ(crtc_type(), 1);
  set_setting(kw::CRTC_TYPE, 2);
  uint64_t previous_start = 0;
  for (int frame = 0; frame < 5; ++frame) {
    const int rendered = renders;
    run_instructions_until([&] { return renders != rendered; });
    uint64_t frame_end = microsecond_counter;
    int polls_before = polls;
    const int marks_before = marks;
    run_instructions_until([&] { return marks != marks_before; });
    EXPECT_EQ(marks, marks_before + 1);
    EXPECT_EQ(last_mark, previous_start) << "the start of the frame that just ended";
    EXPECT_GE(frame_start_time(), frame_end);
    EXPECT_LE(microsecond_counter - frame_end, 52u * 64u) << "at the next interrupt";
    EXPECT_EQ(polls, polls_before + 1);
    EXPECT_EQ(crtc_type(), 2) << "the CRTC type setting is taken again at frame end";
    previous_start = frame_start_time();
  }
  EXPECT_EQ(marks, renders);
}

TEST_F(AdvanceTest, LongFrameKeepsPollingEvents) {
  crtc_write_register(3, 0x80);  // no HSYNC: no interrupts, no frame-end work
  crtc_write_register(7, 127);
  for (int i = 0; i < 60000; ++i) advance(4, 0);
  int before = polls;
  advance(4, 0);
  EXPECT_EQ(polls, before + 1) << "each call polls once the frame is overlong";
}

}  // namespace
