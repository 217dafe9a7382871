#include "test_bus.h"

#include <cstring>

#include "z80/z80_bus.h"

namespace testbus {
Bus bus;

// ---- The machine side of the core --------------------------------------------------------
int clock(int count, int adjustment, uint32_t&, uint32_t&) {
  Advance a{count, adjustment};
  bus.advances.push_back(a);
  if (bus.flush_ports) {
    z80_flush_pending_out(1);
    z80_flush_pending_in();
    z80_flush_pending_out(0);
  }
  if (bus.irq_line) {
    int us = z80_irq(0xFF);
    if (us) {
      bus.irq_line = false;
      bus.irq_results.push_back(us);
    }
  }
  bool stop = bus.stop_when ? bus.stop_when(a) : true;
  if (stop) stop_request_word |= 0x10000;
  if (bus.hold_calls > 0) {
    bus.hold_calls--;
    return 1;
  }
  return 0;
}

uint8_t port_in(uint16_t port) {
  bus.ins.push_back(port);
  return bus.in_value ? bus.in_value(port) : uint8_t(port >> 8);
}

void port_out(uint16_t port, uint8_t value) { bus.outs.push_back({port, value}); }

void trap(int code) { bus.traps.push_back(code); }

void at_address_zero() { bus.address_zero_calls++; }

// ---- The tests' side ------------------------------------------------------------------------
void reset(uint8_t fill) {
  bus = Bus{};  // memory zeroed, records empty, options at their defaults
  std::memset(bus.ram, fill, sizeof bus.ram);
  z80_attach_bus(Z80Bus{clock, port_in, port_out, trap, at_address_zero});
  for (int q = 0; q < 4; q++) read_bank[q] = write_bank[q] = bus.ram + q * 0x4000;
  z80_reset(0xFF);
  z80.speed_mode = 0;
  z80.speed_count = 0;
  z80.breakpoint = -1;
  z80.error_code = 0;
  z80.nmi_armed = 1;
  z80.rom_trap_enabled = 1;
  stop_request_word = 0;
}

void map_rom(int quarter) { read_bank[quarter] = bus.rom; }

void poke(uint16_t address, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) bus.ram[address++] = b;
}

std::vector<Advance> run() {
  size_t first = bus.advances.size();
  stop_request_word = 0;
  z80_run();
  return std::vector<Advance>(bus.advances.begin() + long(first), bus.advances.end());
}

std::vector<Advance> run_instructions(int n) {
  auto saved = bus.stop_when;
  int left = n;
  bus.stop_when = [&left](const Advance&) { return --left <= 0; };
  auto result = run();
  bus.stop_when = saved;
  return result;
}
}  // namespace testbus
