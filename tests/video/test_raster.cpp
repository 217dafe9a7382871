// The raster engine without the processor: frame timing, interrupts, monitor hold,
// mode and ink changes, and the pixels each mode produces.
#include <string>
#include <vector>

#include "video/font8x8.h"
#include "video/gate_array.h"
#include "video_fixture.h"

using namespace videotest;

namespace {

constexpr int FRAME_US = 312 * 64;

// Runs `us` microseconds one at a time, acknowledging each interrupt as the processor
// would; returns the times at which interrupts were raised.
std::vector<uint64_t> collect_interrupts(int us) {
  std::vector<uint64_t> at;
  for (int i = 0; i < us; ++i) {
    video_run(1);
    if (ga_interrupt_pending()) {
      at.push_back(microsecond_counter);
      ga_acknowledge_interrupt();
    }
  }
  return at;
}

// Microseconds of the next complete VSYNC (0 when none comes within two frames).
uint64_t next_vsync_length() {
  int limit = 2 * FRAME_US;
  while (vsync_active() && --limit > 0) video_run(1);
  while (!vsync_active() && --limit > 0) video_run(1);
  uint64_t start_us = microsecond_counter;
  while (vsync_active() && --limit > 0) video_run(1);
  return limit > 0 ? microsecond_counter - start_us : 0;
}

// Each test runs on the CRTC type of its parameter, programmed as the firmware does.
class RasterTypes : public VideoTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    start(GetParam());
    program_standard_crtc();
  }
};

TEST_P(RasterTypes, FirmwareTimingGives312LinesAndSixInterruptsPerFrame) {
  settle();
  const BeamState settled = beam_state();
  EXPECT_EQ(settled.vertical_hold, 0);

  renders = 0;
  ga_acknowledge_interrupt();  // left pending while settling
  auto irq = collect_interrupts(10 * FRAME_US);
  EXPECT_EQ(renders, 10) << "one rendered frame per 312 lines";
  ASSERT_EQ(irq.size(), 60u);
  for (size_t i = 1; i < irq.size(); ++i) EXPECT_EQ(irq[i] - irq[i - 1], 52u * 64u) << i;

  // The monitor holds both ways: same line end, same hold, no picture shift.
  const BeamState after = beam_state();
  EXPECT_EQ(after.vertical_hold, 0);
  EXPECT_EQ(after.line_end, settled.line_end);
  EXPECT_EQ(after.pixel_offset, 0);
}

