#include "hardware/ports.h"

#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "video/gate_array.h"
#include "video/raster.h"

namespace {

void (*m4_write_hook)(uint8_t) = nullptr;
void (*m4_execute_hook)() = nullptr;

// The board's ports belong to it while M4_ENABLED is on (a board that failed to start
// has turned the setting off); without handlers the bytes go nowhere.
bool m4_port_active() { return setting(kw::M4_ENABLED) != 0; }

// ---- State ---------------------------------------------------------------------------------

// The disc controller's two ports reach the controller through the functions set-up
// attaches; without a controller reads see the floating bus and writes go nowhere.
uint8_t floating_bus() { return 0xFF; }
void nowhere(uint8_t) {}
DiscControllerPorts disc = {floating_bus, floating_bus, nowhere, nowhere};

struct RegisterPort {
  uint8_t value[64];
  int index;
  bool store;  // the next write stores a byte (else it selects an index)
};
RegisterPort register_port{};

struct PortState {
  uint8_t upper_rom_latch;
  PortBreak last_break;
  bool expansion_notice_shown;  // once per program run
  uint32_t noise;               // random bytes for reads of the CRTC write port
};
PortState ports{0, {0, 0, 0}, false, 0x2545F491u};

uint8_t random_byte() {
  uint32_t x = ports.noise;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  ports.noise = x;
  return static_cast<uint8_t>(x >> 8);
}

void port_access_break(uint16_t port, uint8_t value, int kind) {
  ports.last_break = PortBreak{port, value, kind};
  request_stop(static_cast<int>(stopbit::PORT_ACCESS));
}

// The Gate Array's lines to the memory map; with RAM_TYPE 1 the paged expansion reads
// every byte written to the Gate Array's port.
void paged_expansion_listens(uint8_t v) {
  if (setting(kw::RAM_TYPE) == 1) paged_expansion_ga_write(v);
}
bool connect_gate_array() {
  ga_connect_memory({[](int state) { set_rom_state(state); },
                     [](int config) { set_ram_config(config); }, paged_expansion_listens});
  return true;
}
// Wired when the program starts: every Gate Array write, from the ports, the debugger or
// a snapshot, reaches the memory map through the banking slots in effect at that time.
[[maybe_unused]] const bool gate_array_connected = connect_gate_array();

void register_port_write(uint8_t v) {
  if (register_port.store) {
    register_port.value[register_port.index] = v;
    register_port.store = false;
    return;
  }
  register_port.store = true;
  if (v <= 63) {
    register_port.index = v;
  } else {
    std::printf("kc_port::put: register %02X out of range!\n", v);
    std::fflush(stdout);
  }
}

// The large RAM expansion: address lines A10-A8, inverted, give configuration bits 8-6.
void large_expansion_write(uint16_t p, uint8_t v) {
  const int config = (v & 63) | ((~p >> 2) & 0x1C0);
  if ((config & 0x1C0) && !ports.expansion_notice_shown) {
    ports.expansion_notice_shown = true;
    notify_user("Pelko Memory Extension active!");
  }
  set_ram_config(config);
}

// ---- Line-by-line decoding of the unusual addresses -------------------------------------------

void decode_out(uint16_t p, uint8_t v) {
  const bool low_top_bits = (p & 0xC0) == 0xC0;
  if (!(p & 0x8000) && (p & 0x4000) && !low_top_bits) ga_write(v);
  if (!(p & 0x4000)) {
    switch ((p >> 8) & 3) {
      case 0: crtc_select(v & 31); break;
      case 1: crtc_write(v); break;
      default: break;
    }
  }
  if (!(p & 0x8000) && low_top_bits) {
    if (setting(kw::RAM_TYPE) == 0 && ram_size_kb() > 576) large_expansion_write(p, v);
    else ga_write(v);
  }
  if (!(p & 0x2000)) upper_rom_port_write(v);
  if (!(p & 0x1000)) printer_write(v, false);
  if (!(p & 0x0800)) ppi_write((p >> 8) & 3, v);
  if (!(p & 0x0400)) {
    if ((p & 0xFC) == 0x7C) disc.write_motor(v);
    if ((p & 0xFD) == 0x7D) disc.write_data(v);
    if (!(p & 0x42)) paged_expansion_write(v);
  }
}

uint8_t decode_in(uint16_t p) {
  uint8_t value = 0xFF;
  bool ppi_step = true;
  if (!(p & 0x4000)) {
    switch ((p >> 8) & 3) {
      case 1:
        crtc_write(random_byte());
        value = (p & 0x0800) ? 0xFF : ppi_read(1);
        ppi_step = false;
        break;
      case 2: {
        const int type = setting(kw::CRTC_TYPE);
        if (type == 1 || type == 3) {
          value = crtc_read_status();
          if (!(p & 0x0800)) value = ppi_read(2);
          ppi_step = false;
        }
        break;
      }
      default:
        break;
    }
  }
  if (ppi_step) value = (p & 0x0800) ? 0xFF : ppi_read((p >> 8) & 3);
  if (!(p & 0x0400)) {
    if ((p & 0xFD) == 0x7C) value = disc.read_status();
    else if ((p & 0xFD) == 0x7D) value = disc.read_data();
  }
  return value;
}

}  // namespace

