// The sound generator as the processor reaches it: through the PPI's port A and the
// bus-function bits of port C.
#include <gtest/gtest.h>

#include "hardware/keyboard.h"
#include "sound_test_util.h"

using soundtest::SoundTest;
using soundtest::Stereo;

namespace {

// The firmware's way of writing a register: select, then write, the bus idle between.
void bus_write(int reg, int value) {
  ppi_write(0, static_cast<uint8_t>(reg));
  ppi_write(2, 0xC0);  // select
  ppi_write(2, 0x00);
  ppi_write(0, static_cast<uint8_t>(value));
  ppi_write(2, 0x80);  // write
  ppi_write(2, 0x00);
}

}  // namespace

class PpiBusTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    ppi_reset();
    ppi_write(3, 0x82);  // port A output, B input, C output
  }
};

// The PPI hands each write to the generator at the current emulated time; that such
// writes play at their time is RingTest.WritesApplyInOrderAtTheirTimeStamps.
TEST_F(PpiBusTest, WritesThroughThePpiReachTheGenerator) {
  bus_write(7, 0x3F);
  bus_write(9, 12);
  EXPECT_EQ(psg_read(9), 12);
  EXPECT_EQ(psg_selected(), 9);
  const Stereo s = run(200);
  EXPECT_EQ(s.left.back(), 5812 >> 1);  // volume 12 on the centre channel
  EXPECT_EQ(s.right.back(), 5812 >> 1);
}

// A port C write that switches the motor clicks the relay (once per change); the bit
// set/reset command moves port C's bit 4 without a relay command.
TEST_F(PpiBusTest, CassetteMotorBitClicksTheRelay) {
  ppi_write(2, 0x10);  // motor on
  run(200);
  EXPECT_TRUE(fx_stream_active(4));
  const int pending = psg_ring_pending();
  ppi_write(2, 0x14);  // motor still on: no click
  EXPECT_EQ(psg_ring_pending(), pending);
  ppi_write(2, 0x00);
  EXPECT_EQ(psg_ring_pending(), pending + 1);
  ppi_write(3, 0x09);
  EXPECT_EQ(ppi_read(2) & 0x10, 0x10);
  EXPECT_EQ(psg_ring_pending(), pending + 1);
}
