// The mixing path of the audio output and the headless renderer.
#include "sound/audio.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "config/settings.h"
#include "sound/fx.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace {

std::atomic<bool> sound_enabled{true};

int clamp16(int v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : v); }

// One output frame: generator minus effects, then the clock step.
inline void mix_frame(int16_t* out) {
  int l, r, fl, fr;
  psg_render_sample(l, r);
  fx_mix(fl, fr);
  // Effects and generator together can exceed 16 bits; they are limited rather than
  // wrapped, which would turn a loud moment into a crack.
  out[0] = static_cast<int16_t>(clamp16(l - fl));
  out[1] = static_cast<int16_t>(clamp16(r - fr));
}

struct Headless {
  int rate = 44100;
  uint64_t start = 0;  // emulated microsecond of frame 0
  uint64_t index = 0;  // next frame
  uint64_t time_of(uint64_t k) const { return start + k * 1000000ull / static_cast<uint64_t>(rate); }
};
Headless headless;

struct Capture {
  std::FILE* file = nullptr;
  uint64_t frames = 0;
  bool failed = false;
  int16_t buffer[2 * 2048];
};
Capture capture;

void put_le(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void write_wav_header(std::FILE* f, uint64_t frames, int rate) {
  uint8_t h[44];
  const uint64_t data_bytes64 = frames * 4;
  const uint32_t data_bytes = data_bytes64 > 0xFFFFFFD0ull ? 0xFFFFFFD0u : static_cast<uint32_t>(data_bytes64);
  std::memcpy(h, "RIFF", 4);
  put_le(h + 4, 36 + data_bytes, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put_le(h + 16, 16, 4);
  put_le(h + 20, 1, 2);                  // PCM
  put_le(h + 22, 2, 2);                  // stereo
  put_le(h + 24, static_cast<uint32_t>(rate), 4);
  put_le(h + 28, static_cast<uint32_t>(rate) * 4, 4);
  put_le(h + 32, 4, 2);
  put_le(h + 34, 16, 2);
  std::memcpy(h + 36, "data", 4);
  put_le(h + 40, data_bytes, 4);
  if (std::fwrite(h, 1, sizeof h, f) != sizeof h) capture.failed = true;
}

void capture_until(uint64_t until_us) {
  if (!capture.file) return;
  for (;;) {
    const int n = audio_render_headless(capture.buffer, 2048, until_us);
    if (n <= 0) break;
    // WAV data is little-endian, as the host is.
    if (std::fwrite(capture.buffer, 4, static_cast<size_t>(n), capture.file) != static_cast<size_t>(n))
      capture.failed = true;
    capture.frames += static_cast<uint64_t>(n);
  }
}

}  // namespace

void audio_set_enabled(bool on) { sound_enabled.store(on, std::memory_order_relaxed); }
bool audio_enabled() { return sound_enabled.load(std::memory_order_relaxed); }

int audio_rate_for_setting(int sb_sample_rate) {
  switch (sb_sample_rate) {
    case 0: return 22050;
    case 1: return 44100;
    case 2: return 48000;
    case 3: return 62500;
    default: return 44100;
  }
}

void audio_mix(int16_t* stereo, int frames) {
  if (!sound_enabled.load(std::memory_order_relaxed)) {
    std::memset(stereo, 0, sizeof(int16_t) * 2 * static_cast<size_t>(frames > 0 ? frames : 0));
    return;
  }
  for (int i = 0; i < frames; ++i) {
    mix_frame(stereo + 2 * i);
    psg_apply_due_writes();
  }
}

// ---- Headless -------------------------------------------------------------------------------

void audio_headless_begin(int rate) {
  if (rate < 8000) rate = 44100;
  headless.rate = rate;
  psg_set_output_rate(rate);
  psg_ring_allocate();
  psg_force_timestamps(true);
  audio_reset(true);
  fx_install_native();
  audio_set_enabled(setting(kw::SOUND_ENABLED) != 0);
  audio_set_mute_count(0);
  headless.start = microsecond_counter;
  headless.index = 0;
}

int audio_render_headless(int16_t* stereo, int max_frames, uint64_t until_us) {
  if (until_us < headless.time_of(headless.index)) {
    // The emulated clock went back (machine reset): continue from the new time.
    headless.start = until_us;
    headless.index = 0;
    return 0;
  }
  const bool enabled = sound_enabled.load(std::memory_order_relaxed);
  int n = 0;
  while (n < max_frames) {
    const uint64_t t = headless.time_of(headless.index);
    const uint64_t next = headless.time_of(headless.index + 1);
    if (next > until_us) break;
    if (enabled) {
      mix_frame(stereo + 2 * n);
    } else {
      stereo[2 * n] = stereo[2 * n + 1] = 0;
    }
    psg_apply_due_writes_at(next, next - t);
    ++headless.index;
    ++n;
  }
  return n;
}

uint64_t audio_headless_time() { return headless.time_of(headless.index); }

void audio_headless_end() { psg_force_timestamps(false); }

int audio_capture_open(const char* path) {
  if (capture.file) audio_capture_close(audio_headless_time());
  capture.file = path ? std::fopen(path, "wb") : nullptr;
  if (!capture.file) {
    std::cerr << "Couldn't write audio file: " << (path ? path : "") << std::endl;
    return 1;
  }
  capture.frames = 0;
  capture.failed = false;
  audio_headless_begin(44100);
  write_wav_header(capture.file, 0, headless.rate);
  return 0;
}

void audio_capture_frame(uint64_t frame_start_us) {
  psg_flush_coalesced();
  capture_until(frame_start_us);
}

int audio_capture_close(uint64_t end_us) {
  if (!capture.file) return 1;
  psg_flush_coalesced();
  capture_until(end_us);
  if (std::fseek(capture.file, 0, SEEK_SET) != 0) capture.failed = true;
  write_wav_header(capture.file, capture.frames, headless.rate);
  if (std::fclose(capture.file) != 0) capture.failed = true;
  capture.file = nullptr;
  audio_headless_end();
  if (capture.failed) std::cerr << "Couldn't write audio file" << std::endl;
  return capture.failed ? 1 : 0;
}

bool audio_capture_active() { return capture.file != nullptr; }
