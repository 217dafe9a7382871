#include "hardware/expansions.h"

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <string>

#include "config/messages.h"
#include "config/settings.h"
#include "core/machine.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "video/raster.h"


// ---- Printer port --------------------------------------------------------------------------------

namespace {
PagedExpansion paged_expansion{};
MouseState mouse{0, 0, 0, 0, 0, -1, 0, 0};

struct PrinterPort {
  uint8_t latch;
  int busy;
  int host_port;     // a host printer port number; output goes to the file only while 0
  FILE* file;
  std::string name;  // the PRINTER file that is open (or failed to open)
};
PrinterPort printer{0, 0, 0, nullptr, {}};

}  // namespace

void printer_write(uint8_t value, bool via_port_ef) {
  if (printer.host_port < 1 && !printer.busy) {
    if ((printer.latch & 0x80) && !(value & 0x80) && printer.file) {
      const int byte = ((ppi_port_c() & 0x20) << 2) | value;
      std::fputc(byte, printer.file);
      if (value == 13) std::fflush(printer.file);
    }
  } else if (via_port_ef) {
    return;
  }
  printer.latch = value;
}

bool printer_busy() { return printer.busy != 0; }
uint8_t printer_latch() { return printer.latch; }
void printer_set_latch(uint8_t value) { printer.latch = value; }

void printer_close() {
  if (printer.file) {
    std::fflush(printer.file);
    std::fclose(printer.file);
    printer.file = nullptr;
  }
}

bool printer_reset(ResetKind kind) {
  printer.latch = 0;
  printer.busy = 0;
  printer.host_port = 0;
  const char* name = setting_text(kw::PRINTER);
  const std::string wanted = name ? name : "";
  if (kind != ResetKind::POWER_ON && wanted == printer.name) return true;
  printer_close();
  printer.name = wanted;
  if (wanted.empty()) return true;
  printer.file = std::fopen(expand_home(wanted.c_str()), "wb");
  if (!printer.file) {
    std::cout << message_text(msg::PRINTER_CANNOT_OPEN) << " " << wanted << std::endl;
    return false;
  }
  return true;
}

void printer_dump(std::ostream& out) {
  const auto flags = out.flags();
  const char fill = out.fill('0');
  out << "PRN :  by = " << std::hex << std::uppercase << std::setw(2)
      << static_cast<int>(printer.latch) << " (PC LPT1=" << std::setw(4) << printer.host_port
      << ")\n";
  out.fill(fill);
  out.flags(flags);
}

// ---- Paged RAM expansion ---------------------------------------------------------------------------

namespace {
int paged_config() {
  return paged_expansion.first_bank | paged_expansion.upper | paged_expansion.page;
}
}  // namespace

void paged_expansion_write(uint8_t value) {
  PagedExpansion& x = paged_expansion;
  int ram = ram_size_kb() < 576 ? ram_size_kb() : 576;
  // A group mask below 0 (64 KB) would let the register name banks that do not exist.
  int mask = ram / 64 - 2;
  if (mask < 0) mask = 0;
  x.enabled = (value >> 5) & 1;
  x.flag3 = (value >> 3) & 1;
  x.group = value & 7 & mask;
  x.first_bank = x.group * 4 + 4;
  if (setting(kw::RAM_TYPE) == 1) {
    set_ram_config(x.first_bank | x.upper | ((value & 0x20) ? x.page : 0));
  }
}

void paged_expansion_ga_write(uint8_t value) {
  PagedExpansion& x = paged_expansion;
  x.page = (value >> 5) & 1;
  x.upper = (value >> 5) & 2;
  if (x.enabled) set_ram_config(paged_config());
}

void paged_expansion_reset() { paged_expansion = PagedExpansion{0, 0, 0, 4, 0, 0}; }

// ---- Mouse -----------------------------------------------------------------------------------------------

void mouse_add_motion(int dx, int dy) {
  mouse.h += dx;
  mouse.v += dy;
}

void mouse_set_buttons(int buttons) { mouse.buttons = buttons & 7; }

