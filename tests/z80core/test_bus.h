// A machine of the tests' own around the bare Z80 core: 64 KB of RAM, an optional ROM
// over it for the ROM trap, recorded port accesses, traps and clock calls, and a clock
// that performs pending port accesses at once and can offer a maskable interrupt.
#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include "z80/z80.h"

namespace testbus {

struct Advance {
  int count;
  int adjustment;
  int microseconds() const { return (count + (adjustment < 0 ? -adjustment : adjustment) + 3) / 4; }
};
struct PortWrite {
  uint16_t port;
  uint8_t value;
  bool operator==(const PortWrite&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const PortWrite& w) {
  return os << std::hex << w.port << " <- " << int(w.value) << std::dec;
}

struct Bus {
  uint8_t ram[65536];
  uint8_t rom[16384];
  std::vector<Advance> advances;   // every clock call of the run
  std::vector<PortWrite> outs;
  std::vector<uint16_t> ins;
  std::vector<int> traps;          // tape_trap codes
  int address_zero_calls = 0;
  // Decides after each clock call whether to stop the run (default: after one call).
  std::function<bool(const Advance&)> stop_when;
  // Value returned by port reads (default: the high byte of the port, as the Z80's
  // per-instruction test vectors assume).
  std::function<uint8_t(uint16_t)> in_value;
  bool irq_line = false;           // offer an interrupt (bus 0xFF) after every instruction
  std::vector<int> irq_results;    // µs of each accepted acknowledge
  int hold_calls = 0;              // the clock asks to be called again this many times
  bool flush_ports = true;         // perform pending port accesses in the clock
};
extern Bus bus;

// Clears memory (to fill), points all quarters at RAM, resets the core and the records.
void reset(uint8_t fill = 0);
// Makes quarter q read the ROM buffer (writes still go to RAM).
void map_rom(int quarter);
// Puts bytes into RAM.
void poke(uint16_t address, std::initializer_list<uint8_t> bytes);
// Runs until the stop rule says so; returns the clock calls made by this run.
std::vector<Advance> run();
// Runs n instructions (n clock calls).
std::vector<Advance> run_instructions(int n);

}  // namespace testbus
