// Set-up of the whole machine from a configuration, model detection and the run driver.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "config/config.h"
#include "config/messages.h"
#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "core/startup.h"
#include "hardware/autotype.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "test_support.h"
#include "video/screen_text.h"
#include "z80/z80.h"

namespace fs = std::filesystem;

namespace {

class Machine : public testing::Test {
 protected:
  fs::path work = testsupport::temp_dir("machine");
  void SetUp() override {
    host_install_headless();
    set_message_file((testsupport::bin_dir() + "/arvelo.msg").c_str());
    open_message_file();
    reset_settings();
    clear_stop_request();
  }
  void TearDown() override {
    teardown_machine();
    host_install_headless();
    fs::remove_all(work);
  }
  // Writes a configuration and makes it the one in use.
  void use_config(const std::string& text) {
    std::ofstream(work / "test.cfg") << text;
    set_config_file_name((work / "test.cfg").c_str());
  }
  // A configuration for the shared ROMs of one model.
  void model_config(int type, const std::string& extra = "") {
    use_config(testsupport::rom_config_lines(type) + extra);
  }
};

int frames_until_quit = 0;
void (*frame_events)() = nullptr;  // host events (key changes) of the next frame end
void quit_after_frames() {
  if (frame_events) std::exchange(frame_events, nullptr)();
  if (--frames_until_quit <= 0) stop_request_word = stopbit::QUIT;
}
// Runs the set-up machine for `frames` frame ends, `events` at the first; its status.
int run_frames(int frames, void (*events)() = nullptr) {
  frames_until_quit = frames;
  frame_events = events;
  host.poll_events = quit_after_frames;
  clear_stop_request();
  return run_machine(false);
}

std::string last_screen_line() {
  std::string last;
  for (const std::string& line : screen_text(listed_lower_rom()))
    if (line.find_first_not_of(' ') != std::string::npos) last = line;
  return last;
}

}  // namespace

// Each model is told from its ROMs, and takes RAM in whole 64 KB steps. The disc ROM
// always gets its byte at 0x1BBB patched; with TAPE_BYPASS the routine behind &BC77
// (open for reading) starts with the trap ED FC 77, RET.
TEST_F(Machine, DetectsEachModelAndPatchesItsRoms) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  // Where each model's firmware keeps its copy of the main jumpblock.
  const int jumpblock_copy[] = {0x8AC, 0x8DC, 0x8DE};
  for (int type = 0; type <= 2; ++type) {
    SCOPED_TRACE("type " + std::to_string(type));
    model_config(type, "TAPE_BYPASS = 1\nRAM_SIZE = 100\n");
    StartOptions options;
    ASSERT_EQ(setup_machine(options), 0);
    EXPECT_EQ(hardware_model(), type);
    EXPECT_EQ(ram_size_kb(), 64);
    EXPECT_EQ(disc_rom_version(), 0);  // AMSDOS 0.5
    EXPECT_EQ(rom_count(), 3);
    EXPECT_EQ(first_rom_bank(), 10);
    EXPECT_EQ(bank_block(bank_of_slot(7))[0x1BBB], 0x3A);
    const uint8_t* os = bank_block(bank_of_slot(255));
    const int at = jumpblock_copy[type] + (0xBC77 - 0xBB00) / 3 * 2;
    const uint8_t* routine = os + (os[at] | os[at + 1] << 8);
    EXPECT_EQ(std::vector<uint8_t>(routine, routine + 4),
              (std::vector<uint8_t>{0xED, 0xFC, 0x77, 0xC9}));
    teardown_machine();
  }
}

