// Drive and machine sounds: the stored recordings and the effect streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sound_test_util.h"

using soundtest::SoundTest;
using soundtest::Stereo;

namespace {
std::vector<int16_t> stored(int recording) {
  const FxWav wav = fx_wav(recording);
  const int16_t* samples = nullptr;
  const int n = fx_decode_wav(wav.data, wav.size, &samples);
  return std::vector<int16_t>(samples, samples + n);
}
}  // namespace

class FxTest : public SoundTest {
 protected:
  // Renders frame by frame and counts the frames that start with the stream playing,
  // until it has played and stopped.
  int frames_while_active(int stream) {
    int frames = 0;
    int16_t buf[2];
    for (int i = 0; i < 400000; ++i) {
      const bool active = fx_stream_active(stream);
      if (!active && frames > 0) break;
      pass(23);
      audio_render_headless(buf, 1, microsecond_counter);
      if (active) ++frames;
    }
    return frames;
  }
};

TEST(FxRecordings, StoredAtTheirLengthsUsableAndTheHumLoopsWithoutASeam) {
  const int lengths[FX_RECORDING_COUNT] = {2769, 6492, 94133, 32668, 366, 1130, 542, 3615, 2021};
  for (int r = 0; r < FX_RECORDING_COUNT; ++r) {
    const std::vector<int16_t> s = stored(r);
    ASSERT_EQ(static_cast<int>(s.size()), lengths[r]) << "recording " << r;
    EXPECT_EQ(fx_recording_samples(r), lengths[r]);
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 1000) << "audible: " << r;
    EXPECT_LT(peak, 32767) << "not clipped: " << r;
    if (r != FX_MOTOR_HUM) {
      // One-shot sounds start and end in silence: no click at their edges.
      EXPECT_LT(std::abs(s.front()), 100) << r;
      EXPECT_LT(std::abs(s.back()), 100) << r;
      continue;
    }
    // The hum loops: the step from its last sample back to the first is like any step
    // inside the cycle.
    int largest_step = 0;
    for (size_t i = 1; i < s.size(); ++i)
      largest_step = std::max(largest_step, std::abs(s[i] - s[i - 1]));
    EXPECT_LE(std::abs(s.front() - s.back()), largest_step);
    EXPECT_GT(largest_step, 0);
  }
}

TEST(FxRecordings, DecoderRejectsOtherData) {
  const FxWav wav = fx_wav(FX_KEY_PRESS);
  std::vector<uint8_t> copy(wav.data, wav.data + wav.size);
  const int16_t* samples = nullptr;
  EXPECT_EQ(fx_decode_wav(copy.data(), 20, &samples), 0) << "truncated";
  copy[24] = 0x22;  // another sample rate
  EXPECT_EQ(fx_decode_wav(copy.data(), copy.size(), &samples), 0);
  EXPECT_EQ(samples, nullptr);
  copy.assign(wav.data, wav.data + wav.size);
  copy[40] = 0xFF;  // data chunk longer than the file
  copy[41] = 0xFF;
  copy[42] = 0xFF;
  EXPECT_EQ(fx_decode_wav(copy.data(), copy.size(), &samples), 0);
}

TEST_F(FxTest, GainsAndStepClickRepetition) {
  const std::vector<int16_t> key = stored(FX_KEY_PRESS);
  EXPECT_EQ(fx_installed_samples(FX_KEY_PRESS), 2769);
  EXPECT_EQ(fx_installed_samples(FX_STEP_CLICK), 42 * 542);
  // Key press at a quarter, heard on both sides with the sign of a subtraction.
  fx_key_press();
  run(100);
  const Stereo s = run(2769 * 23);
  const std::vector<int>& left = s.left;
  EXPECT_EQ(left, s.right);
  const auto first = std::find_if(left.begin(), left.end(), [](int v) { return v != 0; });
  ASSERT_NE(first, left.end());
  const auto key_first = std::find_if(key.begin(), key.end(), [](int v) { return std::lround(v * 0.25) != 0; });
  const size_t offset = static_cast<size_t>(key_first - key.begin());
  const size_t at = static_cast<size_t>(first - left.begin());
  for (size_t i = 0; i + at < left.size() && i + offset < key.size(); i += 97)
    EXPECT_EQ(left[at + i], -std::lround(key[offset + i] * 0.25)) << i;
}

