// The M4 expansion board: an SD card filing system driven from a ROM in an upper ROM
// slot. The CPC writes a command packet byte by byte to port &FE00 (size, 16-bit command
// code, parameters), then writes anything to &FC00; the board executes the command at
// once and leaves its reply inside its own ROM image, where the CPC reads it through the
// ROM window. Where the replies go is read from a table the ROM carries at 0xFF00.
//
// The board sits above the machine's chips and media: it installs its port handlers,
// its ROM provider and the lower ROM override into them at start-up. The SD card is a
// host directory (M4_SD_PATH); the file commands are in m4/sdcard.h, the network
// commands in m4/network.h.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"  // ResetKind

namespace m4 {
constexpr int ROM_SIZE = 16384;
constexpr int ROM_BASE = 0xC000;         // CPC address of the ROM window
constexpr int NAME_TABLE_WORD = 4;       // ROM offset of the name table's address
constexpr char BOARD_NAME[] = "M4 BOAR";  // first RSX name, 'D' | 0x80 follows
constexpr int AREA_TABLE = 0x3F00;       // the ROM's table of reply areas (CPC 0xFF00)
constexpr int AREA_REPLY = AREA_TABLE + 2;
constexpr int AREA_CONFIG = AREA_TABLE + 4;
constexpr int AREA_SOCKETS = AREA_TABLE + 6;
constexpr int ROM_TEXT = AREA_TABLE + 0x0A;  // text stored by command 0x432D
constexpr int REPLY_SIZE = 2048;
constexpr int SOCKET_STATUS_SIZE = 80;
constexpr int CONFIG_TEXT = 0x14;            // where 0x432D's first two bytes go in rom_config
constexpr int COMMAND_SIZE = 2048;
constexpr int COMMAND_KEPT = 2047;           // bytes of a packet kept, then a terminating 0
constexpr int MESSAGE_SIZE = 8192;
constexpr int NETWORK_CONFIG_SIZE = 192;
constexpr int SLOT_COUNT = 32;               // ROM slots the board supplies
constexpr int ROM_CONFIG_SIZE = 1088;        // "/m4/ROMCONFIG.BIN"
constexpr int ROM_CONFIG_SLOTS = 0x20;       // 32 entries of 33 bytes, first byte the state
constexpr int ROM_CONFIG_ENTRY = 33;
constexpr int ROM_CONFIG_OWN_SLOT = 0x14;    // 32-bit slot number of the board's ROM
constexpr int ROM_SLOTS_SIZE = SLOT_COUNT * ROM_SIZE;
constexpr int FIRST_CODE = 0x4301;
constexpr int LAST_CODE = 0x43FE;

// Reply status bytes.
constexpr uint8_t OK = 0;
constexpr uint8_t ERR_NOT_FOUND = 4;
constexpr uint8_t ERR_EMPTY_NAME = 5;
constexpr uint8_t ERR_PERMISSION = 7;
constexpr uint8_t ERR_EXISTS = 8;
constexpr uint8_t ERR_NOT_OPEN = 9;
constexpr uint8_t ERR_IN_DSK = 10;
constexpr uint8_t ERR_NO_SLOT = 0x12;
constexpr uint8_t ERR_BAD_HANDLE = 19;
constexpr uint8_t ERR_END_OF_FILE = 20;
constexpr uint8_t ERR_NETWORK_OFF = 0xF3;
constexpr uint8_t ERR_FAILED = 0xFF;

// Lower ROM override choices (command 0x433D).
constexpr int LOWER_NORMAL = 0;
constexpr int LOWER_BOARD_SLOT = 1;
constexpr int LOWER_NMI_ROM = 2;
}  // namespace m4