TEST_F(Machine, RamSizeBankLayoutAndDiscRomPatches) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  REQUIRE_ASSET(testsupport::rom_dir() + "/amsdos.rom");
  // The second ROM_BLOCKs for slots 0 and 255 arrive while the configuration is read,
  // before this pass has bank memory: they replace their entries.
  model_config(2, "RAM_SIZE = 576\nAMSDOS_DISABLED = 1\nAMSDOS_SPEEDUP = 1\n"
                  "ROM_BLOCK = 0, \"cpc6128.rom\", 1\nROM_BLOCK = 255, \"cpc6128.rom\", 0\n");
  StartOptions options;
  ASSERT_EQ(setup_machine(options), 0);
  EXPECT_EQ(rom_count(), 3);
  EXPECT_EQ(hardware_model(), model::CPC6128);
  EXPECT_EQ(first_rom_bank(), 10 + (576 - 128) / 16);
  EXPECT_EQ(bank_count(), first_rom_bank() + 3);
  EXPECT_EQ(bank_of_slot(255), first_rom_bank() + 0);
  EXPECT_EQ(bank_of_slot(42), bank_of_slot(0));  // an empty slot shows BASIC
  const uint8_t* dos = bank_block(bank_of_slot(7));
  EXPECT_EQ(dos[0xCF2], 0x18);
  EXPECT_EQ(dos[0xCF3], 0x05);
  for (int at : {0x5D4, 0x5D8, 0x5D9, 0x5DA, 0x602, 0x7E2, 0x784}) EXPECT_EQ(dos[at], 1) << at;
}

// A lower ROM that is no CPC firmware (a diagnostics ROM, say) and a background ROM in
// slot 7 that carries the disc ROM's version bytes without being the disc ROM: with every
// patch switched on, both stay byte for byte as loaded.
TEST_F(Machine, RomPatchesLeaveUnrecognisedRomsAlone) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  std::mt19937 random(16);
  std::vector<char> diagnostics(BANK_SIZE), background(BANK_SIZE);
  for (char& b : diagnostics) b = static_cast<char>(random());
  for (char& b : background) b = static_cast<char>(random());
  background[0] = 1, background[1] = 0, background[2] = 5, background[3] = 0;
  std::ofstream(work / "diag.rom", std::ios::binary).write(diagnostics.data(), BANK_SIZE);
  std::ofstream(work / "other.rom", std::ios::binary).write(background.data(), BANK_SIZE);
  fs::copy_file(testsupport::rom_dir() + "/cpc6128.rom", work / "cpc6128.rom");
  use_config("ROM_PATH = \"" + work.string() + "/\"\n"
             "ROM_BLOCK = 255, \"diag.rom\", 0\n"
             "ROM_BLOCK = 0, \"cpc6128.rom\", 1\n"
             "ROM_BLOCK = 7, \"other.rom\", 0\n"
             "TAPE_BYPASS = 1\nAMSDOS_DISABLED = 1\nAMSDOS_SPEEDUP = 1\n");
  StartOptions options;
  testing::internal::CaptureStdout();
  ASSERT_EQ(setup_machine(options), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(hardware_model(), model::CPC6128);  // the BASIC ROM still tells the model
  EXPECT_EQ(std::memcmp(bank_block(bank_of_slot(255)), diagnostics.data(), BANK_SIZE), 0);
  EXPECT_EQ(std::memcmp(bank_block(bank_of_slot(7)), background.data(), BANK_SIZE), 0);
  EXPECT_EQ(disc_rom_version(), 2);
  EXPECT_NE(out.find(message_text(msg::LOWER_ROM_NOT_FIRMWARE)), std::string::npos) << out;
  EXPECT_EQ(out.find(message_text(185)), std::string::npos) << out;
}

TEST_F(Machine, RomErrorsAreCounted) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  std::ofstream(work / "short.rom") << std::string(1000, 'x');
  fs::copy_file(testsupport::rom_dir() + "/cpc6128.rom", work / "cpc6128.rom");
  const std::string rom_path = "ROM_PATH = \"" + work.string() + "\"\n";
  use_config(rom_path + "ROM_BLOCK = 255, \"cpc6128.rom\", 0\n"
                        "ROM_BLOCK = 0, \"cpc6128.rom\", 1\n"
                        "ROM_BLOCK = 6, \"missing.rom\", 0\n"
                        "ROM_BLOCK = 7, \"short.rom\", 0\n");
  StartOptions options;
  // Two errors (a missing image and a short one), the model is still known: 2 + 2.
  EXPECT_EQ(setup_machine(options), 4);
  teardown_machine();

  // Without the operating system ROM no model can be detected.
  use_config(rom_path + "ROM_BLOCK = 0, \"cpc6128.rom\", 1\n");
  EXPECT_EQ(setup_machine(options), 12);
}

