// What the Z80 core needs from the machine around it.
//
// The core is built as its own library and calls only the functions and tables
// declared here (plus the stop-request word of core/machine.h). The CPC machine
// provides them from its units (memory map, port decoder, raster engine, tape bypass);
// the CP/M runner provides its own minimal versions, so the core runs without any CPC
// hardware.
#pragma once
#include <cstdint>

#include "core/machine.h"  // stop_request_word, request_stop

// Memory map: one pointer per 16 KB quarter of the address space, for reads and for
// writes (they differ where a ROM is visible for reading over RAM).
extern uint8_t* read_bank[4];
extern uint8_t* write_bank[4];

// The clock of the machine: called after every instruction (except those counted
// against its credit, below) with its T-state count, its adjustment, the wait-state word
// and the refresh counter. Non-zero asks the core to call again with (0, 0) without
// executing an instruction.
int video_advance(int tstates, int adjustment, uint32_t& wait, uint32_t& refresh);

// The clock's rounding of an instruction to whole microseconds of the CPC's bus.
constexpr int clock_microseconds(int tstates, int adjustment) {
  return (tstates + (adjustment < 0 ? -adjustment : adjustment) + 3) / 4;
}

// Credit of the clock. While only counting and drawing lie ahead (no sync, no line end,
// no interrupt, no frame end), the clock grants the core a number of microseconds:
// instructions without a port access are then counted against it (clock_banked_us)
// instead of calling video_advance, and the clock runs the banked time first at its next
// call. The characters of banked time that show video memory must show it as it was at
// their microsecond: the clock names the memory it will read (clock_watch_*), and a
// write there first settles the bank. The core settles it with video_advance(0, 0, ...)
// also before anything outside the core runs (traps, the return from z80_run). All of
// this lives in the core and stays 0 where the clock grants nothing.
extern int clock_credit_us;
extern int clock_banked_us;
extern uintptr_t clock_watch_start;  // first byte of the watched memory
extern uintptr_t clock_watch_size;   // 0: nothing watched
// The clock takes back the credit it granted (the span it stood for was cut short).
inline void clock_cancel_credit() { clock_credit_us = 0; }

// Port decoder; the core calls these only when it performs a deferred IN or OUT.
uint8_t port_in(uint16_t port);
void port_out(uint16_t port, uint8_t value);

// ROM trap ED F9..FF: code = (second byte << 8) | n.
void tape_trap(int code);

// Called before the instruction at address 0 is fetched (the machine decides whether
// the M4 board's virtual SD image must be synchronised).
void z80_at_address_zero();
