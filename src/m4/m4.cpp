// The M4 board's core: start-up, reset, the two ports, the command table and the ROM
// commands (slot supply, NMI ROM, lower ROM override, writes into the board's ROM).
#include "m4/m4.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "config/settings.h"
#include "config/rom_list.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "m4/httpget.h"
#include "m4/network.h"
#include "m4/sdcard.h"
#include "m4/vsd_image.h"
#include "media/snapshot.h"
#include "z80/z80.h"

// The open ROM, assembled from m4/rom/m4open.asm by the build.
extern const unsigned char m4_open_rom[];
extern const unsigned m4_open_rom_size;

namespace {

M4Board board;
// The whole machine's reset (set-up attaches it; the machine lies above the board).
void (*machine_reset_hook)() = nullptr;

// Upper ROM slots the board's ROM may take, most preferred first (slot 7 is the disc ROM's).
constexpr int CANDIDATE_SLOTS[] = {6, 5, 4, 3, 2, 1, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr int NMI_SNAPSHOT_OFFSET = 0x100;  // where 0x431D puts the snapshot header
constexpr int NMI_SNAPSHOT_BYTES = 128;
constexpr int NMI_SNAPSHOT_KB = 128;
constexpr int ROM_STATE_LOWER_ONLY = 2;     // lower ROM on, upper ROM off (Gate Array value 2)

int word_at(const uint8_t* p) { return p[0] | (p[1] << 8); }

uint8_t* reply_area() { return board.rom_image + board.reply; }

bool read_file(const std::string& path, uint8_t* out, std::size_t size, std::size_t* got = nullptr) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
  if (got) *got = static_cast<std::size_t>(in.gcount());
  return true;
}

bool slot_taken(int slot) {
  for (const RomEntry* e = rom_list(); e; e = e->next) {
    if (e->slot == slot) return true;
  }
  return false;
}

int free_upper_slot() {
  for (int slot : CANDIDATE_SLOTS) {
    if (!slot_taken(slot)) return slot;
  }
  return -1;
}

// The first name of the ROM's name table must be the board's.
bool rom_has_board_name(const uint8_t* rom) {
  const int table = word_at(rom + m4::NAME_TABLE_WORD) - m4::ROM_BASE;
  const int length = sizeof m4::BOARD_NAME - 1;
  if (table < 0 || table + length + 1 > m4::ROM_SIZE) return false;
  return std::memcmp(rom + table, m4::BOARD_NAME, length) == 0 &&
         rom[table + length] == ('D' | 0x80);
}

// An area address from the table at 0xFF00 as an offset into the image; -1 when the
// area would not lie wholly inside the ROM (a reply must never be written past it).
int area_offset(int table_field, int size) {
  const int offset = word_at(board.rom_image + table_field) - m4::ROM_BASE;
  return offset >= 0 && offset + size <= m4::ROM_SIZE ? offset : -1;
}

bool locate_areas() {
  board.reply = area_offset(m4::AREA_REPLY, m4::REPLY_SIZE);
  board.rom_config = area_offset(m4::AREA_CONFIG, m4::CONFIG_TEXT + 2);
  board.socket_status = area_offset(m4::AREA_SOCKETS, m4::SOCKET_STATUS_SIZE);
  return board.reply >= 0 && board.rom_config >= 0 && board.socket_status >= 0;
}

void fail_start(const char* text) {
  std::cerr << text << std::endl;
  set_setting(kw::M4_ENABLED, 0);
  board.rom_slot = -1;
  m4_stop();
}

void load_nmi_rom() {
  board.nmi_rom.assign(m4::ROM_SIZE, 0);
  const char* rom_path = setting_text(kw::ROM_PATH);
  if (read_file(m4::sd_root() + "/NMIROM.BIN", board.nmi_rom.data(), m4::ROM_SIZE)) return;
  if (rom_path && read_file(std::string(rom_path) + "HACK.ROM", board.nmi_rom.data(), m4::ROM_SIZE))
    return;
  std::cerr << "Unable to load HACK.ROM" << std::endl;
  board.nmi_rom.clear();
}

uint8_t* provide_rom(int slot) {
  if (slot == board.rom_slot) return board.rom_image;
  return m4_rom_for_slot(slot);
}

void install_hooks() {
  set_m4_rom_number(board.rom_slot);
  set_m4_rom_provider(provide_rom);
  ports_set_m4(m4_write_byte, m4_execute);
}

// ---- ROM commands -----------------------------------------------------------------------

uint8_t& slot_state(int slot) {
  return board.rom_config_table[m4::ROM_CONFIG_SLOTS + slot * m4::ROM_CONFIG_ENTRY];
}

void clear_temporary_slots(int code) {
  const int keep = m4::packet()[3];
  for (int slot = 0; slot < m4::SLOT_COUNT; ++slot) {
    if (slot != keep && slot_state(slot) == 2) slot_state(slot) = 0;
  }
  m4::reply_status(code, m4::OK);
}

void write_rom_config(int code) {
  for (int slot = 0; slot < m4::SLOT_COUNT; ++slot) {
    if (slot_state(slot) == 2) slot_state(slot) = 1;
  }
  const std::string path = m4::sd_root() + "/m4/ROMCONFIG.BIN";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(board.rom_config_table), m4::ROM_CONFIG_SIZE);
  out.close();
  if (!out) std::cerr << "Error " << errno << " updating " << path << ": " << std::strerror(errno) << std::endl;
  m4::reply_status(code, out ? m4::OK : m4::ERR_FAILED);
}

