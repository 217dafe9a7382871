// The program-wide description of the emulated machine and its run control.
#pragma once
#include <cstdint>
#include <string>

// ---- Stop-request word -------------------------------------------------------------
// Any unit that must stop the processor ORs a bit in; z80_run returns after the
// current instruction when the word is non-zero.
namespace stopbit {
constexpr uint32_t CPU_ERROR = 0x0001;   // maskable by BREAK_MASK bit 0
constexpr uint32_t PORT_ACCESS = 0x0004; // maskable by BREAK_MASK bit 2
constexpr uint32_t TAPE = 0x0010;
constexpr uint32_t RESTART = 0x0800;
constexpr uint32_t BREAK = 0x4000;
constexpr uint32_t QUIT = 0x8000;
constexpr uint32_t STEP = 0x10000;
constexpr uint32_t TIMED = 0x20000;
}  // namespace stopbit

extern uint32_t stop_request_word;

inline void clear_stop_request() { stop_request_word = 0; }
// Adds code to the stop-request word; exactly 0x0010 also acknowledges an interrupt
// with data-bus byte 0xFF.
void request_stop(int code);
// Reports why the machine stopped (undecoded port, processor error, tape trap).
void report_stop_reasons();

// ---- Machine identity ----------------------------------------------------------------
// The requested CPC type is setting(kw::CPC_TYPE) (0 464, 1 664, 2 6128, 6 not given).
namespace model {
constexpr int CPC464 = 0, CPC664 = 1, CPC6128 = 2, BASIC3 = 3, BASIC4 = 4, CPC6128_PLUS = 5,
              UNKNOWN = 6;
}
extern int hardware_model;   // from detect_model; 6 = unknown
extern int disc_rom_version; // 0 = 0.5, 1 = 0.7, 2 = unknown

// ---- Bank table ----------------------------------------------------------------------
// All RAM and ROM as 16 KB banks in one allocation. RAM banks from index 0, ROM banks
// from first_rom_bank on.
constexpr int BANK_SIZE = 16384;
constexpr int MAX_BANKS = 512;
extern uint8_t* bank_table[MAX_BANKS];
extern int first_rom_bank;
extern int bank_count;
extern int ram_size_kb;  // RAM_SIZE after rounding at set-up

// ---- ROM list --------------------------------------------------------------------------
struct RomEntry {
  int bank;          // registration order; memory bank = first_rom_bank + bank
  int slot;          // 0..255; 255 = lower (OS) ROM, 0 = BASIC
  std::string file;  // relative to ROM_PATH
  int offset;        // in 16 KB units
  RomEntry* next;
};
constexpr int MAX_ROMS = 19;
extern RomEntry* rom_list;
extern int rom_count;

// A file name that begins with '/' is taken as it is; others are relative to ROM_PATH.
void add_rom(int slot, const char* file, int offset);
void free_rom_list();
int load_roms();          // error count, or 10
void detect_model();
int bank_of_slot(int slot);

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

int setup_machine(StartOptions& options);
void teardown_machine();
int machine_reset(int kind);
int run_machine(bool debug_first);

// A leading '~' becomes $HOME. The result lives in one static buffer until the next call.
const char* expand_home(const char* path);

// Drive A's configured disc with autostart (start-up and a disc on the command line).
void start_drive_a_autostart();
// What a new run starts with: drive A's disc with autostart, the configured snapshot.
// Returns 1 when a snapshot was configured and could not be loaded, else 0.
int start_machine_media();
