#include "hardware/keyboard.h"

#include <cstring>
#include <iomanip>
#include <iostream>

#include "config/settings.h"
#include "hardware/autotype.h"
#include "hardware/expansions.h"
#include "media/tape_deck.h"
#include "sound/fx.h"
#include "sound/psg.h"
#include "video/raster.h"

KeyboardInputs keyboard_inputs{};
void (*keyboard_type_step)() = type_step;

namespace {

// ---- State ---------------------------------------------------------------------------------

struct Ppi {
  uint8_t port_a;         // latch
  uint8_t port_b_static;  // bits 5-1: expansion signal, 50 Hz link, company name
  uint8_t port_b_out;     // output latch
  uint8_t port_c;
  uint8_t control;
  int motor;              // tape motor state last passed on
};
Ppi ppi{0, 0, 0, 0, 0x1F, 0};

struct KeyEntry {
  int scancode;
  uint32_t map[3];  // no modifier, Shift/Caps Lock, AltGr
};

struct KeyTable {
  KeyEntry entries[KEY_TABLE_MAX_ENTRIES + 1];  // ends with scancode 0
  int count;
};
KeyTable key_table{};

struct HostJoystick {
  int present;
  int axis_x, axis_y;
  int buttons;
};

struct HostInput {
  uint8_t keys[HOST_KEY_COUNT];
  int modifiers;
  HostJoystick joystick[2];
};
HostInput host_input{};

uint8_t matrix[16];  // bit set = pressed

constexpr int AXIS_LOW = -16383;
constexpr int AXIS_HIGH = 16384;

// ---- Matrix rebuild --------------------------------------------------------------------------

void rebuild_matrix() {
  std::memset(matrix, 0, sizeof matrix);
  const int mods = host_input.modifiers;
  const bool shift = (mods & (hostkey::MOD_LSHIFT | hostkey::MOD_RSHIFT | hostkey::MOD_CAPS)) ||
                     host_input.keys[hostkey::LSHIFT] || host_input.keys[hostkey::RSHIFT];
  const bool altgr = (mods & hostkey::MOD_RALT) || host_input.keys[hostkey::RALT];
  const bool numlock = mods & hostkey::MOD_NUM;
  const int column = shift ? 1 : altgr ? 2 : 0;
  for (int i = 0; i < key_table.count; ++i) {
    const KeyEntry& e = key_table.entries[i];
    if (!host_input.keys[e.scancode]) continue;
    uint32_t word = e.map[column];
    if (!numlock && (word >> 20) != 0) word >>= 20;
    const int bit = (word >> 4) & 15;
    if (bit < 8) matrix[word & 15] |= static_cast<uint8_t>(1u << bit);
  }
  if (shift) matrix[2] |= 0x20;
  else matrix[2] &= static_cast<uint8_t>(~0x20);
}

// Direction bits of the on-screen joystick as CPC joystick bits (0 up, 1 down, 2 left,
// 3 right).
uint8_t onscreen_joystick() {
  const int d = keyboard_inputs.directions;
  uint8_t bits = 0;
  if (d & 4) bits |= 0x01;
  if (d & 8) bits |= 0x02;
  if (d & 1) bits |= 0x04;
  if (d & 2) bits |= 0x08;
  return static_cast<uint8_t>(bits | ((keyboard_inputs.fire & 7) << 4));
}

uint8_t host_joystick(int index) {
  const HostJoystick& j = host_input.joystick[index];
  if (!j.present) return 0;
  uint8_t bits = 0;
  if (j.axis_x < AXIS_LOW) bits |= 0x04;
  if (j.axis_x >= AXIS_HIGH) bits |= 0x08;
  if (j.axis_y < AXIS_LOW) bits |= 0x01;
  if (j.axis_y >= AXIS_HIGH) bits |= 0x02;
  if (j.buttons & 1) bits |= 0x10;
  if (j.buttons & 2) bits |= 0x20;
  return bits;
}

// The keys of a row before complementing (bit set = pressed).
uint8_t pressed_row(int row) {
  uint8_t bits = matrix[row];
  const int cursor_mode = setting(kw::JOY0_CURSOR_KEYS);
  if (row == 9) {
    if (cursor_mode != 2) bits |= onscreen_joystick();
    bits = mouse_joystick_row(bits);
    bits |= host_joystick(0);
    if (cursor_mode == 1) {
      const uint8_t* k = host_input.keys;
      if (k[hostkey::DOWN]) bits |= 0x02;
      if (k[hostkey::LEFT]) bits |= 0x04;
      if (k[hostkey::UP]) bits |= 0x01;
      if (k[hostkey::RIGHT]) bits |= 0x08;
      if (k[hostkey::LALT]) bits |= 0x10;
      if (k[hostkey::LCTRL]) bits |= 0x20;
    }
  } else if (row == 6) {
    bits |= host_joystick(1);
  } else if (cursor_mode == 2 && row <= 1) {
    const int d = keyboard_inputs.directions;
    if (row == 0) {
      if (d & 4) bits |= 0x01;
      if (d & 2) bits |= 0x02;
      if (d & 8) bits |= 0x04;
    } else {
      if (d & 1) bits |= 0x01;
      if (keyboard_inputs.fire) bits |= 0x02;
    }
  }
  return bits;
}

// ---- PPI ports --------------------------------------------------------------------------------

uint8_t static_bits() {
  return static_cast<uint8_t>((setting(kw::PPI_EXP_SIGNAL) << 5 | setting(kw::PPI_50HZ) << 4 |
                               setting(kw::COMPANY_NAME) << 1) & 0x3E);
}

bool crtc_type_3() { return setting(kw::CRTC_TYPE) == 3; }

void write_port_c(uint8_t v) {
  ppi.port_c = v;
  if (v & 0x40) mouse_row_watch(v & 15);
  if (!(ppi.control & 0x10)) {
    switch (v >> 6) {
      case 1:
        if (psg_selected() == 14) psg_store(14, keyboard_row(v & 15));
        ppi.port_a = psg_read(psg_selected());
        break;
      case 2:
        psg_write(psg_selected(), ppi.port_a);
        break;
      case 3:
        psg_select(ppi.port_a & 15);
        break;
      default:
        break;
    }
  }
  const int motor = (v >> 4) & 1;
  if (motor != ppi.motor) {
    ppi.motor = motor;
    fx_cassette_motor(motor);
  }
  tape_deck_port_c(v);
}

}  // namespace

