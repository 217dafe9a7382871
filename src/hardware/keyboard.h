// The PPI 8255: sound generator bus, keyboard matrix, status lines and tape motor;
// the keyboard matrix built from the host keyboard, joysticks and on-screen inputs.
//
// Everything here is machine side: the host layer feeds key, modifier and joystick
// state in as plain integers (SDL scan codes and SDL modifier bits) and never the other
// way round.
#pragma once
#include <cstdint>
#include <iosfwd>

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
// kind 1: PPI reset, matrix, overlays and host state cleared; kind 0: the port B
// static bits are taken from the settings again. Returns 0.
int keyboard_reset(int kind);

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

// A host key went down or up (scan code 0..511; others are ignored).
void keyboard_host_key(int scancode, int down);
// The host's modifier state (SDL modifier bits: Shift, right Alt, Num Lock, Caps Lock).
void keyboard_host_modifiers(int modifiers);
// All host keys up (focus lost).
void keyboard_release_host_keys();
// State of host joystick 0 (row 9) or 1 (row 6): present flag, axes (-32768..32767),
// buttons (bit 0 button 0, bit 1 button 1).
void joystick_host_state(int index, int present, int axis_x, int axis_y, int buttons);

// ---- Inputs from the event handling ----------------------------------------------------------
struct KeyboardInputs {
  int refresh;          // set at each event poll: the matrix is rebuilt at the next read
  uint8_t vkbd[16];     // virtual keyboard rows (bit set = pressed)
  uint8_t typing[16];   // automatic typing rows
  int directions;       // on-screen joystick: 1 left, 2 right, 4 up, 8 down
  int fire;             // on-screen fire buttons 1, 2, 4
  int typing_active;    // the automatic typing buffer is not empty
};
extern KeyboardInputs keyboard_inputs;
// One step of automatic typing, called when row 0 is read while typing is active.
extern void (*keyboard_type_step)();

