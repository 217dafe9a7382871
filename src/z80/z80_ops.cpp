// The instruction sets of the Z80: unprefixed, CB, ED, DD/FD and DD CB/FD CB.
//
// Every opcode of every set is one function generated from a template on the opcode
// (and, for DD and FD, on the index register), so decoding happens at compile time and
// each prefix set is a 256-entry table of functions. A function executes its instruction
// and returns the packed (T-state count, adjustment) pair that the clock rounds to the
// CPC's whole microseconds.
//
// Flags follow the real Z80, including the undocumented bits 3 and 5 and the internal
// address latch (memptr) that BIT n,(HL) exposes.
#include <utility>

#include "z80/z80_internal.h"

namespace z80core {
namespace {

using namespace z80r;
namespace W = z80w;

// Index register modes of the shared unprefixed / DD / FD handlers.
constexpr int NOX = 0, IXM = 1, IYM = 2;

// ---- Operand decoding ------------------------------------------------------------------
// Byte register of a 3-bit operand field (6, the memory operand, has none).
constexpr int reg8(int r, int x) {
  switch (r) {
    case 0: return B;
    case 1: return C;
    case 2: return D;
    case 3: return E;
    case 4: return x == NOX ? H : x == IXM ? IXH : IYH;
    case 5: return x == NOX ? L : x == IXM ? IXL : IYL;
    case 7: return A;
    default: return -1;
  }
}
constexpr int hl_word(int x) { return x == NOX ? W::HL : x == IXM ? W::IX : W::IY; }
constexpr int pair(int p, int x) { return p == 0 ? W::BC : p == 1 ? W::DE : p == 2 ? hl_word(x) : W::SP; }
constexpr int pair_af(int p, int x) { return p == 3 ? W::AF : pair(p, x); }

// Whether a DD/FD prefix changes the meaning of the opcode behind it.
constexpr bool has_index_form(int op) {
  switch (op) {
    case 0x09: case 0x19: case 0x29: case 0x39:
    case 0x21: case 0x22: case 0x23: case 0x24: case 0x25: case 0x26:
    case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E:
    case 0x34: case 0x35: case 0x36:
    case 0xCB: case 0xE1: case 0xE3: case 0xE5: case 0xE9: case 0xF9:
      return true;
    default: break;
  }
  int y = (op >> 3) & 7, z = op & 7;
  if (op >= 0x40 && op <= 0x7F)
    return op != 0x76 && (y == 4 || y == 5 || y == 6 || z == 4 || z == 5 || z == 6);
  if (op >= 0x80 && op <= 0xBF) return z == 4 || z == 5 || z == 6;
  return false;
}

// Address of the memory operand: (HL), or (X + d) with d read from the instruction.
template <int X>
inline uint16_t memory_operand() {
  if constexpr (X == NOX) {
    return rw(W::HL);
  } else {
    uint16_t a = uint16_t(rw(hl_word(X)) + int8_t(fetch8()));
    z80.memptr = a;
    return a;
  }
}

template <int cc>
inline bool condition() {
  uint8_t f = reg_f();
  switch (cc) {
    case 0: return !(f & FZ);
    case 1: return f & FZ;
    case 2: return !(f & FC);
    case 3: return f & FC;
    case 4: return !(f & FP);
    case 5: return f & FP;
    case 6: return !(f & FS);
    default: return f & FS;
  }
}

// ---- Arithmetic and logic ------------------------------------------------------------
template <int op>
inline void alu(uint8_t v) {
  int a = reg_a();
  if constexpr (op == 0 || op == 1) {  // ADD, ADC
    int r = a + v + (op == 1 ? (reg_f() & FC) : 0);
    reg_f() = uint8_t(flags.sz53[r & 0xFF] | ((a ^ v ^ r) & FH) |
                  (((a ^ v ^ 0x80) & (a ^ r) & 0x80) >> 5) | ((r >> 8) & FC));
    reg_a() = uint8_t(r);
  } else if constexpr (op == 2 || op == 3 || op == 7) {  // SUB, SBC, CP
    int r = a - v - (op == 3 ? (reg_f() & FC) : 0);
    uint8_t f = uint8_t(((a ^ v ^ r) & FH) | (((a ^ v) & (a ^ r) & 0x80) >> 5) | FN | ((r >> 8) & FC));
    if constexpr (op == 7) {
      // CP: bits 5 and 3 come from the operand, not from the result.
      reg_f() = uint8_t(f | (flags.sz53[r & 0xFF] & (FS | FZ)) | (v & (FY | FX)));
    } else {
      reg_f() = uint8_t(f | flags.sz53[r & 0xFF]);
      reg_a() = uint8_t(r);
    }
  } else if constexpr (op == 4) {
    reg_a() = uint8_t(a & v);
    reg_f() = uint8_t(flags.sz53p[reg_a()] | FH);
  } else if constexpr (op == 5) {
    reg_a() = uint8_t(a ^ v);
    reg_f() = flags.sz53p[reg_a()];
  } else {
    reg_a() = uint8_t(a | v);
    reg_f() = flags.sz53p[reg_a()];
  }
}

inline uint8_t inc8(uint8_t v) {
  reg_f() = uint8_t((reg_f() & FC) | flags.inc[v]);
  return uint8_t(v + 1);
}
inline uint8_t dec8(uint8_t v) {
  reg_f() = uint8_t((reg_f() & FC) | flags.dec[v]);
  return uint8_t(v - 1);
}

// ADD HL/IX/IY,rr: H from the carry out of bit 11, bits 5/3 from the high byte.
template <int dst>
inline void add16(uint16_t v) {
  uint32_t a = rw(dst);
  uint32_t r = a + v;
  z80.memptr = uint16_t(a + 1);
  reg_f() = uint8_t((reg_f() & (FS | FZ | FP)) | ((r >> 8) & (FY | FX)) | (((a ^ v ^ r) >> 8) & FH) | (r >> 16));
  rw(dst) = uint16_t(r);
}

inline void adc16(uint16_t v) {
  int a = rw(W::HL);
  int r = a + v + (reg_f() & FC);
  z80.memptr = uint16_t(a + 1);
  reg_f() = uint8_t(((r >> 8) & (FS | FY | FX)) | ((r & 0xFFFF) ? 0 : FZ) | (((a ^ v ^ r) >> 8) & FH) |
                (((a ^ v ^ 0x8000) & (a ^ r) & 0x8000) >> 13) | ((r >> 16) & FC));
  rw(W::HL) = uint16_t(r);
}

inline void sbc16(uint16_t v) {
  int a = rw(W::HL);
  int r = a - v - (reg_f() & FC);
  z80.memptr = uint16_t(a + 1);
  reg_f() = uint8_t(((r >> 8) & (FS | FY | FX)) | ((r & 0xFFFF) ? 0 : FZ) | (((a ^ v ^ r) >> 8) & FH) |
                (((a ^ v) & (a ^ r) & 0x8000) >> 13) | FN | ((r >> 16) & FC));
  rw(W::HL) = uint16_t(r);
}

// The shift and rotate group of CB and DD CB (kind 6 is SLS: shift left, bit 0 set).
template <int kind>
inline uint8_t shift(uint8_t v) {
  unsigned r, c;
  switch (kind) {
    case 0: c = v >> 7; r = (v << 1) | c; break;
    case 1: c = v & 1; r = (v >> 1) | (c << 7); break;
    case 2: c = v >> 7; r = (v << 1) | (reg_f() & FC); break;
    case 3: c = v & 1; r = (v >> 1) | ((reg_f() & FC) << 7); break;
    case 4: c = v >> 7; r = v << 1; break;
    case 5: c = v & 1; r = (v >> 1) | (v & 0x80); break;
    case 6: c = v >> 7; r = (v << 1) | 1; break;
    default: c = v & 1; r = v >> 1; break;
  }
  uint8_t result = uint8_t(r);
  reg_f() = uint8_t(flags.sz53p[result] | c);
  return result;
}

// BIT b: bits 5/3 come from `xy` (the register tested, or the high byte of memptr).
template <int b>
inline void bit_test(uint8_t v, uint8_t xy) {
  unsigned m = v & (1u << b);
  uint8_t f = uint8_t((reg_f() & FC) | FH | (xy & (FY | FX)));
  if (!m) f |= FZ | FP;
  if (b == 7 && m) f |= FS;
  reg_f() = f;
}

// The CB operation on a value: shift/rotate, RES or SET (BIT is handled by the callers).
template <int op>
inline uint8_t cb_operate(uint8_t v) {
  constexpr int group = op >> 6, kind = (op >> 3) & 7;
  if constexpr (group == 0) return shift<kind>(v);
  else if constexpr (group == 2) return uint8_t(v & ~(1u << kind));
  else return uint8_t(v | (1u << kind));
}

// ---- Ports: recorded, performed later by the clock -------------------------------------
inline void record_out(uint16_t port, uint8_t value, int position) {
  z80.pending_out.port = port;
  z80.pending_out.value = value;
  z80.pending_out.position = position;
}
inline void record_in(uint16_t port, uint8_t* dest, uint8_t flag_mode) {
  z80.pending_in.port = port;
  z80.pending_in.dest = dest;
  z80.pending_in.flag_mode = flag_mode;
}

// ---- Prefix tables (defined below) ---------------------------------------------------
extern const std::array<OpFn, 256> cb_table;
extern const std::array<OpFn, 256> ed_table;
extern const std::array<OpFn, 256> ix_table;
extern const std::array<OpFn, 256> iy_table;
using IndexedCbFn = int (*)(uint16_t address);
extern const std::array<IndexedCbFn, 256> xcb_table;

// The byte behind a prefix: fetched, counted as the prefix's second M1 cycle.
inline uint8_t fetch_behind_prefix() {
  uint8_t op = fetch8();
  z80.opcode_byte = op;
  z80.refresh_counter++;
  return op;
}

// CB xx and ED xx are one instruction whatever xx is: the interrupt may follow it.
int prefix_cb() {
  const uint8_t op = fetch_behind_prefix();
  z80.opcode_byte = 0xCB;
  return cb_table[op]();
}
int prefix_ed() {
  const uint8_t op = fetch_behind_prefix();
  z80.opcode_byte = 0xED;
  return ed_table[op]();
}
int prefix_dd() { return ix_table[fetch_behind_prefix()](); }
int prefix_fd() { return iy_table[fetch_behind_prefix()](); }

// DD CB d op / FD CB d op: the displacement and the operation byte are no M1 cycles.
template <int X>
int prefix_index_cb() {
  uint16_t address = uint16_t(rw(hl_word(X)) + int8_t(fetch8()));
  uint8_t op = fetch8();
  z80.memptr = address;
  return xcb_table[op](address);
}

// ---- Unprefixed and DD/FD instructions ---------------------------------------------------
template <int op, int X>
int execute() {
  constexpr int x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
  constexpr bool IDX = X != NOX;
  constexpr int HLW = hl_word(X);

  if constexpr (IDX && !has_index_form(op)) {
    // A prefix with no effect on the next byte runs alone; the byte executes next, and
    // no interrupt comes between them.
    z80.opcode_byte = X == IXM ? 0xDD : 0xFD;
    PC()--;
    z80.refresh_counter--;
    constexpr bool before_inc_dec_pair = (op & 0xC7) == 0x03 && p != 2;
    return before_inc_dec_pair ? timing(0, -2) : timing(4);
  } else if constexpr (x == 0) {
    if constexpr (z == 0) {
      if constexpr (y == 0) {  // NOP
        return timing(4);
      } else if constexpr (y == 1) {  // EX AF,AF'
        uint16_t t = rw(W::AF);
        rw(W::AF) = rw(W::AF2);
        rw(W::AF2) = t;
        return timing(4);
      } else if constexpr (y == 2) {  // DJNZ e
        int8_t e = int8_t(fetch8());
        if (--rb(B)) {
          PC() = uint16_t(PC() + e);
          z80.memptr = PC();
          return timing(13, 2);
        }
        return timing(8, 3);
      } else {  // JR e, JR cc,e
        int8_t e = int8_t(fetch8());
        if (y == 3 || condition<y - 4>()) {
          PC() = uint16_t(PC() + e);
          z80.memptr = PC();
          return timing(12);
        }
        return timing(7);
      }
    } else if constexpr (z == 1) {
      if constexpr (q == 0) {  // LD rr,nn
        rw(pair(p, X)) = fetch16();
        return IDX ? timing(14) : timing(10, 1);
      } else {  // ADD HL,rr
        add16<HLW>(rw(pair(p, X)));
        return IDX ? timing(15) : timing(11);
      }
    } else if constexpr (z == 2) {
      if constexpr (p == 0 || p == 1) {
        uint16_t addr = rw(p == 0 ? W::BC : W::DE);
        if constexpr (q == 0) {  // LD (BC),A / LD (DE),A
          wr8(addr, reg_a());
          z80.memptr = uint16_t(((addr + 1) & 0xFF) | reg_a() << 8);
        } else {  // LD A,(BC) / LD A,(DE)
          reg_a() = rd8(addr);
          z80.memptr = uint16_t(addr + 1);
        }
        return timing(7);
      } else if constexpr (p == 2) {  // LD (nn),HL / LD HL,(nn)
        uint16_t nn = fetch16();
        if constexpr (q == 0) wr16(nn, rw(HLW));
        else rw(HLW) = rd16(nn);
        z80.memptr = uint16_t(nn + 1);
        return IDX ? timing(20, 1) : timing(16, 3);
      } else {  // LD (nn),A / LD A,(nn)
        uint16_t nn = fetch16();
        if constexpr (q == 0) {
          wr8(nn, reg_a());
          z80.memptr = uint16_t(((nn + 1) & 0xFF) | reg_a() << 8);
        } else {
          reg_a() = rd8(nn);
          z80.memptr = uint16_t(nn + 1);
        }
        return timing(13, 2);
      }
    } else if constexpr (z == 3) {  // INC rr / DEC rr
      rw(pair(p, X)) = uint16_t(rw(pair(p, X)) + (q == 0 ? 1 : -1));
      return IDX ? timing(6, -4) : timing(4, -2);
    } else if constexpr (z == 4 || z == 5) {  // INC r / DEC r
      if constexpr (y == 6) {
        uint16_t addr = memory_operand<X>();
        uint8_t v = rd8(addr);
        wr8(addr, z == 4 ? inc8(v) : dec8(v));
        return IDX ? timing(23) : timing(11);
      } else {
        uint8_t& r = rb(reg8(y, X));
        r = z == 4 ? inc8(r) : dec8(r);
        if constexpr (!IDX) return timing(4);
        else return (z == 4 && y == 4) ? timing(4, 4) : timing(8);
      }
    } else if constexpr (z == 6) {  // LD r,n
      if constexpr (y == 6) {
        uint16_t addr = memory_operand<X>();
        wr8(addr, fetch8());
        return IDX ? timing(19, 2) : timing(10, 1);
      } else {
        rb(reg8(y, X)) = fetch8();
        return IDX ? timing(11) : timing(7);
      }
    } else {  // z == 7: accumulator and flag operations
      uint8_t a = reg_a(), f = reg_f();
      if constexpr (y == 0) {  // RLCA
        a = uint8_t(a << 1 | a >> 7);
        reg_f() = uint8_t((f & (FS | FZ | FP)) | (a & (FY | FX | FC)));
      } else if constexpr (y == 1) {  // RRCA
        uint8_t c = a & 1;
        a = uint8_t(a >> 1 | c << 7);
        reg_f() = uint8_t((f & (FS | FZ | FP)) | (a & (FY | FX)) | c);
      } else if constexpr (y == 2) {  // RLA
        uint8_t c = a >> 7;
        a = uint8_t(a << 1 | (f & FC));
        reg_f() = uint8_t((f & (FS | FZ | FP)) | (a & (FY | FX)) | c);
      } else if constexpr (y == 3) {  // RRA
        uint8_t c = a & 1;
        a = uint8_t(a >> 1 | (f & FC) << 7);
        reg_f() = uint8_t((f & (FS | FZ | FP)) | (a & (FY | FX)) | c);
      } else if constexpr (y == 4) {  // DAA
        uint16_t r = flags.daa[(f & FH) << 6 | (f & (FN | FC)) << 8 | a];
        a = uint8_t(r >> 8);
        reg_f() = uint8_t(r);
      } else if constexpr (y == 5) {  // CPL
        a = uint8_t(~a);
        reg_f() = uint8_t((f & (FS | FZ | FP | FC)) | FH | FN | (a & (FY | FX)));
      } else if constexpr (y == 6) {  // SCF
        reg_f() = uint8_t((f & (FS | FZ | FP)) | ((f | a) & (FY | FX)) | FC);
      } else {  // CCF
        reg_f() = uint8_t((f & (FS | FZ | FP)) | ((f | a) & (FY | FX)) | ((f & FC) ? FH : FC));
      }
      reg_a() = a;
      return timing(4);
    }
  } else if constexpr (x == 1) {
    if constexpr (op == 0x76) {  // HALT
      if (!rb(IFF1)) {
        z80_set_error(2, z80.instr_address);
        request_stop(0x0001);
      } else {
        z80.halted = 1;
        PC()--;
      }
      return timing(4);
    } else if constexpr (y == 6) {  // LD (HL),r: with (X+d) the register is the real H/L
      uint16_t addr = memory_operand<X>();
      wr8(addr, rb(reg8(z, NOX)));
      return IDX ? timing(19) : timing(7);
    } else if constexpr (z == 6) {  // LD r,(HL)
      uint16_t addr = memory_operand<X>();
      rb(reg8(y, NOX)) = rd8(addr);
      return IDX ? timing(19) : timing(7);
    } else {
      rb(reg8(y, X)) = rb(reg8(z, X));
      return IDX ? timing(8) : timing(4);
    }
  } else if constexpr (x == 2) {  // ALU A,r
    if constexpr (z == 6) {
      alu<y>(rd8(memory_operand<X>()));
      return IDX ? timing(19) : timing(7);
    } else {
      alu<y>(rb(reg8(z, X)));
      return IDX ? timing(8) : timing(4);
    }
  } else {  // x == 3
    if constexpr (z == 0) {  // RET cc
      if (condition<y>()) {
        PC() = pop16();
        z80.memptr = PC();
        return y == 0 ? timing(11, 5) : timing(11, 2);
      }
      return y == 1 ? timing(3, -4) : timing(3, -2);
    } else if constexpr (z == 1) {
      if constexpr (q == 0) {  // POP rr
        rw(pair_af(p, X)) = pop16();
        return IDX ? timing(14) : timing(10, 1);
      } else if constexpr (p == 0) {  // RET
        PC() = pop16();
        z80.memptr = PC();
        return timing(10, 1);
      } else if constexpr (p == 1) {  // EXX
        for (int w : {W::BC, W::DE, W::HL}) {
          uint16_t t = rw(w);
          rw(w) = rw(w + 11);
          rw(w + 11) = t;
        }
        return timing(4);
      } else if constexpr (p == 2) {  // JP (HL)
        PC() = rw(HLW);
        return IDX ? timing(8) : timing(4);
      } else {  // LD SP,HL
        SP() = rw(HLW);
        return IDX ? timing(6, -4) : timing(4, -2);
      }
    } else if constexpr (z == 2) {  // JP cc,nn
      uint16_t nn = fetch16();
      z80.memptr = nn;
      if (condition<y>()) PC() = nn;
      return timing(10, 1);
    } else if constexpr (z == 3) {
      if constexpr (y == 0) {  // JP nn
        PC() = fetch16();
        z80.memptr = PC();
        return timing(10, 1);
      } else if constexpr (y == 1) {
        if constexpr (IDX) return prefix_index_cb<X>();
        else return prefix_cb();
      } else if constexpr (y == 2) {  // OUT (n),A
        uint8_t n = fetch8();
        record_out(uint16_t(reg_a() << 8 | n), reg_a(), 0);
        z80.memptr = uint16_t(((n + 1) & 0xFF) | reg_a() << 8);
        return timing(11);
      } else if constexpr (y == 3) {  // IN A,(n)
        uint16_t port = uint16_t(reg_a() << 8 | fetch8());
        record_in(port, &rb(A), 0);
        z80.memptr = uint16_t(port + 1);
        return timing(11);
      } else if constexpr (y == 4) {  // EX (SP),HL
        uint16_t v = rd16(SP());
        wr16(SP(), rw(HLW));
        rw(HLW) = v;
        z80.memptr = v;
        return IDX ? timing(23, -2) : timing(19, -2);
      } else if constexpr (y == 5) {  // EX DE,HL
        uint16_t t = rw(W::DE);
        rw(W::DE) = rw(W::HL);
        rw(W::HL) = t;
        return timing(4);
      } else if constexpr (y == 6) {  // DI
        rb(IFF1) = rb(IFF2) = 0;
        return timing(4);
      } else {  // EI: the flip-flops are set after the instruction
        z80.ei_pending = 1;
        return timing(4);
      }
    } else if constexpr (z == 4) {  // CALL cc,nn
      uint16_t nn = fetch16();
      z80.memptr = nn;
      if (condition<y>()) {
        push16(PC());
        PC() = nn;
        return timing(17);
      }
      return timing(10, 1);
    } else if constexpr (z == 5) {
      if constexpr (q == 0) {  // PUSH rr
        push16(rw(pair_af(p, X)));
        return IDX ? timing(15, 2) : timing(11, 4);
      } else if constexpr (p == 0) {  // CALL nn
        uint16_t nn = fetch16();
        z80.memptr = nn;
        push16(PC());
        PC() = nn;
        return timing(17);
      } else if constexpr (p == 1) {
        return prefix_dd();
      } else if constexpr (p == 2) {
        return prefix_ed();
      } else {
        return prefix_fd();
      }
    } else if constexpr (z == 6) {  // ALU A,n
      alu<y>(fetch8());
      return timing(7);
    } else {  // RST
      push16(PC());
      PC() = uint16_t(y * 8);
      z80.memptr = PC();
      return timing(11, 4);
    }
  }
}

// ---- CB instructions ------------------------------------------------------------------
template <int op>
int execute_cb() {
  constexpr int group = op >> 6, kind = (op >> 3) & 7, z = op & 7;
  if constexpr (z != 6) {
    uint8_t& r = rb(reg8(z, NOX));
    if constexpr (group == 1) bit_test<kind>(r, r);
    else r = cb_operate<op>(r);
    return timing(8);
  } else {
    uint16_t addr = rw(W::HL);
    uint8_t v = rd8(addr);
    if constexpr (group == 1) {
      bit_test<kind>(v, uint8_t(z80.memptr >> 8));
      return timing(12);
    } else {
      wr8(addr, cb_operate<op>(v));
      return timing(15);
    }
  }
}

// DD CB d op / FD CB d op at the computed address; results other than BIT's are also
// copied into the register of the operation's low three bits (the real H and L).
template <int op>
int execute_xcb(uint16_t address) {
  constexpr int group = op >> 6, kind = (op >> 3) & 7, z = op & 7;
  uint8_t v = rd8(address);
  if constexpr (group == 1) {
    bit_test<kind>(v, uint8_t(address >> 8));
    return timing(20, 1);
  } else {
    uint8_t r = cb_operate<op>(v);
    wr8(address, r);
    if constexpr (z != 6) rb(reg8(z, NOX)) = r;
    return timing(23, 2);
  }
}

// ---- ED instructions ------------------------------------------------------------------
// Block transfer, compare, input and output (LDI... OTDR): kind 0 LD, 1 CP, 2 IN, 3 OUT.
template <int kind, bool down, bool repeat>
int block() {
  const int step = down ? -1 : 1;
  uint16_t& hl = rw(W::HL);
  uint16_t& bc = rw(W::BC);
  if constexpr (kind == 0) {
    uint8_t v = rd8(hl);
    wr8(rw(W::DE), v);
    hl = uint16_t(hl + step);
    rw(W::DE) = uint16_t(rw(W::DE) + step);
    bc--;
    unsigned n = reg_a() + v;
    reg_f() = uint8_t((reg_f() & (FS | FZ | FC)) | (bc ? FP : 0) | (n & FX) | ((n & 0x02) << 4));
    if (repeat && bc) {
      PC() = uint16_t(PC() - 2);
      z80.memptr = uint16_t(PC() + 1);
      return timing(21, -1);
    }
    return timing(16, -1);
  } else if constexpr (kind == 1) {
    uint8_t v = rd8(hl);
    int r = reg_a() - v;
    uint8_t h = uint8_t((reg_a() ^ v ^ r) & FH);
    hl = uint16_t(hl + step);
    bc--;
    unsigned n = unsigned(r - (h ? 1 : 0));
    reg_f() = uint8_t((reg_f() & FC) | FN | (flags.sz53[r & 0xFF] & (FS | FZ)) | h | (bc ? FP : 0) | (n & FX) |
                  ((n & 0x02) << 4));
    z80.memptr = uint16_t(z80.memptr + step);
    if (repeat && bc && r != 0) {
      PC() = uint16_t(PC() - 2);
      z80.memptr = uint16_t(PC() + 1);
      return timing(20, -1);
    }
    return timing(16);
  } else if constexpr (kind == 2) {
    // The byte arrives when the clock performs the input; the flags are completed then.
    z80.memptr = uint16_t(bc + step);
    record_in(bc, nullptr, 2);
    z80.pending_in.address = hl;
    z80.pending_in.block_c = uint8_t(rb(C) + step);
    hl = uint16_t(hl + step);
    uint8_t b = --rb(B);
    z80.pending_in.block_b = b;
    reg_f() = uint8_t(flags.sz53[b] | FN);
    if (repeat && b) {
      PC() = uint16_t(PC() - 2);
      return timing(21);
    }
    return timing(16, 1);
  } else {
    uint8_t b = --rb(B);
    uint8_t v = rd8(hl);
    record_out(bc, v, 1);
    z80.memptr = uint16_t(bc + step);
    hl = uint16_t(hl + step);
    unsigned k = v + rb(L);
    reg_f() = uint8_t(((v & 0x80) ? FN : 0) | (k > 0xFF ? (FH | FC) : 0) |
                  (even_parity((k & 7) ^ b) ? FP : 0) | flags.sz53[b]);
    if (repeat && b) {
      PC() = uint16_t(PC() - 2);
      return timing(21);
    }
    return timing(16, 1);
  }
}

template <int op>
int execute_ed() {
  constexpr int x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
  if constexpr (x == 1) {
    if constexpr (z == 0) {  // IN r,(C); ED 70 sets the flags only
      uint16_t bc = rw(W::BC);
      record_in(bc, y == 6 ? &z80.scratch : &rb(reg8(y, NOX)), 1);
      z80.memptr = uint16_t(bc + 1);
      return timing(12, 1);
    } else if constexpr (z == 1) {  // OUT (C),r; ED 71 writes 0
      uint16_t bc = rw(W::BC);
      record_out(bc, y == 6 ? 0 : rb(reg8(y, NOX)), 1);
      z80.memptr = uint16_t(bc + 1);
      return timing(12, 1);
    } else if constexpr (z == 2) {  // SBC HL,rr / ADC HL,rr
      if constexpr (q == 0) sbc16(rw(pair(p, NOX)));
      else adc16(rw(pair(p, NOX)));
      return timing(15);
    } else if constexpr (z == 3) {  // LD (nn),rr / LD rr,(nn)
      uint16_t nn = fetch16();
      if constexpr (q == 0) wr16(nn, rw(pair(p, NOX)));
      else rw(pair(p, NOX)) = rd16(nn);
      z80.memptr = uint16_t(nn + 1);
      if constexpr (p == 2) return q == 0 ? timing(16, 8) : timing(16, 5);
      else return timing(20, 1);
    } else if constexpr (z == 4) {  // NEG
      uint8_t a = reg_a();
      reg_a() = 0;
      alu<2>(a);
      return timing(8);
    } else if constexpr (z == 5) {  // RETN / RETI
      rb(IFF1) = rb(IFF2);
      PC() = pop16();
      z80.memptr = PC();
      return timing(14);
    } else if constexpr (z == 6) {  // IM 0/1/2 (and their copies)
      constexpr int mode[8] = {0, 0, 1, 2, 0, 0, 1, 2};
      rw(W::IM) = uint16_t(mode[y]);
      return timing(8);
    } else {
      if constexpr (y == 0) {  // LD I,A
        rb(I) = reg_a();
        return timing(5, -4);
      } else if constexpr (y == 1) {  // LD R,A
        z80.refresh_counter = reg_a();
        rb(R) = reg_a() & 0x80;
        return timing(5, -4);
      } else if constexpr (y == 2 || y == 3) {  // LD A,I / LD A,R
        reg_a() = y == 2 ? rb(I) : z80_current_r();
        reg_f() = uint8_t((reg_f() & FC) | flags.sz53[reg_a()] | rb(IFF2));
        z80.ld_a_ir_flag = 1;
        return timing(5, -4);
      } else if constexpr (y == 4 || y == 5) {  // RRD / RLD
        uint16_t hl = rw(W::HL);
        uint8_t m = rd8(hl), a = reg_a();
        if constexpr (y == 4) {
          wr8(hl, uint8_t(a << 4 | m >> 4));
          reg_a() = uint8_t((a & 0xF0) | (m & 0x0F));
        } else {
          wr8(hl, uint8_t(m << 4 | (a & 0x0F)));
          reg_a() = uint8_t((a & 0xF0) | m >> 4);
        }
        reg_f() = uint8_t((reg_f() & FC) | flags.sz53p[reg_a()]);
        z80.memptr = uint16_t(hl + 1);
        return timing(18);
      } else {
        // ED 77 and ED 7F: the two holes of the group do nothing on the Z80.
        return timing(8);
      }
    }
  } else if constexpr (x == 2 && z <= 3 && y >= 4) {
    return block<z, (y & 1) != 0, (y & 2) != 0>();
  } else if constexpr (op >= 0xF9) {
    // ROM trap: only from code whose bytes read differently from the RAM beneath it.
    uint16_t at = uint16_t(PC() - 2);
    if (z80.rom_trap_enabled &&
        read_bank[at >> 14][at & 0x3FFF] != write_bank[at >> 14][at & 0x3FFF]) {
      uint8_t n = fetch8();
      settle_clock();
      clock_credit_us = 0;  // the trap may change anything
      bus.trap(op << 8 | n);
    }
    return timing(8);
  } else {
    return timing(8);
  }
}

// ---- Tables ------------------------------------------------------------------------
template <int X, std::size_t... I>
constexpr std::array<OpFn, 256> make_table(std::index_sequence<I...>) {
  return {{&execute<int(I), X>...}};
}
template <std::size_t... I>
constexpr std::array<OpFn, 256> make_cb_table(std::index_sequence<I...>) {
  return {{&execute_cb<int(I)>...}};
}
template <std::size_t... I>
constexpr std::array<OpFn, 256> make_ed_table(std::index_sequence<I...>) {
  return {{&execute_ed<int(I)>...}};
}
template <std::size_t... I>
constexpr std::array<IndexedCbFn, 256> make_xcb_table(std::index_sequence<I...>) {
  return {{&execute_xcb<int(I)>...}};
}

constexpr auto all256 = std::make_index_sequence<256>{};
const std::array<OpFn, 256> cb_table = make_cb_table(all256);
const std::array<OpFn, 256> ed_table = make_ed_table(all256);
const std::array<OpFn, 256> ix_table = make_table<IXM>(all256);
const std::array<OpFn, 256> iy_table = make_table<IYM>(all256);
const std::array<IndexedCbFn, 256> xcb_table = make_xcb_table(all256);

}  // namespace

const std::array<OpFn, 256> main_table = make_table<NOX>(all256);

}  // namespace z80core
