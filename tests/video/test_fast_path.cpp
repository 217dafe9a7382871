// The engine's fast loop for uneventful microseconds must give exactly what the full
// step gives: same pixels, same counters, same interrupts, whatever the CRTC does.
#include <cstring>
#include <vector>

#include "video_fixture.h"

using namespace videotest;

namespace {

struct Lcg {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

struct Outcome {
  std::vector<uint16_t> frame;
  std::vector<int> trace;  // counters and flags sampled after every chunk
};

class FastPathTest : public VideoTest {
 protected:
  // Runs a seeded sequence of CRTC, Gate Array and monitor events in chunks of 1..7 µs.
  Outcome run_script(bool fast, uint32_t seed, int type) {
    start(type);
    video_set_fast_path(fast);
    Lcg rng{seed};
    for (auto& block : ram)
      for (auto& b : block) b = static_cast<uint8_t>(rng.next());
    program_standard_crtc(rng.below(2) ? 0x8E : 0x25);
    for (int pen = 0; pen < 17; ++pen) ga_set_ink(pen, rng.below(32));
    ga_set_mode(rng.below(4));
    Outcome out;
    for (int chunk = 0; chunk < 60000; ++chunk) {
      video_run(1 + rng.below(7));
      if (ga_interrupt_pending() && rng.below(3) == 0) ga_acknowledge_interrupt();
      if (rng.below(400) == 0) {
        int reg = rng.below(14);
        int value;
        switch (reg) {
          case 0: value = 40 + rng.below(40); break;
          case 1: value = rng.below(70); break;
          case 2: value = rng.below(70); break;
          case 4: value = 20 + rng.below(30); break;
          case 8: value = rng.below(4) << 4 | rng.below(4); break;
          case 9: value = rng.below(12); break;
          default: value = rng.below(256); break;
        }
        crtc_write_register(reg, value);
      }
      if (rng.below(300) == 0) ga_set_ink(rng.below(17), rng.below(32));
      if (rng.below(500) == 0) ga_set_mode(rng.below(4));
      if (rng.below(3000) == 0) frame_restart();
      if (rng.below(2000) == 0) ga_reset_interrupt();
      BeamState b = beam_state();
      out.trace.insert(out.trace.end(), {b.x, b.y, b.hcc, b.vcc, b.rc, b.ma, b.hsync_count,
                                         b.vsync_count, b.hde, b.vde, b.line_end, b.pixel_offset,
                                         ga_interrupt_counter(), ga_interrupt_pending(),
                                         static_cast<int>(microsecond_counter)});
    }
    out.frame.assign(frame_buffer, frame_buffer + FRAME_PIXELS);
    video_set_fast_path(true);
    return out;
  }
};

TEST_F(FastPathTest, FastLoopMatchesFullStepOnEveryType) {
  for (int type = 0; type < 3; ++type) {
    for (uint32_t seed : {1u, 77u, 4242u}) {
      Outcome full = run_script(false, seed, type);
      Outcome fast = run_script(true, seed, type);
      ASSERT_EQ(full.trace.size(), fast.trace.size());
      size_t first = 0;
      while (first < full.trace.size() && full.trace[first] == fast.trace[first]) ++first;
      EXPECT_EQ(first, full.trace.size()) << "type " << type << " seed " << seed << ": state differs at sample "
                                           << first / 15 << " field " << first % 15;
      EXPECT_TRUE(full.frame == fast.frame) << "type " << type << " seed " << seed << ": pixels differ";
    }
  }
}

}  // namespace
