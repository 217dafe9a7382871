#!/usr/bin/env bash
# The sound generator's write ring under ThreadSanitizer: one thread records register
# writes, drive-sound commands, disc sounds and frame marks as the emulation does, while
# a second thread mixes output buffers as SDL's audio callback does. Bounded in time; any
# report of the sanitizer fails the test.
source "$(dirname "$0")/lib.bash"
SRC=${ARVELO_SOURCE_DIR:?ARVELO_SOURCE_DIR not set}
make_work

cat >"$WORK/stress.cpp" <<'CPP'
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "config/settings.h"
#include "sound/audio.h"
#include "sound/fx.h"
#include "sound/fx_recordings.h"
#include "sound/psg.h"

// The rest of the machine, reduced to what the sound unit reads.
uint64_t microsecond_counter = 0;
int setting_values[kw::COUNT];
int setting(kw::Id id) { return setting_values[id]; }
void set_setting(kw::Id id, int value) { setting_values[id] = value; }
const FxWavData fx_wav_table[9] = {};

int main() {
  set_setting(kw::SOUND_ENABLED, 1);
  set_setting(kw::SOUND_FX_ENABLED, 2);
  set_setting(kw::REALTIME, 1);
  psg_set_output_rate(44100);
  psg_ring_allocate();
  audio_reset(true);
  static const int16_t click[64] = {1000, -1000, 500};
  for (int r = 0; r < FX_RECORDING_COUNT; ++r) fx_install(r, click, 64);

  std::atomic<bool> done{false};
  std::atomic<long> buffers{0};
  std::thread audio([&] {
    int16_t buf[2 * 256];
    while (!done.load(std::memory_order_acquire)) {
      audio_mix(buf, 256);
      buffers.fetch_add(1, std::memory_order_relaxed);
    }
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  long writes = 0;
  uint64_t frame_start = 0;
  while (std::chrono::steady_clock::now() < until) {
    for (int k = 0; k < 2000; ++k, ++writes) {
      microsecond_counter += (k & 7) ? 3 : 150;
      psg_write(static_cast<int>(writes % 14), static_cast<int>(writes & 0xFF));
      if (k % 97 == 0) psg_write(8, k & 15);  // volume bursts
      if (k % 500 == 0) fx_key_press();
      if (k % 700 == 0) fx_step(3);
    }
    play_disc_sound(DISC_SOUND_SHORT);
    audio_mark_frame(frame_start);
    frame_start = microsecond_counter;
    audio_mute();
    audio_unmute();
  }
  done.store(true, std::memory_order_release);
  audio.join();
  std::printf("writes=%ld buffers=%ld folded=%llu\n", writes, buffers.load(),
              static_cast<unsigned long long>(psg_ring_coalesced()));
  return buffers.load() > 0 && writes > 0 ? 0 : 1;
}

// The frame mark of the audio device, without SDL: the clock under its spin lock.
void audio_mark_frame(uint64_t frame_start_us) {
  psg_flush_coalesced();
  audio_clock_set(frame_start_us);
}
CPP

g++ -std=c++20 -O1 -g -fsanitize=thread -I"$SRC/src" -o "$WORK/stress" "$WORK/stress.cpp" \
  "$SRC/src/sound/psg.cpp" "$SRC/src/sound/fx.cpp" "$SRC/src/sound/audio.cpp" -pthread ||
  fail "the stress program does not build"
TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$WORK/stress" >"$WORK/out.txt" 2>"$WORK/err.txt" ||
  fail "ThreadSanitizer: $(head -40 "$WORK/err.txt")"
grep -q WARNING "$WORK/err.txt" && fail "ThreadSanitizer: $(head -40 "$WORK/err.txt")"
echo "sound_ring_tsan: $(cat "$WORK/out.txt")"
