#include "debugger/monitor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "config/messages.h"
#include "config/settings.h"
#include "debugger/disasm.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "video/gate_array.h"
#include "media/fdc.h"
#include "media/tape.h"
#include "sound/psg.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

// Stop-request bits the monitor works with. 0x20000 marks "in the monitor"; the raster
// engine's timed break arrives as 0x24000 (the same bit plus the break bit).
constexpr uint32_t IN_MONITOR = 0x20000;
constexpr uint32_t STEP = stopbit::STEP;    // microsecond single step
constexpr uint32_t BREAK = stopbit::BREAK;  // breakpoint, break key
constexpr uint32_t QUIT = stopbit::QUIT;

// Placed in the processor's wait word before a step: the raster engine clears the wait
// word when it delivers an interrupt, which tells a held acknowledge from a held
// instruction.
constexpr uint32_t ACK_MARK = 0xA5A5A5A5u;

const char* const MENU_1 = "B)reakpoint R)un T)race S)tep-into Step-O)ver C)RTC single step\n";
const char* const MENU_2 = "Disa)ssem D)ump I)nput L)oad saV)e fiN)d Q)uit \n";
const char* const MORE = "<EMPTY RETURN=CONTINUE> ";

struct Monitor {
  std::string line;      // the input line
  size_t pos = 0;        // read position in it
  uint16_t address = 0;  // the current command's address (default PC)
  bool repeat = false;   // the pending line is the next command line
  bool input_ended = false;
  bool in_ack = false;   // the held processor is in an interrupt acknowledge
  std::ostringstream out;
};
Monitor mon;

// ---- Consoles ---------------------------------------------------------------------------------

struct StreamConsole {
  std::istream* in = nullptr;
  std::ostream* out = nullptr;
  bool echo = false;
} streams;

