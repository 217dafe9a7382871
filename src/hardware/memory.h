// The memory map: turns the CPC's banking state (ROM enables, upper ROM number, RAM
// configuration) into the processor's tables `read_bank` / `write_bank`.
//
// All memory is held as 16 KB blocks of the machine's bank table. A change of banking
// rewrites table entries and nothing else, so an ordinary memory access never looks at
// any banking state.
#pragma once
#include <cstdint>
#include <iosfwd>

#include "z80/z80_bus.h"  // read_bank, write_bank: the processor's tables

// ---- Machine identity ----------------------------------------------------------------
// The requested CPC type is setting(kw::CPC_TYPE) (0 464, 1 664, 2 6128, 6 not given).
namespace model {
constexpr int CPC464 = 0, CPC664 = 1, CPC6128 = 2, BASIC3 = 3, BASIC4 = 4, CPC6128_PLUS = 5,
              UNKNOWN = 6;
}
// The model the loaded ROMs show (set by the model detection at set-up); UNKNOWN until then.
int hardware_model();
void set_hardware_model(int detected);

// ---- Bank table ----------------------------------------------------------------------
// All RAM and ROM as 16 KB banks in one allocation. RAM banks from index 0, ROM banks
// from first_rom_bank() on. Set-up sizes them; the bank switching reads them.
constexpr int BANK_SIZE = 16384;
constexpr int MAX_BANKS = 512;
// The 16 KB block of bank n; nullptr for a bank not allocated.
uint8_t* bank_block(int n);
int first_rom_bank();
int bank_count();   // banks allocated; 0 before set-up and after memory_free
int ram_size_kb();  // RAM_SIZE after rounding at set-up
// Lays the banks out for ram_kb of RAM (its banks before the ROMs) and every ROM of the
// ROM list, and allocates them; false after the message when the memory is not there.
bool memory_lay_out(int ram_kb);
// The bank of a ROM slot's image; BASIC's bank for a slot without an image.
int bank_of_slot(int slot);
// The lower ROM's image as the ROM list names it (slot 255); nullptr when none is listed.
const uint8_t* listed_lower_rom();

constexpr int RAM_CONFIG_COUNT = 512;  // 9-bit configuration numbers
constexpr int RAM_BANK_LIMIT = 510;    // bank numbers a configuration may name

// ---- Banking operation slots -----------------------------------------------------------
// The Gate Array, the port decoder, the RAM expansions and the snapshot code call the
// banking through these four operations. Until memory_allocate has run they hold stubs that end
// the program with exit status 3 ("Error: No function pointer! dummy=<argument>").
void set_rom_state(int state);       // bit 0 lower ROM off, bit 1 upper ROM off
void set_ram_config(int config);     // 9-bit RAM configuration number
void select_upper_rom(int number);   // upper ROM number 0..255
uint8_t* rom_slot_block(int slot);   // the block ROM slot n resolves to

// ---- Allocation and initialisation ---------------------------------------------------------
// Allocates (end - first) blocks of 16 KB in one piece for banks first..end-1, fills
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
void set_m4_rom_number(int number);
// Installs the function (the previous one is returned, so that a test can put it back).
using m4_rom_provider_fn = uint8_t* (*)(int slot);
m4_rom_provider_fn set_m4_rom_provider(m4_rom_provider_fn hook);

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
