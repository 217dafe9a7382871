// Recording and applying register writes: ring order and overflow, burst replay,
// muting, reset, snapshot block and dump.
#include <gtest/gtest.h>

#include <sstream>

#include "sound_test_util.h"

using soundtest::SoundTest;
using soundtest::Stereo;

class RingTest : public SoundTest {
 protected:
  // Device-style rendering: the clock steps by whole microseconds per sample.
  Stereo mix(int frames) {
    Stereo out;
    int16_t buf[2 * 256];
    for (int n; (n = frames > 256 ? 256 : frames) > 0; frames -= n) {
      audio_mix(buf, n);
      out.append(buf, n);
    }
    return out;
  }
};

TEST_F(RingTest, WritesApplyInOrderAtTheirTimeStamps) {
  write(7, 0x3F);
  const uint64_t t0 = microsecond_counter;
  for (int i = 1; i <= 5; ++i) {
    pass(1000);
    write(8, i);
  }
  for (int i = 1; i <= 5; ++i) {
    const uint64_t at = t0 + static_cast<uint64_t>(i) * 1000;
    render_to(at - 50);
    EXPECT_EQ(psg_synth_view().regs[8], i - 1) << "not before its time";
    render_to(at + 100);
    EXPECT_EQ(psg_synth_view().regs[8], i) << "at its time";
  }
}

TEST_F(RingTest, WithoutTimeStampsOneWritePerFrame) {
  psg_force_timestamps(false);
  set_setting(kw::REALTIME, 0);
  audio_reset(true);
  for (int v = 1; v <= 10; ++v) {
    pass(5000);  // far apart: no burst, and times are not recorded
    write(v < 6 ? 0 : 2, v);
  }
  audio_clock_set(0);
  mix(4);
  EXPECT_EQ(psg_ring_pending(), 6);
  EXPECT_EQ(psg_synth_view().regs[0], 4);
  mix(6);
  EXPECT_EQ(psg_ring_pending(), 0);
  EXPECT_EQ(psg_synth_view().regs[2], 10);
}

TEST_F(RingTest, OverflowKeepsTheNewestValueOfEveryRegister) {
  // Nothing is consumed while the emulation writes far more than the ring holds.
  int expected[16] = {};
  for (int i = 0; i < PSG_RING_RECORDS + 5000; ++i) {
    const int reg = i % 14;
    const int value = ((i * 7) & 0xFF) | 1;
    write(reg, value);
    expected[reg] = value;
    if (i % 1000 == 0) fx_key_press();  // transient: may be dropped
  }
  write(psgcmd::MOTOR, 1);
  EXPECT_EQ(psg_ring_pending(), PSG_RING_RECORDS);
  EXPECT_GE(psg_ring_coalesced(), 5000u);
  // Drain: one record per frame (all share one time stamp), folded values queued at the
  // frame marks as room appears.
  for (int round = 0; round < 4 && psg_ring_pending() > 0; ++round) {
    run(800000);
    psg_flush_coalesced();
  }
  run(10000);
  EXPECT_EQ(psg_ring_pending(), 0);
  for (int r = 0; r < 14; ++r) EXPECT_EQ(psg_synth_view().regs[r], expected[r]) << "register " << r;
  EXPECT_TRUE(fx_stream_active(3)) << "the motor command survived the overflow";
}

TEST_F(RingTest, VolumeBurstReplaysBySpacingWhateverTheClock) {
  write(7, 0x3F);
  run(1000);
  // An 8 kHz sample: volume writes every 125 µs.
  for (int i = 0; i < 80; ++i) {
    write(8, (i & 1) ? 0 : 15);
    pass(125);
  }
  // The audio clock is far behind the writes' time stamps; a burst plays at once anyway,
  // by the recorded spacing, and is not disturbed when the clock is pulled elsewhere.
  audio_clock_set(microsecond_counter - 300000);
  Stereo s = mix(300);
  audio_clock_set(microsecond_counter + 300000);
  const Stereo rest = mix(500);
  s.left.insert(s.left.end(), rest.left.begin(), rest.left.end());
  std::vector<size_t> changes;
  for (size_t i = 1; i < s.size(); ++i)
    if (s.left[i] != s.left[i - 1]) changes.push_back(i);
  ASSERT_GE(changes.size(), 78u);
  const double us_per_frame = 1e6 / 44100;
  for (size_t k = 1; k < changes.size(); ++k) {
    const double gap_us = (changes[k] - changes[k - 1]) * us_per_frame;
    EXPECT_GT(gap_us, 100) << k;
    EXPECT_LT(gap_us, 160) << k;
  }
  EXPECT_EQ(psg_ring_pending(), 0);

  // 50 ms later the burst is over: a single volume write waits for its time again.
  pass(60000);
  write(8, 5);
  audio_clock_set(microsecond_counter - 5000);
  mix(100);
  EXPECT_EQ(psg_synth_view().regs[8], 0) << "not due yet";
  mix(200);
  EXPECT_EQ(psg_synth_view().regs[8], 5);
}

