// The Z80 core: register file, execute loop, interrupts, deferred port access, the CPU
// error record and the register block of snapshots.
#include "z80/z80.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <istream>
#include <ostream>

#include "z80/z80_internal.h"

using namespace z80core;
using namespace z80r;
namespace W = z80w;

namespace {
Z80State initial_state() {
  Z80State s{};
  s.pending_out.port = -1;
  s.pending_in.port = -1;
  s.breakpoint = -1;
  s.nmi_armed = 1;
  s.rom_trap_enabled = 1;
  return s;
}
}  // namespace

Z80State z80 = initial_state();
uint8_t* read_bank[4] = {};
uint8_t* write_bank[4] = {};
uint32_t stop_request_word = 0;
Z80Bus z80core::bus = {};

void z80_attach_bus(const Z80Bus& attached) { bus = attached; }

void request_stop(int code) {
  stop_request_word |= static_cast<uint32_t>(code);
  if (code == static_cast<int>(stopbit::TAPE)) z80_irq(0xFF);
}

int clock_credit_us = 0;
int clock_banked_us = 0;
uintptr_t clock_watch_start = 0;
uintptr_t clock_watch_size = 0;

uint8_t& z80_reg8(int index) { return z80.regs.b[index]; }
uint16_t& z80_reg16(int index) { return z80.regs.w[index]; }

uint8_t z80_current_r() {
  return uint8_t((z80.regs.b[R] & 0x80) | (z80.refresh_counter & 0x7F));
}

// ---- Execute loop ------------------------------------------------------------------------
namespace {
// Fetches and executes one instruction; its (count, adjustment) packed as timing() gives.
inline int execute_next() {
  uint16_t pc = PC();
  z80.instr_address = pc;
  uint8_t op = rd8(pc);
  PC() = uint16_t(pc + 1);
  z80.opcode_byte = op;
  z80.refresh_counter++;
  return main_table[op]();
}
}  // namespace

void z80_run() {
  // The bus is attached at set-up, never while the core runs: one load for the loop.
  const auto clock = bus.clock;
  z80.refresh_counter = rb(R);
  rb(R) &= 0x80;
  // A credit left from an earlier run may be stale (registers written, snapshot loaded).
  clock_credit_us = 0;
  for (;;) {
    if (PC() == 0) {
      settle_clock();
      clock_credit_us = 0;
      bus.at_address_zero();
    }

    if ((z80.hold | z80.speed_mode) == 0) [[likely]] {
      const int t = execute_next();
      const int us = timing_microseconds(t);
      if (us <= clock_credit_us && (z80.pending_out.port & z80.pending_in.port) < 0) {
        // Nothing but counting: the clock runs this time at its next call.
        clock_credit_us -= us;
        clock_banked_us += us;
      } else {
        z80.hold = clock(timing_count(t), timing_adjustment(t), z80.wait_word, z80.refresh_counter);
      }
    } else {
      int count = 0, adjustment = 0;
      if (!z80.hold) {
        const int t = execute_next();
        count = timing_count(t);
        adjustment = timing_adjustment(t);
      }
      if (z80.speed_mode == 0 || z80.hold) {
        z80.hold = clock(count, adjustment, z80.wait_word, z80.refresh_counter);
      } else if (z80.speed_mode == 1) {
        z80.hold = clock(1, 0, z80.wait_word, z80.refresh_counter);
      } else if ((++z80.speed_count & 7) == 0) {
        z80.hold = clock(1, 0, z80.wait_word, z80.refresh_counter);
      } else {
        z80_flush_pending_out(z80.pending_out.position);
        z80_flush_pending_in();
      }
    }

    z80.ld_a_ir_flag = 0;
    if (z80.ei_pending) {
      z80.ei_pending = 0;
      rb(IFF1) = rb(IFF2) = IFF_SET;
    }
    if (int32_t(PC()) == z80.breakpoint) stop_request_word |= stopbit::BREAK;
    if (stop_request_word) break;
  }
  settle_clock();
  rb(R) = z80_current_r();
}

