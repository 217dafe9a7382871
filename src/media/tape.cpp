#include "media/tape.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>

#include "config/messages.h"
#include "config/settings.h"
#include "core/machine.h"
#include "media/media_file.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace {
TapeInput tape_in;
TapeOutput tape_out;
}  // namespace

namespace {

constexpr uint8_t FLAG_CARRY = 0x01;
constexpr uint8_t FLAG_ZERO = 0x40;

// The cassette routines run in the lower ROM and read their data with the ROMs switched
// out (BASIC's input buffer and program start at 0x0040 and 0x0170, under the lower ROM):
// reads take the RAM of the current configuration, which is where writes go.
uint8_t mem_read(uint16_t a) { return write_bank[a >> 14][a & 0x3FFF]; }
void mem_write(uint16_t a, uint8_t v) { write_bank[a >> 14][a & 0x3FFF] = v; }

uint8_t& reg_a() { return z80_reg8(1); }
uint8_t& reg_f() { return z80_reg8(0); }
uint8_t& reg_b() { return z80_reg8(3); }
uint16_t& reg_bc() { return z80_reg16(1); }
uint16_t& reg_de() { return z80_reg16(2); }
uint16_t& reg_hl() { return z80_reg16(3); }
uint16_t& reg_pc() { return z80_reg16(9); }

uint16_t word_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put_word(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Input and output header addresses in CPC memory by model.
uint16_t input_header_address() { return hardware_model() == model::CPC464 || hardware_model() == model::BASIC3 ? 0xB88C : 0xB1A4; }
uint16_t output_header_address() { return hardware_model() == model::CPC464 || hardware_model() == model::BASIC3 ? 0xB84C : 0xB164; }

std::string tape_dir() {
  const char* p = setting_text(kw::TAPE_PATH);
  return p ? p : "";
}

// The file name the firmware passes: B characters at HL.
std::string cpc_name() {
  std::string name;
  const uint16_t hl = reg_hl();
  for (int i = 0; i < reg_b(); ++i) {
    const uint8_t c = mem_read(static_cast<uint16_t>(hl + i));
    if (c == 0) break;
    name.push_back(static_cast<char>(c));
  }
  return name;
}

// A CPC file name must not leave TAPE_PATH.
bool name_is_safe(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

void close_input() {
  if (tape_in.file) std::fclose(tape_in.file);
  tape_in = TapeInput{};
}

// Rewrites the header of a file written character by character so that its length
// fields and checksum match what was written.
void finish_output_header() {
  if (!tape_out.file || !(tape_out.flags & 4) || (tape_out.flags & 2)) return;
  if (tape_out.header[18] == 0x16) return;
  const int64_t n = tape_out.written;
  put_word(tape_out.header + 24, static_cast<unsigned>(n));
  tape_out.header[64] = static_cast<uint8_t>(n);
  tape_out.header[65] = static_cast<uint8_t>(n >> 8);
  tape_out.header[66] = static_cast<uint8_t>(n >> 16);
  put_word(tape_out.header + 67, tape_header_checksum(tape_out.header));
  if (std::fseek(tape_out.file, 0, SEEK_SET) == 0) std::fwrite(tape_out.header, 1, 128, tape_out.file);
}

void close_output() {
  if (tape_out.file) {
    finish_output_header();
    std::fclose(tape_out.file);
  }
  tape_out = TapeOutput{};
}

void report_not_found(const std::string& name) {
  std::cout << message_text(msg::TAPE_NOT_FOUND) << " " << name << std::endl;
}

// Reads the header of the newly opened input file (or takes the whole file as ASCII).
void read_input_header() {
  uint8_t h[128];
  const size_t got = std::fread(h, 1, 128, tape_in.file);
  if (got == 128 && word_at(h + 67) == tape_header_checksum(h)) {
    std::memcpy(tape_in.header, h, 128);
    tape_in.remaining = h[64] | h[65] << 8 | h[66] << 16;
    if (tape_in.remaining == 0) {
      std::fseek(tape_in.file, 0, SEEK_END);
      tape_in.remaining = std::max<long>(0, std::ftell(tape_in.file) - 128);
      std::fseek(tape_in.file, 128, SEEK_SET);
    }
    return;
  }
  std::memset(tape_in.header, 0, 128);
  tape_in.header[18] = 0x16;
  std::fseek(tape_in.file, 0, SEEK_END);
  tape_in.remaining = std::max<long>(0, std::ftell(tape_in.file));
  std::fseek(tape_in.file, 0, SEEK_SET);
}

FILE* open_in_tape_dir(const std::string& name, const char* mode) {
  if (!name_is_safe(name)) return nullptr;
  FILE* f = std::fopen((tape_dir() + name).c_str(), mode);
  // The cassette firmware compares names without regard to case: a file saved as "prog"
  // loads as "PROG".
  if (!f && mode[0] == 'r') f = std::fopen(media_find_nocase(tape_dir() + name).c_str(), mode);
  return f;
}

void open_for_reading() {
  reg_f() = 0;
  close_input();
  const std::string name = cpc_name();
  FILE* f = open_in_tape_dir(name, "rb");
  if (!f && name.find('.') == std::string::npos) {
    for (const char* ext : {".   ", ".BAS", ".BIN"}) {
      if ((f = open_in_tape_dir(name + ext, "rb"))) break;
    }
  }
  if (!f) {
    report_not_found(name);
    reg_f() |= FLAG_ZERO;
    return;
  }
  tape_in.file = f;
  tape_in.flags = 1;
  read_input_header();
  const uint16_t at = input_header_address();
  reg_hl() = at;
  for (int i = 0; i < 64; ++i) mem_write(static_cast<uint16_t>(at + i), tape_in.header[i]);
  reg_de() = word_at(tape_in.header + 21);
  reg_bc() = word_at(tape_in.header + 24);
  reg_a() = tape_in.header[18];
  reg_f() |= FLAG_CARRY;
}

// One data byte, or -1 at the end of the data.
int next_input_byte() {
  if (!(tape_in.flags & 1)) return -1;
  if (tape_in.pushed_back >= 0) {
    const int c = tape_in.pushed_back;
    tape_in.pushed_back = -1;
    return c;
  }
  if (tape_in.remaining <= 0) return -1;
  const int c = std::fgetc(tape_in.file);
  if (c == EOF) {
    tape_in.remaining = 0;
    return -1;
  }
  --tape_in.remaining;
  return c;
}

void read_character() {
  const int c = next_input_byte();
  if (c >= 0) {
    reg_a() = static_cast<uint8_t>(c);
    reg_f() = FLAG_CARRY;
  } else {
    reg_a() = 0x0F;  // hard end of file
    reg_f() = 0;
  }
}

void read_whole_file() {
  if ((tape_in.flags & 1) && !(tape_in.flags & 2)) {
    uint16_t hl = reg_hl();
    for (;;) {
      const int c = next_input_byte();
      if (c < 0) break;
      mem_write(hl++, static_cast<uint8_t>(c));
    }
    print_message(msg::TAPE_END_OF_FILE);
    reg_hl() = word_at(tape_in.header + 26);
    tape_in.flags |= 2;
    reg_f() = FLAG_CARRY;
  } else {
    print_message(msg::TAPE_NOTHING_TO_READ);
    reg_f() = 0;
  }
}

void open_for_writing() {
  reg_f() = 0;
  close_output();
  const std::string name = cpc_name();
  FILE* f = open_in_tape_dir(name, "w+b");
  if (!f) {
    report_not_found(name);
    reg_f() |= FLAG_ZERO;
    return;
  }
  tape_out.file = f;
  tape_out.flags = 1;
  std::strncpy(reinterpret_cast<char*>(tape_out.header) + 1, name.c_str(), 15);
  const uint16_t at = output_header_address();
  reg_hl() = at;
  if (at != 0) {
    uint8_t cleared[64] = {};
    cleared[18] = 0x16;
    for (int i = 0; i < 64; ++i) mem_write(static_cast<uint16_t>(at + i), cleared[i]);
  }
  reg_f() |= FLAG_CARRY;
}

// Starts the output file: a 128-byte header unless the file is ASCII (type 0x16).
bool begin_output(uint8_t type, uint16_t load, uint16_t length, uint16_t entry) {
  uint8_t* h = tape_out.header;
  char name[16] = {};
  std::memcpy(name, h + 1, 15);
  std::memset(h, 0, 128);
  std::string base = name, ext;
  const size_t dot = base.find('.');
  if (dot != std::string::npos) {
    ext = base.substr(dot + 1);
    base = base.substr(0, dot);
  }
  for (int i = 0; i < 8; ++i)
    h[1 + i] = i < static_cast<int>(base.size()) ? static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(base[i]))) : ' ';
  for (int i = 0; i < 3; ++i)
    h[9 + i] = i < static_cast<int>(ext.size()) ? static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(ext[i]))) : ' ';
  h[18] = type;
  put_word(h + 21, load);
  put_word(h + 24, length);
  put_word(h + 26, entry);
  h[64] = static_cast<uint8_t>(length);
  h[65] = static_cast<uint8_t>(length >> 8);
  h[66] = 0;
  put_word(h + 67, tape_header_checksum(h));
  tape_out.flags |= 4;
  tape_out.written = 0;
  if (type == 0x16) return true;
  return std::fwrite(h, 1, 128, tape_out.file) == 128;
}

