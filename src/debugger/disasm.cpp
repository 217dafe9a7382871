#include "debugger/disasm.h"

#include <cstdio>
#include <ostream>

#include "z80/z80_bus.h"

namespace {
DisasmState disasm;
}  // namespace

const DisasmState& disasm_result() { return disasm; }

namespace {

const char* const HEX = "&";

const char* const reg8_names[3][8] = {
    {"B", "C", "D", "E", "H", "L", "(HL)", "A"},
    {"B", "C", "D", "E", "XH", "XL", "(IX+", "A"},
    {"B", "C", "D", "E", "YH", "YL", "(IY+", "A"},
};
const char* const pair_names[3][4] = {
    {"BC", "DE", "HL", "SP"}, {"BC", "DE", "IX", "SP"}, {"BC", "DE", "IY", "SP"}};
const char* const conditions[8] = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
const char* const alu_names[8] = {"ADD A,", "ADC A,", "SUB ", "SBC A,", "AND ", "XOR ", "OR ", "CP "};
const char* const shift_names[8] = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLS*", "SRL"};
const char* const accumulator_ops[8] = {"RLCA", "RRCA", "RLA", "RRA", "DAA", "CPL", "SCF", "CCF"};
const char* const block_names[4][4] = {{"LDI", "CPI", "INI", "OUTI"},
                                       {"LDD", "CPD", "IND", "OUTD"},
                                       {"LDIR", "CPIR", "INIR", "OTIR"},
                                       {"LDDR", "CPDR", "INDR", "OTDR"}};

uint8_t next_byte() {
  uint16_t a = disasm.next;
  disasm.next = uint16_t(a + 1);
  disasm.length++;
  return read_bank[a >> 14][a & 0x3FFF];
}
uint16_t next_word() {
  uint8_t lo = next_byte();
  return uint16_t(lo | next_byte() << 8);
}
uint16_t relative_target() {
  int8_t e = int8_t(next_byte());
  return uint16_t(disasm.next + e);
}

template <typename... Args>
void out(const char* format, Args... args) {
  std::snprintf(disasm.text, sizeof disasm.text, format, args...);
}
// A text without operands.
void out(const char* text) { std::snprintf(disasm.text, sizeof disasm.text, "%s", text); }

// Index mode of the current instruction: 0 HL, 1 IX, 2 IY.
int index_mode() { return disasm.prefix == 2 ? 1 : disasm.prefix == 3 ? 2 : 0; }

// Name of 8-bit operand r; the memory operand of DD/FD reads its displacement now.
// `plain` gives H and L instead of XH and XL (beside an indexed memory operand).
const char* reg8(int r, bool plain = false) {
  int m = index_mode();
  if (r == 6 && m != 0) {
    uint8_t d = next_byte();
    std::snprintf(disasm.operand, sizeof disasm.operand, "%s%s%02X)", reg8_names[m][6], HEX, d);
    return disasm.operand;
  }
  return reg8_names[plain ? 0 : m][r];
}
const char* pair(int p) { return pair_names[index_mode()][p]; }

void decode_cb() {
  uint8_t op = next_byte();
  disasm.opcode = op;
  int x = op >> 6, y = (op >> 3) & 7, z = op & 7;
  const char* r = reg8_names[0][z];
  if (x == 0) out("%s %s", shift_names[y], r);
  else if (x == 1) out("BIT %01X,%s", y, r);
  else if (x == 2) out("RES %01X,%s", y, r);
  else out("SET %01X,%s", y, r);
}

// DD CB d op / FD CB d op: the operation on the indexed operand, with the undocumented
// copy of the result into a register shown as " & LD r".
void decode_index_cb() {
  const char* operand = reg8(6);
  uint8_t op = next_byte();
  disasm.opcode = op;
  int x = op >> 6, y = (op >> 3) & 7, z = op & 7;
  char main[32];
  if (x == 0) std::snprintf(main, sizeof main, "%s %s", shift_names[y], operand);
  else if (x == 1) std::snprintf(main, sizeof main, "BIT %01X,%s", y, operand);
  else if (x == 2) std::snprintf(main, sizeof main, "RES %01X,%s", y, operand);
  else std::snprintf(main, sizeof main, "SET %01X,%s", y, operand);
  if (x != 1 && z != 6) std::snprintf(disasm.text, sizeof disasm.text, "%s & LD %s", main, reg8_names[0][z]);
  else std::snprintf(disasm.text, sizeof disasm.text, "%s", main);
}

void decode_ed() {
  uint8_t op = next_byte();
  disasm.opcode = op;
  int x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
  if (x == 1) {
    switch (z) {
      case 0:
        if (y == 6) out("*IN X,(C)");
        else out("IN %s,(C)", reg8_names[0][y]);
        return;
      case 1:
        if (y == 6) out("*OUT (C),0");
        else out("OUT (C),%s", reg8_names[0][y]);
        return;
      case 2:
        out(q ? "ADC HL,%s" : "SBC HL,%s", pair_names[0][p]);
        return;
      case 3: {
        uint16_t nn = next_word();
        if (q) out("LD %s,(%s%04hX)", pair_names[0][p], HEX, nn);
        else out("LD (%s%04hX),%s", HEX, nn, pair_names[0][p]);
        return;
      }
      case 4:
        out(y == 0 ? "NEG" : "*NEG");
        return;
      case 5:
        if (y == 0) out("RETN");
        else if (y == 1) out("RETI");
        else out((op & 0x0F) == 0x05 ? "*RETN" : "*RETI");
        return;
      case 6: {
        static const char* const modes[8] = {"IM 0", "*IM 0", "IM 1", "IM 2", "*IM 0", "*IM 0", "*IM 1", "*IM 2"};
        out("%s", modes[y]);
        return;
      }
      default: {
        static const char* const names[8] = {"LD I,A", "LD R,A", "LD A,I", "LD A,R", "RRD", "RLD", nullptr, nullptr};
        if (names[y]) out("%s", names[y]);
        else out("unknown op");
        return;
      }
    }
  }
  if (x == 2 && z <= 3 && y >= 4) {
    out("%s", block_names[y - 4][z]);
    return;
  }
  if (op >= 0xF9) {
    out("USER %s%2X", HEX, op);
    return;
  }
  out("unknown op");
}

void decode_main(uint8_t op) {
  int x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
  switch (x) {
    case 0:
      switch (z) {
        case 0:
          if (y == 0) out("NOP");
          else if (y == 1) out("EX AF,AF'");
          else if (y == 2) out("DJNZ %s%04hX", HEX, relative_target());
          else if (y == 3) out("JR %s%04hX", HEX, relative_target());
          else {
            static const char* const formats[4] = {"JR NZ,%s%04hX", "JR Z,%s%04hX", "JR NC,%s%04hX", "JR C,%s%04hX"};
            out(formats[y - 4], HEX, relative_target());
          }
          return;
        case 1:
          if (q == 0) {
            uint16_t nn = next_word();
            out("LD %s,%s%04hX", pair(p), HEX, nn);
          } else {
            out("ADD %s,%s", pair(2), pair(p));
          }
          return;
        case 2:
          if (p == 0) out(q ? "LD A,(BC)" : "LD (BC),A");
          else if (p == 1) out(q ? "LD A,(DE)" : "LD (DE),A");
          else {
            uint16_t nn = next_word();
            if (p == 2) {
              if (q) out("LD %s,(%s%04hX)", pair(2), HEX, nn);
              else out("LD (%s%04hX),%s", HEX, nn, pair(2));
            } else {
              if (q) out("LD A,(%s%04hX)", HEX, nn);
              else out("LD (%s%04hX),A", HEX, nn);
            }
          }
          return;
        case 3:
          out(q ? "DEC %s" : "INC %s", pair(p));
          return;
        case 4:
          out("INC %s", reg8(y));
          return;
        case 5:
          out("DEC %s", reg8(y));
          return;
        case 6: {
          const char* r = reg8(y);
          out("LD %s,%s%02X", r, HEX, next_byte());
          return;
        }
        default:
          out("%s", accumulator_ops[y]);
          return;
      }
    case 1:
      if (op == 0x76) {
        out("HALT");
      } else {
        // Beside (IX+d) the other operand is the real H or L.
        bool indexed = y == 6 || z == 6;
        const char* dst = reg8(y, indexed);
        const char* src = reg8(z, indexed);
        out("LD %s,%s", dst, src);
      }
      return;
    case 2:
      out("%s%s", alu_names[y], reg8(z));
      return;
    default:
      switch (z) {
        case 0:
          out("RET %s", conditions[y]);
          return;
        case 1:
          if (q == 0) out("POP %s", p == 3 ? "AF" : pair(p));
          else if (p == 0) out("RET");
          else if (p == 1) out("EXX");
          else if (p == 2) out("JP (%s)", pair(2));
          else out("LD SP,%s", pair(2));
          return;
        case 2: {
          uint16_t nn = next_word();
          out("JP %s,%s%04hX", conditions[y], HEX, nn);
          return;
        }
        case 3:
          switch (y) {
            case 0: out("JP %s%04hX", HEX, next_word()); return;
            case 1:
              if (disasm.prefix >= 2) decode_index_cb();
              else decode_cb();
              return;
            case 2: out("OUT (%s%02X),A", HEX, next_byte()); return;
            case 3: out("IN A,(%s%02X)", HEX, next_byte()); return;
            case 4: out("EX (SP),%s", pair(2)); return;
            case 5: out("EX DE,HL"); return;
            case 6: out("DI"); return;
            default: out("EI"); return;
          }
        case 4: {
          uint16_t nn = next_word();
          out("CALL %s,%s%04hX", conditions[y], HEX, nn);
          return;
        }
        case 5:
          if (q == 0) out("PUSH %s", p == 3 ? "AF" : pair(p));
          else out("CALL %s%04hX", HEX, next_word());
          return;
        case 6:
          out("%s%s%02X", alu_names[y], HEX, next_byte());
          return;
        default:
          out("RST %s%02X", HEX, y * 8);
          return;
      }
  }
}

}  // namespace