void z80_reset(uint8_t /*bus*/) {
  for (int w : {W::AF, W::BC, W::DE, W::HL, W::IR, W::IFF, W::IX, W::IY, W::SP, W::PC, W::IM,
                W::AF2, W::BC2, W::DE2, W::HL2})
    rw(w) = 0;
  z80.refresh_counter = 0;
  z80.opcode_byte = 0;
  z80.ei_pending = 0;
  z80.halted = 0;
  z80.ld_a_ir_flag = 0;
  z80.memptr = 0;
  z80.pending_out.port = -1;
  z80.pending_in.port = -1;
  z80.hold = 0;
  z80.wait_word = 0;
}

void z80_set_breakpoint(int32_t address) { z80.breakpoint = address; }
const Z80State& z80_state() { return z80; }
void z80_set_wait_word(uint32_t word) { z80.wait_word = word; }
void z80_set_rom_trap(bool enabled) { z80.rom_trap_enabled = enabled ? 1 : 0; }

void z80_set_speed_mode(int mode) { z80.speed_mode = (mode >= 0 && mode <= 2) ? mode : 0; }

// ---- Interrupts --------------------------------------------------------------------------
int z80_irq(uint8_t bus) {
  if (!rb(IFF1)) return 0;
  uint8_t op = z80.opcode_byte;
  if (op == 0xDD || op == 0xFD) return 0;  // a prefix that ran alone: its byte comes first
  int mode = rb(IM);
  // An impossible mode (only a snapshot can bring one) refuses before anything changes.
  if (mode > 2) return 0;
  if (z80.halted) {
    PC()++;
    z80.halted = 0;
  }
  rb(IFF1) = rb(IFF2) = 0;
  z80.refresh_counter++;
  int taken;
  if (mode == 2) {
    push16(PC());
    PC() = rd16(uint16_t(rb(I) << 8 | (bus | 1)));
    taken = 5;
  } else {
    if (mode == 1 || bus == 0xFF) {
      push16(PC());
      PC() = 0x0038;
    }
    taken = 4;
  }
  z80.memptr = PC();
  if (z80.ld_a_ir_flag) reg_f() &= uint8_t(~FP);
  return taken;
}

int z80_nmi(int request) {
  if (request > 0) {
    z80.nmi_armed = 1;
    return 0;
  }
  if (!z80.nmi_armed) return 0;
  rb(IFF2) = rb(IFF1);
  rb(IFF1) = 0;
  z80.nmi_armed = 0;
  push16(PC());
  PC() = 0x0066;
  z80.memptr = PC();
  z80.refresh_counter++;
  return 3;
}

// ---- Deferred port access ----------------------------------------------------------------
void z80_flush_pending_in() {
  Z80PendingIn& in = z80.pending_in;
  if (in.port < 0) return;
  uint16_t port = uint16_t(in.port);
  in.port = -1;
  uint8_t v = bus.port_in(port);
  if (in.dest) *in.dest = v;
  else wr8(in.address, v);
  if (in.flag_mode == 1) {
    reg_f() = uint8_t((reg_f() & FC) | flags.sz53p[v]);
  } else if (in.flag_mode == 2) {
    // INI/IND and their repeats: the chip derives H, C and P/V from the byte read plus
    // C +/- 1, N from the byte's bit 7, and S, Z, bits 5/3 from the decremented B.
    unsigned k = v + in.block_c;
    reg_f() = uint8_t(((v & 0x80) ? FN : 0) | (k > 0xFF ? (FH | FC) : 0) |
                  (even_parity((k & 7) ^ in.block_b) ? FP : 0) | flags.sz53[in.block_b]);
  }
}

void z80_flush_pending_out(int position) {
  Z80PendingOut& out = z80.pending_out;
  if (out.port < 0 || out.position != position) return;
  uint16_t port = uint16_t(out.port);
  out.port = -1;
  bus.port_out(port, out.value);
}

bool z80_out_pending_at(int position) {
  return z80.pending_out.port >= 0 && z80.pending_out.position == position;
}

