#include "hardware/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <new>

#include "config/messages.h"
#include "config/settings.h"
#include "config/rom_list.h"
#include "hardware/expansions.h"
#include "video/raster.h"


namespace {
int m4_rom_number = -1;
}  // namespace

void set_m4_rom_number(int number) { m4_rom_number = number; }

namespace {
uint8_t* (*m4_rom_provider)(int slot) = nullptr;
}  // namespace

m4_rom_provider_fn set_m4_rom_provider(m4_rom_provider_fn hook) {
  m4_rom_provider_fn previous = m4_rom_provider;
  m4_rom_provider = hook;
  return previous;
}


namespace {
uint8_t* bank_table[MAX_BANKS] = {};
struct BankLayout {
  int first_rom_bank = 10;
  int bank_count = 0;
  int ram_size_kb = 128;
};
BankLayout layout;
int detected_model = model::UNKNOWN;
}  // namespace

uint8_t* bank_block(int n) { return (n >= 0 && n < MAX_BANKS) ? bank_table[n] : nullptr; }
int first_rom_bank() { return layout.first_rom_bank; }
int bank_count() { return layout.bank_count; }
int ram_size_kb() { return layout.ram_size_kb; }

bool memory_lay_out(int ram_kb) {
  memory_free();
  layout.ram_size_kb = ram_kb;
  // Banks beyond the base 128 KB come before the ROMs, one per 16 KB.
  layout.first_rom_bank = 10 + (ram_kb > 128 ? (ram_kb - 128) / 16 : 0);
  const int count = layout.first_rom_bank + rom_count();
  if (count > MAX_BANKS) {
    print_message(msg::NO_MEMORY_FOR_BANKS);
    return false;
  }
  return memory_allocate(0, count) == 0;
}

const uint8_t* listed_lower_rom() {
  for (const RomEntry* e = rom_list(); e; e = e->next)
    if (e->slot == 255) return bank_table[layout.first_rom_bank + e->bank];
  return nullptr;
}

int hardware_model() { return detected_model; }
void set_hardware_model(int detected) { detected_model = detected; }

int bank_of_slot(int slot) {
  const RomEntry* basic = nullptr;
  for (const RomEntry* e = rom_list(); e; e = e->next) {
    if (e->slot == slot) return layout.first_rom_bank + e->bank;
    if (e->slot == 0) basic = e;
  }
  return basic ? layout.first_rom_bank + basic->bank : layout.first_rom_bank;
}

