// The memory map: turns the CPC's banking state (ROM enables, upper ROM number, RAM
// configuration) into the processor's tables `read_bank` / `write_bank`.
//
// All memory is held as 16 KB blocks of the machine's bank table. A change of banking
// rewrites table entries and nothing else, so an ordinary memory access never looks at
// any banking state.
#pragma once
#include <cstdint>
#include <iosfwd>

// The processor's tables (declared for the core in z80/z80_bus.h).
extern uint8_t* read_bank[4];
extern uint8_t* write_bank[4];

constexpr int RAM_CONFIG_COUNT = 512;  // 9-bit configuration numbers
constexpr int RAM_BANK_LIMIT = 510;    // bank numbers a configuration may name

// ---- Banking operation slots -----------------------------------------------------------
// The Gate Array, the port decoder, the RAM expansions and the snapshot code call the
// banking through these four slots. Until memory_allocate has run they hold stubs that end
// the program with exit status 3 ("Error: No function pointer! dummy=<argument>").
extern void (*set_rom_state)(int state);       // bit 0 lower ROM off, bit 1 upper ROM off
extern void (*set_ram_config)(int config);     // 9-bit RAM configuration number
extern void (*select_upper_rom)(int number);   // upper ROM number 0..255
extern uint8_t* (*rom_slot_block)(int slot);   // the block ROM slot n resolves to

// ---- Allocation and initialisation ---------------------------------------------------------
// Allocates (end - first) blocks of 16 KB in one piece for bank_table[first..end), fills
// them with the power-on pattern FF FF FF FF 00 00 00 00 and reports "MEM: <bytes> Bytes
// ok.". Installs the banking operations (an empty range only installs them). Returns 0,
// or 1 after message 174 when the memory is not available.
int memory_allocate(int first, int end);
// Releases what memory_allocate took and puts the stubs back into the slots.
void memory_free();
// Fills a RAM area with the power-on pattern (bytes 0-3 of every 8 are 0xFF, 4-7 0x00).
void memory_power_on_fill(uint8_t* data, long bytes);

// Resets the memory map for a RAM size (KB), with the bank indexes of ROM 0 (BASIC, the
// first upper ROM) and ROM 255 (the lower ROM): ROM slot cache, RAM configuration table,
// upper ROM 0, both ROMs disabled, configuration 0, video blocks.
void memory_init(int ram_kb, int basic_bank, int lower_bank);

// ---- Lower ROM override (M4 board) ------------------------------------------------------------
// Asks for the lower ROM block to be fetched again from slot 255 at the next
// set_rom_state or set_lower_rom without an image.
void reload_lower_rom();
// With an image (16 KB), that image becomes the lower ROM; without one a requested reload
// is done. While the lower ROM is enabled it shows at 0x0000 at once.
void set_lower_rom(uint8_t* image);

// Where the upper ROM selection asks the M4 board for its own ROM images: the board's
// ROM number (-1 none) and a provider returning a 16 KB image for a slot or nullptr.
// The board installs these when it is present.
extern int m4_rom_number;
extern uint8_t* (*m4_rom_provider)(int slot);

// ---- Snapshot memory image ------------------------------------------------------------------------
// The first 64 KB (configuration 0), then each further 64 KB group g as the four banks of
// configuration 8g + 2. The banking in effect is left as it was. 0 on success; 1 when
// the stream fails (a short read fails the load).
int memory_save(std::ostream& out, int ram_kb);
int memory_load(std::istream& in, int ram_kb);

// ---- State for the Gate Array, snapshots, the debugger and tests ---------------------------------
struct MemoryView {
  int upper_rom_nr;  // the selected upper ROM number (255 also stands for none)
  int rom_state;     // bit 0 lower ROM disabled, bit 1 upper ROM disabled
  int ram_config;    // current 9-bit RAM configuration
  const uint8_t* lower_rom;
  const uint8_t* upper_rom;
};
MemoryView memory_view();
// The four bank numbers of RAM configuration c (0..511) for the current RAM size.
const uint16_t* ram_config_banks(int c);
// The block behind RAM bank n (n below RAM_BANK_LIMIT).
uint8_t* ram_bank_block(int n);