uint8_t mouse_port_read() {
  if (setting(kw::MOUSE_TYPE) != 3) return 0;
  // Horizontal, vertical, buttons: a state with nothing to report hands over to the next
  // within the same read; the buttons state always answers.
  for (int step = 0; step < 3; ++step) {
    switch (mouse.port_state) {
      case 0:
        mouse.port_state = 1;
        if (mouse.h != 0) {
          const uint8_t r = static_cast<uint8_t>(0x40 | ((mouse.h & 0xFF) >> 2));
          mouse.h &= 3;
          return r;
        }
        break;
      case 1:
        mouse.port_state = 2;
        if (mouse.v != 0) {
          const uint8_t r = static_cast<uint8_t>(0x80 | (((-2 * mouse.v) & 0xFF) >> 2));
          mouse.v = -((-mouse.v) & 3);
          return r;
        }
        break;
      default: {
        mouse.port_state = 0;
        if (mouse.buttons == mouse.last_buttons) return 0;
        uint8_t r = 0xC0;
        if (mouse.buttons & 1) r |= 1;
        if (mouse.buttons & 4) r |= 2;
        if (mouse.buttons & 2) r |= 4;
        mouse.last_buttons = mouse.buttons;
        return r;
      }
    }
  }
  return 0;
}

void mouse_row_watch(int row) {
  row &= 15;
  const int type = setting(kw::MOUSE_TYPE);
  if (row == 9 && mouse.last_row != 9) {
    if (type == 1) {
      mouse.phase = 5;
    } else if (type == 2 && (mouse.last_row == 0 || mouse.last_row == 6)) {
      mouse.phase = mouse.last_row == 0 ? 1 : 3;
      mouse.stamp = microsecond_counter;
    }
  } else if (type == 2 && row == 0 && mouse.last_row == 6) {
    mouse.phase = 0;
  }
  mouse.last_row = row;
}

uint8_t mouse_joystick_row(uint8_t row9) {
  const int type = setting(kw::MOUSE_TYPE);
  if (type != 1 && type != 2) return row9;
  uint8_t bits = row9;
  if (mouse.buttons & 1) bits |= 0x10;
  if (mouse.buttons & 4) bits |= 0x20;
  if (mouse.buttons & 2) bits |= 0x40;

  const uint64_t since = microsecond_counter - mouse.stamp;
  int move = -1;  // no movement bits from this read
  switch (mouse.phase) {
    case 5:
      move = 0;
      if (mouse.v < 0) move |= 1;
      if (mouse.v > 0) move |= 2;
      if (mouse.h < 0) move |= 4;
      if (mouse.h > 0) move |= 8;
      if (mouse.h) mouse.h += mouse.h > 0 ? -1 : 1;
      if (mouse.v) mouse.v += mouse.v > 0 ? -1 : 1;
      break;
    case 1:
      if (since <= 100) {
        move = ~((-mouse.h) >> 4) & 15;
        mouse.h &= ~0xF0;
        break;
      }
      mouse.phase = 2;
      [[fallthrough]];
    case 2:
    case 0:
      move = (mouse.h - 1) & 15;
      mouse.h &= ~0x0F;
      break;
    case 3:
      if (since <= 80) {
        move = ~((-mouse.v) >> 4) & 15;
        mouse.v &= ~0xF0;
        break;
      }
      mouse.phase = 4;
      [[fallthrough]];
    case 4:
      move = (mouse.v - 1) & 15;
      mouse.v &= ~0x0F;
      break;
    default:
      break;
  }
  if (move >= 0) {
    if (type == 2) bits = static_cast<uint8_t>((bits & 0xF0) | move);
    else bits = static_cast<uint8_t>(bits | move);
  }
  return bits;
}

void mouse_reset(ResetKind) {
  mouse = MouseState{0, 0, 0, 0, 0, -1, 0, 0};
}

const PagedExpansion& paged_expansion_state() { return paged_expansion; }
const MouseState& mouse_state() { return mouse; }
