// The I/O port decoder.
//
// Every IN and OUT of the processor reaches port_in / port_out. Each CPC device listens
// to one address line being low, so one port address may select several devices at once:
// the usual, fully specified addresses are decided by their high byte, all others are
// decoded line by line. The Gate Array it writes to is a unit of its own
// (video/gate_array.h); the decoder connects its memory lines to the memory map when
// the program starts.
#pragma once
#include <cstdint>
#include <iosfwd>
#include "config/settings.h"  // ResetKind

// Declared for the processor in z80/z80_bus.h.
uint8_t port_in(uint16_t port);
void port_out(uint16_t port, uint8_t value);

// The disc controller as the port decoder sees it (ports &FB7E status, &FB7F data,
// &FA7E motor). Set-up attaches the machine's controller.
struct DiscControllerPorts {
  uint8_t (*read_status)();
  uint8_t (*read_data)();
  void (*write_data)(uint8_t value);
  void (*write_motor)(uint8_t value);
};
void ports_attach_disc_controller(const DiscControllerPorts& controller);

// kind 1: Gate Array, CRTC port side, upper ROM latch, EExx port, printer and paged
// expansion to their power-on state (the memory map is initialised again when it
// exists, and the Gate Array enables the lower ROM); kind 0: the printer file follows
// a changed PRINTER setting.
void ports_reset(ResetKind kind);

// The M4 board's data port (&FE00) and command port (&FC00). The board installs its
// handlers when it starts (nullptr removes them); while M4_ENABLED is on the ports are
// the board's, with or without handlers.
void ports_set_m4(void (*write_byte)(uint8_t), void (*execute)());

// ---- Upper ROM latch (port DFxx) ----------------------------------------------------------------
// A write to DFxx: a value different from the latch selects that upper ROM.
void upper_rom_port_write(uint8_t value);
uint8_t upper_rom_latch();
// "UROM:  upper_rom_nr = XX"
void upper_rom_dump(std::ostream& out);

// ---- Port-access break ------------------------------------------------------------------------------
struct PortBreak {
  uint16_t port;
  uint8_t value;
  int kind;  // 1 IN, 2 OUT, 0 none yet
};
const PortBreak& port_break_record();
// The report of the last access to an unassigned port (for the run driver's stop report).
void ports_report_undecoded();

// ---- EExx register port --------------------------------------------------------------------------------
uint8_t register_port_value(int index);
