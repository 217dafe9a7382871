// The disassembler's length of every instruction form agrees with the number of bytes
// the processor itself consumes for it, and every form has a text.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "debugger/disasm.h"
#include "test_bus.h"
#include "z80/z80.h"

namespace {
constexpr uint16_t START = 0x8000;

bool is_prefix(uint8_t b) { return b == 0xDD || b == 0xFD || b == 0xED; }

// Transfers whose target does not reveal how many bytes were read: JP nn, RET, JP (HL),
// RETN/RETI and their copies.
bool target_hides_length(const std::vector<uint8_t>& bytes) {
  size_t i = 0;
  while (i + 1 < bytes.size() && (bytes[i] == 0xDD || bytes[i] == 0xFD)) i++;
  uint8_t op = bytes[i];
  if (op == 0xED) return (bytes[i + 1] & 0xC7) == 0x45;
  return op == 0xC3 || op == 0xC9 || op == 0xE9;
}

// Bytes the core consumes for the instruction at START: a lone DD/FD prefix and the
// instruction behind it count together, as the disassembler shows them as one.
int core_length(const std::vector<uint8_t>& bytes) {
  testbus::reset();
  for (size_t i = 0; i < bytes.size(); i++) testbus::bus.ram[START + i] = bytes[i];
  size_t first = 0;
  while (first + 1 < bytes.size() && (bytes[first] == 0xDD || bytes[first] == 0xFD)) first++;
  // Conditions (field y) made false, so that no branch is taken: Z, C, PE and M fail with
  // flags clear, the others with flags set. Only branches depend on the flags.
  z80_reg8(z80r::F) = ((bytes[first] >> 3) & 1) ? 0x00 : 0xFF;
  z80_reg16(z80w::PC) = START;
  z80_reg16(z80w::SP) = 0xC000;
  // Block instructions finish (BC = 1 for LDIR and CPIR, B = 1 for INIR and OTIR); DJNZ
  // falls through.
  bool counts_bc = bytes[first] == 0xED && (bytes[first + 1] & 0xE6) == 0xA0;
  z80_reg16(z80w::BC) = counts_bc ? 0x0001 : 0x0100;
  z80_reg16(z80w::HL) = 0x9000;
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  for (int step = 0; step < 2; step++) {
    testbus::run_instructions(1);
    uint16_t pc = z80_reg16(z80w::PC);
    bool lone_prefix = step == 0 && pc == START + 1 && (bytes[0] == 0xDD || bytes[0] == 0xFD) &&
                       !is_prefix(bytes[1]);
    if (lone_prefix) continue;
    uint8_t op = bytes[first];
    bool call = op == 0xCD || (op & 0xC7) == 0xC7;
    if (call) {  // CALL or RST: the return address tells
      return (testbus::bus.ram[0xBFFE] | testbus::bus.ram[0xBFFF] << 8) - START;
    }
    if (z80.halted) pc++;
    return pc - START;
  }
  return -1;
}

void check_form(std::vector<uint8_t> bytes) {
  while (bytes.size() < 4) bytes.push_back(0);
  bytes.push_back(0);
  int core = core_length(bytes);
  // The disassembler reads the same memory the core ran on (the core may have written
  // to it, but never at START..START+4 with these register values).
  int length = disassemble(START);
  std::string where = testing::PrintToString(bytes);
  ASSERT_GE(length, 1) << where;
  ASSERT_LE(length, 4) << where;
  EXPECT_GT(std::strlen(disasm_result().text), 0u) << where;
  if (!target_hides_length(bytes)) {
    EXPECT_EQ(length, core) << where << " " << disasm_result().text;
  }
}
}  // namespace

TEST(Z80DisasmRoundTrip, EveryFormHasTheCoresLength) {
  for (int op = 0; op < 256; op++) {
    if (op != 0xCB && !is_prefix(uint8_t(op))) check_form({uint8_t(op)});
    check_form({0xCB, uint8_t(op)});
    check_form({0xED, uint8_t(op)});
    check_form({0xDD, uint8_t(op)});
    check_form({0xFD, uint8_t(op)});
    check_form({0xDD, 0xCB, 0x01, uint8_t(op)});
    check_form({0xFD, 0xCB, 0x01, uint8_t(op)});
  }
}
