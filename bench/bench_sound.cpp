// Sound speed: recording register writes (emulation thread) and mixing output buffers
// (audio thread) with all three channels, noise, the envelope and a drive sound busy.
//
//   cmake --build build --target bench_sound && build/bin/bench_sound
//
// Figures are "items_per_second": writes, or stereo frames, per second.
#include <benchmark/benchmark.h>

#include "config/settings.h"
#include "sound/audio.h"
#include "sound/fx.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace {

void busy_generator(int rate) {
  reset_settings();
  set_setting(kw::REALTIME, 0);
  microsecond_counter = 0;
  audio_headless_begin(rate);
  psg_force_timestamps(false);
  const int regs[14] = {142, 0, 71, 0, 213, 1, 7, 0x30, 15, 0x10, 12, 200, 1, 14};
  for (int r = 0; r < 14; ++r) psg_write(r, regs[r]);
  int16_t buf[2 * 64];
  audio_mix(buf, 64);  // the writes land
  fx_motor(1);
  audio_mix(buf, 4);
}

void BM_MixBuffer(benchmark::State& state) {
  busy_generator(static_cast<int>(state.range(0)));
  int16_t buf[2 * 256];
  for (auto _ : state) {
    audio_mix(buf, 256);
    benchmark::DoNotOptimize(buf);
  }
  state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(BM_MixBuffer)->Arg(44100)->Arg(62500);

void BM_PsgWrite(benchmark::State& state) {
  busy_generator(44100);
  int16_t buf[2 * 256];
  int i = 0;
  for (auto _ : state) {
    // A sample-playing program: volume writes a few microseconds apart.
    microsecond_counter += 60;
    psg_write(8, i++ & 15);
    if ((i & 255) == 0) {
      state.PauseTiming();
      audio_mix(buf, 256);  // keep the ring from filling
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PsgWrite);

}  // namespace
