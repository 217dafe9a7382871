// What the Z80 core needs from the machine around it.
//
// The core is built as its own library at the bottom of the unit graph: it calls no
// other unit. The machine attaches its bus (the clock, the port decoder, the ROM trap)
// as functions at set-up, and sets the memory map's bank pointers, which the core owns.
// The CPC machine attaches its units (raster engine, port decoder, tape bypass); the
// CP/M runner attaches minimal versions of its own, so the core runs without any CPC
// hardware.
#pragma once
#include <cstdint>

#include "z80/z80.h"

// Memory map: one pointer per 16 KB quarter of the address space, for reads and for
// writes (they differ where a ROM is visible for reading over RAM). Exported because
// every instruction indexes them; the memory unit sets them on each bank switch.
extern uint8_t* read_bank[4];
extern uint8_t* write_bank[4];

struct Z80Bus {
  // The clock of the machine: called after every instruction (except those counted
  // against its credit, below) with its T-state count, its adjustment, the wait-state
  // word and the refresh counter. Non-zero asks the core to call again with (0, 0)
  // without executing an instruction.
  int (*clock)(int tstates, int adjustment, uint32_t& wait, uint32_t& refresh);
  // Port decoder; the core calls these only when it performs a deferred IN or OUT.
  uint8_t (*port_in)(uint16_t port);
  void (*port_out)(uint16_t port, uint8_t value);
  // ROM trap ED F9..FF: code = (second byte << 8) | n.
  void (*trap)(int code);
  // Called before the instruction at address 0 is fetched.
  void (*at_address_zero)();
};

// Connects the core to its machine; every function must be given.
void z80_attach_bus(const Z80Bus& bus);

// The clock's rounding of an instruction to whole microseconds of the CPC's bus.
constexpr int clock_microseconds(int tstates, int adjustment) {
  return (tstates + (adjustment < 0 ? -adjustment : adjustment) + 3) / 4;
}

// Credit of the clock. While only counting and drawing lie ahead (no sync, no line end,
// no interrupt, no frame end), the clock grants the core a number of microseconds:
// instructions without a port access are then counted against it (clock_banked_us)
// instead of calling the clock, and the clock runs the banked time first at its next
// call. The characters of banked time that show video memory must show it as it was at
// their microsecond: the clock names the memory it will read (clock_watch_*), and a
// write there first settles the bank. The core settles it with a clock call (0, 0, ...)
// also before anything outside the core runs (traps, the return from z80_run). All of
// this lives in the core and stays 0 where the clock grants nothing. Exported because
// the clock and the core both count it down on every instruction.
extern int clock_credit_us;
extern int clock_banked_us;
extern uintptr_t clock_watch_start;  // first byte of the watched memory
extern uintptr_t clock_watch_size;   // 0: nothing watched
// The clock takes back the credit it granted (the span it stood for was cut short).
inline void clock_cancel_credit() { clock_credit_us = 0; }
