#include "hardware/keyboard.h"

#include <cstring>
#include <iomanip>
#include <iostream>

#include "config/settings.h"
#include "hardware/autotype.h"
#include "hardware/expansions.h"
#include "sound/fx.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace {
void (*keyboard_type_step)() = type_step;
}  // namespace

keyboard_type_step_fn set_keyboard_type_step(keyboard_type_step_fn hook) {
  keyboard_type_step_fn previous = keyboard_type_step;
  keyboard_type_step = hook;
  return previous;
}


namespace {
KeyboardInputs inputs{};

// The cassette deck as port C and port B bit 7 reach it; set-up attaches the deck.
// Without one the motor and write lines go nowhere and the read line stays low.
void no_deck_port_c(uint8_t) {}
bool no_deck_read() { return false; }
CassettePorts cassette = {no_deck_port_c, no_deck_read};

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

// ---- Matrix rebuild --------------------------------------------------------------------------

constexpr int AXIS_LOW = -16383;
constexpr int AXIS_HIGH = 16384;

// Host keys held as characters: the character each host key typed (0 none), and the
// CPC SHIFT (bit 0) and CONTROL (bit 1) the characters ask for, -1 when the host's own
// Shift and Ctrl count. The modifiers change one step before the character keys,
// because the firmware counts a released key as held for one more scan.
struct TextKeys {
  uint8_t chars[HOST_KEY_COUNT];
  int mods;
};
TextKeys text_keys{{}, -1};

void press_cpc_key(uint8_t rows[16], int code) {
  if (code >= 0) rows[code & 15] |= static_cast<uint8_t>(1u << ((code >> 4) & 7));
}

void release_cpc_key(uint8_t rows[16], int code) {
  rows[code & 15] &= static_cast<uint8_t>(~(1u << ((code >> 4) & 7)));
}

void add_text_keys(uint8_t rows[16]) {
  for (int sc = 0; sc < HOST_KEY_COUNT; ++sc)
    if (text_keys.chars[sc]) press_cpc_key(rows, keys_for_char(text_keys.chars[sc]).first);
  if (text_keys.mods < 0) return;
  release_cpc_key(rows, CPC_KEY_SHIFT);
  release_cpc_key(rows, CPC_KEY_CONTROL);
  if (text_keys.mods & 1) press_cpc_key(rows, CPC_KEY_SHIFT);
  if (text_keys.mods & 2) press_cpc_key(rows, CPC_KEY_CONTROL);
}

// The host keys' rows (bit set = pressed).
void build_host_rows(uint8_t rows[16]) {
  std::memset(rows, 0, 16);
  const int mods = host_input.modifiers;
  // The Shift keys count as the queue delivers them, in step with the keys they shift
  // (the modifier state is the one at the end of the frame's events).
  const bool shift = (mods & hostkey::MOD_CAPS) || host_input.keys[hostkey::LSHIFT] ||
                     host_input.keys[hostkey::RSHIFT];
  const bool altgr = (mods & hostkey::MOD_RALT) || host_input.keys[hostkey::RALT];
  const bool numlock = mods & hostkey::MOD_NUM;
  const int column = shift ? 1 : altgr ? 2 : 0;
  for (int i = 0; i < key_table.count; ++i) {
    const KeyEntry& e = key_table.entries[i];
    if (!host_input.keys[e.scancode]) continue;
    uint32_t word = e.map[column];
    if (!numlock && (word >> 20) != 0) word >>= 20;
    const int bit = (word >> 4) & 15;
    if (bit < 8) rows[word & 15] |= static_cast<uint8_t>(1u << bit);
  }
  if (shift) press_cpc_key(rows, CPC_KEY_SHIFT);
  else release_cpc_key(rows, CPC_KEY_SHIFT);
  add_text_keys(rows);
}

// Direction bits of the on-screen joystick as CPC joystick bits (0 up, 1 down, 2 left,
// 3 right).
uint8_t onscreen_joystick() {
  const int d = inputs.directions;
  uint8_t bits = 0;
  if (d & 4) bits |= 0x01;
  if (d & 8) bits |= 0x02;
  if (d & 1) bits |= 0x04;
  if (d & 2) bits |= 0x08;
  return static_cast<uint8_t>(bits | ((inputs.fire & 7) << 4));
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

// A row's bits from the on-screen keyboard, the on-screen joystick and, with
// JOY0_CURSOR_KEYS 1, the host cursor keys, left Alt and left Ctrl as joystick 0.
uint8_t onscreen_row(int row) {
  uint8_t bits = inputs.vkbd[row];
  const int cursor_mode = setting(kw::JOY0_CURSOR_KEYS);
  if (row == 9) {
    if (cursor_mode != 2) bits |= onscreen_joystick();
    if (cursor_mode == 1) {
      const uint8_t* k = host_input.keys;
      if (k[hostkey::DOWN]) bits |= 0x02;
      if (k[hostkey::LEFT]) bits |= 0x04;
      if (k[hostkey::UP]) bits |= 0x01;
      if (k[hostkey::RIGHT]) bits |= 0x08;
      if (k[hostkey::LALT]) bits |= 0x10;
      if (k[hostkey::LCTRL]) bits |= 0x20;
    }
  } else if (cursor_mode == 2 && row <= 1) {
    const int d = inputs.directions;
    if (row == 0) {
      if (d & 4) bits |= 0x01;
      if (d & 2) bits |= 0x02;
      if (d & 8) bits |= 0x04;
    } else {
      if (d & 1) bits |= 0x01;
      if (inputs.fire) bits |= 0x02;
    }
  }
  return bits;
}

// The keys of a row before complementing (bit set = pressed).
uint8_t pressed_row(int row) {
  uint8_t bits = static_cast<uint8_t>(matrix[row] | onscreen_row(row));
  if (row == 9) {
    bits = mouse_joystick_row(bits);
    bits |= host_joystick(0);
  } else if (row == 6) {
    bits |= host_joystick(1);
  }
  return bits;
}

// ---- Key transitions ----------------------------------------------------------------------

enum InputKind : uint8_t { HOST_KEY, TEXT_KEY, TEXT_MODS, CPC_KEY, DIRECTION, FIRE };

struct Transition {
  InputKind kind;
  uint16_t index;  // host scan code, CPC key code or bit number
  int16_t value;   // 1 down, 0 up; a text key's character (0 up); the text modifiers
};

struct KeyQueue {
  Transition items[KEY_QUEUE_SIZE];
  int head;   // the oldest transition
  int count;
  // The inputs as last requested (queued, perhaps not yet applied).
  int directions, fire;
  uint8_t text_chars[HOST_KEY_COUNT];
  int text_held;
};
KeyQueue key_queue{};

struct ScanState {
  int last_row;                // row of the last read; 16 before the first
  uint64_t start_us;           // microsecond at which the current scan started
  uint64_t scans;              // scans started since reset
  uint8_t released_last[16];   // keys released at the start of the last scan
};
ScanState scan_state{16, 0, 0, {}};

void set_bit(uint8_t& byte, int bit, bool on) {
  if (on) byte = static_cast<uint8_t>(byte | (1u << bit));
  else byte = static_cast<uint8_t>(byte & ~(1u << bit));
}

void set_int_bit(int& word, int bit, bool on) { word = (word & ~(1 << bit)) | ((on ? 1 : 0) << bit); }

void apply(const Transition& t) {
  switch (t.kind) {
    case HOST_KEY: host_input.keys[t.index] = t.value ? 1 : 0; break;
    case TEXT_KEY: text_keys.chars[t.index] = static_cast<uint8_t>(t.value); break;
    case TEXT_MODS: text_keys.mods = t.value; break;
    case CPC_KEY: set_bit(inputs.vkbd[t.index & 15], (t.index >> 4) & 7, t.value); break;
    case DIRECTION: set_int_bit(inputs.directions, t.index, t.value); break;
    case FIRE: set_int_bit(inputs.fire, t.index, t.value); break;
  }
  inputs.refresh = 1;
}

// The input's present value, as the transition that would restore it.
Transition present_value(const Transition& t) {
  Transition now = t;
  switch (t.kind) {
    case HOST_KEY: now.value = host_input.keys[t.index]; break;
    case TEXT_KEY: now.value = text_keys.chars[t.index]; break;
    case TEXT_MODS: now.value = static_cast<int16_t>(text_keys.mods); break;
    case CPC_KEY: now.value = (inputs.vkbd[t.index & 15] >> ((t.index >> 4) & 7)) & 1; break;
    case DIRECTION: now.value = (inputs.directions >> t.index) & 1; break;
    case FIRE: now.value = (inputs.fire >> t.index) & 1; break;
  }
  return now;
}

void pop_and_apply() {
  apply(key_queue.items[key_queue.head]);
  key_queue.head = (key_queue.head + 1) % KEY_QUEUE_SIZE;
  --key_queue.count;
}

void enqueue(InputKind kind, int index, int value) {
  if (key_queue.count == KEY_QUEUE_SIZE) pop_and_apply();
  const int tail = (key_queue.head + key_queue.count) % KEY_QUEUE_SIZE;
  key_queue.items[tail] = Transition{kind, static_cast<uint16_t>(index), static_cast<int16_t>(value)};
  ++key_queue.count;
}

void clear_text_keys() {
  std::memset(text_keys.chars, 0, sizeof text_keys.chars);
  text_keys.mods = -1;
  std::memset(key_queue.text_chars, 0, sizeof key_queue.text_chars);
  key_queue.text_held = 0;
}

void clear_queue() {
  key_queue.head = key_queue.count = 0;
  key_queue.directions = key_queue.fire = 0;
  clear_text_keys();
}

// Every row as the queued inputs make it (the polled joysticks and mouse left out).
void queued_rows(uint8_t rows[16]) {
  build_host_rows(rows);
  for (int r = 0; r < 16; ++r) rows[r] |= onscreen_row(r);
}

// What the firmware's scan needs to see every change: a key changes at most once per
// scan; a key released is pressed again two scans later at the earliest, and a key goes
// down one scan after any key went up, since the firmware counts a released key as held
// for one more scan (a SHIFT let go together with a key going down would shift it).
struct ScanChanges {
  uint8_t changed[16] = {};
  uint8_t released[16] = {};
  bool any_change = false, any_release = false;

  bool allows(const uint8_t before[16], const uint8_t after[16]) const {
    bool press = false, release = false;
    for (int r = 0; r < 16; ++r) {
      const uint8_t pressed = after[r] & ~before[r];
      if ((before[r] ^ after[r]) & changed[r]) return false;
      if (pressed & scan_state.released_last[r]) return false;
      press |= pressed != 0;
      release |= (before[r] & ~after[r]) != 0;
    }
    // A change that lets go of one key and presses another (the text modifiers) may
    // open a scan, or it would never pass.
    return !press || !(any_release || (release && any_change));
  }

  void add(const uint8_t before[16], const uint8_t after[16]) {
    for (int r = 0; r < 16; ++r) {
      changed[r] |= before[r] ^ after[r];
      released[r] |= before[r] & ~after[r];
      any_change |= before[r] != after[r];
      any_release |= (before[r] & ~after[r]) != 0;
    }
  }
};

// At the start of a scan: the queued transitions in order, while the scan can show them.
void apply_queue_for_scan() {
  ScanChanges scan;
  uint8_t before[16], after[16];
  queued_rows(before);
  while (key_queue.count > 0) {
    const Transition t = key_queue.items[key_queue.head];
    const Transition undo = present_value(t);
    apply(t);
    queued_rows(after);
    if (!scan.allows(before, after)) {
      apply(undo);
      break;
    }
    key_queue.head = (key_queue.head + 1) % KEY_QUEUE_SIZE;
    --key_queue.count;
    scan.add(before, after);
    std::memcpy(before, after, sizeof before);
  }
  std::memcpy(scan_state.released_last, scan.released, sizeof scan.released);
}

// Reads go up the rows within a scan; a read not above the last one starts the next
// scan, except that a row read again at once (a program that selects the row and then
// reads port A, both of which read the row) is the same read.
bool starts_scan(int row) {
  if (row > scan_state.last_row) return false;
  return row < scan_state.last_row || microsecond_counter - scan_state.start_us >= KEY_SCAN_MIN_US;
}

void start_scan() {
  scan_state.start_us = microsecond_counter;
  ++scan_state.scans;
  apply_queue_for_scan();
  if (inputs.typing_active && keyboard_type_step) keyboard_type_step();
}

void rebuild_matrix() { build_host_rows(matrix); }

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
  cassette.port_c(v);
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
        cassette.port_c(ppi.port_c);
      }
      break;
  }
}