TEST_F(Machine, MissingSystemRomFallsBackToTheOpenRom) {
  const std::string open_file = testsupport::bin_dir() + "/" + OPEN_ROM_FILE;
  REQUIRE_ASSET(open_file);
  set_open_rom_directory(testsupport::bin_dir());
  const std::string rom_path = work.string() + "/";
  use_config("ROM_PATH = \"" + rom_path + "\"\nLANGUAGE = 2\nTAPE_BYPASS = 1\n"
             "ROM_BLOCK = 255, \"cpc6128.rom\", 0\nROM_BLOCK = 0, \"cpc6128.rom\", 1\n"
             "ROM_BLOCK = 7, \"amsdos.rom\", 0\n");
  StartOptions options;
  ASSERT_EQ(setup_machine(options), 0);
  EXPECT_TRUE(open_rom_in_use());
  EXPECT_EQ(rom_count(), 2);  // the disc ROM of the configuration is left out
  EXPECT_EQ(hardware_model(), model::CPC464);
  // Loaded as assembled except for the parameter block: language and ROM_PATH filled
  // in, the firmware's tape patch not applied.
  const std::string image = testsupport::file_text(open_file);
  ASSERT_EQ(image.size(), 2u * BANK_SIZE);
  const uint8_t* lower = bank_block(bank_of_slot(255));
  const uint8_t* basic = bank_block(bank_of_slot(0));
  EXPECT_EQ(lower[open_rom::LANGUAGE_AT], 2);
  EXPECT_STREQ(reinterpret_cast<const char*>(lower + open_rom::ROM_PATH_AT), rom_path.c_str());
  for (int at = 0; at < BANK_SIZE; ++at) {
    if (at >= open_rom::LANGUAGE_AT && at < open_rom::ROM_PATH_AT + open_rom::ROM_PATH_SIZE) continue;
    ASSERT_EQ(lower[at], static_cast<uint8_t>(image[at])) << "lower ROM offset " << at;
    ASSERT_EQ(basic[at], static_cast<uint8_t>(image[BANK_SIZE + at])) << "BASIC ROM offset " << at;
  }
  teardown_machine();

  // A path too long for the screen keeps its end; an image without the signature is
  // left alone.
  std::string rom(BANK_SIZE, '\0');
  std::memcpy(rom.data() + open_rom::SIGNATURE_AT, open_rom::SIGNATURE, sizeof open_rom::SIGNATURE);
  const std::string long_path = "/" + std::string(200, 'x') + "/end/";
  auto* bytes = reinterpret_cast<uint8_t*>(rom.data());
  ASSERT_TRUE(open_rom_fill_parameters(bytes, 9, long_path.c_str()));
  EXPECT_EQ(bytes[open_rom::LANGUAGE_AT], 0);
  const std::string shown = reinterpret_cast<const char*>(bytes + open_rom::ROM_PATH_AT);
  EXPECT_EQ(shown.size(), static_cast<size_t>(open_rom::ROM_PATH_SHOWN));
  EXPECT_EQ(shown.substr(0, 4), "...x");
  EXPECT_EQ(shown.substr(shown.size() - 5), "/end/");
  rom[open_rom::SIGNATURE_AT] = 'X';
  EXPECT_FALSE(open_rom_fill_parameters(bytes, 1, "/rom/"));
  EXPECT_EQ(bytes[open_rom::LANGUAGE_AT], 0);

  // Without the open ROM the missing images are errors, as before.
  set_open_rom_directory(work.string());
  EXPECT_EQ(setup_machine(options), 2 + 10);
  EXPECT_FALSE(open_rom_in_use());
}

TEST_F(Machine, RomListHoldsAtMostNineteenEntries) {
  free_rom_list();
  for (int slot = 0; slot < 25; ++slot) add_rom(slot, "x.rom", 0);
  EXPECT_EQ(rom_count(), MAX_ROMS);
  add_rom(3, "y.rom", 2);  // a known slot is still replaced, in its place
  EXPECT_EQ(rom_count(), MAX_ROMS);
  const RomEntry* e = rom_list();
  while (e && e->slot != 3) e = e->next;
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(std::tie(e->file, e->offset, e->bank), std::tuple("y.rom", 2, 3));
  free_rom_list();
}