int disassemble(uint16_t address) {
  disasm.next = address;
  disasm.length = 0;
  disasm.prefix = 0;
  disasm.text[0] = 0;
  uint8_t op = next_byte();
  disasm.opcode = op;
  if (op == 0xED) {
    disasm.prefix = 1;
    decode_ed();
  } else if (op == 0xDD || op == 0xFD) {
    disasm.prefix = op == 0xDD ? 2 : 3;
    uint16_t at = disasm.next;
    uint8_t behind = read_bank[at >> 14][at & 0x3FFF];
    if (behind == 0xED || behind == 0xDD || behind == 0xFD) {
      // The prefix runs alone; the byte behind it begins the next instruction.
      out("[%02X]-prefix", behind);
    } else {
      op = next_byte();
      disasm.opcode = op;
      decode_main(op);
    }
  } else {
    decode_main(op);
  }
  return disasm.length;
}

void print_disassembly(std::ostream& stream, uint16_t address, int length) {
  char line[96];
  int n = std::snprintf(line, sizeof line, "%04X : ", address);
  for (int i = 0; i < 5; i++) {
    uint16_t a = uint16_t(address + i);
    if (i < length) n += std::snprintf(line + n, sizeof line - n, "%02X ", read_bank[a >> 14][a & 0x3FFF]);
    else n += std::snprintf(line + n, sizeof line - n, "   ");
  }
  stream << line << disasm.text << '\n';
}
