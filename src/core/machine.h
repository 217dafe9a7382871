// The program-wide description of the emulated machine and its run control.
#pragma once
#include <cstdint>
#include <string>

#include "z80/z80.h"  // the stop-request word
#include "config/rom_list.h"
#include "config/settings.h"  // ResetKind
#include "hardware/memory.h"  // the bank table and the machine identity


// ---- ROM images ------------------------------------------------------------------------
// Loads every image of the ROM list into its bank: the error count, or 10.
int load_roms();
// Names the model from the loaded ROMs and patches the firmware as the settings ask.
void detect_model();
// The disc ROM found by detect_model: 0 = 0.5, 1 = 0.7, 2 = unknown.
int disc_rom_version();

// ---- Open system ROM ---------------------------------------------------------------------
// The project's own system ROM (roms/open): a 32 KB image in the program directory whose
// first half is the lower ROM and whose second half the BASIC slot's ROM. Set-up falls
// back to it when the configured lower or BASIC ROM file cannot be opened, so that the
// program never ends before its window opens; it tells the user which images to install.
constexpr const char* OPEN_ROM_FILE = "arvelo-open.rom";
// Its parameter block in the lower ROM, filled in after loading: a signature checked
// first, then the language (LANGUAGE) and the configured ROM_PATH, zero-terminated.
namespace open_rom {
constexpr int SIGNATURE_AT = 0x40;
constexpr char SIGNATURE[] = "ARVELO OPEN ROM";  // with its terminating zero: 16 bytes
constexpr int LANGUAGE_AT = 0x50;
constexpr int ROM_PATH_AT = 0x51;
constexpr int ROM_PATH_SIZE = 128;  // the text and its zero
constexpr int ROM_PATH_SHOWN = 80;  // two screen rows (11 and 12); row 13 holds text
}  // namespace open_rom

// The directory that holds OPEN_ROM_FILE (with or without a final '/').
void set_open_rom_directory(const std::string& directory);
// Replaces the ROM list by the open system ROM when a configured system ROM (slot 255 or
// 0) cannot be opened and the open ROM file exists; says so in one console line.
// Returns true when the open ROM is now in the list.
bool fall_back_to_open_rom();
// True while the loaded system ROM is the open one (until the next set-up).
bool open_rom_in_use();
// Fills the open ROM's parameter block of a loaded lower ROM image; false when the image
// does not carry the signature (nothing is written).
bool open_rom_fill_parameters(uint8_t* lower_rom, int language, const char* rom_path);

// ---- Machine life cycle ----------------------------------------------------------------
enum MediaKind : int { MEDIA_NONE = 0, MEDIA_CONFIG = 1, MEDIA_DISC = 2, MEDIA_SNAPSHOT = 3 };

struct StartOptions {
  const char* config_file = nullptr;
  const char* media_file = nullptr;
  int media_kind = MEDIA_NONE;
  char start_mode = 0;   // 'H', 'D', 'F', 'S' or 0
  int ems_disabled = 0;
  uint16_t entry_address = 0;
  int cpc_type = 6;
};

// Connects the units that meet through attached functions rather than calls: the
// processor's bus (clock, port decoder, ROM trap), the port decoder's disc controller,
// the PPI's cassette deck and the M4 board's machine reset. Set-up does it; tests that run parts of the machine without set-up call it.
void machine_attach_units();

// Hands the data file's tables to the units that use them (the keyboard the key tables,
// the colour tables the palettes); what the file did not hold stays as it was.
struct DataTables;
void install_data_tables(const DataTables& tables);

int setup_machine(StartOptions& options);
void teardown_machine();
// Resets every chip of the machine (POWER_ON also clears the processor).
void machine_reset(ResetKind kind);
int run_machine(bool debug_first);

// Drive A's configured disc with autostart (start-up and a disc on the command line).
void start_drive_a_autostart();
// What a new run starts with: drive A's disc with autostart, the configured snapshot.
// Returns 1 when a snapshot was configured and could not be loaded, else 0.
int start_machine_media();
