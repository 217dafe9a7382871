// Memory map: RAM configurations for every RAM size, ROM enables and upper ROM
// selection, the 464/664 quirk, the lower ROM override, snapshot memory images.
#include <algorithm>
#include <sstream>
#include <string>

#include "hardware_fixture.h"

using namespace hwtest;

using Memory = Hardware;

TEST_F(Memory, FreshRamShowsThePowerOnPattern) {
  set_rom_state(3);
  for (uint16_t a : {0x0000, 0x0003, 0x4005, 0x8007, 0xC008, 0xFFFB, 0xFFFC, 0xFFFF}) {
    EXPECT_EQ(peek(a), (a & 4) ? 0x00 : 0xFF) << std::hex << a;
  }
  EXPECT_EQ(bank_block(7)[0x3FF3], 0xFF);
  EXPECT_EQ(bank_block(7)[0x3FF4], 0x00);
}

TEST_F(Memory, RamConfigurationsOf64KAnd128K) {
  const std::vector<std::vector<int>> sets = {{0, 1, 2, 3}, {0, 1, 2, 7}, {4, 5, 6, 7},
                                              {0, 3, 2, 7}, {0, 4, 2, 3}, {0, 5, 2, 3},
                                              {0, 6, 2, 3}, {0, 7, 2, 3}};
  for (int c = 7; c >= 0; --c) {
    set_ram_config(c);
    EXPECT_EQ(write_banks(), sets[c]) << "configuration " << c;
  }
  set_ram_config(10);  // beyond the 128 KB sets: base RAM
  EXPECT_BANKS(0, 1, 2, 3);

  // 6128, configuration 3 with the upper ROM enabled: reads see the ROM, writes bank 7.
  set_rom_state(1);
  set_ram_config(3);
  EXPECT_EQ(peek(0xC000), rom_marker(0));
  poke(0xC000, 0x5A);
  EXPECT_EQ(bank_block(7)[0], 0x5A);

  build_machine(64);
  set_ram_config(2);
  EXPECT_BANKS(0, 1, 2, 3);
}

TEST_F(Memory, EveryRamSizeReachesAllItsRamAndNothingBeyond) {
  for (int ram = 64; ram <= 4160; ram += 64) {
    build_machine(ram, {255, 0});
    int highest = 0, sets = 0;
    for (int c = 0; c < RAM_CONFIG_COUNT; ++c) {
      const uint16_t* b = ram_config_banks(c);
      for (int q = 0; q < 4; ++q) {
        ASSERT_LT(b[q], ram / 16) << "RAM " << ram << " configuration " << c;
        highest = std::max<int>(highest, b[q]);
      }
      if ((c & 7) == 2 && b[0] != 0) ++sets;
    }
    EXPECT_EQ(highest, ram / 16 - 1) << "RAM " << ram;
    EXPECT_EQ(sets, ram / 64 - 1) << "RAM " << ram;
  }
  // 4160 KB: configuration 511 is group 63's fourth bank in quarter 1; 9 bits count.
  set_ram_config(511);
  EXPECT_BANKS(0, 259, 2, 3);
  set_ram_config(512 + 26);
  EXPECT_BANKS(16, 17, 18, 19);
}

TEST_F(Memory, RomStateSelectsWhatQuarters0And3Read) {
  bank_block(0)[0] = 0x10;
  bank_block(3)[0] = 0x13;
  const uint8_t low[] = {0xEE, 0x10, 0xEE, 0x10};
  const uint8_t high[] = {rom_marker(0), rom_marker(0), 0x13, 0x13};
  for (int s = 0; s < 4; ++s) {
    set_rom_state(s);
    EXPECT_EQ(peek(0x0000), low[s]) << "state " << s;
    EXPECT_EQ(peek(0xC000), high[s]) << "state " << s;
    EXPECT_BANKS(0, 1, 2, 3);
  }
}

TEST_F(Memory, The464And664ShowTheUpperRomInQuarter1ForConfigurationsEndingIn3) {
  build_machine(64);
  set_setting(kw::CPC_TYPE, model::CPC464);
  set_rom_state(0);
  set_ram_config(3);
  EXPECT_EQ(peek(0x4000), rom_marker(0));
  poke(0x4000, 0x77);
  EXPECT_EQ(bank_block(1)[0], 0x77);
  set_ram_config(7);
  EXPECT_EQ(peek(0x4000), 0x77);
  set_ram_config(11);
  EXPECT_EQ(peek(0x4000), rom_marker(0));
  set_rom_state(2);  // upper ROM off: RAM again
  EXPECT_EQ(peek(0x4000), 0x77);

  set_setting(kw::CPC_TYPE, model::CPC664);
  set_rom_state(0);
  EXPECT_EQ(peek(0x4000), rom_marker(0));
  // Neither a 6128 nor the paged expansion scheme has the quirk.
  set_setting(kw::CPC_TYPE, model::CPC6128);
  set_ram_config(3);
  EXPECT_EQ(peek(0x4000), 0x77);
  set_setting(kw::CPC_TYPE, model::CPC464);
  set_setting(kw::RAM_TYPE, 1);
  set_ram_config(11);
  EXPECT_EQ(peek(0x4000), 0x77);
}