TEST_F(FxTest, HeadStepsPlayTheRightNumberOfClicks) {
  fx_step(1);
  EXPECT_EQ(frames_while_active(2), 1130) << "one track: the single-step sound";
  fx_step(5);
  EXPECT_EQ(frames_while_active(2), 5 * 542);
  fx_step(-3);
  EXPECT_EQ(frames_while_active(2), 3 * 542) << "steps outward count the same";
  fx_step(80);
  EXPECT_EQ(frames_while_active(2), 42 * 542) << "at most 42 clicks";
  const int before = psg_ring_pending();
  fx_step(0);
  EXPECT_EQ(psg_ring_pending(), before);
}

TEST_F(FxTest, MotorHumRunsUntilSwitchedOff) {
  fx_motor(1);
  run(200);
  const Stereo s = run(200000);
  EXPECT_TRUE(std::all_of(s.left.begin(), s.left.end(), [](int v) { return v == 0; }));
  size_t mismatches = 0;
  for (size_t i = 1000; i + 366 < s.size(); ++i) mismatches += s.right[i] != s.right[i + 366];
  EXPECT_EQ(mismatches, 0u) << "the hum repeats every 366 samples";
  fx_motor(1);  // already running: no restart
  fx_motor(0);
  run(200);
  EXPECT_FALSE(fx_stream_active(3));
  const Stereo after = run(10000);
  EXPECT_TRUE(std::all_of(after.right.begin(), after.right.end(), [](int v) { return v == 0; }));
}

TEST_F(FxTest, FxSettingSelectsWhatPlays) {
  set_setting(kw::SOUND_FX_ENABLED, 0);
  int before = psg_ring_pending();
  fx_motor(1);
  fx_step(2);
  fx_cassette_motor(1);
  fx_key_press();
  play_disc_sound(DISC_SOUND_LONG);
  EXPECT_EQ(psg_ring_pending(), before) << "nothing with SOUND_FX_ENABLED 0";
  run(1000);
  EXPECT_FALSE(fx_stream_active(2));

  set_setting(kw::SOUND_FX_ENABLED, 1);
  before = psg_ring_pending();
  fx_key_press();
  fx_key_release();
  EXPECT_EQ(psg_ring_pending(), before) << "no key clicks with SOUND_FX_ENABLED 1";
  fx_motor(1);
  fx_step(2);
  fx_cassette_motor(1);
  EXPECT_EQ(psg_ring_pending(), before + 3) << "drive sounds still play";

  set_setting(kw::SOUND_FX_ENABLED, 2);
  before = psg_ring_pending();
  fx_key_press();
  EXPECT_EQ(psg_ring_pending(), before + 1);
}

TEST_F(FxTest, CassetteRelaySideFollowsTheModel) {
  for (int type : {0, 2, 1, 6}) {
    start(44100);
    set_setting(kw::CPC_TYPE, type);
    fx_refresh_settings();
    fx_cassette_motor(1);
    const Stereo s = run(100000);
    const bool on_left = std::any_of(s.left.begin(), s.left.end(), [](int v) { return v != 0; });
    const bool on_right = std::any_of(s.right.begin(), s.right.end(), [](int v) { return v != 0; });
    EXPECT_EQ(on_left, type == 1 || type == 2) << "type " << type;
    EXPECT_EQ(on_right, type == 0) << "type " << type;
  }
}

TEST_F(FxTest, DiscSoundStartsAtOnce) {
  for (int which : {DISC_SOUND_SHORT, DISC_SOUND_LONG}) {
    play_disc_sound(which);
    EXPECT_EQ(psg_ring_pending(), 0) << "not queued through the ring";
    // The next output frame already plays the first sample.
    int16_t buf[2];
    pass(23);
    audio_render_headless(buf, 1, microsecond_counter);
    ASSERT_TRUE(fx_stream_active(2));
    EXPECT_EQ(1 + frames_while_active(2), which == DISC_SOUND_LONG ? 94133 : 32668);
  }
}
