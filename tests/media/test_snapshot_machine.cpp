// Snapshots of the whole machine with the real firmware: a running program is saved,
// loaded into a freshly set-up machine and continues exactly as the original does.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "hardware/memory.h"
#include "media/snapshot.h"
#include "test_support.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace fs = std::filesystem;

namespace {

long frames_left = 0;
uint64_t give_up_at = 0;

// Runs n monitor frames (or, should the CRTC make none, the time they would take).
void run_frames(long n) {
  frames_left = n;
  give_up_at = microsecond_counter + static_cast<uint64_t>(n + 2) * 20000;
  host.render_frame = [] {
    if (--frames_left <= 0) stop_request_word |= stopbit::QUIT;
  };
  host.poll_events = [] {
    if (microsecond_counter >= give_up_at) stop_request_word |= stopbit::QUIT;
  };
  clear_stop_request();
  run_machine(false);
  clear_stop_request();
}

// Everything that must continue identically: picture, clocks, registers, base RAM.
struct Observed {
  std::vector<uint16_t> picture;
  uint64_t us, frame_us;
  uint16_t pc, sp, af, hl;
  std::vector<uint8_t> ram;
  bool operator==(const Observed&) const = default;
};
Observed observe() {
  // The monitor lines are the even rows of the frame buffer; the odd rows belong to the
  // display output.
  std::vector<uint16_t> picture;
  for (int row = 0; row < FRAME_HEIGHT; row += 2)
    picture.insert(picture.end(), frame_buffer + row * FRAME_WIDTH, frame_buffer + (row + 1) * FRAME_WIDTH);
  Observed o{picture, microsecond_counter, frame_start_us, z80_reg16(z80w::PC), z80_reg16(z80w::SP), z80_reg16(z80w::AF),
             z80_reg16(z80w::HL), {}};
  for (int b = 0; b < ram_size_kb / 16; ++b) o.ram.insert(o.ram.end(), bank_table[b], bank_table[b] + BANK_SIZE);
  return o;
}

class SnapshotMachine : public testing::Test {
 protected:
  fs::path work = testsupport::temp_dir("snapmachine");
  void SetUp() override {
    host_install_headless();
    set_message_file((testsupport::bin_dir() + "/arvelo.msg").c_str());
    open_message_file();
  }
  void TearDown() override {
    teardown_machine();
    host_install_headless();
    fs::remove_all(work);
  }
  // A new machine, given a snapshot as on the command line when `snapshot` is set.
  void fresh_machine(const char* snapshot = nullptr) {
    teardown_machine();
    reset_settings();
    clear_stop_request();
    const auto cfg = work / "m.cfg";
    std::ofstream(cfg) << testsupport::rom_config_lines(2) << "RAM_SIZE = 128\nBREAK_MASK = 0\n";
    set_config_file_name(cfg.c_str());
    StartOptions options;
    if (snapshot) {
      options.media_kind = MEDIA_SNAPSHOT;
      options.media_file = snapshot;
    }
    ASSERT_EQ(setup_machine(options), 0);
  }
};

TEST_F(SnapshotMachine, RunningProgramContinuesIdenticallyInAFreshMachine) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  fresh_machine();
  run_frames(120);  // to the BASIC prompt
  // A program that keeps changing the screen, the border and the second 64 KB under
  // the firmware's interrupts: it counts through screen memory, writes the border ink
  // and pages RAM configuration 7 in and out.
  const uint8_t program[] = {
      0x21, 0x00, 0xC0,        // LD HL,&C000
      0x34,                    // loop: INC (HL)
      0x23,                    // INC HL
      0x7C, 0xF6, 0xC0, 0x67,  // LD A,H : OR &C0 : LD H,A
      0x01, 0x10, 0x7F,        // LD BC,&7F10
      0xED, 0x49,              // OUT (C),C      border selected
      0x7D, 0xE6, 0x1F, 0xF6, 0x40,  // LD A,L : AND &1F : OR &40
      0xED, 0x79,              // OUT (C),A      its ink
      0x3E, 0xC7, 0xED, 0x79,  // LD A,&C7 : OUT (C),A   configuration 7
      0x32, 0x00, 0x40,        // LD (&4000),A   (bank 7 at &4000)
      0x3E, 0xC0, 0xED, 0x79,  // LD A,&C0 : OUT (C),A   configuration 0
      0x18, 0xE1,              // JR loop
  };
  std::memcpy(bank_table[2], program, sizeof program);  // &8000 in configuration 0
  z80_reg16(z80w::PC) = 0x8000;
  run_frames(7);
  const fs::path file = work / "run.sna";
  ASSERT_EQ(snapshot_save(file.c_str(), 128), 0);
  clear_frame_buffer();  // both pictures start from the same empty buffer
  run_frames(30);
  const Observed original = observe();
  ASSERT_NE(original.ram[7 * BANK_SIZE], 0xFF);  // the program did reach bank 7
  ASSERT_GT(std::set<uint16_t>(original.picture.begin(), original.picture.end()).size(), 8u);

  // The new machine starts with the snapshot, as start-up does with one it is given.
  fresh_machine(file.c_str());
  start_machine_media();
  std::ifstream saved(file, std::ios::binary);
  uint8_t header[0x100];
  saved.read(reinterpret_cast<char*>(header), sizeof header);
  ASSERT_EQ(z80_reg16(z80w::PC), header[0x23] | header[0x24] << 8) << "the snapshot was not loaded";
  clear_frame_buffer();
  run_frames(30);
  const Observed restored = observe();
  EXPECT_EQ(restored.us, original.us);
  EXPECT_EQ(restored.frame_us, original.frame_us);
  EXPECT_EQ(restored.pc, original.pc);
  EXPECT_TRUE(restored.ram == original.ram);
  EXPECT_TRUE(restored.picture == original.picture);
}

}  // namespace
