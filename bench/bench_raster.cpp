// Raster engine speed: emulated microseconds per second of the CRTC and pixel generation,
// without the processor.
//
//   cmake --build build --target bench_raster && build/bin/bench_raster
//
// The "items_per_second" counter is emulated microseconds per wall second (1,000,000
// means real time). The whole machine's figure at the BASIC prompt comes from
//   arvelo-run --model 6128 --seconds 60 --bench
#include <benchmark/benchmark.h>

#include <cstring>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "video/colours.h"
#include "video/gate_array.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

uint8_t video_ram[4][16384];

// The firmware's screen: mode 1, 40 × 25 characters, a screen of text-like bytes.
void firmware_screen(int mode) {
  host_install_headless();
  reset_settings();
  build_colour_tables();
  for (int i = 0; i < 4; ++i) video_map_block(i, video_ram[i]);
  for (int i = 0; i < 16384; ++i) video_ram[3][i] = static_cast<uint8_t>((i * 37) ^ (i >> 5));
  machine_attach_units();
  video_reset(ResetKind::POWER_ON);
  video_apply_timing_settings();
  const int crtc[14] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0};
  for (int r = 0; r < 14; ++r) crtc_write_register(r, crtc[r]);
  const int inks[17] = {1, 24, 20, 6, 26, 0, 2, 8, 10, 12, 14, 16, 18, 22, 24, 16, 1};
  for (int p = 0; p < 17; ++p) ga_set_ink(p, inks[p]);
  ga_set_mode(mode);
  video_run(10 * 19968);
}

void BM_Raster_Frames(benchmark::State& state) {
  firmware_screen(static_cast<int>(state.range(0)));
  video_set_fast_path(state.range(1) != 0);
  for (auto _ : state) video_run(19968);
  video_set_fast_path(true);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 19968);
}
BENCHMARK(BM_Raster_Frames)
    ->ArgNames({"mode", "fast"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMicrosecond);

// The clock as the processor drives it: one call per instruction of 1..6 µs, no port
// access, interrupts refused (processor with interrupts disabled).
void BM_Raster_Advance(benchmark::State& state) {
  firmware_screen(1);
  z80_reset(0xFF);
  uint32_t wait = 0, refresh = 0;
  static const int tstates[8] = {4, 8, 12, 4, 16, 8, 20, 4};
  int64_t us = 0;
  for (auto _ : state) {
    for (int i = 0; i < 8000; ++i) {
      const int t = tstates[i & 7];
      video_advance(t, 0, wait, refresh);
      us += t / 4;
    }
  }
  state.SetItemsProcessed(us);
}
BENCHMARK(BM_Raster_Advance)->Unit(benchmark::kMicrosecond);

}  // namespace