struct M4Board {
  int rom_slot = -1;                        // upper ROM slot of the board's ROM, -1 none
  uint8_t rom_image[m4::ROM_SIZE] = {};     // what the CPC sees in that slot
  int reply = 0;                            // offsets into rom_image of the reply buffer,
  int rom_config = 0;                       // the configuration area
  int socket_status = 0;                    // and the socket status area
  uint8_t command_buffer[m4::COMMAND_SIZE] = {};
  uint32_t command_length = 0;              // bytes written since the last execution
  std::vector<uint8_t> nmi_rom;             // 16 KB NMI ROM, empty when none was found
  uint8_t rom_config_table[m4::ROM_CONFIG_SIZE] = {};
  std::vector<uint8_t> rom_slots;           // 32 x 16 KB from ROMSLOTS.BIN, empty when none
  bool wifi_enabled = false;
  char message[m4::MESSAGE_SIZE] = {};      // board-wide text read back by 0x4329
  int lower_rom = m4::LOWER_NORMAL;         // lower ROM override in effect
  bool override_pending = false;            // 0x4319 armed an NMI that brings the NMI ROM
};

const M4Board& m4_board();

// Start-up: loads "M4.ROM" from the ROM path (the open ROM built into the program when
// the ROM path has none) into a free upper ROM slot, checks its name
// table, finds the reply areas, loads the NMI ROM and prepares the SD card. 0 when the
// board is ready; 1 (after a message on the error output, board disabled) otherwise.
int m4_start();
// The machine reset hook and the board's own reset (POWER_ON also sets the network
// defaults). Closes the open files, clears the current directory, the reply and command
// buffers.
void m4_reset(ResetKind kind);
// OUT to &FE00 and &FC00.
void m4_write_byte(uint8_t value);
void m4_execute();
// The image the board supplies for upper ROM slot `slot`, or nullptr.
uint8_t* m4_rom_for_slot(int slot);
// Writes changes made in the virtual SD image file (mode 0) back to the SD directory and
// closes it; nothing to do when no image file is open.
void m4_vsd_sync();
// Reads "/m4/ROMCONFIG.BIN" and "/m4/ROMSLOTS.BIN" again (when M4_SD_PATH is set).
void m4_reload_rom_config();
// The board's NMI button (Shift+F1, command 0x431D): with an NMI ROM, the processor takes
// an NMI and the NMI ROM, holding the machine's snapshot header, shows at 0x0000. True
// when the NMI was taken.
bool m4_nmi_button();
// Removes the board's hooks from the machine (teardown, tests).
void m4_stop();
// The whole machine's reset, which the board's reset command (0x4322) asks for after the
// board's own. The machine lies above the board, so set-up attaches it; without it the
// command resets the board only.
void m4_attach_machine_reset(void (*reset)());

// ---- For the board's command units ------------------------------------------------------
namespace m4 {
// The packet being executed (zero-terminated after its last byte).
const uint8_t* packet();
int packet_size();
// Bytes the CPC wrote for this packet, size byte included: data longer than the size
// byte can count (a 512-byte sector) is measured by this.
int packet_bytes();
// Reply building: [size, code, status, data...]. begin_reply writes the code and status
// and returns the data area (REPLY_SIZE - 4 bytes).
uint8_t* begin_reply(int code, uint8_t status);
// Sets the reply size byte for `data_bytes` bytes after the status.
void finish_reply(int data_bytes);
void reply_status(int code, uint8_t status);
// Text reply: the text directly after the code, the size counting code and text.
void reply_text(int code, const char* text);
// Status followed by a text (host error texts).
void reply_status_text(int code, uint8_t status, const char* text);
// The board's status byte for a host errno.
uint8_t errno_status(int error);
// Sets the board's message text (read back by 0x4329).
void set_message(const std::string& text);
// Where the virtual SD image file goes: "vsd.img" next to the configuration file.
std::string vsd_image_path();
// The SD root (M4_SD_PATH), "" when unset.
std::string sd_root();
// The reply buffer itself (for replies of unusual shape).
uint8_t* reply_area();
// The socket status area (SOCKET_STATUS_SIZE bytes) inside the board's ROM image.
uint8_t* socket_status_area();
bool wifi_enabled();
void set_wifi_enabled(bool on);
}  // namespace m4