void apply_lower_rom(int which) {
  board.lower_rom = which;
  if (which == m4::LOWER_BOARD_SLOT) {
    set_lower_rom(board.rom_image);
  } else if (which == m4::LOWER_NMI_ROM && !board.nmi_rom.empty()) {
    set_lower_rom(board.nmi_rom.data());
  } else {
    board.lower_rom = m4::LOWER_NORMAL;
    reload_lower_rom();
    set_lower_rom(nullptr);
  }
}

void choose_lower_rom(int code) {
  apply_lower_rom(m4::packet()[3]);
  m4::reply_status(code, m4::OK);
}

void request_nmi(int code) {
  z80_nmi(1);
  board.override_pending = true;
  m4::reply_status(code, m4::OK);
}

void nmi_button(int) { m4_nmi_button(); }

void machine_reset_command(int) {
  m4_reset(ResetKind::POWER_ON);
  if (machine_reset_hook) machine_reset_hook();
}

void version(int code) { m4::reply_text(code, "M4 emulation\r\nESP none\r\n"); }

// 0x4329: count bytes of the message text from offset, clipped to the buffer and reply.
void message_part(int code) {
  const uint8_t* p = m4::packet();
  const int offset = word_at(p + 3);
  int count = word_at(p + 5);
  if (count > m4::REPLY_SIZE - 3) count = m4::REPLY_SIZE - 3;
  uint8_t* r = reply_area();
  r[0] = static_cast<uint8_t>(count + 2);
  r[1] = static_cast<uint8_t>(code);
  r[2] = static_cast<uint8_t>(code >> 8);
  for (int i = 0; i < count; ++i) {
    const int at = offset + i;
    r[3 + i] = at < m4::MESSAGE_SIZE ? static_cast<uint8_t>(board.message[at]) : 0;
  }
}

void store_rom_text(int code) {
  const uint8_t* p = m4::packet();
  const int length = m4::packet_size() - 2;
  const int room = m4::ROM_SIZE - m4::ROM_TEXT;
  for (int i = 0; i < length && i < room; ++i) board.rom_image[m4::ROM_TEXT + i] = p[3 + i];
  board.rom_image[board.rom_config + m4::CONFIG_TEXT] = p[3];
  board.rom_image[board.rom_config + m4::CONFIG_TEXT + 1] = p[4];
  m4::reply_status(code, m4::OK);
}