TEST_F(RingTest, SlowVolumeChangesAreNotABurst) {
  write(7, 0x3F);
  for (int i = 0; i < 10; ++i) {
    write(8, i + 1);
    pass(300);  // more than 200 µs apart
  }
  audio_clock_set(microsecond_counter - 100000);
  mix(500);
  EXPECT_EQ(psg_synth_view().regs[8], 0) << "time-stamped writes wait for the clock";
}

TEST_F(RingTest, MutingOrSoundOffSilencesAndHoldsTheWrites) {
  write(7, 0x3F);
  write(8, 15);
  run(500);
  audio_mute();
  audio_mute();
  write(8, 3);
  const Stereo muted = run(2000);
  EXPECT_TRUE(std::all_of(muted.left.begin(), muted.left.end(), [](int v) { return v == 0; }));
  EXPECT_EQ(psg_ring_pending(), 1);
  audio_unmute();
  EXPECT_EQ(audio_mute_count(), 1);
  audio_unmute();
  audio_unmute();  // never below 0
  EXPECT_EQ(audio_mute_count(), 0);
  const Stereo s = run(500);
  EXPECT_EQ(s.left.back(), 517 >> 1);  // volume 3 on channel A

  // Sound switched off: silence too, and the writes are still recorded.
  start(44100);
  audio_set_enabled(false);
  write(7, 0x3E);
  write(0, 100);
  write(8, 15);
  int16_t buf[2 * 64];
  audio_mix(buf, 64);
  for (int16_t v : buf) ASSERT_EQ(v, 0);
  EXPECT_EQ(psg_ring_pending(), 3);
  audio_set_enabled(true);
}

TEST_F(RingTest, ResetClearsRegistersAndSynthesiser) {
  write(0, 0x55);
  write(7, 0);
  write(8, 0x1F);
  psg_select(9);
  fx_motor(1);
  run(1000);
  ASSERT_TRUE(fx_stream_active(3));

  psg_reset(ResetKind::POWER_ON);
  for (int r = 0; r < 16; ++r) EXPECT_EQ(psg_read(r), r == 14 ? 255 : 0) << r;
  EXPECT_EQ(psg_selected(), 0);
  EXPECT_EQ(psg_ring_pending(), 17) << "the reset values are queued like any write";

  microsecond_counter = 777;
  audio_reset(true);
  EXPECT_EQ(psg_ring_pending(), 0);
  EXPECT_EQ(audio_clock(), 777u);
  const PsgSynthView v = psg_synth_view();
  EXPECT_EQ(v.regs[7], 0x3F);
  EXPECT_EQ(v.regs[0], 1) << "a tone period of 0 reads as 1";
  EXPECT_EQ(v.noise_shift, 0xFFFFu);
  EXPECT_FALSE(v.env_mode[0]);
  EXPECT_EQ(v.amplitude[0], 0);
  EXPECT_FALSE(fx_stream_active(3)) << "the motor hum stops";
  psg_reset(ResetKind::APPLY_SETTINGS);  // kind 0 changes nothing
  EXPECT_EQ(psg_read(14), 255);
}

TEST_F(RingTest, SnapshotBlockRoundTrip) {
  for (int r = 0; r < 16; ++r) write(r, r * 11 + 3);
  psg_select(6);
  uint8_t block[PSG_BLOCK_SIZE];
  psg_save(block);

  std::stringstream stream;
  ASSERT_EQ(psg_save(stream), 0);
  psg_reset(ResetKind::POWER_ON);
  audio_reset(true);
  block[0] = 0x26;  // only the low four bits select
  stream.str(std::string(reinterpret_cast<char*>(block), PSG_BLOCK_SIZE));
  ASSERT_EQ(psg_load(stream), 0);
  EXPECT_EQ(psg_selected(), 6);
  for (int r = 0; r < 16; ++r) EXPECT_EQ(psg_read(r), r * 11 + 3);
  run(2000);
  for (int r = 0; r < 14; ++r) EXPECT_EQ(psg_synth_view().regs[r], r * 11 + 3) << "replayed " << r;

  std::stringstream short_block(std::string(5, '\x01'));
  EXPECT_EQ(psg_load(short_block), 1);
  EXPECT_EQ(psg_read(0), 3) << "a short block loads nothing";
}

TEST_F(RingTest, DumpLines) {
  for (int r = 0; r < 16; ++r) write(r, r == 7 ? 0x3F : r * 16);
  psg_select(10);
  std::ostringstream out;
  psg_dump(out);
  EXPECT_EQ(out.str(),
            "PSG :  current addr = 0A\n"
            "PSG :  register 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
            "PSG :  value   = 00 10 20 30 40 50 60 3F 80 90 A0 B0 C0 D0 E0 F0\n");
}