TEST_F(Memory, UpperRomSelection) {
  build_machine(128, {255, 0, 7, 6});
  set_rom_state(0);
  select_upper_rom(7);
  EXPECT_EQ(peek(0xC000), rom_marker(7));
  select_upper_rom(5);  // no ROM 5: BASIC
  EXPECT_EQ(peek(0xC000), rom_marker(0));
  select_upper_rom(255);  // "none": BASIC, not the lower ROM
  EXPECT_EQ(peek(0xC000), rom_marker(0));
  set_rom_state(2);  // a selection while disabled shows when enabled
  select_upper_rom(7);
  EXPECT_NE(peek(0xC000), rom_marker(7));
  set_rom_state(0);
  EXPECT_EQ(peek(0xC000), rom_marker(7));

  // The M4 board's number gives BASIC while the board is off.
  set_m4_rom_number(6);
  set_setting(kw::M4_ENABLED, 0);
  select_upper_rom(6);
  EXPECT_EQ(peek(0xC000), rom_marker(0));
  EXPECT_EQ(memory_view().upper_rom_nr, 255);
  set_setting(kw::M4_ENABLED, 1);
  select_upper_rom(6);
  EXPECT_EQ(peek(0xC000), rom_marker(6));
  set_m4_rom_number(-1);
}

TEST_F(Memory, LowerRomOverrideAndReload) {
  static uint8_t image[BANK_SIZE];
  std::memset(image, 0x42, sizeof image);
  set_rom_state(1);
  set_lower_rom(image);  // waits while the lower ROM is off
  EXPECT_NE(peek(0x0100), 0x42);
  set_rom_state(0);
  EXPECT_EQ(peek(0x0100), 0x42);
  reload_lower_rom();
  EXPECT_EQ(peek(0x0100), 0x42);
  set_rom_state(0);  // the next ROM state write carries out the reload
  EXPECT_EQ(peek(0x0100), 0xEE);
  set_lower_rom(image);
  reload_lower_rom();
  set_lower_rom(nullptr);
  EXPECT_EQ(peek(0x0100), 0xEE);
}

TEST_F(Memory, BankingBeforeAllocationEndsTheProgram) {
  memory_free();
  EXPECT_EXIT(set_rom_state(5), ::testing::ExitedWithCode(3),
              "Error: No function pointer! dummy=5");
  EXPECT_EXIT(set_ram_config(300), ::testing::ExitedWithCode(3), "dummy=300");
  ASSERT_EQ(memory_allocate(0, 0), 0);  // an empty range installs the operations
  set_rom_state(0);
}

TEST_F(Memory, SnapshotImageHoldsTheGroupsInConfigurationOrder) {
  build_machine(576);
  for (int n = 0; n < 36; ++n) bank_block(n)[0] = static_cast<uint8_t>(n);
  set_rom_state(0);
  set_ram_config(5);
  const std::vector<int> before = write_banks();
  std::stringstream image;
  ASSERT_EQ(memory_save(image, 576), 0);
  const std::string bytes = image.str();
  ASSERT_EQ(bytes.size(), 576u * 1024u);
  // Configuration 0, then 2, 10, 18, ...: banks 0..35 in order.
  for (int i = 0; i < 36; ++i) EXPECT_EQ(uint8_t(bytes[size_t(i) * BANK_SIZE]), i);
  EXPECT_EQ(write_banks(), before);
  EXPECT_EQ(peek(0x0000), 0xEE);

  for (int n = 0; n < 36; ++n) std::memset(bank_block(n), 0, BANK_SIZE);
  std::stringstream in(bytes);
  ASSERT_EQ(memory_load(in, 576), 0);
  for (int n = 0; n < 36; ++n) ASSERT_EQ(bank_block(n)[0], n);
  EXPECT_EQ(bank_block(35)[BANK_SIZE - 1], 0x00);

  std::stringstream short_image(bytes.substr(0, 64 * 1024 + 100));
  EXPECT_EQ(memory_load(short_image, 576), 1);

  // The paged expansion scheme saves the same RAM in the same order.
  set_setting(kw::RAM_TYPE, 1);
  std::stringstream paged;
  ASSERT_EQ(memory_save(paged, 576), 0);
  EXPECT_EQ(paged.str().substr(0, 64 * 1024 + 100), short_image.str());
}
