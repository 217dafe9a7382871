// The PPI 8255: sound generator bus, keyboard matrix, status lines and tape motor;
// the keyboard matrix built from the host keyboard, joysticks and on-screen inputs.
//
// Everything here is machine side: the host layer feeds key, modifier and joystick
// state in as plain integers (SDL scan codes and SDL modifier bits) and never the other
// way round.
#pragma once
#include <cstdint>
#include <iosfwd>
#include "config/settings.h"  // ResetKind

// ---- PPI ------------------------------------------------------------------------------------
// Port 0 A, 1 B, 2 C, 3 control.
void ppi_write(int port, uint8_t value);
uint8_t ppi_read(int port);  // ports 0-2; 3 reads 0xFF
// Port A latch 0, port C 0, control 0x1F, port B static bits from COMPANY_NAME, PPI_50HZ
// and PPI_EXP_SIGNAL.
void ppi_reset();
uint8_t ppi_port_c();
// The value port B shows as an input: VSYNC, printer busy, static bits.
uint8_t ppi_port_b_input();

// Snapshot block: port A latch, port B static bits (& 0x3E on load), port C, control.
constexpr int PPI_BLOCK_SIZE = 4;
void ppi_save(uint8_t* out);
void ppi_load(const uint8_t* in);
int ppi_save(std::ostream& out);  // 0, or 1 when the stream failed
int ppi_load(std::istream& in);   // 0, or 1 when the block was short (nothing loaded)
// "PPI :  portA = XX, portB = XX, portC = XX, portCtl = XX"
void ppi_dump(std::ostream& out);

// ---- Keyboard matrix ------------------------------------------------------------------------
// Row 0-15 as the CPC reads it: a pressed key reads 0; rows 10-15 read 0xFF.
uint8_t keyboard_row(int row);
// POWER_ON: PPI reset, matrix, overlays and host state cleared; APPLY_SETTINGS: the
// port B static bits are taken from the settings again.
void keyboard_reset(ResetKind kind);

// ---- Key table -------------------------------------------------------------------------------
// Entries of four words: host scan code, then the mapping for no modifier, for Shift or
// Caps Lock, and for right Alt. A mapping word holds the matrix row in bits 3-0, the bit
// in bits 7-4, and in bits 31-20 an alternative mapping used while Num Lock is off.
constexpr int KEY_TABLE_MAX_ENTRIES = 216;

// Called by the data-file reader for every key table; keeps only the one whose index is
// the configured keyboard language. values holds count integers, read in groups of four.
void load_key_table(int index, const int* values, int count);
// Number of entries of the active key table.
int key_table_size();

// ---- Host keyboard and joysticks --------------------------------------------------------------
constexpr int HOST_KEY_COUNT = 512;  // the host's scan-code space

// SDL scan codes and modifier bits the keyboard unit looks at (same values as SDL's).
namespace hostkey {
constexpr int RIGHT = 79, LEFT = 80, DOWN = 81, UP = 82;
constexpr int LCTRL = 224, LSHIFT = 225, LALT = 226, RCTRL = 228, RSHIFT = 229, RALT = 230;
constexpr int MOD_LSHIFT = 0x0001, MOD_RSHIFT = 0x0002, MOD_RALT = 0x0200, MOD_NUM = 0x1000,
              MOD_CAPS = 0x2000;
}  // namespace hostkey

// Every key input below reaches the matrix through one queue of transitions. At the
// start of each keyboard scan the queue is applied in order up to the first transition
// of an input that already changed at this scan, so each press and each release stays
// visible to the CPC for at least one scan, in the order it happened: a press, release
// and press of one key inside one frame reach the CPC as two presses. A scan starts at
// a read of a matrix row not above the row read before (the firmware reads rows 0 to 9
// in turn); a program that reads one row over and over starts a new scan with a read
// at least KEY_SCAN_MIN_US after the last start.
constexpr int KEY_SCAN_MIN_US = 500;
constexpr int KEY_QUEUE_SIZE = 256;  // transitions waiting; when full the oldest applies at once

// A host key went down or up (scan code 0..511; others are ignored): a key of the
// positional key table.
void keyboard_host_key(int scancode, int down);
// A host key that typed character c went down (c >= 0) or up (c < 0): while it is held
// the CPC keys of c (the typing table's) are down, with CPC SHIFT and CONTROL exactly as
// c needs them, whatever the host's Shift keys do.
void keyboard_text_key(int scancode, int c);
// A key of the on-screen keyboard (CPC key code, bit * 16 + row) went down or up.
void keyboard_cpc_key(int code, int down);
// The on-screen joystick's directions (1 left, 2 right, 4 up, 8 down) and fire buttons
// (1, 2, 4) are now `bits`; each changed bit is queued.
void keyboard_set_directions(int bits);
void keyboard_set_fire(int bits);
// The directions and fire bits last set (queued, perhaps not yet seen by the CPC).
int keyboard_directions();
int keyboard_fire();
// The host's modifier state (SDL modifier bits: Shift, right Alt, Num Lock, Caps Lock).
void keyboard_host_modifiers(int modifiers);
// All host keys, typed-character keys and queued transitions gone (focus lost).
void keyboard_release_host_keys();
// Keyboard scans the CPC has started since reset.
uint64_t keyboard_scans();
// State of host joystick 0 (row 9) or 1 (row 6): present flag, axes (-32768..32767),
// buttons (bit 0 button 0, bit 1 button 1).
void joystick_host_state(int index, int present, int axis_x, int axis_y, int buttons);

// ---- Cassette deck ---------------------------------------------------------------------------
// The deck as the PPI sees it: port C (motor, write data) and the read data bit of port B.
struct CassettePorts {
  void (*port_c)(uint8_t port_c);
  bool (*read)();
};
void keyboard_attach_cassette(const CassettePorts& deck);

// ---- Inputs from the event handling ----------------------------------------------------------
struct KeyboardInputs {
  int refresh;          // set at each event poll: the matrix is rebuilt at the next read
  uint8_t vkbd[16];     // virtual keyboard rows (bit set = pressed)
  uint8_t typing[16];   // automatic typing rows
  int directions;       // on-screen joystick: 1 left, 2 right, 4 up, 8 down
  int fire;             // on-screen fire buttons 1, 2, 4
  int typing_active;    // the automatic typing buffer is not empty
};
// The inputs as the keyboard unit holds them.
const KeyboardInputs& keyboard_inputs();
// On-screen keyboard, at once rather than through the queue (keyboard_cpc_key is the
// queued way): a key (row in bits 0-3 of code, bit in bits 4-6) goes down or up.
void keyboard_set_vkbd_key(int code, bool down);
// Every on-screen key up.
void keyboard_release_vkbd();
// Automatic typing: a key of the typing overlay goes down or up; whether typing runs;
// every typing key up.
void keyboard_set_typing_key(int code, bool down);
void keyboard_set_typing_active(bool active);
void keyboard_clear_typing();
// Host input changed: the matrix is rebuilt at its next read.
void keyboard_request_refresh();
// One step of automatic typing, called at the start of each keyboard scan while typing
// is active. Installs the function (the previous one is returned, so that a test can put it back).
using keyboard_type_step_fn = void (*)();
keyboard_type_step_fn set_keyboard_type_step(keyboard_type_step_fn hook);