void write_character() {
  if (!(tape_out.flags & 1)) return;
  if (!(tape_out.flags & 4)) {
    uint8_t h[64];
    const uint16_t at = output_header_address();
    for (int i = 0; i < 64; ++i) h[i] = mem_read(static_cast<uint16_t>(at + i));
    begin_output(h[18], word_at(h + 21), word_at(h + 24), word_at(h + 26));
  }
  if (std::fputc(reg_a(), tape_out.file) == EOF) {
    char name[16] = {};
    std::memcpy(name, tape_out.header + 1, 11);
    std::cout << "File " << name << " write error." << std::endl;
  } else {
    ++tape_out.written;
  }
  reg_f() = FLAG_CARRY;
}

void write_whole_file() {
  if ((tape_out.flags & 1) && !(tape_out.flags & 2)) {
    const uint16_t length = reg_de();
    bool ok = begin_output(reg_a(), reg_hl(), length, reg_bc());
    uint16_t hl = reg_hl();
    for (unsigned i = 0; i < length && ok; ++i) ok = std::fputc(mem_read(hl++), tape_out.file) != EOF;
    if (!ok) print_message(msg::TAPE_WRITE_ERROR);
    tape_out.written = length;
    tape_out.flags |= 2;
  }
  reg_f() = FLAG_CARRY;
}