namespace {

struct MemoryMap {
  uint8_t* bank_block[RAM_BANK_LIMIT];         // RAM bank number -> block
  uint16_t config[RAM_CONFIG_COUNT][4];        // bank number per quarter
  uint8_t* rom_cache[256];                     // upper ROM number -> block
  uint8_t* lower_rom;
  uint8_t* upper_rom;
  int upper_rom_nr;
  int rom_state;
  int ram_config;
  bool lower_reload;
  uint8_t* allocation;  // what memory_allocate took
  size_t allocation_bytes;
};

MemoryMap mem{};
// A block of zeros stands in for a block that does not exist (a bank table left empty),
// so that no table entry is ever a null pointer.
alignas(64) uint8_t empty_block[BANK_SIZE];

// ---- Stubs for the time before memory exists ---------------------------------------------

[[noreturn]] void no_function(long argument) {
  std::fprintf(stderr, "Error: No function pointer! dummy=%ld\n", argument);
  std::fflush(stderr);
  std::exit(3);
}
void stub_rom_state(int s) { no_function(s); }
void stub_ram_config(int c) { no_function(c); }
void stub_upper_rom(int n) { no_function(n); }
uint8_t* stub_slot_block(int n) { no_function(n); }

// ---- Read table ------------------------------------------------------------------------------

// Quarters 1 and 2 read what they write; quarter 0 shows the lower ROM and quarter 3 the
// upper ROM while they are enabled. On a 464 or 664 without a RAM expansion scheme, a
// configuration with low bits 3 makes quarter 1 show the upper ROM too.
void update_read_bank() {
  read_bank[0] = (mem.rom_state & 1) ? write_bank[0] : mem.lower_rom;
  read_bank[1] = write_bank[1];
  read_bank[2] = write_bank[2];
  read_bank[3] = (mem.rom_state & 2) ? write_bank[3] : mem.upper_rom;
  const int cpc = setting(kw::CPC_TYPE);
  if ((cpc == model::CPC464 || cpc == model::CPC664) && setting(kw::RAM_TYPE) == 0 &&
      !(mem.rom_state & 2) && (mem.ram_config & 7) == 3) {
    read_bank[1] = mem.upper_rom;
  }
}

uint8_t* block_or_empty(uint8_t* block) { return block ? block : empty_block; }

uint8_t* slot_block(int slot) {
  const int bank = bank_of_slot(slot & 0xFF);
  if (bank < 0 || bank >= MAX_BANKS) return empty_block;
  return block_or_empty(bank_table[bank]);
}

// ---- The real banking operations ------------------------------------------------------------

void real_rom_state(int s) {
  s &= 3;
  if (mem.lower_reload) {
    mem.lower_rom = slot_block(255);
    mem.lower_reload = false;
    if (!(mem.rom_state & 1)) read_bank[0] = mem.lower_rom;
  }
  if (s == mem.rom_state) return;
  mem.rom_state = s;
  update_read_bank();
}

void real_ram_config(int c) {
  c &= RAM_CONFIG_COUNT - 1;
  if (c == mem.ram_config) return;
  mem.ram_config = c;
  if (setting(kw::RAM_TYPE) == 1) {
    const PagedExpansion& x = paged_expansion_state();
    int banks[4] = {0, 1, 2, 3};
    if (x.enabled && x.page) {
      if (x.upper) {
        banks[2] = x.first_bank + 2;
        banks[3] = x.first_bank + 3;
      } else {
        banks[0] = x.first_bank;
        banks[1] = x.first_bank + 1;
      }
    }
    for (int i = 0; i < 4; ++i) write_bank[i] = ram_bank_block(banks[i]);
  } else {
    for (int i = 0; i < 4; ++i) write_bank[i] = mem.bank_block[mem.config[c][i]];
  }
  update_read_bank();
}

void real_upper_rom(int n) {
  n &= 0xFF;
  if (n == m4_rom_number && !setting(kw::M4_ENABLED)) n = 255;
  mem.upper_rom_nr = n;
  uint8_t* image = m4_rom_provider ? m4_rom_provider(n) : nullptr;
  mem.upper_rom = image ? image : mem.rom_cache[n];
  if (mem.rom_state < 2) update_read_bank();
}

uint8_t* real_slot_block(int slot) { return mem.rom_cache[slot & 0xFF]; }

// The banking operations in effect: stubs until memory exists.
struct BankingOps {
  void (*rom_state)(int);
  void (*ram_config)(int);
  void (*upper_rom)(int);
  uint8_t* (*slot_block)(int);
};
BankingOps ops = {stub_rom_state, stub_ram_config, stub_upper_rom, stub_slot_block};

void install_stubs() { ops = {stub_rom_state, stub_ram_config, stub_upper_rom, stub_slot_block}; }

void install_operations() { ops = {real_rom_state, real_ram_config, real_upper_rom, real_slot_block}; }

// Bank numbers of one configuration set: b is the first of the four expansion banks.
void fill_config_set(int base, int b) {
  const uint16_t sets[8][4] = {
      {0, 1, 2, 3},
      {0, 1, 2, static_cast<uint16_t>(b + 3)},
      {static_cast<uint16_t>(b), static_cast<uint16_t>(b + 1), static_cast<uint16_t>(b + 2),
       static_cast<uint16_t>(b + 3)},
      {0, 3, 2, static_cast<uint16_t>(b + 3)},
      {0, static_cast<uint16_t>(b), 2, 3},
      {0, static_cast<uint16_t>(b + 1), 2, 3},
      {0, static_cast<uint16_t>(b + 2), 2, 3},
      {0, static_cast<uint16_t>(b + 3), 2, 3},
  };
  for (int i = 0; i < 8; ++i) std::memcpy(mem.config[base + i], sets[i], sizeof sets[i]);
}

void build_config_table(int ram_kb) {
  for (auto& c : mem.config) {
    for (int q = 0; q < 4; ++q) c[q] = static_cast<uint16_t>(q);
  }
  if (ram_kb <= 64) return;
  fill_config_set(0, 4);
  for (int k = 1; ram_kb - 64 - 64 * k >= 1 && 8 * k + 4 <= RAM_CONFIG_COUNT - 1; ++k) {
    fill_config_set(8 * k, 4 * k + 4);
  }
}

// The four blocks of configuration c straight from the table, independent of the RAM
// expansion scheme in use, so that snapshots always hold the same RAM in the same order.
void config_blocks(int c, uint8_t* blocks[4]) {
  for (int q = 0; q < 4; ++q) blocks[q] = mem.bank_block[mem.config[c][q]];
}

}  // namespace

void set_rom_state(int state) { ops.rom_state(state); }
void set_ram_config(int config) { ops.ram_config(config); }
void select_upper_rom(int number) { ops.upper_rom(number); }
uint8_t* rom_slot_block(int slot) { return ops.slot_block(slot); }

void memory_power_on_fill(uint8_t* data, long bytes) {
  for (long i = 0; i < bytes; ++i) data[i] = (i & 4) ? 0x00 : 0xFF;
}

int memory_allocate(int first, int end) {
  if (first < 0) first = 0;
  if (end > MAX_BANKS) end = MAX_BANKS;
  if (end > first) {
    const size_t bytes = static_cast<size_t>(end - first) * BANK_SIZE;
    uint8_t* block = new (std::nothrow) uint8_t[bytes];
    if (!block) {
      print_message(msg::NO_MEMORY_FOR_BANKS);
      return 1;
    }
    memory_free();
    mem.allocation = block;
    mem.allocation_bytes = bytes;
    memory_power_on_fill(block, static_cast<long>(bytes));
    for (int i = first; i < end; ++i) {
      bank_table[i] = block + static_cast<size_t>(i - first) * BANK_SIZE;
    }
    std::cout << "MEM: " << std::setw(6) << bytes << " Bytes ok." << std::endl;
    layout.bank_count = end;
  }
  install_operations();
  return 0;
}