// 0x43FC: copy bytes within the board's ROM image; addresses wrap inside the 16 KB.
void copy_in_rom(int) {
  const uint8_t* p = m4::packet();
  const int destination = word_at(p + 3);
  const int source = word_at(p + 6);
  const int count = word_at(p + 9);
  for (int i = 0; i < count; ++i) {
    board.rom_image[(destination + i) & 0x3FFF] = board.rom_image[(source + i) & 0x3FFF];
  }
}

// 0x43FD: address (2), count (2), target, data: into the NMI ROM (target 0xFF) or the
// board's ROM image. Only the packet's own data bytes are taken.
void write_in_rom(int) {
  const uint8_t* p = m4::packet();
  const int address = word_at(p + 3);
  int count = word_at(p + 5);
  const bool nmi = p[7] == 0xFF;
  const int available = m4::packet_bytes() - 8;
  if (count > available) count = available;
  if (nmi && board.nmi_rom.empty()) return;
  uint8_t* target = nmi ? board.nmi_rom.data() : board.rom_image;
  for (int i = 0; i < count; ++i) target[(address + i) & 0x3FFF] = p[8 + i];
}

// 0x43FE: offset, data into rom_config, never past the ROM image.
void write_rom_config_area(int) {
  const uint8_t* p = m4::packet();
  const int start = board.rom_config + p[3];
  const int count = m4::packet_size() - 3;
  for (int i = 0; i < count && start + i < m4::ROM_SIZE; ++i) board.rom_image[start + i] = p[4 + i];
}

void current_time(int code) {
  char text[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(text, sizeof text, "%H:%M:%S %Y-%m-%d", std::localtime(&now));
  m4::reply_text(code, text);
}

void network(int code) {
  if (!m4::network_socket_command(code) && !m4::http_command(code)) m4::reply_status(code, m4::ERR_NETWORK_OFF);
}

struct Command {
  int code;
  void (*run)(int code);
};

constexpr Command BOARD_COMMANDS[] = {
    {0x4318, clear_temporary_slots}, {0x4319, request_nmi},  {0x431D, nmi_button},
    {0x4322, machine_reset_command}, {0x4324, current_time}, {0x4326, version},
    {0x4329, message_part},          {0x432B, write_rom_config}, {0x432D, store_rom_text},
    {0x433D, choose_lower_rom},      {0x43FC, copy_in_rom},  {0x43FD, write_in_rom},
    {0x43FE, write_rom_config_area},
    {0x4320, network}, {0x4323, network}, {0x4327, network}, {0x4328, network},
    {0x4331, network}, {0x4332, network}, {0x4333, network}, {0x4334, network},
    {0x4335, network}, {0x4336, network}, {0x4337, network}, {0x4338, network},
    {0x4339, network}, {0x433A, network}, {0x433B, network}, {0x433C, network},
};

bool board_command(int code) {
  for (const Command& c : BOARD_COMMANDS) {
    if (c.code == code) {
      c.run(code);
      return true;
    }
  }
  return false;
}

bool board_usable() {
  if (!setting(kw::M4_ENABLED)) return false;
  if (board.rom_slot < 0 || m4::sd_root().empty()) {
    set_setting(kw::M4_ENABLED, 0);
    return false;
  }
  return true;
}

}  // namespace

const M4Board& m4_board() { return board; }

void m4_attach_machine_reset(void (*reset)()) { machine_reset_hook = reset; }

// ---- Ports -----------------------------------------------------------------------------------

void m4_write_byte(uint8_t value) {
  if (!board_usable()) return;
  if (board.command_length > m4::COMMAND_KEPT - 1) return;
  board.command_buffer[board.command_length++] = value;
}

void m4_execute() {
  if (!board_usable()) return;
  board.command_buffer[board.command_length] = 0;
  const int code = word_at(board.command_buffer + 1);
  if (board.command_length >= 3 && code >= m4::FIRST_CODE && code <= m4::LAST_CODE) {
    if (!board_command(code)) sdcard_command(code);
  }
  board.command_length = 0;
}