// The catalog is printed on the CPC's screen by the firmware's own TXT OUTPUT (0xBB5A),
// one character per call: the trap "calls" it with the trap itself as the return
// address, so that each return comes back here for the next character. TXT OUTPUT keeps
// every register, so the caller's registers are as they were when the listing ends.
struct CatalogListing {
  std::string text;
  size_t position = 0;
  bool active = false;
  uint16_t sp = 0;  // the caller's stack: a return from TXT OUTPUT comes back with it
} listing;

constexpr uint16_t TXT_OUTPUT = 0xBB5A;

void catalog() {
  uint16_t& sp = z80_reg16(8);
  // Any other entry than the return of our own call (a listing abandoned by a reset or a
  // loaded snapshot) begins a new listing.
  if (!listing.active || sp != listing.sp) {
    listing = CatalogListing{};
    for (const std::string& line : tape_catalog(tape_dir())) listing.text += line + "\r\n";
    listing.active = true;
    listing.sp = sp;
  }
  if (listing.position < listing.text.size()) {
    const uint16_t trap_address = static_cast<uint16_t>(reg_pc() - 3);
    sp = static_cast<uint16_t>(sp - 2);
    mem_write(sp, static_cast<uint8_t>(trap_address));
    mem_write(static_cast<uint16_t>(sp + 1), static_cast<uint8_t>(trap_address >> 8));
    reg_a() = static_cast<uint8_t>(listing.text[listing.position++]);
    reg_pc() = TXT_OUTPUT;
    return;
  }
  listing = CatalogListing{};
  reg_f() = FLAG_CARRY;
}

}  // namespace

uint16_t tape_header_checksum(const uint8_t* header) {
  unsigned sum = 0;
  for (int i = 0; i <= 66; ++i) sum += header[i];
  return static_cast<uint16_t>(sum);
}

std::vector<std::string> tape_catalog(const std::string& directory) {
  std::vector<std::string> lines;
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return lines;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    names.emplace_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = directory + name;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    uint8_t h[128] = {};
    long length = st.st_size;
    char type = '*';  // a file without a header is read as ASCII
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      if (std::fread(h, 1, 128, f) == 128 && word_at(h + 67) == tape_header_checksum(h)) {
        length = h[64] | h[65] << 8 | h[66] << 16;
        if (length == 0) length = std::max<long>(0, st.st_size - 128);
        // The firmware's catalog marks: $ BASIC, % protected BASIC, * ASCII, & binary.
        const int contents = h[18] >> 1 & 7;
        type = contents == 0 ? ((h[18] & 1) ? '%' : '$') : contents == 3 ? '*' : '&';
      }
      std::fclose(f);
    }
    char line[80];
    std::snprintf(line, sizeof line, "%-16.16s %c %ld", name.c_str(), type, length);
    lines.emplace_back(line);
  }
  return lines;
}

