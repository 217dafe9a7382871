// A small CPC for the hardware tests: its own bank table with RAM and a few marked ROM
// images, the settings at their initial values, and every hardware unit reset.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "config/settings.h"
#include "core/machine.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "media/fdc.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace hwtest {

// Every byte of ROM slot n's image is 0xA0 + (n & 0x0F) (the lower ROM: 0xEE), so a
// read tells which ROM is visible.
inline uint8_t rom_marker(int slot) {
  return slot == 255 ? 0xEE : static_cast<uint8_t>(0xA0 + (slot & 0x0F));
}

// Sets up banks for ram_kb of RAM plus the given ROM slots, as set-up does.
inline void build_machine(int ram_kb, std::initializer_list<int> rom_slots = {255, 0, 7}) {
  memory_free();
  free_rom_list();
  for (int slot : rom_slots) add_rom(slot, "test.rom", 0);
  ASSERT_TRUE(memory_lay_out(ram_kb));
  for (const RomEntry* e = rom_list(); e; e = e->next) {
    std::memset(bank_block(first_rom_bank() + e->bank), rom_marker(e->slot), BANK_SIZE);
  }
  memory_init(ram_kb, bank_of_slot(0), bank_of_slot(255));
}

// The byte the processor reads or writes at an address.
inline uint8_t peek(uint16_t address) { return read_bank[address >> 14][address & 0x3FFF]; }
inline void poke(uint16_t address, uint8_t v) { write_bank[address >> 14][address & 0x3FFF] = v; }

// Which RAM bank a block is (-1 when it is none of them).
inline int bank_of_block(const uint8_t* block) {
  for (int n = 0; n < first_rom_bank(); ++n) {
    if (bank_block(n) == block) return n;
  }
  return -1;
}

// The RAM banks the four quarters write to.
inline std::vector<int> write_banks() {
  std::vector<int> banks;
  for (auto* b : write_bank) banks.push_back(bank_of_block(b));
  return banks;
}
#define EXPECT_BANKS(...) EXPECT_EQ(write_banks(), (std::vector<int>{__VA_ARGS__}))

// The PPI's port A latch, port B static bits, port C and control.
inline uint8_t ppi_byte(int index) {
  uint8_t block[PPI_BLOCK_SIZE];
  ppi_save(block);
  return block[index];
}

class Hardware : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    set_setting(kw::RAM_SIZE, 128);
    set_setting(kw::CPC_TYPE, model::CPC6128);
    build_machine(128);
    machine_attach_units();
    video_reset(ResetKind::POWER_ON);
    fdc_init();
    psg_reset(ResetKind::POWER_ON);
    clear_stop_request();
    ports_reset(ResetKind::POWER_ON);
    keyboard_reset(ResetKind::POWER_ON);
    mouse_reset(ResetKind::POWER_ON);
  }
  void TearDown() override {
    printer_close();
    memory_free();
    free_rom_list();
  }
};

}  // namespace hwtest
