// Shared set-up for the sound tests: a headless output at a chosen rate, emulated time
// moved by hand, and rendering of whole stretches of emulated time.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "config/settings.h"
#include "sound/audio.h"
#include "sound/fx.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace soundtest {

struct Stereo {
  std::vector<int> left, right;
  size_t size() const { return left.size(); }
  // Appends n frames of interleaved left and right samples.
  void append(const int16_t* frames, int n) {
    for (int i = 0; i < n; ++i) {
      left.push_back(frames[2 * i]);
      right.push_back(frames[2 * i + 1]);
    }
  }
};

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override { start(44100); }
  void TearDown() override {
    audio_headless_end();
    audio_set_mute_count(0);
    reset_settings();
  }

  void start(int rate) {
    reset_settings();
    microsecond_counter = 1000000;  // room for clocks set behind it
    audio_headless_begin(rate);
  }

  // Register write at the current emulated time.
  void write(int reg, int value) { psg_write(reg, value); }
  // Emulated time passes (as if the processor ran).
  void pass(uint64_t us) { microsecond_counter += us; }

  // Renders every frame up to emulated time t (by default the current time).
  Stereo render_to(uint64_t t = microsecond_counter) {
    Stereo out;
    int16_t buf[2 * 512];
    for (int n; (n = audio_render_headless(buf, 512, t)) > 0;) out.append(buf, n);
    return out;
  }
  // Lets `us` of emulated time pass and renders it.
  Stereo run(uint64_t us) {
    pass(us);
    return render_to();
  }
};

// Sample positions of the rising edges (from at most `low` to above it) in a signal.
inline std::vector<size_t> rising_edges(const std::vector<int>& s, int low = 0) {
  std::vector<size_t> at;
  for (size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] <= low && s[i] > low) at.push_back(i);
  return at;
}

// Frequency of a periodic signal from the distance between its first and last rising
// edge (0 when there are fewer than two).
inline double frequency(const std::vector<int>& s, int rate) {
  const std::vector<size_t> e = rising_edges(s);
  if (e.size() < 2) return 0.0;
  return static_cast<double>(e.size() - 1) * rate / static_cast<double>(e.back() - e.front());
}

}  // namespace soundtest
