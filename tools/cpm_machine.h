// A bare CP/M machine around the Z80 core: 64 KB of RAM, BDOS functions 2 and 9 on an
// output file, the end of the program at a jump to address 0, and a stub clock that
// performs pending port accesses at once (ports read 0xFF).
//
// It defines everything the core needs from a machine (z80/z80_bus.h and the
// stop-request word), so it is included by exactly one source file of a program that
// links only the core: arvelo-cpm and the Z80 benchmark.
#pragma once
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace cpm {
constexpr uint16_t LOAD_ADDRESS = 0x0100;
constexpr uint16_t BDOS_ADDRESS = 0xFE00;  // where the jump at 5 leads; also the TPA top

struct Machine {
  uint8_t memory[65536];
  FILE* output;
  uint64_t instructions;  // instructions executed (clock calls)
  uint64_t limit;         // stop after this many instructions (0: no limit)
  bool ended;             // the program jumped to 0
};
inline Machine machine;

// The bus the core is attached to (defined below).
inline int clock(int, int, uint32_t&, uint32_t&);
inline uint8_t port_in(uint16_t);
inline void port_out(uint16_t, uint8_t);
inline void trap(int);
inline void at_address_zero();

// BDOS call: function in C, argument in E or DE.
inline void serve_bdos() {
  switch (z80_reg8(z80r::C)) {
    case 2:
      std::fputc(z80_reg8(z80r::E), machine.output);
      break;
    case 9: {
      uint16_t a = z80_reg16(z80w::DE);
      for (int n = 0; n < 65536 && machine.memory[a] != '$'; n++, a++)
        std::fputc(machine.memory[a], machine.output);
      break;
    }
    default:
      break;
  }
}

// Loads a program at 0x100 and prepares the machine. Returns an empty string, or the
// reason the file could not be used.
inline std::string load(const char* path, FILE* output) {
  std::memset(machine.memory, 0, sizeof machine.memory);
  machine.output = output;
  machine.instructions = 0;
  machine.limit = 0;
  machine.ended = false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return std::string("cannot open ") + path + ": " + std::strerror(errno);
  const size_t room = BDOS_ADDRESS - LOAD_ADDRESS;
  size_t n = std::fread(machine.memory + LOAD_ADDRESS, 1, room, f);
  bool too_big = n == room && std::fgetc(f) != EOF;
  bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) return std::string("cannot read ") + path;
  if (too_big) return std::string(path) + " does not fit below the BDOS";
  if (n == 0) return std::string(path) + " is empty";

  // 0: JP 0 (the end is seen before it runs); 5: JP BDOS, whose address is also the top
  // of the program's memory; BDOS: RET (the function is served before it runs).
  const uint8_t low[] = {0xC3, 0x00, 0x00, 0x00, 0x00, 0xC3,
                         uint8_t(BDOS_ADDRESS & 0xFF), uint8_t(BDOS_ADDRESS >> 8)};
  std::memcpy(machine.memory, low, sizeof low);
  machine.memory[BDOS_ADDRESS] = 0xC9;

  z80_attach_bus(Z80Bus{clock, port_in, port_out, trap, at_address_zero});
  for (int q = 0; q < 4; q++) read_bank[q] = write_bank[q] = machine.memory + q * 0x4000;
  z80_reset(0xFF);
  z80_set_speed_mode(0);
  z80_reg16(z80w::PC) = LOAD_ADDRESS;
  z80_reg16(z80w::SP) = BDOS_ADDRESS;
  stop_request_word = 0;
  return "";
}

// Runs until the program ends (true) or the processor stops with an error (false).
inline bool run() {
  z80_run();
  std::fflush(machine.output);
  return machine.ended;
}
}  // namespace cpm

// ---- What the core needs from its machine ------------------------------------------------
namespace cpm {
inline int clock(int, int, uint32_t&, uint32_t&) {
  if (++cpm::machine.instructions == cpm::machine.limit) stop_request_word |= 0x8000;
  if (z80.pending_in.port >= 0) z80_flush_pending_in();
  if (z80.pending_out.port >= 0) z80_flush_pending_out(z80.pending_out.position);
  if (z80.regs.w[z80w::PC] == cpm::BDOS_ADDRESS) cpm::serve_bdos();
  return 0;
}

inline uint8_t port_in(uint16_t) { return 0xFF; }
inline void port_out(uint16_t, uint8_t) {}
inline void trap(int) {}

inline void at_address_zero() {
  cpm::machine.ended = true;
  stop_request_word |= 0x8000;
}
}  // namespace cpm
