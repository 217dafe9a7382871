// A raster engine driven without the processor: CRTC programmed directly, video RAM
// owned by the test, host hooks that count what the engine asks of the host.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "video/colours.h"
#include "video/gate_array.h"
#include "video/raster.h"

namespace videotest {

inline int renders = 0;
inline int polls = 0;
inline int marks = 0;
inline uint64_t last_mark = 0;

// The firmware's screen: 64 µs lines, 39 rows of 8 lines, 40 × 25 characters shown.
inline void program_standard_crtc(int hsync_vsync = 0x8E) {
  const int values[14] = {63, 40, 46, hsync_vsync, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0};
  for (int r = 0; r < 14; ++r) crtc_write_register(r, values[r]);
}

class VideoTest : public ::testing::Test {
 protected:
  uint8_t ram[4][16384];

  void SetUp() override { start(1); }

  void start(int crtc_type) {
    reset_settings();
    set_setting(kw::CRTC_TYPE, crtc_type);
    set_setting(kw::REALTIME, 0);
    host_install_headless();
    host.render_frame = [] { ++renders; };
    host.poll_events = [] { ++polls; };
    host.audio_mark_frame = [](uint64_t t) {
      ++marks;
      last_mark = t;
    };
    renders = polls = marks = 0;
    clear_stop_request();
    std::memset(ram, 0, sizeof ram);
    for (int i = 0; i < 4; ++i) video_map_block(i, ram[i]);
    build_colour_tables();
    machine_attach_units();
    video_reset(ResetKind::POWER_ON);
    // The reset leaves the sync counters as they were; start every test from idle syncs.
    uint8_t idle[RASTER_BLOCK_SIZE] = {};
    idle[5] = idle[6] = 255;            // HSYNC and VSYNC counters idle
    idle[9] = 0xFF;                     // no resynchronisation pending
    idle[12] = static_cast<uint8_t>(-80);
    idle[13] = static_cast<uint8_t>(-43);
    raster_load(idle);
    video_apply_timing_settings();
    crtc_reset();
    clear_frame_buffer();
  }

  void TearDown() override { host_install_headless(); }

  // Runs until the CRTC is at character hcc of raster line rc of row vcc (the next step
  // draws that character). Fails after two frames' time.
  void run_to(int vcc, int rc, int hcc) {
    for (int i = 0; i < 50000; ++i) {
      BeamState b = beam_state();
      if (b.vcc == vcc && b.rc == rc && b.hcc == hcc && !b.in_adjust) return;
      video_run(1);
    }
    FAIL() << "CRTC position not reached";
  }

  // Frame-buffer index of the character the next step draws.
  static int next_char_index() {
    BeamState b = beam_state();
    return b.y * 2 * FRAME_WIDTH + b.x * 2 + b.pixel_offset;
  }

  // Runs until the engine has settled on a stable picture.
  static void settle() { video_run(20 * 19968); }
};

}  // namespace videotest