// ---- Start-up and reset -------------------------------------------------------------------

int m4_start() {
  const char* rom_path = setting_text(kw::ROM_PATH);
  const int slot = free_upper_slot();
  std::size_t got = 0;
  const std::string user_rom = std::string(rom_path ? rom_path : "") + "M4.ROM";
  if (rom_path && !std::filesystem::exists(user_rom)) {
    // Without the board's own firmware the open ROM built into the program serves.
    got = std::min<std::size_t>(m4_open_rom_size, m4::ROM_SIZE);
    std::memcpy(board.rom_image, m4_open_rom, got);
  } else if (!rom_path || !read_file(user_rom, board.rom_image, m4::ROM_SIZE, &got)) {
    fail_start("M4 ROM not found.");
    return 1;
  }
  if (slot < 0) {
    fail_start("M4 ROM not found.");
    return 1;
  }
  board.rom_slot = slot;
  if (got < static_cast<std::size_t>(m4::ROM_SIZE) || !rom_has_board_name(board.rom_image) ||
      !locate_areas()) {
    fail_start("M4 ROM not valid.");
    return 1;
  }
  install_hooks();
  load_nmi_rom();
  // Without its socket set or network thread the board cannot run at all.
  if (const int failed = m4::network_start()) std::exit(failed);
  vsd_discard();
  const std::string image_path = m4::vsd_image_path();
  if (m4::sd_root().empty() || image_path.empty()) {
    std::cerr << "M4 SD-card path or path for virtual SD image file not configured. Unable to continue."
              << std::endl;
    return 1;
  }
  vsd_open(m4::sd_root(), image_path, setting(kw::M4_SDCARD_MODE));
  return 0;
}

void m4_stop() {
  // Only the board's own provider is taken out; one a test installed stays.
  const m4_rom_provider_fn previous = set_m4_rom_provider(nullptr);
  if (previous == provide_rom) set_m4_rom_number(-1);
  else set_m4_rom_provider(previous);
  ports_set_m4(nullptr, nullptr);
  vsd_discard();
}

void m4_reset(ResetKind kind) {
  sdcard_reset();
  m4_reload_rom_config();
  // The sockets go first: once they are closed no network thread writes a status byte,
  // and the status area can be cleared.
  m4::network_reset(kind);
  if (board.rom_slot >= 0) {
    std::memset(reply_area(), 0, m4::REPLY_SIZE);
    std::memset(board.rom_image + board.socket_status, 0, m4::SOCKET_STATUS_SIZE);
  }
  std::memset(board.command_buffer, 0, sizeof board.command_buffer);
  board.command_length = 0;
  board.override_pending = false;
  board.lower_rom = m4::LOWER_NORMAL;
  if (kind == ResetKind::POWER_ON) board.wifi_enabled = true;
}

void m4_reload_rom_config() {
  std::memset(board.rom_config_table, 0, sizeof board.rom_config_table);
  board.rom_slots.clear();
  const std::string root = m4::sd_root();
  if (root.empty()) return;
  if (read_file(root + "/m4/ROMCONFIG.BIN", board.rom_config_table, m4::ROM_CONFIG_SIZE)) {
    board.rom_config_table[0] = m4::SLOT_COUNT;
    board.rom_config_table[1] = board.rom_config_table[2] = board.rom_config_table[3] = 0;
  }
  board.rom_slots.assign(m4::ROM_SLOTS_SIZE, 0);
  if (!read_file(root + "/m4/ROMSLOTS.BIN", board.rom_slots.data(), m4::ROM_SLOTS_SIZE)) board.rom_slots.clear();
}

uint8_t* m4_rom_for_slot(int slot) {
  if (!setting(kw::M4_ENABLED) || board.rom_slots.empty()) return nullptr;
  const int slots = board.rom_config_table[0];
  const int own = word_at(board.rom_config_table + m4::ROM_CONFIG_OWN_SLOT);
  if (slot < 0 || slot >= slots || slot >= m4::SLOT_COUNT || slot == own || slot == board.rom_slot)
    return nullptr;
  if (slot_state(slot) != 1) return nullptr;
  return board.rom_slots.data() + slot * m4::ROM_SIZE;
}

