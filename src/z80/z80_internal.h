// Shared by the core's own files: flag tables, memory access and register shorthands.
#pragma once
#include <array>
#include <cstdint>

#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace z80core {

// The machine's bus as attached by z80_attach_bus. Exported inside the core because
// its clock is called from the instruction loop and from the memory writes that settle
// the clock's credit.
extern Z80Bus bus;

// Flag bits (prefixed: the plain letters are register indexes).
constexpr uint8_t FS = z80f::S, FZ = z80f::Z, FY = z80f::Y, FH = z80f::H, FX = z80f::X,
                  FP = z80f::P, FN = z80f::N, FC = z80f::C;

// ---- Flag tables, built by rule at compile time -----------------------------------------
constexpr bool even_parity(unsigned v) {
  v ^= v >> 4;
  v ^= v >> 2;
  v ^= v >> 1;
  return (v & 1) == 0;
}

struct FlagTables {
  uint8_t sz53[256];   // S, Z and bits 5/3 of a result byte
  uint8_t sz53p[256];  // the same with P/V = even parity
  uint8_t inc[256];    // flags of INC for the value before (C to be added by the caller)
  uint8_t dec[256];    // flags of DEC for the value before
  uint16_t daa[2048];  // index (C | N<<1 | H<<2) << 8 | A: result A << 8 | F
};

constexpr FlagTables make_flag_tables() {
  FlagTables t{};
  for (int v = 0; v < 256; v++) {
    uint8_t f = uint8_t(v & (FS | FY | FX));
    if (v == 0) f |= FZ;
    t.sz53[v] = f;
    t.sz53p[v] = uint8_t(f | (even_parity(unsigned(v)) ? FP : 0));
    int up = (v + 1) & 0xFF;
    t.inc[v] = uint8_t((up & (FS | FY | FX)) | (up == 0 ? FZ : 0) | ((v & 0x0F) == 0x0F ? FH : 0) |
                       (v == 0x7F ? FP : 0));
    int down = (v - 1) & 0xFF;
    t.dec[v] = uint8_t((down & (FS | FY | FX)) | (down == 0 ? FZ : 0) | ((v & 0x0F) == 0 ? FH : 0) |
                       (v == 0x80 ? FP : 0) | FN);
  }
  for (int idx = 0; idx < 2048; idx++) {
    int a = idx & 0xFF;
    bool c = idx & 0x100, n = idx & 0x200, h = idx & 0x400;
    int low = a & 0x0F;
    int diff = 0;
    bool c_out = c;
    if (h || low > 9) diff |= 0x06;
    if (c || a > 0x99) {
      diff |= 0x60;
      c_out = true;
    }
    int result = (n ? a - diff : a + diff) & 0xFF;
    bool h_out = n ? (h && low < 6) : (low > 9);
    uint8_t f = uint8_t(t.sz53p[result] | (c_out ? FC : 0) | (h_out ? FH : 0) | (n ? FN : 0));
    t.daa[idx] = uint16_t(result << 8 | f);
  }
  return t;
}

inline constexpr FlagTables flags = make_flag_tables();

// ---- Registers -------------------------------------------------------------------------
inline uint8_t& rb(int i) { return z80.regs.b[i]; }
inline uint16_t& rw(int i) { return z80.regs.w[i]; }
inline uint8_t& reg_a() { return z80.regs.b[z80r::A]; }
inline uint8_t& reg_f() { return z80.regs.b[z80r::F]; }
inline uint16_t& PC() { return z80.regs.w[z80w::PC]; }
inline uint16_t& SP() { return z80.regs.w[z80w::SP]; }

// ---- The clock's credit ------------------------------------------------------------------
// Runs the banked microseconds now, so that whatever comes next sees the machine at the
// time of the instruction. Where code outside the core follows, the caller also drops
// the credit (the clock may change anything then).
[[gnu::noinline]] inline void settle_clock() {
  if (clock_banked_us != 0) z80.hold = bus.clock(0, 0, z80.wait_word, z80.refresh_counter);
}

// ---- Memory: two indexings through the bank tables -------------------------------------
inline uint8_t rd8(uint16_t a) { return read_bank[a >> 14][a & 0x3FFF]; }
[[gnu::always_inline]] inline void wr8(uint16_t a, uint8_t v) {
  uint8_t* const p = write_bank[a >> 14] + (a & 0x3FFF);
  // Banked time still to be drawn from this memory sees it before the write.
  if (clock_banked_us != 0 && reinterpret_cast<uintptr_t>(p) - clock_watch_start < clock_watch_size)
    [[unlikely]] settle_clock();
  *p = v;
}
inline uint16_t rd16(uint16_t a) { return uint16_t(rd8(a) | rd8(uint16_t(a + 1)) << 8); }
inline void wr16(uint16_t a, uint16_t v) {
  wr8(a, uint8_t(v));
  wr8(uint16_t(a + 1), uint8_t(v >> 8));
}
inline uint8_t fetch8() {
  uint16_t pc = PC();
  PC() = uint16_t(pc + 1);
  return rd8(pc);
}
inline uint16_t fetch16() {
  uint8_t lo = fetch8();
  return uint16_t(lo | fetch8() << 8);
}
[[gnu::always_inline]] inline void push16(uint16_t v) {
  uint16_t sp = SP();
  sp = uint16_t(sp - 1);
  wr8(sp, uint8_t(v >> 8));
  sp = uint16_t(sp - 1);
  wr8(sp, uint8_t(v));
  SP() = sp;
}
inline uint16_t pop16() {
  uint16_t sp = SP();
  uint16_t v = rd16(sp);
  SP() = uint16_t(sp + 2);
  return v;
}

// ---- Timing: (count, adjustment) packed into one int -----------------------------------
// Bits 0-7 the count, 8-15 the signed adjustment, 16 and up the whole microseconds the
// clock makes of them (worked out here once, for the core's own counting).
constexpr int timing(int count, int adjustment = 0) {
  return count | (adjustment & 0xFF) << 8 | clock_microseconds(count, adjustment) << 16;
}
constexpr int timing_count(int t) { return t & 0xFF; }
constexpr int timing_adjustment(int t) { return static_cast<int8_t>(t >> 8); }
constexpr int timing_microseconds(int t) { return t >> 16; }
static_assert(timing_adjustment(timing(3, -4)) == -4 && timing_count(timing(3, -4)) == 3 &&
              timing_microseconds(timing(3, -4)) == 2 && timing_adjustment(timing(16, 8)) == 8);

// ---- Dispatch -----------------------------------------------------------------------
using OpFn = int (*)();
// The unprefixed table; the prefixed tables are reached from its CB, DD, ED and FD entries.
extern const std::array<OpFn, 256> main_table;

}  // namespace z80core
