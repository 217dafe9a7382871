// Every opcode of every prefix set costs exactly the CPC's microseconds, taken and not
// taken, and the instructions whose last microsecond overlaps a following interrupt
// acknowledge hand on a negative adjustment. The clock's rounding is
// µs = (count + |adjustment| + 3) / 4.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_bus.h"
#include "z80/z80.h"

namespace {

// The unprefixed table in µs; "a/b" is condition false / true, a star a negative
// adjustment, "--" a prefix.
const char* const main_table[16] = {
    "1 3 2 2* 1 1 2 1 1 3 2 2* 1 1 2 1",
    "3/4 3 2 2* 1 1 2 1 3 3 2 2* 1 1 2 1",
    "2/3 3 5 2* 1 1 2 1 2/3 3 5 2* 1 1 2 1",
    "2/3 3 4 2* 3 3 3 1 2/3 3 4 2* 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "2 2 2 2 2 2 1 2 1 1 1 1 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",
    "2*/4 3 3 3 3/5 4 2 4 2*/4 3 3 -- 3/5 5 2 4",
    "2*/4 3 3 3 3/5 4 2 4 2*/4 1 3 3 3/5 -- 2 4",
    "2*/4 3 3 6* 3/5 4 2 4 2*/4 1 3 1 3/5 -- 2 4",
    "2*/4 3 3 1 3/5 4 2 4 2*/4 2* 3 1 3/5 -- 2 4",
};

// DD/FD followed by each code; 1 is the prefix alone (a no-operation; "1*" before INC/DEC
// of BC, DE and SP it is handed on with a negative adjustment).
const char* const index_table[16] = {
    "1 1 1 1* 1 1 1 1 1 4 1 1* 1 1 1 1",
    "1 1 1 1* 1 1 1 1 1 4 1 1* 1 1 1 1",
    "1 4 6 3* 2 2 3 1 1 4 6 3* 2 2 3 1",
    "1 1 1 1* 6 6 6 1 1 4 1 1* 1 1 1 1",
    "1 1 1 1 2 2 5 1 1 1 1 1 2 2 5 1",
    "1 1 1 1 2 2 5 1 1 1 1 1 2 2 5 1",
    "2 2 2 2 2 2 5 2 2 2 2 2 2 2 5 2",
    "5 5 5 5 5 5 1 5 1 1 1 1 2 2 5 1",
    "1 1 1 1 2 2 5 1 1 1 1 1 2 2 5 1",
    "1 1 1 1 2 2 5 1 1 1 1 1 2 2 5 1",
    "1 1 1 1 2 2 5 1 1 1 1 1 2 2 5 1",
    "1 1 1 1 2 2 5 1 1 1 1 1 2 2 5 1",
    "1 1 1 1 1 1 1 1 1 1 1 -- 1 1 1 1",
    "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1",
    "1 4 1 7* 1 5 1 1 1 2 1 1 1 1 1 1",
    "1 1 1 1 1 1 1 1 1 3* 1 1 1 1 1 1",
};

// ED 40-7F and ED A0-BF (block instructions finishing); every other ED code, the ROM
// traps among them, is a 2 µs no-operation.
const char* const ed_table[6] = {
    "4 4 4 6 2 4 2 3* 4 4 4 6 2 4 2 3*",  // IN r,(C), OUT (C),r, SBC/ADC HL, LD (nn),rr,
    "4 4 4 6 2 4 2 3* 4 4 4 6 2 4 2 3*",  // NEG, RETN/RETI, IM, LD I,A / R,A / A,I / A,R
    "4 4 4 6 2 4 2 5 4 4 4 6 2 4 2 5",    // RRD, RLD
    "4 4 4 6 2 4 2 2 4 4 4 6 2 4 2 2",
    "5* 4 5 5 2 2 2 2 5* 4 5 5 2 2 2 2",  // LDI, CPI, INI, OUTI, LDD, CPD, IND, OUTD
    "5* 4 5 5 2 2 2 2 5* 4 5 5 2 2 2 2",  // LDIR ... finishing
};

struct Cost {
  int us;
  bool negative;
  bool operator==(const Cost&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Cost& c) { return os << c.us << (c.negative ? "*" : ""); }

// Cell `column` of a table row.
std::string cell(const char* row, int column) {
  std::istringstream cells(row);
  std::string c;
  for (int i = 0; i <= column; i++) cells >> c;
  return c;
}
Cost parse_cost(const std::string& s) {
  return {std::stoi(s), s.find('*') != std::string::npos};
}

// Expected (false, true) costs of an unprefixed opcode.
std::pair<Cost, Cost> expected_main(int op) {
  const std::string c = cell(main_table[op >> 4], op & 15);
  auto slash = c.find('/');
  if (slash == std::string::npos) return {parse_cost(c), parse_cost(c)};
  return {parse_cost(c.substr(0, slash)), parse_cost(c.substr(slash + 1))};
}

Cost expected_ed(int op, bool repeating) {
  if (repeating) return {6, (op & 3) <= 1};  // LDIR/CPIR family 6*, INIR/OTIR family 6
  if (op >= 0x40 && op < 0x80) return parse_cost(cell(ed_table[(op >> 4) - 4], op & 15));
  if (op >= 0xA0 && op < 0xC0) return parse_cost(cell(ed_table[(op >> 4) - 6], op & 15));
  return {2, false};
}

Cost expected_index(int op) { return parse_cost(cell(index_table[op >> 4], op & 15)); }

// Runs the instruction made of `bytes` at 0x8000 with flags f and B = b; returns its cost.
Cost run_one(std::vector<uint8_t> bytes, uint8_t f, uint8_t b, uint16_t bc_low = 0) {
  testbus::reset();
  for (size_t i = 0; i < bytes.size(); i++) testbus::bus.ram[0x8000 + i] = bytes[i];
  z80_reg16(z80w::PC) = 0x8000;
  z80_reg16(z80w::SP) = 0xC000;
  z80_reg16(z80w::HL) = 0x9000;
  z80_reg16(z80w::DE) = 0xA000;
  z80_reg16(z80w::IX) = 0x9100;
  z80_reg16(z80w::IY) = 0x9200;
  z80_reg8(z80r::F) = f;
  z80_reg8(z80r::A) = 0x55;  // differs from the zero bytes CPIR compares with
  z80_reg8(z80r::B) = b;
  z80_reg8(z80r::C) = uint8_t(bc_low);
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;  // HALT without a CPU error
  auto calls = testbus::run_instructions(1);
  EXPECT_EQ(calls.size(), 1u);
  if (calls.empty()) return {0, false};
  return {calls[0].microseconds(), calls[0].adjustment < 0};
}

}  // namespace

TEST(Z80Timing, UnprefixedOpcodesTakeTheTableMicroseconds) {
  for (int op = 0; op < 256; op++) {
    if (op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD) continue;
    auto [when_false, when_true] = expected_main(op);
    // Setting 1: flags clear, B = 1 (DJNZ falls through); setting 2: flags set, B = 2.
    Cost clear = run_one({uint8_t(op), 0, 0, 0}, 0x00, 1);
    Cost set = run_one({uint8_t(op), 0, 0, 0}, 0xFF, 2);
    // Flags clear make the conditions NZ, NC, PO and P (field y even) hold, flags set the
    // others; DJNZ jumps only in the second setting. Other opcodes cost the same in both.
    const bool clear_holds = op != 0x10 && ((op >> 3) & 1) == 0;
    SCOPED_TRACE(testing::Message() << "opcode " << std::hex << op);
    EXPECT_EQ(clear, clear_holds ? when_true : when_false) << "with flags clear";
    EXPECT_EQ(set, clear_holds ? when_false : when_true) << "with flags set";
  }
}

TEST(Z80Timing, EdOpcodesTakeTheTableMicroseconds) {
  for (int op = 0; op < 256; op++) {
    // A block instruction finishes with BC = 1 (LD, CP) or B = 1 (IN, OUT) and repeats
    // with BC = 0x0202.
    bool counts_b = (op & 2) != 0;
    Cost finished = run_one({0xED, uint8_t(op), 0, 0}, 0, counts_b ? 1 : 0, counts_b ? 0 : 1);
    EXPECT_EQ(finished, expected_ed(op, false)) << "ED " << std::hex << op;
    bool block = op >= 0xB0 && op <= 0xBB && (op & 7) <= 3;
    if (block) {
      EXPECT_EQ(run_one({0xED, uint8_t(op), 0, 0}, 0, 2, 2), expected_ed(op, true))
          << "ED " << std::hex << op << " repeating";
    }
  }
}

// CB codes take 2 µs, 3 or 4 with (HL); behind DD or FD the table's, and 6 or 7 with CB.
TEST(Z80Timing, CbAndIndexOpcodesTakeTheirMicroseconds) {
  for (int op = 0; op < 256; op++) {
    Cost want{2, false};
    if ((op & 7) == 6) want = {(op >> 6) == 1 ? 3 : 4, false};
    EXPECT_EQ(run_one({0xCB, uint8_t(op)}, 0, 1), want) << "CB " << std::hex << op;
  }
  for (int prefix : {0xDD, 0xFD}) {
    for (int op = 0; op < 256; op++) {
      if (op == 0xCB) continue;
      EXPECT_EQ(run_one({uint8_t(prefix), uint8_t(op), 0, 0}, 0, 1), expected_index(op))
          << std::hex << prefix << " " << op;
    }
    for (int op = 0; op < 256; op++) {
      Cost want = (op >> 6) == 1 ? Cost{6, false} : Cost{7, false};
      EXPECT_EQ(run_one({uint8_t(prefix), 0xCB, 0x05, uint8_t(op)}, 0, 1), want)
          << std::hex << prefix << " CB 05 " << op;
    }
  }
}

// In speed mode 1 every instruction is one microsecond for the clock; in speed mode 2 only
// every 8th instruction advances it, and the others perform their port access at once.
TEST(Z80Timing, SpeedModesCompressTime) {
  testbus::reset();
  // LD HL,nn; EX (SP),HL; OUT (&12),A; NOP...
  testbus::poke(0x0100, {0x21, 0x34, 0x12, 0xE3, 0xD3, 0x12});
  z80_reg16(z80w::PC) = 0x0100;
  z80_reg16(z80w::SP) = 0x8000;
  z80.speed_mode = 1;
  auto calls = testbus::run_instructions(3);
  ASSERT_EQ(calls.size(), 3u);
  for (auto& c : calls) EXPECT_EQ(c.microseconds(), 1);
  EXPECT_EQ(testbus::bus.outs, (std::vector<testbus::PortWrite>{{0x0012, 0x00}}));  // A is 0

  testbus::reset();
  testbus::poke(0x0100, {0x3E, 0x77, 0xD3, 0x12});  // LD A,&77; OUT (&12),A; then NOPs
  z80_reg16(z80w::PC) = 0x0100;
  z80.speed_mode = 2;
  // Stop on the breakpoint after 16 instructions (the clock is called only twice).
  z80.breakpoint = 0x0100 + 4 + 14;
  testbus::bus.stop_when = [](const testbus::Advance&) { return false; };
  auto fast = testbus::run();
  EXPECT_EQ(fast.size(), 2u);
  EXPECT_EQ(testbus::bus.outs, (std::vector<testbus::PortWrite>{{0x7712, 0x77}}));
}
