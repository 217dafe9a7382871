// Devices of the expansion bus: the printer port, the paged RAM expansion (RAM_TYPE 1)
// and the mouse (on port FDxx or on the joystick row of the keyboard matrix).
#pragma once
#include <cstdint>
#include <iosfwd>
#include "config/settings.h"  // ResetKind

// ---- Printer port ----------------------------------------------------------------------------
// A byte written to the printer port. The strobe is bit 7: on its falling edge the data
// bits, with PPI port C bit 5 as bit 7, go to the PRINTER file. Through port EFxx
// (via_port_ef) a write while the printer is busy leaves the latch unchanged.
void printer_write(uint8_t value, bool via_port_ef);
// The busy line (PPI port B bit 6).
bool printer_busy();
// The latch (the snapshot's printer data byte).
uint8_t printer_latch();
void printer_set_latch(uint8_t value);
// Latch, busy and port field 0; POWER_ON (or a changed PRINTER name) reopens the file,
// truncated. False when the file cannot be opened (reported on standard output).
bool printer_reset(ResetKind kind);
// Flushes and closes the printer file (program end).
void printer_close();
// "PRN :  by = XX (PC LPT1=XXXX)"
void printer_dump(std::ostream& out);

// ---- Paged RAM expansion (RAM_TYPE 1) --------------------------------------------------------------
struct PagedExpansion {
  int enabled;     // register bit 5
  int flag3;       // register bit 3 (kept, no effect)
  int group;       // bank group (register bits 2-0, masked by the RAM size)
  int first_bank;  // group * 4 + 4
  int page;        // bit 5 of the last Gate Array write
  int upper;       // 2 when bit 6 of the last Gate Array write was set (upper 32 KB)
};
// The paged RAM expansion's state, for the memory map.
const PagedExpansion& paged_expansion_state();
// The expansion's register (port FBBD and line-decoded addresses).
void paged_expansion_write(uint8_t value);
// Every Gate Array write while RAM_TYPE is 1.
void paged_expansion_ga_write(uint8_t value);
void paged_expansion_reset();

// ---- Mouse -------------------------------------------------------------------------------------------
struct MouseState {
  int h;             // horizontal movement, positive to the right
  int v;             // vertical movement, positive downwards
  int buttons;       // host buttons: bit 0 left, bit 1 middle, bit 2 right
  int last_buttons;  // buttons at the last port answer
  int port_state;    // MOUSE_TYPE 3: 0 horizontal, 1 vertical, 2 buttons
  int phase;         // joystick-row protocols: -1 none, 0..5
  uint64_t stamp;    // microsecond counter when the phase was set
  int last_row;      // keyboard row selected last
};
// The emulated mouse's state (tests, the debugger).
const MouseState& mouse_state();

// Host side: the event handling adds movement and sets the buttons.
void mouse_add_motion(int dx, int dy);
void mouse_set_buttons(int buttons);

// IN from FDxx with bit 4 of the port set.
uint8_t mouse_port_read();
// A PPI port C write with bit 6 set selected keyboard row `row`.
void mouse_row_watch(int row);
// Row 9 as the matrix holds it (bit set = pressed), with the mouse's buttons and
// movement added for MOUSE_TYPE 1 and 2.
uint8_t mouse_joystick_row(uint8_t row9);
// Clears accumulators, buttons and the protocol state.
void mouse_reset(ResetKind kind);
