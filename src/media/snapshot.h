// Snapshots: the whole state of the emulated CPC in one SNA file (a 256-byte header
// followed by the memory). Versions 1, 2 and 3 are read; version 3 is written.
//
// A load first reads and checks everything it needs (header, version, memory size and
// the memory bytes themselves); only a file that passes every check changes the machine.
// A refused file therefore leaves the running machine exactly as it was.
#pragma once
#include <cstdint>

// ---- File layout ---------------------------------------------------------------------------
namespace sna {
constexpr int HEADER_SIZE = 0x100;
constexpr char SIGNATURE[9] = "MV - SNA";  // 8 bytes, then a zero byte at 0x08
constexpr int VERSION = 0x10;
constexpr int Z80_REGISTERS = 0x11;  // 29 bytes, the processor's snapshot block
constexpr int GATE_ARRAY = 0x2E;     // pen, 17 inks, multi-configuration, RAM configuration
constexpr int CRTC = 0x42;           // selected register, registers 0-17
constexpr int UPPER_ROM = 0x55;
constexpr int PPI = 0x56;            // ports A, B, C, control
constexpr int PSG = 0x5A;            // selected register, registers 0-15
constexpr int MEMORY_SIZE = 0x6B;    // KB, little-endian
constexpr int CPC_TYPE = 0x6D;       // version 2 on
constexpr int FDC_MOTOR = 0x9C;      // version 3 on
constexpr int FDC_TRACK_A = 0x9D;
constexpr int FDC_TRACK_B = 0x9E;
constexpr int PRINTER = 0xA1;
constexpr int CRTC_TYPE = 0xA4;
constexpr int RASTER = 0xA9;         // 30 bytes, the raster engine's counters (to 0xC6)
}  // namespace sna

// Loads a snapshot file (also a member of a ZIP archive, "dir/games.zip/game.sna").
// 0 on success; non-zero when the file was refused (reported as a numbered message),
// in which case nothing of the machine has changed.
int snapshot_load(const char* path);

// Saves the machine as a version-3 snapshot with size_kb of memory (64, 128, ... up to
// the configured RAM; a larger size saves 64 KB after message 229). 0 on success, 1 when
// the file cannot be created or written (msg::SNAPSHOT_CANNOT_OPEN with the path).
int snapshot_save(const char* path, int size_kb);

// The version-3 header of the machine as it stands, for size_kb of memory (the M4
// board's NMI button hands it to the NMI ROM).
void snapshot_build_header(uint8_t* h, int size_kb);

// Keeps the snapshot path (the SNAPSHOT setting).
void snapshot_set_path(const char* path);
// Loads the kept path when it names a file (not a directory). 0 when there was nothing
// to load or the load succeeded, else the load's result.
int snapshot_load_configured();

// Where "shown" snapshot messages (not a snapshot, larger than the configured memory,
// another CPC type, save size too large) go. The window toolkit installs its message
// box here (nullptr: standard output, as without one).
void snapshot_set_message_hook(void (*hook)(const char* text));