// ---- PPI interface -----------------------------------------------------------------------------

void ppi_write(int port, uint8_t v) {
  switch (port & 3) {
    case 0:
      ppi.port_a = v;
      if (ppi.port_c & 0x80) {
        if ((ppi.port_c & 0xC0) == 0x80) psg_write(psg_selected(), v);
        else psg_select(v & 15);
      }
      break;
    case 1:
      if (ppi.control & 0x02) break;  // port B is an input
      if (!crtc_type_3()) ppi.port_b_out = v;
      if (v & 1) frame_restart();
      break;
    case 2:
      write_port_c(v);
      break;
    default:
      if (v & 0x80) {
        ppi.control = v;
        write_port_c(0);
      } else {
        const uint8_t mask = static_cast<uint8_t>(1u << ((v >> 1) & 7));
        if (v & 1) ppi.port_c |= mask;
        else ppi.port_c &= static_cast<uint8_t>(~mask);
        // The cassette lines are port C's pins: a single-bit write moves them too.
        tape_deck_port_c(ppi.port_c);
      }
      break;
  }
}

uint8_t ppi_port_b_input() {
  return static_cast<uint8_t>((tape_deck_read() ? 0x80 : 0) | (vsync_active() ? 0x01 : 0) |
                              (printer_busy() ? 0x40 : 0) | ppi.port_b_static);
}

uint8_t ppi_read(int port) {
  switch (port & 3) {
    case 0:
      if (psg_selected() == 14) psg_store(14, keyboard_row(ppi.port_c & 15));
      ppi.port_a = psg_read(psg_selected());
      return ppi.port_a;
    case 1:
      if (crtc_type_3() || (ppi.control & 0x02)) return ppi_port_b_input();
      return ppi.port_b_out;
    case 2:
      return ppi.port_c;
    default:
      return 0xFF;
  }
}

void ppi_reset() {
  ppi.port_a = 0;
  ppi.port_c = 0;
  ppi.control = 0x1F;
  ppi.port_b_out = 0;
  ppi.port_b_static = static_bits();
  if (ppi.motor) {
    ppi.motor = 0;
    fx_cassette_motor(0);
  }
  tape_deck_port_c(0);
}

uint8_t ppi_port_c() { return ppi.port_c; }

void ppi_save(uint8_t* out) {
  out[0] = ppi.port_a;
  out[1] = ppi.port_b_static;
  out[2] = ppi.port_c;
  out[3] = ppi.control;
}