namespace {

// Every CPC operating system ROM begins with its reset code: LD BC,&7F89 ; OUT (C),C
// (Gate Array: mode 1, upper ROM off, lower ROM on).
constexpr uint8_t FIRMWARE_RESET_CODE[] = {0x01, 0x89, 0x7F, 0xED, 0x49};
// The firmware builds the main jumpblock at &BB00 from a table in the ROM that holds the
// routine address (two bytes) of each three-byte entry.
constexpr uint16_t JUMPBLOCK = 0xBB00;
constexpr uint16_t CASSETTE_ENTRIES[14] = {0xBC65, 0xBC77, 0xBC7A, 0xBC7D, 0xBC80, 0xBC83, 0xBC86,
                                           0xBC89, 0xBC8C, 0xBC8F, 0xBC92, 0xBC95, 0xBC98, 0xBC9B};
constexpr uint16_t LAST_CASSETTE_ENTRY = 0xBC9B;
// A firmware routine lies in the lower ROM, past the restart area, with room for the
// four bytes of the trap.
constexpr uint16_t FIRST_ROUTINE = 0x0040;
constexpr uint16_t LAST_ROUTINE = 0x3FFC;

int table_offset(uint16_t entry) { return (entry - JUMPBLOCK) / 3 * 2; }

// Where the model's firmware keeps its jumpblock table; -1 for a model without one known.
int jumpblock_table(int hw_model) {
  switch (hw_model) {
    case model::CPC464: case model::BASIC3: return 0x8AC;
    case model::CPC664: return 0x8DC;
    case model::CPC6128: case model::BASIC4: case model::CPC6128_PLUS: return 0x8DE;
    default: return -1;
  }
}

// The ROM is that firmware when it begins with the reset code and every table entry up
// to the last cassette routine names a routine of the ROM. A diagnostics ROM or an
// operating system of another layout fails: patching it would corrupt it.
bool is_firmware(const uint8_t* rom, int table) {
  if (std::memcmp(rom, FIRMWARE_RESET_CODE, sizeof FIRMWARE_RESET_CODE) != 0) return false;
  for (int at = table; at <= table + table_offset(LAST_CASSETTE_ENTRY); at += 2) {
    const uint16_t routine = word_at(rom + at);
    if (routine < FIRST_ROUTINE || routine > LAST_ROUTINE) return false;
  }
  return true;
}

}  // namespace

bool tape_patch_rom(uint8_t* rom, int hw_model) {
  const int table = jumpblock_table(hw_model);
  if (table < 0 || !is_firmware(rom, table)) return false;
  for (uint16_t entry : CASSETTE_ENTRIES) {
    const uint16_t routine = word_at(rom + table + table_offset(entry));
    rom[routine] = 0xED;
    rom[routine + 1] = 0xFC;
    rom[routine + 2] = static_cast<uint8_t>(entry & 0xFF);
    rom[routine + 3] = 0xC9;
  }
  return true;
}

void tape_close() {
  close_input();
  close_output();
}

void tape_reset(ResetKind kind) {
  if (kind == ResetKind::POWER_ON) tape_close();
}

void tape_trap(int code) {
  const int op = code >> 8 & 0xFF;
  const int n = code & 0xFF;
  char line[128];
  if (op != 0xFC) {
    std::snprintf(line, sizeof line, "%s ED %02X %02X\n", message_text(msg::UNKNOWN_TRAP), op, n);
    std::cout << line << std::flush;
    return;
  }
  switch (n) {
    case 0x65:
      tape_close();
      listing = CatalogListing{};
      break;
    case 0x77: open_for_reading(); break;
    case 0x7A:
    case 0x7D: close_input(); reg_f() = FLAG_CARRY; break;
    case 0x80: read_character(); break;
    case 0x83: read_whole_file(); break;
    case 0x86:
      if (tape_in.flags & 1) tape_in.pushed_back = reg_a();
      break;
    case 0x89: {
      const int c = next_input_byte();
      if (c >= 0) {
        tape_in.pushed_back = c;
        reg_a() = static_cast<uint8_t>(c);
        reg_f() = FLAG_CARRY;
      } else {
        reg_a() = 0x0F;
        reg_f() = 0;
      }
      break;
    }
    case 0x8C: open_for_writing(); break;
    case 0x8F:
    case 0x92: close_output(); reg_f() = FLAG_CARRY; break;
    case 0x95: write_character(); break;
    case 0x98: write_whole_file(); break;
    case 0x9B: catalog(); break;
    case 0xFC: request_stop(static_cast<int>(stopbit::TAPE)); break;
    default:
      std::snprintf(line, sizeof line, "%s ED FC %02X\n", message_text(msg::UNKNOWN_TRAP), n);
      std::cout << line << std::flush;
      reg_pc() = static_cast<uint16_t>(reg_pc() - 1);
      break;
  }
}