void memory_free() {
  if (mem.allocation) {
    const auto start = reinterpret_cast<uintptr_t>(mem.allocation);
    for (auto& b : bank_table) {
      const auto at = reinterpret_cast<uintptr_t>(b);
      if (at >= start && at - start < mem.allocation_bytes) b = nullptr;
    }
  }
  delete[] mem.allocation;
  mem.allocation = nullptr;
  layout.bank_count = 0;
  mem.allocation_bytes = 0;
  for (int i = 0; i < 4; ++i) read_bank[i] = write_bank[i] = empty_block;
  mem.lower_rom = mem.upper_rom = empty_block;
  install_stubs();
}

void memory_init(int ram_kb, int basic_bank, int lower_bank) {
  auto block_of = [](int bank) {
    return (bank >= 0 && bank < MAX_BANKS) ? block_or_empty(bank_table[bank]) : empty_block;
  };
  for (int n = 0; n < 255; ++n) mem.rom_cache[n] = slot_block(n);
  mem.rom_cache[255] = mem.rom_cache[0];

  build_config_table(ram_kb);

  // RAM bank n lives in bank_table[n]; the table holds ram_kb / 16 of them before the
  // ROMs. A bank number beyond the RAM fitted (only a paged expansion can name one)
  // falls back to the base RAM, as the real bus would with no memory answering.
  int ram_banks = ram_kb / 16;
  if (ram_banks > layout.first_rom_bank) ram_banks = layout.first_rom_bank;
  if (ram_banks > RAM_BANK_LIMIT) ram_banks = RAM_BANK_LIMIT;
  for (int n = 0; n < RAM_BANK_LIMIT; ++n) {
    uint8_t* b = n < ram_banks ? bank_table[n] : nullptr;
    mem.bank_block[n] = b ? b : block_of(n & 3);
  }

  mem.upper_rom_nr = 0;
  mem.rom_state = 3;
  mem.ram_config = 0;
  mem.lower_reload = false;
  for (int q = 0; q < 4; ++q) {
    write_bank[q] = read_bank[q] = mem.bank_block[q];
    video_map_block(q, mem.bank_block[q]);
  }
  mem.lower_rom = block_of(lower_bank);
  mem.upper_rom = block_of(basic_bank);
}

void reload_lower_rom() { mem.lower_reload = true; }

void set_lower_rom(uint8_t* image) {
  if (image) {
    mem.lower_rom = image;
  } else if (mem.lower_reload) {
    mem.lower_rom = slot_block(255);
  }
  mem.lower_reload = false;
  if (!(mem.rom_state & 1)) read_bank[0] = mem.lower_rom;
}

namespace {

// The 16 KB blocks of ram_kb of RAM in snapshot order: the four of configuration 0, then
// those of configurations 2, 10, 18, ... (the upper block of each further 64 KB), until
// visit returns false.
template <typename Visit>
bool for_each_snapshot_block(int ram_kb, Visit visit) {
  const int groups = ram_kb / 64 - 1;
  for (int g = -1; g < groups; ++g) {
    const int c = g < 0 ? 0 : 8 * g + 2;
    if (c >= RAM_CONFIG_COUNT) break;
    uint8_t* blocks[4];
    config_blocks(c, blocks);
    for (auto* b : blocks)
      if (!visit(b)) return false;
  }
  return true;
}

}  // namespace

int memory_save(std::ostream& out, int ram_kb) {
  for_each_snapshot_block(ram_kb, [&](uint8_t* b) {
    out.write(reinterpret_cast<const char*>(b), BANK_SIZE);
    return true;
  });
  return out ? 0 : 1;
}

int memory_load(std::istream& in, int ram_kb) {
  const bool complete = for_each_snapshot_block(ram_kb, [&](uint8_t* b) {
    if (b == empty_block) {
      in.ignore(BANK_SIZE);  // no RAM behind this bank: skip its bytes
    } else {
      in.read(reinterpret_cast<char*>(b), BANK_SIZE);
    }
    return in && in.gcount() == BANK_SIZE;
  });
  return complete ? 0 : 1;
}

MemoryView memory_view() {
  return MemoryView{mem.upper_rom_nr, mem.rom_state, mem.ram_config, mem.lower_rom, mem.upper_rom};
}

const uint16_t* ram_config_banks(int c) { return mem.config[c & (RAM_CONFIG_COUNT - 1)]; }

uint8_t* ram_bank_block(int n) {
  if (n < 0 || n >= RAM_BANK_LIMIT) return mem.bank_block[n & 3];
  return mem.bank_block[n];
}