// ---- Port decoder --------------------------------------------------------------------------------

void ports_set_m4(void (*write_byte)(uint8_t), void (*execute)()) {
  m4_write_hook = write_byte;
  m4_execute_hook = execute;
}

void port_out(uint16_t p, uint8_t v) {
  switch (p >> 8) {
    case 0x7F: ga_write(v); return;
    case 0xBC: crtc_select(v & 31); return;
    case 0xBD: crtc_write(v); return;
    case 0xDF: upper_rom_port_write(v); return;
    case 0xEE: register_port_write(v); return;
    case 0xEF: printer_write(v, true); return;
    case 0xF4: case 0xF5: case 0xF6: case 0xF7: ppi_write((p >> 8) & 3, v); return;
    case 0xFA:
      if ((p & 0xFC) == 0x7C) {
        disc.write_motor(v);
        return;
      }
      break;
    case 0xFB:
      if ((p & 0xFD) == 0x7D) {
        disc.write_data(v);
        return;
      }
      break;
    case 0xFC:
      if ((p & 0xFF) == 0 && m4_port_active()) {
        if (m4_execute_hook) m4_execute_hook();
        return;
      }
      break;
    case 0xFE: {
      const int low = p & 0xFF;
      if (low == 0xE8 || low == 0xEA) return;
      if (low == 0 && m4_port_active()) {
        if (m4_write_hook) m4_write_hook(v);
        return;
      }
      port_access_break(p, v, 2);
      return;
    }
    default:
      break;
  }
  decode_out(p, v);
}

uint8_t port_in(uint16_t p) {
  switch (p >> 8) {
    case 0xBD:
      crtc_write(0xFF);
      return 0xFF;
    case 0xBE: return crtc_read_status();
    case 0xBF: return crtc_read_register();
    case 0xEE:
      return register_port.store ? register_port.value[register_port.index]
                                 : static_cast<uint8_t>(register_port.index);
    case 0xEF: return 0xFF;
    case 0xF4: case 0xF5: case 0xF6: return ppi_read((p >> 8) & 3);
    case 0xFB:
      if ((p & 0xFD) == 0x7C) return disc.read_status();
      if ((p & 0xFD) == 0x7D) return disc.read_data();
      return 0xFF;
    case 0xFD: return (p & 0x10) ? mouse_port_read() : 0xFF;
    case 0xFE: {
      const int low = p & 0xFF;
      if (low != 0xE8 && low != 0xEA) port_access_break(p, 0xFF, 1);
      return 0xFF;
    }
    default:
      return decode_in(p);
  }
}

// ---- Upper ROM latch -------------------------------------------------------------------------------------

void upper_rom_port_write(uint8_t v) {
  if (v == ports.upper_rom_latch) return;
  ports.upper_rom_latch = v;
  select_upper_rom(v);
}

uint8_t upper_rom_latch() { return ports.upper_rom_latch; }

void upper_rom_dump(std::ostream& out) {
  const auto flags = out.flags();
  const char fill = out.fill('0');
  out << "UROM:  upper_rom_nr = " << std::hex << std::uppercase << std::setw(2)
      << int{ports.upper_rom_latch} << "\n";
  out.fill(fill);
  out.flags(flags);
}

// ---- Port-access break ---------------------------------------------------------------------------------------

const PortBreak& port_break_record() { return ports.last_break; }

void ports_report_undecoded() {
  const PortBreak& b = ports.last_break;
  std::printf("Port access break: %s &%04X, value &%02X\n", b.kind == 1 ? "IN from" : "OUT to",
              b.port, b.value);
  std::fflush(stdout);
}

uint8_t register_port_value(int index) { return register_port.value[index & 63]; }

void ports_attach_disc_controller(const DiscControllerPorts& controller) { disc = controller; }

// ---- Reset ------------------------------------------------------------------------------------------------------

void ports_reset(ResetKind kind) {
  if (kind == ResetKind::POWER_ON) {
    register_port = RegisterPort{};
    ports.last_break = PortBreak{0, 0, 0};
    crtc_reset();
    paged_expansion_reset();
    // The banking starts again from the memory map's power-on state (when memory
    // exists); the Gate Array then enables the lower ROM, mode 1, RAM configuration 0.
    if (bank_count() > 0) memory_init(ram_size_kb(), bank_of_slot(0), bank_of_slot(255));
    ports.upper_rom_latch = 0;
    ga_reset();
  }
  // A printer file that cannot be opened is reported by the printer and costs only
  // the printer output, so it is not counted against the reset.
  printer_reset(kind);
}