uint8_t ppi_port_b_input() {
  return static_cast<uint8_t>((cassette.read() ? 0x80 : 0) | (vsync_active() ? 0x01 : 0) |
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
  cassette.port_c(0);
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
  if (starts_scan(row)) start_scan();
  scan_state.last_row = row;
  if (inputs.refresh) {
    // While text is typed automatically the host keys stay out of the matrix (a Shift
    // still held from Shift+Insert must not shift the pasted characters); the host
    // keys come back at the first read after the typing.
    if (inputs.typing_active) {
      std::memset(matrix, 0, sizeof matrix);
    } else {
      inputs.refresh = 0;
      rebuild_matrix();
    }
  }
  const uint8_t bits = static_cast<uint8_t>(pressed_row(row) | inputs.typing[row]);
  return static_cast<uint8_t>(~bits);
}

void keyboard_reset(ResetKind kind) {
  if (kind != ResetKind::POWER_ON) {
    ppi.port_b_static = static_bits();
    return;
  }
  ppi_reset();
  std::memset(matrix, 0, sizeof matrix);
  std::memset(inputs.vkbd, 0, sizeof inputs.vkbd);
  std::memset(inputs.typing, 0, sizeof inputs.typing);
  inputs.directions = 0;
  inputs.fire = 0;
  inputs.refresh = 1;
  clear_queue();
  scan_state = ScanState{16, microsecond_counter, 0, {}};
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
  inputs.refresh = 1;
}

int key_table_size() { return key_table.count; }

void keyboard_host_key(int scancode, int down) {
  if (scancode < 0 || scancode >= HOST_KEY_COUNT) return;
  enqueue(HOST_KEY, scancode, down ? 1 : 0);
}

void keyboard_text_key(int scancode, int c) {
  if (scancode < 0 || scancode >= HOST_KEY_COUNT) return;
  c = c > 0 ? c & 0x7F : 0;
  uint8_t& requested = key_queue.text_chars[scancode];
  if (c) {
    const TypedKeys keys = keys_for_char(c);
    if (requested || keys.first == CPC_NO_KEY) return;
    enqueue(TEXT_MODS, 0, (keys.second == CPC_KEY_SHIFT ? 1 : 0) | (keys.second == CPC_KEY_CONTROL ? 2 : 0));
    enqueue(TEXT_KEY, scancode, c);
    ++key_queue.text_held;
  } else {
    if (!requested) return;
    enqueue(TEXT_KEY, scancode, 0);
    if (--key_queue.text_held == 0) enqueue(TEXT_MODS, 0, -1);
  }
  requested = static_cast<uint8_t>(c);
}

void keyboard_cpc_key(int code, int down) {
  if (code < 0 || code > 127) return;
  enqueue(CPC_KEY, code, down ? 1 : 0);
}

namespace {
void queue_bits(InputKind kind, int& requested, int bits, int count) {
  for (int b = 0; b < count; ++b)
    if (((requested ^ bits) >> b) & 1) enqueue(kind, b, (bits >> b) & 1);
  requested = bits & ((1 << count) - 1);
}
}  // namespace

void keyboard_set_directions(int bits) { queue_bits(DIRECTION, key_queue.directions, bits, 4); }
void keyboard_set_fire(int bits) { queue_bits(FIRE, key_queue.fire, bits, 3); }
int keyboard_directions() { return key_queue.directions; }
int keyboard_fire() { return key_queue.fire; }
uint64_t keyboard_scans() { return scan_state.scans; }

void keyboard_host_modifiers(int modifiers) {
  if (modifiers != host_input.modifiers) inputs.refresh = 1;
  host_input.modifiers = modifiers;
}

void keyboard_release_host_keys() {
  // Queued host-key transitions are dropped with the keys; the on-screen inputs' stay.
  const int n = key_queue.count;
  for (int i = 0; i < n; ++i) {
    const Transition t = key_queue.items[key_queue.head];
    key_queue.head = (key_queue.head + 1) % KEY_QUEUE_SIZE;
    --key_queue.count;
    if (t.kind != HOST_KEY && t.kind != TEXT_KEY && t.kind != TEXT_MODS) enqueue(t.kind, t.index, t.value);
  }
  std::memset(host_input.keys, 0, sizeof host_input.keys);
  clear_text_keys();
  inputs.refresh = 1;
}

void joystick_host_state(int index, int present, int axis_x, int axis_y, int buttons) {
  if (index < 0 || index > 1) return;
  host_input.joystick[index] = HostJoystick{present ? 1 : 0, axis_x, axis_y, buttons};
}

// ---- Inputs from the event handling ----------------------------------------------------------

const KeyboardInputs& keyboard_inputs() { return inputs; }

void keyboard_set_vkbd_key(int code, bool down) {
  uint8_t& row = inputs.vkbd[code & 15];
  const uint8_t bit = static_cast<uint8_t>(1 << ((code >> 4) & 7));
  row = static_cast<uint8_t>(down ? row | bit : row & ~bit);
}

void keyboard_release_vkbd() { std::memset(inputs.vkbd, 0, sizeof inputs.vkbd); }

void keyboard_set_typing_key(int code, bool down) {
  uint8_t& row = inputs.typing[code & 15];
  const uint8_t bit = static_cast<uint8_t>(1 << ((code >> 4) & 7));
  row = static_cast<uint8_t>(down ? row | bit : row & ~bit);
}

void keyboard_set_typing_active(bool active) { inputs.typing_active = active ? 1 : 0; }
void keyboard_clear_typing() { std::memset(inputs.typing, 0, sizeof inputs.typing); }
void keyboard_request_refresh() { inputs.refresh = 1; }

void keyboard_attach_cassette(const CassettePorts& deck) { cassette = deck; }
