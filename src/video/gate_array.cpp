#include "video/gate_array.h"

#include <cstring>
#include <iomanip>
#include <istream>
#include <ostream>

#include "config/settings.h"
#include "video/raster.h"

namespace {

constexpr int INTERRUPT_LINES = 52;  // scan lines between two interrupts
constexpr int COUNTER_MASK = 63;     // the counter has 6 bits
constexpr int COUNTER_HIGH = 32;     // bit 5: the resynchronisation raises the interrupt

// ga_write's function bits 7-6.
enum GaFunction { SELECT_PEN = 0, SET_INK = 1, MODE_AND_ROMS = 2, RAM_CONFIG = 3 };
constexpr uint8_t PEN_BORDER_BIT = 0x10;
constexpr uint8_t COUNTER_RESET_BIT = 0x10;

void no_rom_enables(int) {}
void no_ram_config(int) {}
void no_byte_written(uint8_t) {}

GateArray ga{0, {}, 0, 1, 1, 0, 0, false, -1};
GateArrayMemoryLines memory_lines{no_rom_enables, no_ram_config, no_byte_written};

// The mode/ROM byte: counter reset, ROM enables and the pending mode.
void write_mode_and_roms(uint8_t v) {
  ga.multi = v;
  if (v & COUNTER_RESET_BIT) ga_reset_interrupt();
  memory_lines.rom_enables((v >> 2) & 3);
  ga_set_mode(v & 3);
}

void store_ink(int pen, uint8_t ink) {
  if (ink != ga.ink[pen]) ga_set_ink(pen, ink);
}

}  // namespace

const GateArray& gate_array() { return ga; }

void ga_connect_memory(const GateArrayMemoryLines& lines) {
  memory_lines.rom_enables = lines.rom_enables ? lines.rom_enables : no_rom_enables;
  memory_lines.ram_config = lines.ram_config ? lines.ram_config : no_ram_config;
  memory_lines.byte_written = lines.byte_written ? lines.byte_written : no_byte_written;
}

// ---- Processor side ----------------------------------------------------------------------------

void ga_write(uint8_t v) {
  switch (v >> 6) {
    case SELECT_PEN:
      ga.pen = (v & PEN_BORDER_BIT) ? GA_BORDER_PEN : (v & 15);
      break;
    case SET_INK:
      store_ink(ga.pen, v & 31);
      break;
    case MODE_AND_ROMS:
      write_mode_and_roms(v);
      break;
    default:
      // With the paged expansion (RAM_TYPE 1) the expansion decodes this function.
      if (setting(kw::RAM_TYPE) == 0) {
        ga.ram_config = v & 63;
        memory_lines.ram_config(v & 63);
      }
      break;
  }
  memory_lines.byte_written(v);
}

void ga_set_ink(int pen, int colour) {
  if (pen < 0 || pen > GA_BORDER_PEN) return;
  ga.ink[pen] = static_cast<uint8_t>(colour & 31);
  raster_pen_colour_changed(pen);
}

void ga_set_mode(int mode) {
  ga.mode = mode & 3;
  raster_mode_pending(ga.mode);
}

void ga_reset() {
  ga.pen = 0;
  ga.multi = 0;
  ga.ram_config = 0;
  for (int pen = 0; pen < GA_PENS; ++pen) ga_set_ink(pen, 0);
  ga_write(0x89);  // mode 1, lower ROM on, upper ROM off
  ga_write(0xC0);  // RAM configuration 0
}

// ---- Snapshot and dump ----------------------------------------------------------------------------

void ga_save(uint8_t* out) {
  out[0] = static_cast<uint8_t>(ga.pen);
  std::memcpy(out + 1, ga.ink, GA_PENS);
  out[18] = ga.multi;
  out[19] = ga.ram_config;
}

void ga_load(const uint8_t* in) {
  ga.pen = in[0] > GA_BORDER_PEN ? GA_BORDER_PEN : in[0];
  for (int pen = 0; pen < GA_PENS; ++pen) store_ink(pen, in[1 + pen] & 31);
  write_mode_and_roms(in[18]);
  ga.ram_config = in[19] & 63;
  memory_lines.ram_config(ga.ram_config);
}

int ga_save(std::ostream& out) {
  uint8_t block[GA_BLOCK_SIZE];
  ga_save(block);
  out.write(reinterpret_cast<const char*>(block), sizeof block);
  return out ? 0 : 1;
}

int ga_load(std::istream& in) {
  uint8_t block[GA_BLOCK_SIZE];
  in.read(reinterpret_cast<char*>(block), sizeof block);
  if (in.gcount() != static_cast<std::streamsize>(sizeof block)) return 1;
  ga_load(block);
  return 0;
}

void ga_dump(std::ostream& out) {
  const auto flags = out.flags();
  const char fill = out.fill('0');
  out << std::hex << std::uppercase << "GA  :  inknum = " << std::setw(2) << ga.pen
      << ", multi = " << std::setw(2) << int{ga.multi} << ", mode = " << ga.mode
      << ", ramconf = " << std::setw(2) << int{ga.ram_config} << "\n";
  out << "GA  :  inkval 0..16:";
  for (uint8_t ink : ga.ink) out << ' ' << std::setw(2) << int{ink};
  out << "\n";
  out.fill(fill);
  out.flags(flags);
}

// ---- Interrupt counter -------------------------------------------------------------------------------

void ga_reset_interrupt() {
  ga.interrupt_counter = 0;
  ga.interrupt_pending = false;
}

bool ga_interrupt_pending() { return ga.interrupt_pending; }
int ga_interrupt_counter() { return ga.interrupt_counter; }

void ga_acknowledge_interrupt() {
  ga.interrupt_pending = false;
  ga.interrupt_counter &= COUNTER_HIGH - 1;
}

void ga_set_interrupt_state(int counter, bool pending, int resync_delay) {
  ga.interrupt_counter = counter & COUNTER_MASK;
  ga.interrupt_pending = pending;
  ga.resync_delay = resync_delay;
}

void ga_hsync_end() {
  const int before = ga.interrupt_counter;
  ga.interrupt_counter = (ga.interrupt_counter + 1) & COUNTER_MASK;
  if (before == INTERRUPT_LINES - 1) {
    ga.interrupt_pending = true;
    ga.interrupt_counter = 0;
  }
  if (ga.resync_delay > 0 && --ga.resync_delay == 0) {
    if (ga.interrupt_counter & COUNTER_HIGH) ga.interrupt_pending = true;
    ga.interrupt_counter = 0;
  }
}

void ga_vsync_started(int delay) { ga.resync_delay = delay; }

// ---- Raster side ------------------------------------------------------------------------------------

void ga_pending_mode_shown() { ga.mode_shown = ga.mode; }
int ga_screen_mode() { return ga.mode_shown; }
