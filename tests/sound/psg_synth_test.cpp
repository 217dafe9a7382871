// The sound generator's synthesis: pitch, noise, envelopes, mixer and volume tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "sound_test_util.h"

using soundtest::rising_edges;
using soundtest::SoundTest;
using soundtest::Stereo;

namespace {

// The chip's 16 volume steps as heard at the outer channels (A left, C right) and at the
// centre channel B (half on each side), before the mixer's halving: known values, so a
// wrong entry in the synthesiser's tables is caught.
constexpr int OUTER[16] = {0,    258,  366,  517,  733,   1035,  1464,  2067,
                           2919, 4095, 5825, 8254, 11625, 16422, 23195, 32767};
constexpr int CENTRE[16] = {0,    129,  183,  258,  366,  517,  732,   1033,
                            1459, 2047, 2912, 4126, 5812, 8211, 11597, 16383};

// Channel A plays a tone of the given period at full volume.
void tone_a(int period) {
  psg_write(0, period & 0xFF);
  psg_write(1, period >> 8);
  psg_write(7, 0x3E);  // tone A only
  psg_write(8, 15);
}

}  // namespace

class SynthTest : public SoundTest {};

TEST_F(SynthTest, TonePeriodGivesTheChipFrequencyAtEveryRate) {
  // f = 1 MHz / (16 × period): 142 is concert A, 284 the A below, 71 the A above.
  for (int rate : {22050, 44100, 48000, 62500}) {
    for (int period : {71, 142, 284, 1000}) {
      start(rate);
      tone_a(period);
      run(2000);  // let the writes land
      const Stereo s = run(1000000);
      const double expected = 1e6 / (16.0 * period);
      const double measured = soundtest::frequency(s.left, rate);
      EXPECT_NEAR(measured, expected, expected * 0.01) << "rate " << rate << " period " << period;
      EXPECT_TRUE(std::all_of(s.right.begin(), s.right.end(), [](int v) { return v == 0; }))
          << "channel A is heard on the left only";
    }
  }
}

TEST_F(SynthTest, PeriodZeroSoundsLikePeriodOne) {
  tone_a(1);
  run(500);
  const Stereo one = run(20000);
  start(44100);
  tone_a(0);
  run(500);
  const Stereo zero = run(20000);
  EXPECT_EQ(one.left, zero.left);
  EXPECT_EQ(psg_synth_view().regs[0], 1) << "the low period byte reads back as 1";
  EXPECT_EQ(psg_read(0), 0) << "the processor's register file keeps what it wrote";
}

TEST_F(SynthTest, OneGeneratorStepPerSampleAt62500) {
  EXPECT_EQ(audio_rate_for_setting(3), 62500);
  EXPECT_EQ(audio_rate_for_setting(0), 22050);
  EXPECT_EQ(audio_rate_for_setting(9), 44100) << "unknown choices play at 44,100 Hz";
  start(62500);
  EXPECT_EQ(psg_us_per_sample(), 16);
  // Period 2: the output toggles every 16 µs, i.e. every sample.
  tone_a(2);
  run(200);
  const Stereo s = run(1600);
  for (size_t i = 1; i < s.size(); ++i) ASSERT_NE(s.left[i], s.left[i - 1]) << i;
}

// Tone and noise off (as sample playback rewrites the volume): each channel holds the
// level of its volume, from the tables above.
TEST_F(SynthTest, VolumeTablesAndStereoPlacement) {
  write(7, 0x3F);
  for (int v = 0; v < 16; ++v) {
    // A is heard on the left, B on both sides from the centre table, C on the right.
    const int outer = OUTER[v] >> 1, centre = CENTRE[v] >> 1;
    const std::set<int> left[3] = {{outer}, {centre}, {0}}, right[3] = {{0}, {centre}, {outer}};
    for (int channel = 0; channel < 3; ++channel) {
      for (int c = 0; c < 3; ++c) write(8 + c, c == channel ? v : 0);
      run(200);
      const Stereo s = run(1000);
      SCOPED_TRACE("volume " + std::to_string(v) + " on channel " + std::to_string(channel));
      EXPECT_EQ(std::set<int>(s.left.begin(), s.left.end()), left[channel]);
      EXPECT_EQ(std::set<int>(s.right.begin(), s.right.end()), right[channel]);
    }
  }
  // All three at full volume: (A + B) / 2 and (C + B) / 2.
  write(8, 15);
  write(9, 15);
  write(10, 15);
  run(200);
  const Stereo s = run(100);
  EXPECT_EQ(s.left.back(), (32767 + 16383) >> 1);
  EXPECT_EQ(s.right.back(), (32767 + 16383) >> 1);
}