void stream_open(const char*) {}
void stream_close() {}
void stream_write(const char* text, std::size_t length) {
  streams.out->write(text, static_cast<std::streamsize>(length));
  streams.out->flush();
}
bool stream_read_line(std::string& line) {
  if (!streams.in || !std::getline(*streams.in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (streams.echo) *streams.out << line << '\n';
  return true;
}
void stream_settle(unsigned) {}

// Without a console: the state goes to standard output and nothing is read.
void plain_write(const char* text, std::size_t length) {
  std::cout.write(text, static_cast<std::streamsize>(length));
  std::cout.flush();
}
bool no_input(std::string&) { return false; }

const MonitorConsole DEFAULT_CONSOLE = {stream_open, stream_close, plain_write, no_input, stream_settle};
MonitorConsole console = DEFAULT_CONSOLE;

void flush_out() {
  const std::string text = mon.out.str();
  if (!text.empty()) console.write(text.data(), text.size());
  mon.out.str("");
  mon.out.clear();
}

// Reads a new input line (the output written so far shows first).
bool read_new_line() {
  flush_out();
  mon.pos = 0;
  if (mon.input_ended || !console.read_line(mon.line)) {
    mon.line.clear();
    mon.input_ended = true;
    return false;
  }
  return true;
}

// ---- Input tokens ----------------------------------------------------------------------------

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '='; }

std::string next_token() {
  while (mon.pos < mon.line.size() && is_separator(mon.line[mon.pos])) ++mon.pos;
  const size_t start = mon.pos;
  while (mon.pos < mon.line.size() && !is_separator(mon.line[mon.pos])) ++mon.pos;
  return mon.line.substr(start, mon.pos - start);
}

bool line_used_up() {
  size_t p = mon.pos;
  while (p < mon.line.size() && is_separator(mon.line[p])) ++p;
  return p >= mon.line.size();
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The rest of the line without leading and trailing blanks (file names may hold blanks).
std::string rest_of_line() {
  std::string s = mon.line.substr(std::min(mon.pos, mon.line.size()));
  mon.pos = mon.line.size();
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// A paged listing's question: true for an empty line (go on). A line with text ends the
// listing and becomes the next command line.
bool more() {
  mon.out << MORE;
  if (!read_new_line()) return false;
  if (line_used_up()) return true;
  mon.repeat = true;
  return false;
}

// ---- Memory as the processor sees it ----------------------------------------------------------

uint8_t peek(uint16_t a) { return read_bank[a >> 14][a & 0x3FFF]; }
void poke(uint16_t a, uint8_t v) { write_bank[a >> 14][a & 0x3FFF] = v; }

uint16_t& pc() { return z80_reg16(z80w::PC); }

void put_hex(std::ostream& out, unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  out << text;
}

// ---- Stepping -------------------------------------------------------------------------------------

// Stop bits that end a run of steps: everything except being in the monitor and the
// microsecond single-step mode, with the maskable reasons the break mask lets through.
// The break bit among them means the breakpoint was reached or the break key pressed.
uint32_t other_stop_bits() {
  const uint32_t mask = static_cast<uint32_t>(setting(kw::BREAK_MASK)) | 0xFFFFFFF8u;
  return stop_request_word & ~(IN_MONITOR | STEP) & mask;
}

// One step: one instruction, or one microsecond in microsecond single-step mode. The
// stop-request word is never zero in the monitor, so z80_run returns after one pass.
// The break bit is cleared before the step; set after it, the processor reached the
// breakpoint or the user pressed the break key while the step ran.
void step_once() {
  stop_request_word &= ~BREAK;
  stop_request_word |= IN_MONITOR;
  z80_set_wait_word(ACK_MARK);
  z80_run();
  if (z80_state().hold == 0)
    mon.in_ack = false;
  else if (z80_state().wait_word == 0)
    mon.in_ack = true;
  z80_set_wait_word(0);
}

// The frame of the step commands: the emulation speed is off while stepping; at the end
// it is restored, the break bit and the microsecond single-step mode are cleared, and
// the stop reasons that remain are reported.
int begin_steps() {
  const int saved = setting(kw::EMULATION_SPEED);
  set_setting(kw::EMULATION_SPEED, 0);
  return saved;
}

void end_steps(int saved_speed) {
  set_setting(kw::EMULATION_SPEED, saved_speed);
  stop_request_word &= ~(BREAK | STEP);
  flush_out();
  report_stop_reasons();
}

// ---- Commands ---------------------------------------------------------------------------------------

void disassemble_listing() {
  uint16_t a = mon.address;
  do {
    for (int i = 0; i < 20; ++i) {
      const int length = disassemble(a);
      print_disassembly(mon.out, a, length);
      a = static_cast<uint16_t>(a + length);
    }
  } while (more());
}

void dump_listing() {
  uint16_t a = mon.address;
  do {
    for (int row = 0; row < 16; ++row) {
      char chars[17];
      put_hex(mon.out, a, 4);
      mon.out << " : ";
      for (int i = 0; i < 16; ++i) {
        const uint8_t b = peek(static_cast<uint16_t>(a + i));
        put_hex(mon.out, b, 2);
        mon.out << ' ';
        const uint8_t c = b & 0x7F;
        chars[i] = c < 32 ? ' ' : static_cast<char>(c);
      }
      chars[16] = 0;
      mon.out << "  " << chars << '\n';
      a = static_cast<uint16_t>(a + 16);
    }
  } while (more());
}

void memory_input() {
  uint16_t a = mon.address;
  for (;;) {
    std::ostringstream prompt;
    put_hex(prompt, a, 4);
    prompt << " : (";
    put_hex(prompt, peek(a), 2);
    prompt << ")  ? ";
    uint16_t value = 0x100;
    if (read_hex_prompted(value, prompt.str().c_str()) != HEX_STORED || value > 0xFF) return;
    poke(a, static_cast<uint8_t>(value));
    a = static_cast<uint16_t>(a + 1);
  }
}

void find_pattern() {
  mon.out << "find pattern ('?'=joker)\n";
  int pattern[100];  // byte value, or -1 for the joker
  int count = 0;
  while (count < 100) {
    std::ostringstream prompt;
    put_hex(prompt, static_cast<unsigned>(count), 4);
    prompt << " : (00)  ? ";
    uint16_t value = 0x100;
    if (read_hex_prompted(value, prompt.str().c_str()) != HEX_STORED) break;
    if (value == HEX_JOKER) {
      if (count > 0) pattern[count++] = -1;  // a joker in front would match anywhere: left out
      continue;
    }
    if (value > 0xFF) break;
    pattern[count++] = value;
  }
  mon.out << "Pattern found at: ";
  long matches = 0;
  if (count > 0) {
    for (long i = 0; i < 65536; ++i) {
      const uint16_t start = static_cast<uint16_t>(mon.address + i);
      bool match = true;
      for (int k = 0; k < count && match; ++k)
        match = pattern[k] < 0 || peek(static_cast<uint16_t>(start + k)) == pattern[k];
      if (!match) continue;
      if (matches++) mon.out << ", ";
      put_hex(mon.out, start, 4);
    }
  }
  mon.out << '\n' << matches << " matches.\n";
}

// A file name: the next token, or a line of its own after the prompt.
std::string file_name(const char* prompt) {
  std::string name = next_token();
  if (!name.empty()) return name;
  mon.out << prompt;
  if (!read_new_line()) return "";
  return rest_of_line();
}

std::string tape_path(const std::string& name) {
  const char* dir = setting_text(kw::TAPE_PATH);
  return std::string(dir ? dir : "") + name;
}

// Loads a file into memory from the address on. A file with a valid 128-byte header
// gives its data (the header's 24-bit length, or the rest of the file when that is 0);
// any other file is data from its first byte.
void load_file() {
  const std::string name = file_name("file to load: ");
  if (name.empty()) return;
  FILE* f = std::fopen(tape_path(name).c_str(), "rb");
  if (!f) {
    mon.out << message_text(msg::TAPE_NOT_FOUND) << ' ' << name << '\n';
    return;
  }
  uint8_t header[128];
  long data_offset = 0, length;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::rewind(f);
  if (std::fread(header, 1, 128, f) == 128 &&
      (header[67] | header[68] << 8) == tape_header_checksum(header)) {
    data_offset = 128;
    length = header[64] | header[65] << 8 | header[66] << 16;
    if (length == 0) length = size - 128;
  } else {
    length = size;
  }
  length = std::clamp(std::min(length, size - data_offset), 0L, 65536L);
  std::fseek(f, data_offset, SEEK_SET);
  uint16_t a = mon.address;
  long loaded = 0;
  for (int c; loaded < length && (c = std::fgetc(f)) != EOF; ++loaded) {
    poke(a, static_cast<uint8_t>(c));
    a = static_cast<uint16_t>(a + 1);
  }
  std::fclose(f);
  char text[64];
  std::snprintf(text, sizeof text, " (%04x)", static_cast<uint16_t>(mon.address + loaded - 1));
  mon.out << message_text(msg::MONITOR_LOADED) << ' ' << name << text << '\n';
}

// Saves memory from the address on behind a binary file header (type 2) that carries
// the load address and the length.
void save_file() {
  const std::string name = file_name("file to save: ");
  if (name.empty()) return;
  uint16_t value = 0;
  if (read_hex_prompted(value, "length to save: ") != HEX_STORED || value == HEX_JOKER) return;
  const long length = value == 0 ? 65536 : value;

  uint8_t header[128] = {};
  std::string base = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
  std::string ext;
  const size_t dot = base.find('.');
  if (dot != std::string::npos) {
    ext = base.substr(dot + 1);
    base.resize(dot);
  }
  base = upper(base);
  ext = upper(ext);
  for (size_t i = 0; i < 8; ++i) header[1 + i] = i < base.size() ? static_cast<uint8_t>(base[i]) : ' ';
  for (size_t i = 0; i < 3; ++i) header[9 + i] = i < ext.size() ? static_cast<uint8_t>(ext[i]) : ' ';
  header[18] = 2;
  header[21] = static_cast<uint8_t>(mon.address);
  header[22] = static_cast<uint8_t>(mon.address >> 8);
  header[24] = static_cast<uint8_t>(length);
  header[25] = static_cast<uint8_t>(length >> 8);
  header[64] = static_cast<uint8_t>(length);
  header[65] = static_cast<uint8_t>(length >> 8);
  header[66] = static_cast<uint8_t>(length >> 16);
  const uint16_t sum = tape_header_checksum(header);
  header[67] = static_cast<uint8_t>(sum);
  header[68] = static_cast<uint8_t>(sum >> 8);

  FILE* f = std::fopen(tape_path(name).c_str(), "wb");
  if (!f) {
    mon.out << "File " << name << " cannot be created.\n";
    return;
  }
  bool ok = std::fwrite(header, 1, 128, f) == 128;
  uint16_t a = mon.address;
  for (long i = 0; i < length && ok; ++i, a = static_cast<uint16_t>(a + 1))
    ok = std::fputc(peek(a), f) != EOF;
  if (std::fclose(f) != 0) ok = false;
  if (!ok) mon.out << message_text(msg::TAPE_WRITE_ERROR) << '\n';
}

void step_into() {
  const int speed = begin_steps();
  pc() = mon.address;
  step_once();
  end_steps(speed);
}

// Runs until the instruction after the one at the address is reached (so a CALL or a
// block instruction runs to its end), or the machine stops for another reason.
void step_over() {
  const int speed = begin_steps();
  pc() = mon.address;
  const uint16_t target = static_cast<uint16_t>(mon.address + disassemble(mon.address));
  do {
    step_once();
  } while (!(pc() == target && z80_state().hold == 0) && !other_stop_bits());
  end_steps(speed);
}

// Runs n - 1 steps silently, then one step at a time, each shown, while the user asks
// for more with an empty line.
void trace(int n) {
  const int speed = begin_steps();
  flush_out();
  bool stopped = false;
  for (int i = 1; i < n && !stopped; ++i) {
    step_once();
    stopped = other_stop_bits() != 0;
  }
  while (!stopped) {
    step_once();
    monitor_show(3);
    stopped = other_stop_bits() != 0 || !more();
  }
  end_steps(speed);
}

// One letter: a command. Returns true when the monitor is to be left.
bool command(char letter) {
  mon.address = pc();
  const HexResult argument = read_hex(mon.address);
  if (argument == HEX_BAD) return false;
  // A new command: earlier stop reasons are done with (the microsecond single-step mode
  // chosen by C stays for the next step command).
  stop_request_word &= STEP;
  request_stop(static_cast<int>(IN_MONITOR));
  switch (letter) {
    case 'A': disassemble_listing(); return false;
    case 'B': z80_set_breakpoint(mon.address); return false;
    case 'C':
      if (argument == HEX_STORED) {
        video_arm_break(microsecond_counter + std::max<uint16_t>(mon.address, 1));
        stop_request_word &= ~(BREAK | STEP);
        return true;
      }
      stop_request_word |= STEP;
      return false;
    case 'D': dump_listing(); return false;
    case 'F':
      mon.out << "fast Z80 is " << (setting(kw::EMULATION_SPEED) ? "on" : "off")
              << " Fast Z80 (x86 MC) is only possible with MS-DOS.\n";
      return false;
    case 'I': memory_input(); return false;
    case 'L': load_file(); return false;
    case 'N': find_pattern(); return false;
    case 'O': step_over(); return false;
    case 'Q':
      stop_request_word &= ~BREAK;
      stop_request_word |= QUIT;
      return true;
    case 'R':
      stop_request_word &= ~(BREAK | STEP);
      pc() = mon.address;
      return true;
    case 'S': step_into(); return false;
    case 'T': trace(argument == HEX_STORED && mon.address > 0 ? mon.address : 1); return false;
    case 'V': save_file(); return false;
    default: mon.out << "only what you see.\n"; return false;
  }
}

// Writes the current value as the prompt of a register word.
std::string value_prompt(const std::string& word, unsigned value, int digits) {
  std::ostringstream p;
  p << word << " : (";
  put_hex(p, value, digits);
  p << ")  ? ";
  return p.str();
}

void set_pair(const std::string& word, uint16_t& pair) {
  uint16_t v = pair;
  if (read_hex_prompted(v, value_prompt(word, pair, 4).c_str()) == HEX_STORED) pair = v;
}

// CRTC and PSG: a register number, then its value.
void set_device_register(const std::string& word, bool crtc) {
  uint16_t reg = static_cast<uint16_t>(crtc ? crtc_selected() : psg_selected());
  if (read_hex_prompted(reg, value_prompt(word + " register", reg, 2).c_str()) == HEX_BAD) return;
  reg &= crtc ? 31 : 15;
  const unsigned old = crtc ? crtc_copy(reg) : psg_read(reg);
  uint16_t value = static_cast<uint16_t>(old);
  if (read_hex_prompted(value, value_prompt(word, old, 2).c_str()) != HEX_STORED) return;
  if (crtc) {
    const int selected = crtc_selected();
    crtc_select(reg);
    crtc_write(static_cast<uint8_t>(value));
    crtc_select(selected);
  } else {
    psg_write(reg, value & 0xFF);
  }
}

// A longer word: a register or a device to set.
void set_word(const std::string& word) {
  static const struct {
    const char* name;
    int index;
  } pairs[] = {{"AF", z80w::AF},   {"BC", z80w::BC},   {"DE", z80w::DE},   {"HL", z80w::HL},
               {"IX", z80w::IX},   {"IY", z80w::IY},   {"SP", z80w::SP},   {"PC", z80w::PC},
               {"IR", z80w::IR},   {"AF'", z80w::AF2}, {"BC'", z80w::BC2}, {"DE'", z80w::DE2},
               {"HL'", z80w::HL2}};
  const std::string w = upper(word);
  for (const auto& p : pairs) {
    if (w == p.name) {
      set_pair(w, z80_reg16(p.index));
      return;
    }
  }
  if (w == "IFF1" || w == "IFF2") {
    uint8_t& iff = z80_reg8(w == "IFF1" ? z80r::IFF1 : z80r::IFF2);
    uint16_t v = iff ? 1 : 0;
    if (read_hex_prompted(v, value_prompt(w, v, 1).c_str()) == HEX_STORED) iff = v ? IFF_SET : 0;
  } else if (w == "IMD") {
    uint16_t v = z80_reg8(z80r::IM);
    if (read_hex_prompted(v, value_prompt(w, v, 1).c_str()) == HEX_STORED) z80_reg16(z80w::IM) = v % 3;
  } else if (w == "CRTC" || w == "PSG") {
    set_device_register(w, w == "CRTC");
  } else if (w == "GA") {
    uint16_t v = 0;
    if (read_hex_prompted(v, "GA  ? ") == HEX_STORED) ga_write(static_cast<uint8_t>(v));
  } else {
    mon.out << word << " : unknown command.\n";
  }
}

}  // namespace

// ---- Public operations -----------------------------------------------------------------------------

void monitor_set_console(const MonitorConsole* c) { console = c ? *c : DEFAULT_CONSOLE; }

void monitor_use_streams(std::istream& in, std::ostream& out, bool echo) {
  streams.in = &in;
  streams.out = &out;
  streams.echo = echo;
  const MonitorConsole c = {stream_open, stream_close, stream_write, stream_read_line, stream_settle};
  console = c;
}

HexResult read_hex(uint16_t& value) {
  const std::string token = next_token();
  if (token.empty()) return HEX_EMPTY;
  if (token == "?" || token == "??") {
    value = HEX_JOKER;
    return HEX_STORED;
  }
  const bool digits = token.size() <= 8 && std::all_of(token.begin(), token.end(), [](char c) {
                        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                      });
  const unsigned long v = digits ? std::strtoul(token.c_str(), nullptr, 16) : 0x10000;
  if (v > 0xFFFF) {
    mon.out << "No hex value: " << token << '\n';
    return HEX_BAD;
  }
  value = static_cast<uint16_t>(v);
  return HEX_STORED;
}

HexResult read_hex_prompted(uint16_t& value, const char* prompt) {
  if (line_used_up()) {
    mon.out << prompt;
    if (!read_new_line()) return HEX_EMPTY;
  }
  return read_hex(value);
}

void monitor_show(int flags) {
  std::ostream& out = mon.out;
  const bool held = z80_state().hold != 0;
  // While an instruction is held its address stands for PC; an acknowledge shows the
  // processor as it is.
  const bool show_instruction = held && !mon.in_ack;
  const uint16_t real_pc = pc();
  if (show_instruction) pc() = z80_state().instr_address;
  if (flags & 1) {
    z80_dump_registers(out);
    ga_dump(out);
    upper_rom_dump(out);
    ppi_dump(out);
    psg_dump(out);
    fdc_dump(out);
    printer_dump(out);
    crtc_dump(out);
  }
  if (flags & 2) {
    std::string text;
    if (held && mon.in_ack) {
      text = "handling INT";
    } else {
      std::ostringstream line;
      print_disassembly(line, pc(), disassemble(pc()));
      text = line.str();
      if (!text.empty() && text.back() == '\n') text.pop_back();
    }
    out << text;
    if (held) out << " (CRTC steps to go: " << z80_state().hold << ")";
    out << '\n';
  }
  pc() = real_pc;
}

void monitor_run() {
  console.open("Debugger-Monitor");
  request_stop(static_cast<int>(IN_MONITOR));
  mon.repeat = false;
  mon.input_ended = false;
  for (;;) {
    mon.out << MENU_1 << MENU_2;
    monitor_show(3);
    mon.out << (setting(kw::EMULATION_SPEED) ? "------f-----> " : "------s-----> ");
    if (mon.repeat) {
      mon.repeat = false;
      mon.out << mon.line << '\n';
      mon.pos = 0;
    } else if (!read_new_line()) {
      // Nobody gives commands any more: the machine runs on.
      stop_request_word &= ~(BREAK | STEP);
      mon.out << '\n';
      break;
    }
    const std::string word = next_token();
    if (word.empty()) continue;
    const bool leave = word.size() == 1
                           ? command(static_cast<char>(std::toupper(static_cast<unsigned char>(word[0]))))
                           : (set_word(word), false);
    if (leave || (stop_request_word & QUIT)) break;
  }
  flush_out();
  stop_request_word &= ~IN_MONITOR;
  console.close();
  console.settle(200);
}

void report_stop_reasons() {
  if (stop_request_word & stopbit::PORT_ACCESS) ports_report_undecoded();
  if (stop_request_word & stopbit::CPU_ERROR) z80_report_error();
  if (stop_request_word & stopbit::TAPE) print_message(msg::TAPE_BYPASS_STOP);
}
