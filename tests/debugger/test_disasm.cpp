// The disassembler on memory of the test's own, reached through read_bank like the
// processor's reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "debugger/disasm.h"
#include "z80/z80_bus.h"

namespace {
class Disasm : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(saved, read_bank, sizeof saved);
    std::memset(memory, 0, sizeof memory);
    for (int q = 0; q < 4; q++) read_bank[q] = memory + q * 0x4000;
  }
  void TearDown() override { std::memcpy(read_bank, saved, sizeof saved); }

  // Disassembles bytes placed at address; returns "text|length".
  std::string at(uint16_t address, std::initializer_list<uint8_t> bytes) {
    uint16_t a = address;
    for (uint8_t b : bytes) memory[a++] = b;
    int length = disassemble(address);
    return std::string(disasm_result().text) + "|" + std::to_string(length);
  }
  std::string dis(std::initializer_list<uint8_t> bytes) { return at(0x1000, bytes); }

  uint8_t memory[65536];
  uint8_t* saved[4];
};
}  // namespace

TEST_F(Disasm, RelativeJumpsShowTheTarget) {
  EXPECT_EQ(at(0x4000, {0x18, 0xFE}), "JR &4000|2");
  EXPECT_EQ(at(0x4000, {0x10, 0x10}), "DJNZ &4012|2");
  EXPECT_EQ(at(0x4000, {0x38, 0x80}), "JR C,&3F82|2");
  EXPECT_EQ(at(0xFFFE, {0x20, 0x00}), "JR NZ,&0000|2");
}

TEST_F(Disasm, IndexedOperands) {
  EXPECT_EQ(dis({0xDD, 0x7E, 0x05}), "LD A,(IX+&05)|3");
  EXPECT_EQ(dis({0xDD, 0x66, 0xFF}), "LD H,(IX+&FF)|3");
  EXPECT_EQ(dis({0xDD, 0x74, 0x05}), "LD (IX+&05),H|3");
  EXPECT_EQ(dis({0xFD, 0x36, 0x05, 0x99}), "LD (IY+&05),&99|4");
  EXPECT_EQ(dis({0xDD, 0x65}), "LD XH,XL|2");
  EXPECT_EQ(dis({0xDD, 0x2A, 0x34, 0x12}), "LD IX,(&1234)|4");
  EXPECT_EQ(dis({0xFD, 0x34, 0x80}), "INC (IY+&80)|3");
  EXPECT_EQ(dis({0xDD, 0x29}), "ADD IX,IX|2");
  // A prefix before a byte without an index form: the plain instruction.
  EXPECT_EQ(dis({0xDD, 0x00}), "NOP|2");
}

TEST_F(Disasm, PrefixBeforeAnotherPrefixStandsAlone) {
  EXPECT_EQ(dis({0xDD, 0xDD, 0x21, 0x34, 0x12}), "[DD]-prefix|1");
  EXPECT_EQ(at(0x1001, {0xDD, 0x21, 0x34, 0x12}), "LD IX,&1234|4");
  EXPECT_EQ(dis({0xDD, 0xFD}), "[FD]-prefix|1");
  EXPECT_EQ(dis({0xFD, 0xED}), "[ED]-prefix|1");
}

TEST_F(Disasm, CbAndIndexedCbForms) {
  EXPECT_EQ(dis({0xCB, 0x30}), "SLS* B|2");
  EXPECT_EQ(dis({0xCB, 0x7E}), "BIT 7,(HL)|2");
  EXPECT_EQ(dis({0xDD, 0xCB, 0x02, 0x00}), "RLC (IX+&02) & LD B|4");
  EXPECT_EQ(dis({0xDD, 0xCB, 0x02, 0x06}), "RLC (IX+&02)|4");
  EXPECT_EQ(dis({0xFD, 0xCB, 0x10, 0x46}), "BIT 0,(IY+&10)|4");
  EXPECT_EQ(dis({0xFD, 0xCB, 0x10, 0x47}), "BIT 0,(IY+&10)|4");
  EXPECT_EQ(dis({0xFD, 0xCB, 0xFF, 0xBD}), "RES 7,(IY+&FF) & LD L|4");
}

TEST_F(Disasm, EdFormsWithStarsTrapsAndUnknowns) {
  EXPECT_EQ(dis({0xED, 0x70}), "*IN X,(C)|2");
  EXPECT_EQ(dis({0xED, 0x71}), "*OUT (C),0|2");
  EXPECT_EQ(dis({0xED, 0x00}), "unknown op|2");
  EXPECT_EQ(dis({0xED, 0x77}), "unknown op|2");
  EXPECT_EQ(dis({0xED, 0xFC}), "USER &FC|2");
  EXPECT_EQ(dis({0xED, 0xF9}), "USER &F9|2");
  EXPECT_EQ(dis({0xED, 0x44}), "NEG|2");
  EXPECT_EQ(dis({0xED, 0x7C}), "*NEG|2");
  EXPECT_EQ(dis({0xED, 0x4D}), "RETI|2");
  EXPECT_EQ(dis({0xED, 0x55}), "*RETN|2");
  EXPECT_EQ(dis({0xED, 0x7D}), "*RETI|2");
  EXPECT_EQ(dis({0xED, 0x4E}), "*IM 0|2");
  EXPECT_EQ(dis({0xED, 0x76}), "*IM 1|2");
  EXPECT_EQ(dis({0xED, 0x5E}), "IM 2|2");
  EXPECT_EQ(dis({0xED, 0x4B, 0x34, 0x12}), "LD BC,(&1234)|4");
  EXPECT_EQ(dis({0xED, 0x73, 0x00, 0x80}), "LD (&8000),SP|4");
}

TEST_F(Disasm, UnprefixedFormats) {
  EXPECT_EQ(dis({0x00}), "NOP|1");
  EXPECT_EQ(dis({0x76}), "HALT|1");
  EXPECT_EQ(dis({0x21, 0x34, 0x12}), "LD HL,&1234|3");
  EXPECT_EQ(dis({0x22, 0x34, 0x12}), "LD (&1234),HL|3");
  EXPECT_EQ(dis({0x3A, 0x34, 0x12}), "LD A,(&1234)|3");
  EXPECT_EQ(dis({0x36, 0x7F}), "LD (HL),&7F|2");
  EXPECT_EQ(dis({0xFE, 0x0D}), "CP &0D|2");
  EXPECT_EQ(dis({0xC4, 0x34, 0x12}), "CALL NZ,&1234|3");
  EXPECT_EQ(dis({0xEA, 0x00, 0xC0}), "JP PE,&C000|3");
  EXPECT_EQ(dis({0xF1}), "POP AF|1");
  EXPECT_EQ(dis({0xFF}), "RST &38|1");
  EXPECT_EQ(dis({0xD3, 0x12}), "OUT (&12),A|2");
  EXPECT_EQ(dis({0xDB, 0xFE}), "IN A,(&FE)|2");
}

// An operand past &FFFF is read from &0000.
TEST_F(Disasm, OperandsWrapAtTheEndOfMemory) {
  at(0x0000, {0x34, 0x12});
  EXPECT_EQ(at(0xFFFF, {0x21}), "LD HL,&1234|3");
  EXPECT_EQ(disasm_result().next, 0x0002);
}