TEST_P(RasterTypes, VsyncResynchronisesTheInterruptCounter) {
  settle();
  // Counter reset 40 lines before the VSYNC: 42 at the second HSYNC end after it,
  // so the resynchronisation raises an interrupt.
  run_to(25, 0, 0);
  ga_reset_interrupt();
  while (!vsync_active()) video_run(1);
  EXPECT_GE(ga_interrupt_counter(), 40);
  bool raised = false;
  for (int i = 0; i < 3 * 64 && !raised; ++i) {
    video_run(1);
    raised = ga_interrupt_pending();
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(ga_interrupt_counter(), 0);

  // Counter reset just after the VSYNC start: below 32, only cleared.
  ga_acknowledge_interrupt();
  run_to(25, 0, 0);
  while (!vsync_active()) video_run(1);
  ga_reset_interrupt();
  for (int i = 0; i < 3 * 64; ++i) {
    video_run(1);
    EXPECT_FALSE(ga_interrupt_pending());
  }
  EXPECT_EQ(ga_interrupt_counter(), 1) << "cleared at the second HSYNC end, then one line on";
}

TEST_P(RasterTypes, PixelsOfEachModeComeFromThePenTables) {
  const int inks[17] = {21, 11, 6, 18, 0, 1, 2, 3, 5, 7, 8, 9, 10, 12, 13, 14, 4};
  for (int pen = 0; pen < 17; ++pen) ga_set_ink(pen, inks[pen]);
  // First character of the screen: R12/R13 = 0x3000 is block 3, offset 0.
  ram[3][0] = 0x88;
  ram[3][1] = 0x1B;
  struct Case {
    int mode;
    int pens[16];
  } cases[] = {
      {2, {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1}},
      {1, {3, 3, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 2, 3, 3}},
      {0, {3, 3, 3, 3, 0, 0, 0, 0, 10, 10, 10, 10, 12, 12, 12, 12}},
      {3, {3, 3, 3, 3, 0, 0, 0, 0, 2, 2, 2, 2, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    ga_set_mode(c.mode);
    settle();
    run_to(0, 0, 0);
    int index = next_char_index();
    video_run(1);
    for (int i = 0; i < 16; ++i)
      EXPECT_EQ(frame_buffer[index + i], host_colour[inks[c.pens[i]]]) << "mode " << c.mode << " pixel " << i;
    // The character before it is border.
    EXPECT_EQ(frame_buffer[index - 1], host_colour[inks[16]]);
  }
}

TEST_P(RasterTypes, InkChangeShowsFromTheNextCharacter) {
  ga_set_ink(0, 4);
  ga_set_ink(16, 20);
  settle();
  run_to(3, 2, 10);
  int index = next_char_index();
  ga_set_ink(0, 6);
  video_run(1);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(frame_buffer[index - 16 + i], host_colour[4]) << "character 9 keeps the old ink";
    EXPECT_EQ(frame_buffer[index + i], host_colour[6]) << "character 10 has the new one";
  }
}

TEST_P(RasterTypes, ModeChangeWaitsForHsyncUnlessHsyncJustBegan) {
  ga_set_mode(1);
  settle();
  ASSERT_EQ(ga_screen_mode(), 1);
  run_to(5, 0, 20);
  ga_set_mode(2);
  run_to(5, 0, 45);
  EXPECT_EQ(ga_screen_mode(), 1) << "mid-line: not before the HSYNC";
  video_run(1);  // HSYNC starts at character 46
  EXPECT_EQ(ga_screen_mode(), 2);
  run_to(5, 0, 48);  // HSYNC microsecond 2
  ga_set_mode(0);
  video_run(1);
  EXPECT_EQ(ga_screen_mode(), 0) << "within the first 7 µs of a HSYNC: at once";
  run_to(5, 0, 53);  // HSYNC microsecond 7
  ga_set_mode(1);
  video_run(2);
  EXPECT_EQ(ga_screen_mode(), 0);
  run_to(5, 1, 47);
  EXPECT_EQ(ga_screen_mode(), 1);
}

TEST_P(RasterTypes, VerticalAdjustLengthensTheFrame) {
  crtc_write_register(5, 4);  // four lines more than the 312
  settle();
  renders = 0;
  while (renders == 0) video_run(1);
  uint64_t t0 = microsecond_counter;
  while (renders == 1) video_run(1);
  EXPECT_EQ(microsecond_counter - t0, 316u * 64u);
}

TEST_P(RasterTypes, HsyncWidthZeroRaisesNoInterruptOnTypes0And1) {
  crtc_write_register(3, 0x80);
  auto irq = collect_interrupts(5 * FRAME_US);
  if (GetParam() == 2)
    EXPECT_EQ(irq.size(), 5u * 19968u / (52u * 64u)) << "type 2 takes width 0 as 16";
  else
    EXPECT_TRUE(irq.empty());
}

TEST_P(RasterTypes, VsyncWidthFollowsTheType) {
  for (int r3 : {0x2E, 0x1E, 0x0E}) {
    start(GetParam());
    program_standard_crtc(r3);  // VSYNC width from the high nibble on type 0 only
    settle();
    const uint64_t lines = GetParam() == 0 ? (r3 >> 4 ? r3 >> 4 : 16) : 16;
    for (int frame = 0; frame < 3; ++frame)
      EXPECT_EQ(next_vsync_length(), lines * 64u) << "R3 " << r3;
  }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, RasterTypes, ::testing::Values(0, 1, 2));

class RasterTest : public VideoTest {};

// White text on black paper with a black border, as the firmware prints it: every lit
// pixel of every glyph shows, also right after a blank character and at the first
// column beside the border, in the full step and in the fast path.
TEST_F(RasterTest, TextOnBlackShowsEveryLitPixelOfTheFont) {
  program_standard_crtc();
  const int ink_of_pen[4] = {HW_BLACK, 26, 6, 24};
  for (int pen = 0; pen < 4; ++pen) ga_set_ink(pen, ink_of_pen[pen]);
  ga_set_ink(16, HW_BLACK);
  const std::string text = "HEM B  W!i MW";
  for (int mode : {2, 1}) {
    // Mode 2: one byte per glyph row; mode 1: two bytes, pen 1 where the glyph is lit.
    const int bytes_per_glyph = mode == 2 ? 1 : 2;
    std::memset(ram, 0, sizeof ram);
    for (size_t c = 0; c < text.size(); ++c)
      for (int r = 0; r < 8; ++r) {
        const uint8_t g = font8x8[static_cast<uint8_t>(text[c])][r];
        uint8_t* at = &ram[3][(r << 11) + c * bytes_per_glyph];  // R12/R13 = 0x3000
        if (mode == 2) {
          at[0] = g;
        } else {
          at[0] = g & 0xF0;
          at[1] = static_cast<uint8_t>(g << 4);
        }
      }
    ga_set_mode(mode);
    for (bool fast : {true, false}) {
      video_set_fast_path(fast);
      settle();
      int line_start[8];
      for (int r = 0; r < 8; ++r) {
        run_to(0, r, 0);
        line_start[r] = next_char_index();
      }
      video_run(2 * 19968);  // a whole frame drawn again, in spans when fast
      // The text's 8 rows as pictures: '#' white, '.' black, '?' anything else.
      const int width = 8 * bytes_per_glyph;  // frame pixels per glyph
      std::vector<std::string> shown(8), font(8);
      for (int r = 0; r < 8; ++r)
        for (size_t c = 0; c < text.size(); ++c)
          for (int x = 0; x < width; ++x) {
            font[r] += glyph_pixel(static_cast<uint8_t>(text[c]), x * 8 / width, r) ? '#' : '.';
            const uint16_t p = frame_buffer[line_start[r] + static_cast<int>(c) * width + x];
            shown[r] += p == host_colour[26] ? '#' : (p == host_colour[HW_BLACK] ? '.' : '?');
          }
      EXPECT_EQ(shown, font) << "mode " << mode << (fast ? " fast path" : " full step");
    }
  }
  video_set_fast_path(true);
}

TEST_F(RasterTest, NarrowHsyncCountsButTheMonitorRunsFree) {
  program_standard_crtc(0x82);
  auto irq = collect_interrupts(5 * FRAME_US);
  EXPECT_FALSE(irq.empty());
  EXPECT_EQ(beam_state().line_end, 472) << "free-running lines drift to the longest line";
}

TEST_F(RasterTest, NoVsyncStillMakesFramesAndPollsEvents) {
  program_standard_crtc();
  crtc_write_register(7, 127);  // never reached: no VSYNC
  video_run(10 * FRAME_US);
  EXPECT_GE(renders, 7);
  EXPECT_LE(renders, 10);
  EXPECT_EQ(polls, renders);

  // With R0 and R4 both 0 nothing is rendered, but the events are still polled.
  start(1);
  video_run(10 * FRAME_US);
  EXPECT_EQ(renders, 0);
  EXPECT_GE(polls, 1);
}

// Skew (R8 bits 4 and 5) shows the border for that many characters on type 0 only,
// whether written before the frame (seen at character 0) or in the middle of a line.
TEST_F(RasterTest, SkewDelaysTheDisplayOnType0Only) {
  const struct { int type, skew, at, border; } cases[] = {{0, 1, 0, 1}, {1, 1, 0, 0}, {0, 3, 10, 3}};
  for (const auto& c : cases) {
    start(c.type);
    program_standard_crtc();
    ga_set_ink(0, 6);
    ga_set_ink(16, 4);
    if (c.at == 0) crtc_write_register(8, c.skew << 4);
    settle();
    run_to(3, 0, c.at);
    const int index = next_char_index();
    if (c.at != 0) crtc_write_register(8, c.skew << 4);
    video_run(c.skew + 1);
    for (int k = 0; k <= c.skew; ++k)
      EXPECT_EQ(frame_buffer[index + 16 * k + 8], host_colour[k < c.border ? 4 : 6])
          << "type " << c.type << " skew " << c.skew << " character " << k;
  }
}


TEST_F(RasterTest, DisplayBoundsOfThePreviousFrameGiveThePicture) {
  program_standard_crtc();
  settle();
  const DisplayBounds& b = previous_display_bounds();
  // 40 characters of 16 pixels; 25 rows of 8 lines (the last line is recorded on each
  // line of row R6, hence the 7).
  EXPECT_EQ((b.last_x - b.first_x) * 2, 640);
  EXPECT_EQ(b.last_line - b.first_line - 7, 200);
  EXPECT_GE(b.first_x, 0);
  EXPECT_GE(b.first_line, 0);
  EXPECT_LT(b.last_line, 272);

  // Interlace flips the field at each frame.
  int field = interlace_field();
  crtc_write_register(8, 3);
  renders = 0;
  while (renders == 0) video_run(1);
  EXPECT_NE(interlace_field(), field);
}

TEST_F(RasterTest, ShortFramesPullTheVerticalHold) {
  program_standard_crtc();
  crtc_write_register(4, 35);  // 288 lines
  video_run(40 * FRAME_US);
  BeamState b = beam_state();
  EXPECT_GT(b.vertical_hold, 0);
  EXPECT_LE(b.vertical_hold, 26);
  int hold = b.vertical_hold;
  video_run(10 * FRAME_US);
  EXPECT_EQ(beam_state().vertical_hold, hold) << "settles";
}

TEST_F(RasterTest, FrameBufferWritesStayInside) {
  // A CRTC with a huge horizontal total drives the beam far outside the buffer.
  const int values[14] = {255, 255, 250, 0x8F, 127, 31, 127, 100, 0, 31, 0, 0, 0, 0};
  for (int r = 0; r < 14; ++r) crtc_write_register(r, values[r]);
  video_run(30 * FRAME_US);
  // The monitor's own flyback still ends frames: each after 336 of its free-running
  // lines, so fewer than the 30 of a standard CRTC in that time.
  EXPECT_GE(renders, 20) << "the monitor still makes frames of its own";
  EXPECT_LT(renders, 30);
}

TEST_F(RasterTest, LoadedCountersOutOfRangeStillEndTheSyncs) {
  for (int type : {0, 2}) {
    start(type);
    program_standard_crtc();
    uint8_t block[RASTER_BLOCK_SIZE] = {};
    block[5] = 0xDF;  // HSYNC counter far beyond the width
    block[6] = 31;   // VSYNC counter beyond 16
    block[7] = 0x03; // both active
    block[9] = 0xFF;
    raster_load(block);
    auto irq = collect_interrupts(3 * FRAME_US);
    EXPECT_GE(irq.size(), 15u) << "type " << type;
  }
}

}  // namespace
