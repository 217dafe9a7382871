// CRTC register file, port side per type, snapshot blocks and the debugger dump.
#include <sstream>
#include <utility>
#include <vector>

#include "video_fixture.h"

using namespace videotest;

namespace {

class CrtcTest : public VideoTest {};

TEST_F(CrtcTest, RegistersAreMaskedToTheirWidthsOnEveryType) {
  for (int type = 0; type < 3; ++type) {
    start(type);
    for (int r = 0; r < 18; ++r) crtc_write_register(r, 0xFF);
    std::vector<int> stored;
    for (int r = 0; r < 18; ++r) stored.push_back(crtc_register(r));
    // R8 is kept as written; the cursor registers (10, 11, 14, 15) and the light pen
    // (16, 17) are not stored.
    EXPECT_EQ(stored, (std::vector<int>{255, 255, 255, 15, 127, 31, 127, 127, 255, 31, 0, 0, 63, 255,
                                        0, 0, 0, 0}))
        << "type " << type;
    crtc_write_register(3, 0xF0);
    EXPECT_EQ(crtc_register(3), type == 2 ? 16 : 0) << "type " << type;
  }
}

TEST_F(CrtcTest, ReadPortAnswersPerType) {
  // Registers 12, 13, 14, 15, 31 and 1 read back after 12-15 were written.
  const std::vector<int> expected[3] = {{0x30, 0x34, 0x3F, 0x56, 0x00, 0x00},
                                        {0x00, 0x00, 0x3F, 0x56, 0xFF, 0x00},
                                        {0x00, 0x00, 0x3F, 0x56, 0x00, 0x00}};
  for (int type = 0; type < 3; ++type) {
    start(type);
    for (auto [reg, value] : {std::pair{12, 0xF0}, {13, 0x34}, {14, 0xFF}, {15, 0x56}}) {
      crtc_select(reg);
      crtc_write(static_cast<uint8_t>(value));
    }
    std::vector<int> read;
    for (int reg : {12, 13, 14, 15, 31, 1}) {
      crtc_select(reg);
      read.push_back(crtc_read_register());
    }
    EXPECT_EQ(read, expected[type]) << "type " << type;
  }
}

TEST_F(CrtcTest, StatusPortOfType1ShowsTheVerticalBorder) {
  start(1);
  program_standard_crtc();
  settle();
  run_to(10, 0, 5);
  EXPECT_EQ(crtc_read_status(), 0x00);
  run_to(30, 0, 5);
  EXPECT_EQ(crtc_read_status(), 0x20);
  start(0);
  EXPECT_EQ(crtc_read_status(), 0xFF);
}

TEST_F(CrtcTest, SnapshotBlockRoundTripAndSelectionWraps) {
  program_standard_crtc();
  for (int r = 0; r < 16; ++r) {
    crtc_select(r);
    crtc_write(static_cast<uint8_t>(r * 3 + 1));
  }
  crtc_select(9);
  uint8_t block[CRTC_BLOCK_SIZE];
  crtc_save(block);

  crtc_reset();
  EXPECT_EQ(crtc_selected(), 0);
  EXPECT_EQ(crtc_copy(16), 0xFF);
  EXPECT_EQ(crtc_register(4), 0);

  block[0] = 20;  // 20 mod 18
  crtc_load(block);
  EXPECT_EQ(crtc_selected(), 2);
  EXPECT_EQ(crtc_register(4), 13);
  EXPECT_EQ(crtc_register(13), 40);
  EXPECT_EQ(crtc_copy(7), 22);

  std::stringstream s;
  ASSERT_EQ(crtc_save(s), 0);
  EXPECT_EQ(s.str().size(), static_cast<size_t>(CRTC_BLOCK_SIZE));
  std::istringstream shortblock(std::string(5, '\0'));
  EXPECT_EQ(crtc_load(shortblock), 1) << "a short block loads nothing";
  EXPECT_EQ(crtc_register(4), 13);
}

// The raster block's round trip (the beam, the counters and the time at bytes 14-21) is
// Snapshot.LoadBringsBackTheSavedMachine's, with the beam moved by a run.
TEST_F(CrtcTest, RasterBlockIdleCountersAndAdjust) {
  uint8_t a[RASTER_BLOCK_SIZE] = {};
  a[5] = 255;
  a[6] = 255;
  a[7] = 0x80 | 0x01;
  a[9] = 0xFF;
  a[12] = 0xB0;  // -80
  a[13] = 0xDF;  // -33
  raster_load(a);
  BeamState s = beam_state();
  EXPECT_EQ(s.hsync_count, -1);
  EXPECT_EQ(s.vsync_count, -1);
  EXPECT_TRUE(s.in_adjust);
  EXPECT_TRUE(vsync_active());
  EXPECT_EQ(s.x, -80);
  EXPECT_EQ(s.y, -33);
}

TEST_F(CrtcTest, DumpShowsCountersAndBeam) {
  program_standard_crtc();
  settle();
  run_to(2, 1, 50);  // inside the HSYNC (46..59)
  std::ostringstream out;
  crtc_dump(out);
  // Character 50 (hex 32), HSYNC count 4, row 2, no adjust, no VSYNC, line 1; MA = 0x3000
  // + 2 rows of 40 + 50 characters; an interrupt is left pending since the reset.
  EXPECT_EQ(out.str(),
            "CRTC:  counter = 32 04 02 00    01\tC904: FF FF\n"
            "BEAM:  x=-80 y=  57 (decimal) HSYNC INT           VDE irq counter: 35\n");
}

}  // namespace