void m4_vsd_sync() { vsd_sync(); }

bool m4_nmi_button() {
  if (!setting(kw::M4_ENABLED) || board.nmi_rom.empty()) return false;
  if (z80_nmi(-1) == 0) return false;
  uint8_t header[sna::HEADER_SIZE];
  snapshot_build_header(header, NMI_SNAPSHOT_KB);
  std::memcpy(board.nmi_rom.data() + NMI_SNAPSHOT_OFFSET, header, NMI_SNAPSHOT_BYTES);
  set_rom_state(ROM_STATE_LOWER_ONLY);
  apply_lower_rom(m4::LOWER_NMI_ROM);
  board.override_pending = false;
  return true;
}

// ---- Replies ----------------------------------------------------------------------------------

namespace m4 {

const uint8_t* packet() { return board.command_buffer; }
int packet_bytes() { return static_cast<int>(board.command_length); }

// The declared size, but never more than the bytes the CPC actually wrote.
int packet_size() {
  const int written = static_cast<int>(board.command_length) - 1;
  return std::min<int>(board.command_buffer[0], written < 0 ? 0 : written);
}

uint8_t* begin_reply(int code, uint8_t status) {
  uint8_t* r = reply_area();
  r[0] = 3;
  r[1] = static_cast<uint8_t>(code);
  r[2] = static_cast<uint8_t>(code >> 8);
  r[3] = status;
  return r + 4;
}

void finish_reply(int data_bytes) { reply_area()[0] = static_cast<uint8_t>(3 + data_bytes); }

void reply_status(int code, uint8_t status) { begin_reply(code, status); }

void reply_text(int code, const char* text) {
  uint8_t* r = reply_area();
  const std::size_t length = std::min<std::size_t>(std::strlen(text), REPLY_SIZE - 4);
  r[0] = static_cast<uint8_t>(length + 2);
  r[1] = static_cast<uint8_t>(code);
  r[2] = static_cast<uint8_t>(code >> 8);
  std::memcpy(r + 3, text, length);
  r[3 + length] = 0;
}

void reply_status_text(int code, uint8_t status, const char* text) {
  uint8_t* data = begin_reply(code, status);
  const std::size_t length = std::min<std::size_t>(std::strlen(text), REPLY_SIZE - 5);
  std::memcpy(data, text, length);
  data[length] = 0;
  finish_reply(static_cast<int>(length) + 1);
}

uint8_t errno_status(int error) {
  switch (error) {
    case EPERM: case EACCES: return ERR_PERMISSION;
    case ENOENT: case EISDIR: return ERR_NOT_FOUND;
    case EBADF: case EINVAL: return ERR_BAD_HANDLE;
    case EEXIST: return ERR_EXISTS;
    case ENFILE: return ERR_NO_SLOT;
    default: return ERR_FAILED;
  }
}

void set_message(const std::string& text) {
  std::snprintf(board.message, sizeof board.message, "%s", text.c_str());
}

// "vsd.img" in the directory of the configuration file in use.
std::string vsd_image_path() {
  const char* config = config_file_name();
  if (!config || !*config) return "";
  const std::string name = config;
  const auto slash = name.rfind('/');
  return (slash == std::string::npos ? std::string() : name.substr(0, slash + 1)) + "vsd.img";
}

std::string sd_root() {
  const char* path = setting_text(kw::M4_SD_PATH);
  return path ? path : "";
}

uint8_t* reply_area() { return board.rom_image + board.reply; }
uint8_t* socket_status_area() { return board.rom_image + board.socket_status; }
bool wifi_enabled() { return board.wifi_enabled; }
void set_wifi_enabled(bool on) { board.wifi_enabled = on; }

}  // namespace m4
