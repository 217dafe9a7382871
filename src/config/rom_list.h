// The ROM list: the ROM images the configuration names (ROM_BLOCK), one per slot. The
// list only records them; the machine's set-up loads every listed image into the bank
// table after the configuration is read.
#pragma once
#include <string>

struct RomEntry {
  int bank;          // registration order; memory bank = first_rom_bank() + bank
  int slot;          // 0..255; 255 = lower (OS) ROM, 0 = BASIC
  std::string file;  // relative to ROM_PATH unless it begins with '/'
  int offset;        // in 16 KB units
  RomEntry* next;
};
constexpr int MAX_ROMS = 19;

// The newest entry first; nullptr when the list is empty.
const RomEntry* rom_list();
int rom_count();

// Registers an image for a slot; a slot already listed gets the new file and offset.
// A full list (MAX_ROMS) refuses new slots with a message.
void add_rom(int slot, const char* file, int offset);
void free_rom_list();