TEST_F(Machine, RunDriverEndsOnQuitAndLoopRestartsOnRestart) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  // The first frame end asks for a restart, later ones for quit: the loop sets the
  // machine up twice, then ends with status 0. A configuration without VKBD_LANGUAGE
  // (written by hand, or by an older version) asks for the keyboard layout at every
  // start; one with a layout never does.
  static int prepare_calls, polls, layout_windows;
  for (const char* layout : {"", "VKBD_LANGUAGE = 2\n"}) {
    model_config(2, layout);
    prepare_calls = polls = layout_windows = 0;
    host.prepare_run = [] { ++prepare_calls; };
    host.choose_vkbd_layout = [] { ++layout_windows; };
    host.poll_events = [] {
      ++polls;
      if (prepare_calls == 1) stop_request_word = stopbit::RESTART;
      if (prepare_calls == 2) stop_request_word = stopbit::QUIT;
    };
    StartOptions options;
    EXPECT_EQ(machine_loop(options), 0);
    EXPECT_EQ(prepare_calls, 2);
    EXPECT_GE(polls, 2);
    EXPECT_EQ(layout_windows, *layout ? 0 : 2) << layout;
  }
}

TEST_F(Machine, BreakMaskDecidesWhetherAProcessorErrorStops) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  for (int mask : {0, 7}) {
    model_config(2, "BREAK_MASK = " + std::to_string(mask) + "\n");
    StartOptions options;
    ASSERT_EQ(setup_machine(options), 0);
    // DI; HALT at 0x4000 (RAM bank 1): a halt that no interrupt can end.
    bank_block(1)[0] = 0xF3;
    bank_block(1)[1] = 0x76;
    z80_reg16(9) = 0x4000;
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_frames(5), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    const bool reported = out.find("Z80: halt with interrupts disabled at 4001") != std::string::npos;
    EXPECT_EQ(reported, mask == 7) << "mask " << mask << ": " << out;
    teardown_machine();
  }
}

// The real firmware at the BASIC prompt, given key changes faster than its keyboard
// scans, all inside one frame's events.
TEST_F(Machine, EveryKeyChangeInsideOneFrameReachesTheFirmwareScan) {
  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  use_config(testsupport::rom_config_lines(2, false));
  StartOptions options;
  ASSERT_EQ(setup_machine(options), 0);
  run_frames(150);
  ASSERT_EQ(last_screen_line(), "Ready");

  // On-screen key A pressed, released, pressed and released between two scans: "aa".
  run_frames(1, [] {
    for (int down : {1, 0, 1, 0}) keyboard_cpc_key(keys_for_char('a').first, down);
  });
  run_frames(20);
  EXPECT_EQ(last_screen_line(), "aa");

  // Characters typed with the host's Shift held: the CPC gets SHIFT with 2 for the
  // double quote, and no SHIFT for the slash (a host Shift+7 on a German layout).
  constexpr int QUOTE_KEY = 52, SEVEN_KEY = 36;
  run_frames(1, [] {
    keyboard_host_key(hostkey::LSHIFT, 1);
    keyboard_text_key(QUOTE_KEY, '"');
    keyboard_text_key(QUOTE_KEY, -1);
    keyboard_text_key(SEVEN_KEY, '/');
    keyboard_text_key(SEVEN_KEY, -1);
    keyboard_host_key(hostkey::LSHIFT, 0);
  });
  run_frames(20);
  EXPECT_EQ(last_screen_line(), "aa\"/");

  // A character key held for a second and a half: the firmware repeats it.
  run_frames(1, [] { keyboard_text_key(QUOTE_KEY, 'x'); });
  run_frames(75);
  run_frames(1, [] { keyboard_text_key(QUOTE_KEY, -1); });
  run_frames(10);
  EXPECT_GT(last_screen_line().size(), 8u) << last_screen_line();
}