TEST_F(SynthTest, MixerEnablesToneAndNoisePerChannel) {
  write(0, 100);
  write(6, 1);
  write(8, 15);
  const int high = OUTER[15] >> 1;
  // Tone only: a clean square wave with both levels present.
  write(7, 0x3E);
  run(200);
  Stereo s = run(20000);
  EXPECT_GT(std::count(s.left.begin(), s.left.end(), high), 300);
  EXPECT_GT(std::count(s.left.begin(), s.left.end(), 0), 300);
  const size_t tone_edges = rising_edges(s.left).size();
  // Noise only: far more changes than the tone, irregular.
  write(7, 0x37);
  run(200);
  s = run(20000);
  const size_t noise_edges = rising_edges(s.left).size();
  EXPECT_GT(noise_edges, 3 * tone_edges);
  // Tone and noise: the output is high only where both are; fewer edges than noise alone
  // would mean the tone gates it.
  write(7, 0x36);
  run(200);
  s = run(20000);
  const auto highs = std::count(s.left.begin(), s.left.end(), high);
  EXPECT_GT(highs, 0);
  EXPECT_LT(highs, static_cast<long>(s.size()) / 2);
  // Tone B enabled does not affect channel A's output.
  write(7, 0x3D);
  run(200);
  s = run(2000);
  EXPECT_TRUE(std::all_of(s.left.begin() + 1, s.left.end(), [&](int v) { return v == high; }));
}

TEST_F(SynthTest, NoiseIsTheFullLengthSeventeenBitSequence) {
  // At 62,500 Hz with noise period 1 the shift register steps once per sample: it comes
  // back to a state only after all 2^17 - 1 of them.
  start(62500);
  write(6, 1);
  write(7, 0x37);
  write(8, 15);
  run(160);
  const uint32_t first = psg_synth_view().noise_shift;
  int16_t buf[2];
  int back_at = 0;
  int ones = 0;
  for (int k = 1; k <= 140000 && !back_at; ++k) {
    pass(16);
    ASSERT_EQ(audio_render_headless(buf, 1, microsecond_counter), 1);
    if (buf[0] != 0) ++ones;
    if (psg_synth_view().noise_shift == first) back_at = k;
  }
  EXPECT_EQ(back_at, 131071);
  // About half of the sequence is high.
  EXPECT_NEAR(ones, 65536, 200);
}

namespace {

// The envelope's first 64 steps for each shape as four ramps of 16 steps: 'u' rising
// 0..15, 'd' falling 15..0, '_' held at 0, '^' held at 15. Shapes 8, 10, 12, 14 repeat
// (10 and 14 as triangles); 9, 11, 13, 15 hold after the first ramp; 0-7 fall silent.
const char* const SHAPES[16] = {"d___", "d___", "d___", "d___", "u___", "u___", "u___", "u___",
                                "dddd", "d___", "dudu", "d^^^", "uuuu", "u^^^", "udud", "u___"};

std::vector<int> expected_shape(int shape) {
  std::vector<int> v;
  for (const char* ramp = SHAPES[shape]; *ramp; ++ramp)
    for (int i = 0; i < 16; ++i)
      v.push_back(*ramp == 'u' ? i : *ramp == 'd' ? 15 - i : *ramp == '^' ? 15 : 0);
  return v;
}

}  // namespace

TEST_F(SynthTest, AllSixteenEnvelopeShapes) {
  for (int shape = 0; shape < 16; ++shape) {
    start(62500);
    write(7, 0x3F);  // no tone: the output is the amplitude itself
    write(11, 4);    // one envelope step every 4 samples (64 µs)
    write(12, 0);
    write(8, 0x10);  // channel A follows the envelope
    run(200);
    write(13, shape);
    // Frame by frame: the level of each envelope step is read in the frame it begins.
    std::vector<int> levels;
    int16_t buf[2];
    uint64_t step = psg_synth_view().envelope_step;
    for (int frame = 0; frame < 400 && levels.size() < 64; ++frame) {
      pass(16);
      ASSERT_EQ(audio_render_headless(buf, 1, microsecond_counter), 1);
      const uint64_t now_step = psg_synth_view().envelope_step;
      if (now_step == step) continue;
      const bool restarted = now_step < step;  // the shape write set the step to 0
      step = now_step;
      if (restarted) continue;
      int level = -1;
      for (int l = 0; l < 16; ++l)
        if ((OUTER[l] >> 1) == buf[0]) level = l;
      levels.push_back(level);
    }
    EXPECT_EQ(levels, expected_shape(shape)) << "shape " << shape;
  }
}

TEST_F(SynthTest, EnvelopeStandsStillUnheardAndUsesTheCentreTableOnChannelB) {
  start(62500);
  write(7, 0x3F);
  write(11, 1);
  write(13, 8);
  run(16 * 100);
  EXPECT_EQ(psg_synth_view().envelope_step, 0u) << "no channel follows it, no tone or noise";
  write(7, 0x3E);  // a tone enabled: the envelope runs
  run(16 * 100);
  EXPECT_GT(psg_synth_view().envelope_step, 50u);

  write(7, 0x3F);
  write(9, 0x10);
  write(13, 13);  // rises, then holds at the top
  render_to();
  const Stereo s = run(16 * 40);
  EXPECT_EQ(s.left.back(), CENTRE[15] >> 1);
  EXPECT_EQ(s.right.back(), CENTRE[15] >> 1);
}