// ---- Snapshot register block -------------------------------------------------------------
namespace {
// Snapshot order of the 29 bytes, as register file byte indexes; the flip-flops and the
// interrupt mode need conversion.
constexpr int snapshot_order[Z80_SNAPSHOT_BLOCK] = {
    F, A, C, B, E, D, L, H, R, I, IFF1, IFF2, IXL, IXH, IYL, IYH, SPL, SPH, PCL, PCH, IM,
    F2, A2, C2, B2, E2, D2, L2, H2};
}  // namespace

void z80_load_registers(const uint8_t* block) {
  for (int i = 0; i < Z80_SNAPSHOT_BLOCK; i++) {
    int r = snapshot_order[i];
    uint8_t v = block[i];
    if (r == IFF1 || r == IFF2) v = uint8_t((v << 2) & IFF_SET);
    rb(r) = v;
  }
  rb(IM_HIGH) = 0;
  z80.halted = 0;
  z80.ei_pending = 0;
}

void z80_save_registers(uint8_t* block) {
  for (int i = 0; i < Z80_SNAPSHOT_BLOCK; i++) {
    int r = snapshot_order[i];
    uint8_t v = rb(r);
    if (r == IFF1 || r == IFF2) v = uint8_t(v >> 2);
    block[i] = v;
  }
}

int z80_load_registers(std::istream& in) {
  uint8_t block[Z80_SNAPSHOT_BLOCK];
  if (!in.read(reinterpret_cast<char*>(block), sizeof block)) return 1;
  z80_load_registers(block);
  return 0;
}

int z80_save_registers(std::ostream& out) {
  uint8_t block[Z80_SNAPSHOT_BLOCK];
  z80_save_registers(block);
  return out.write(reinterpret_cast<const char*>(block), sizeof block) ? 0 : 1;
}

// ---- Errors and the register dump ----------------------------------------------------------
void z80_set_error(int code, uint16_t address) {
  z80.error_code = code;
  z80.error_address = address;
}

namespace {
// Four lower-case hexadecimal digits with leading zeros.
std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}
}  // namespace

void z80_report_error() {
  switch (z80.error_code) {
    case 0: return;
    case 1: std::cout << "Z80: unknown OP-code at address " << hex4(z80.error_address) << std::endl; break;
    case 2: std::cout << "Z80: halt with interrupts disabled at " << hex4(z80.error_address) << std::endl; break;
    default: std::cout << "Z80: unknown error !" << std::endl; break;
  }
  z80.error_code = 0;
}

void z80_dump_registers(std::ostream& out) {
  static const char* const names[] = {"AF", "BC", "DE", "HL", "IX", "IY", "SP", "PC"};
  static const int words[] = {W::AF, W::BC, W::DE, W::HL, W::IX, W::IY, W::SP, W::PC};
  char line[160];
  int n = 0;
  for (int i = 0; i < 8; i++)
    n += std::snprintf(line + n, sizeof line - n, "%s%s=%04X", i ? " " : "", names[i], rw(words[i]));
  std::snprintf(line + n, sizeof line - n, " IR=%04X\n", rw(W::IR));
  out << line;

  n = std::snprintf(line, sizeof line, " \t");
  for (int i = 0; i < 8; i++) {
    uint16_t a = rw(words[i]);
    n += std::snprintf(line + n, sizeof line - n, "%s%02X%02X", i ? "    " : "", rd8(a),
                       rd8(uint16_t(a + 1)));
  }
  out << line << '\n';

  uint8_t f = reg_f();
  std::snprintf(line, sizeof line, "AF'=%04X BC'=%04X DE'=%04X HL'=%04X IFF1=%d IFF2=%d IM=%d %s%s%s%s%s%s\n",
                rw(W::AF2), rw(W::BC2), rw(W::DE2), rw(W::HL2), rb(IFF1) >> 2, rb(IFF2) >> 2, rb(IM),
                (f & FZ) ? "Z " : "NZ ", (f & FC) ? "C " : "NC ", (f & FP) ? "PE " : "PO ",
                (f & FS) ? "M " : "P ", (f & FN) ? "N " : "  ", (f & FH) ? "H " : " ");
  out << line;
}