void ppi_load(const uint8_t* in) {
  ppi.port_a = in[0];
  ppi.port_b_static = in[1] & 0x3E;
  ppi.port_c = in[2];
  ppi.control = in[3];
}

int ppi_save(std::ostream& out) {
  uint8_t block[PPI_BLOCK_SIZE];
  ppi_save(block);
  out.write(reinterpret_cast<const char*>(block), sizeof block);
  return out ? 0 : 1;
}

int ppi_load(std::istream& in) {
  uint8_t block[PPI_BLOCK_SIZE];
  in.read(reinterpret_cast<char*>(block), sizeof block);
  if (in.gcount() != static_cast<std::streamsize>(sizeof block)) return 1;
  ppi_load(block);
  return 0;
}

void ppi_dump(std::ostream& out) {
  const auto flags = out.flags();
  const char fill = out.fill('0');
  out << std::hex << std::uppercase << "PPI :  portA = " << std::setw(2) << int{ppi.port_a}
      << ", portB = " << std::setw(2) << int{ppi_port_b_input()} << ", portC = " << std::setw(2)
      << int{ppi.port_c} << ", portCtl = " << std::setw(2) << int{ppi.control} << "\n";
  out.fill(fill);
  out.flags(flags);
}

// ---- Keyboard ----------------------------------------------------------------------------------

uint8_t keyboard_row(int row) {
  row &= 15;
  if (keyboard_inputs.refresh) {
    // While text is typed automatically the host keys stay out of the matrix (a Shift
    // still held from Shift+Insert must not shift the pasted characters); the host
    // keys come back at the first read after the typing.
    if (keyboard_inputs.typing_active) {
      std::memset(matrix, 0, sizeof matrix);
    } else {
      keyboard_inputs.refresh = 0;
      rebuild_matrix();
    }
  }
  if (row == 0 && keyboard_inputs.typing_active && keyboard_type_step) keyboard_type_step();
  const uint8_t bits = static_cast<uint8_t>(pressed_row(row) | keyboard_inputs.vkbd[row] |
                                            keyboard_inputs.typing[row]);
  return static_cast<uint8_t>(~bits);
}

int keyboard_reset(int kind) {
  if (kind != 1) {
    ppi.port_b_static = static_bits();
    return 0;
  }
  ppi_reset();
  std::memset(matrix, 0, sizeof matrix);
  std::memset(keyboard_inputs.vkbd, 0, sizeof keyboard_inputs.vkbd);
  std::memset(keyboard_inputs.typing, 0, sizeof keyboard_inputs.typing);
  keyboard_inputs.directions = 0;
  keyboard_inputs.fire = 0;
  keyboard_inputs.refresh = 1;
  return 0;
}

void load_key_table(int index, const int* values, int count) {
  if (index != setting(kw::KBD_LANGUAGE) || values == nullptr || count < 0) return;
  int n = 0;
  for (int i = 0; i + 3 < count && n < KEY_TABLE_MAX_ENTRIES; i += 4) {
    const int scancode = values[i];
    if (scancode == 0) break;  // a zero scan code ends the map
    // A code outside the host's scan-code space could never be pressed; dropping it
    // keeps every later look-up inside the key-state array.
    if (scancode < 0 || scancode >= HOST_KEY_COUNT) continue;
    if (values[i + 1] == 255 && values[i + 2] == 255 && values[i + 3] == 255) continue;
    KeyEntry& e = key_table.entries[n++];
    e.scancode = scancode;
    for (int k = 0; k < 3; ++k) e.map[k] = static_cast<uint32_t>(values[i + 1 + k]);
  }
  key_table.entries[n] = KeyEntry{};
  key_table.count = n;
  keyboard_inputs.refresh = 1;
}

int key_table_size() { return key_table.count; }

void keyboard_host_key(int scancode, int down) {
  if (scancode < 0 || scancode >= HOST_KEY_COUNT) return;
  host_input.keys[scancode] = down ? 1 : 0;
  keyboard_inputs.refresh = 1;
}

void keyboard_host_modifiers(int modifiers) {
  if (modifiers != host_input.modifiers) keyboard_inputs.refresh = 1;
  host_input.modifiers = modifiers;
}

void keyboard_release_host_keys() {
  std::memset(host_input.keys, 0, sizeof host_input.keys);
  keyboard_inputs.refresh = 1;
}

void joystick_host_state(int index, int present, int axis_x, int axis_y, int buttons) {
  if (index < 0 || index > 1) return;
  host_input.joystick[index] = HostJoystick{present ? 1 : 0, axis_x, axis_y, buttons};
}
