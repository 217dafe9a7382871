// The CPC side of the processor: interrupts and their refusal rules, HALT, NMI, the
// refresh counter, deferred port access, the ROM trap, the clock's hold, breakpoints,
// the snapshot register block, the dump and the error messages.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "test_bus.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

using testbus::bus;

namespace {
uint16_t pc() { return z80_reg16(z80w::PC); }
uint16_t stacked() { return uint16_t(bus.ram[z80_reg16(z80w::SP)] | bus.ram[uint16_t(z80_reg16(z80w::SP) + 1)] << 8); }

void start_at(uint16_t address, std::initializer_list<uint8_t> code) {
  testbus::reset();
  testbus::poke(address, code);
  z80_reg16(z80w::PC) = address;
  z80_reg16(z80w::SP) = 0x8000;
}
}  // namespace

TEST(Z80Interrupts, EiDelaysTheInterruptByOneInstruction) {
  start_at(0x0100, {0xFB, 0x00, 0x00});  // EI; NOP
  z80_reg16(z80w::IM) = 1;
  bus.irq_line = true;
  testbus::run_instructions(1);
  EXPECT_TRUE(bus.irq_line) << "taken right after EI";
  testbus::run_instructions(1);
  EXPECT_FALSE(bus.irq_line);
  EXPECT_EQ(pc(), 0x0038);
  EXPECT_EQ(stacked(), 0x0102);
  EXPECT_EQ(bus.irq_results, std::vector<int>{4});
  EXPECT_EQ(z80_reg8(z80r::IFF1), 0);
  EXPECT_EQ(z80_reg8(z80r::IFF2), 0);
}

TEST(Z80Interrupts, RefusedBehindAPrefixAndTakenAfterTheNextInstruction) {
  // DD DD 21 34 12: the first DD runs alone (1 µs), then DD 21 loads IX.
  start_at(0x0100, {0xDD, 0xDD, 0x21, 0x34, 0x12});
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  z80_reg16(z80w::IM) = 1;
  bus.irq_line = true;
  testbus::run_instructions(1);
  EXPECT_EQ(pc(), 0x0101);
  EXPECT_TRUE(bus.irq_line);
  testbus::run_instructions(1);
  EXPECT_EQ(z80_reg16(z80w::IX), 0x1234);
  EXPECT_EQ(pc(), 0x0038);
  EXPECT_EQ(stacked(), 0x0105);
}

TEST(Z80Interrupts, ModesZeroOneAndTwo) {
  // IM 2 with I = 0x38 and bus 0xFF fetches the vector from 0x38FF and 0x3900.
  start_at(0x0100, {0x00});
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  z80_reg16(z80w::IM) = 2;
  z80_reg8(z80r::I) = 0x38;
  testbus::poke(0x38FF, {0x34, 0x12});
  EXPECT_EQ(z80_irq(0xFF), 5);
  EXPECT_EQ(pc(), 0x1234);
  EXPECT_EQ(stacked(), 0x0100);

  // IM 0 with 0xFF on the bus is RST 38; another bus value does nothing but the
  // acknowledge itself.
  start_at(0x0100, {0x00});
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  EXPECT_EQ(z80_irq(0xFF), 4);
  EXPECT_EQ(pc(), 0x0038);
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  uint16_t sp = z80_reg16(z80w::SP);
  EXPECT_EQ(z80_irq(0x00), 4);
  EXPECT_EQ(pc(), 0x0038);
  EXPECT_EQ(z80_reg16(z80w::SP), sp);
  EXPECT_EQ(z80_reg8(z80r::IFF1), 0);

  // Refused: flip-flop clear, or an impossible mode (nothing changes).
  EXPECT_EQ(z80_irq(0xFF), 0);
  z80_reg8(z80r::IFF1) = IFF_SET;
  z80_reg16(z80w::IM) = 3;
  EXPECT_EQ(z80_irq(0xFF), 0);
  EXPECT_EQ(z80_reg8(z80r::IFF1), IFF_SET);
  EXPECT_EQ(pc(), 0x0038);
}

// Without the interrupt P/V is IFF2, as the instruction vector ed57 checks.
TEST(Z80Interrupts, LdAIFollowedByAnInterruptClearsParity) {
  start_at(0x0100, {0xED, 0x57});  // LD A,I
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  z80_reg16(z80w::IM) = 1;
  z80_reg8(z80r::I) = 0x80;
  bus.irq_line = true;
  testbus::run_instructions(1);
  EXPECT_EQ(z80_reg8(z80r::A), 0x80);
  EXPECT_EQ(z80_reg8(z80r::F) & z80f::P, 0);
  EXPECT_EQ(pc(), 0x0038);
}

TEST(Z80Interrupts, NmiArmsAndDelivers) {
  start_at(0x1234, {0x00});
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  EXPECT_EQ(z80_nmi(-1), 3);  // armed from the start
  EXPECT_EQ(pc(), 0x0066);
  EXPECT_EQ(stacked(), 0x1234);
  EXPECT_EQ(z80_reg8(z80r::IFF1), 0);
  EXPECT_EQ(z80_reg8(z80r::IFF2), IFF_SET);
  EXPECT_EQ(z80_nmi(0), 0);  // disarmed by the delivery
  EXPECT_EQ(z80_nmi(1), 0);
  EXPECT_EQ(z80_nmi(-1), 3);
  // RETN restoring IFF1 from IFF2 is checked by the instruction vector ed45.
}

TEST(Z80Halt, WithInterruptsEnabledRepeatsUntilAnInterrupt) {
  start_at(0x0200, {0x76, 0x00});
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = IFF_SET;
  z80_reg16(z80w::IM) = 1;
  auto calls = testbus::run_instructions(3);
  for (auto& c : calls) EXPECT_EQ(c.microseconds(), 1);
  EXPECT_EQ(pc(), 0x0200);
  EXPECT_EQ(z80.halted, 1);
  EXPECT_EQ(z80_reg8(z80r::R), 3);
  EXPECT_EQ(z80_irq(0xFF), 4);
  EXPECT_EQ(stacked(), 0x0201);
  EXPECT_EQ(z80.halted, 0);
}

TEST(Z80Registers, RefreshCountingKeepsBitSeven) {
  start_at(0x0100, {});
  z80_reg8(z80r::R) = 0x80;
  testbus::run_instructions(128);  // NOPs
  EXPECT_EQ(z80_reg8(z80r::R), 0x80);
  z80_reg8(z80r::R) = 0x7F;
  testbus::run_instructions(1);
  EXPECT_EQ(z80_reg8(z80r::R), 0x00);
  // The counts of prefixed instructions (CB two, DD CB d op two, a lone prefix one) are
  // checked by the instruction vectors cb00, ddcb06 and dd00.
}

TEST(Z80Memory, SixteenBitAccessWrapsAtTheTop) {
  start_at(0x0100, {0x2A, 0xFF, 0xFF, 0x31, 0x01, 0x00, 0xE5});  // LD HL,(&FFFF); LD SP,1; PUSH HL
  bus.ram[0xFFFF] = 0x34;
  bus.ram[0x0000] = 0x12;
  testbus::run_instructions(1);
  EXPECT_EQ(z80_reg16(z80w::HL), 0x1234);
  z80_reg16(z80w::HL) = 0xABCD;
  testbus::run_instructions(2);
  EXPECT_EQ(bus.ram[0x0000], 0xAB);
  EXPECT_EQ(bus.ram[0xFFFF], 0xCD);
  EXPECT_EQ(z80_reg16(z80w::SP), 0xFFFF);
}

TEST(Z80Memory, LdirWithBcZeroCopies65536Bytes) {
  start_at(0x0100, {0xED, 0xB0});
  for (int a = 0x4000; a < 0x10000; a++) bus.ram[a] = uint8_t(a * 7);
  z80_reg16(z80w::HL) = 0x4000;
  z80_reg16(z80w::DE) = 0x4000;
  z80_reg16(z80w::BC) = 0;
  bus.stop_when = [](const testbus::Advance&) { return false; };
  z80.breakpoint = 0x0102;
  auto calls = testbus::run();
  ASSERT_EQ(calls.size(), 65536u);  // their µs: Z80Timing.EdOpcodesTakeTheTableMicroseconds
  EXPECT_EQ(z80_reg16(z80w::BC), 0);
  EXPECT_EQ(z80_reg16(z80w::HL), 0x4000);
  EXPECT_EQ(bus.ram[0x9000], uint8_t(0x9000 * 7));
  EXPECT_EQ(pc(), 0x0102);
  EXPECT_EQ(stop_request_word, 0x4000u) << "stopped by the breakpoint";
}

// The test vectors leave out ED 77 and ED 7F: on the Z80 they change nothing.
TEST(Z80Instructions, Ed77AndEd7FDoNothing) {
  start_at(0x0100, {0xED, 0x77, 0xED, 0x7F});
  z80_reg16(z80w::AF) = 0x12A5;
  testbus::run_instructions(2);
  EXPECT_EQ(z80_reg16(z80w::AF), 0x12A5);
  EXPECT_EQ(pc(), 0x0104);
}

TEST(Z80Ports, AccessesWaitForTheClockAtTheirPosition) {
  // OUT (&34),A at the last µs; OUT (C),B the µs before; IN A,(n) without flags. The
  // flags of IN r,(C) are the instruction vectors' (ed40 ... ed78).
  start_at(0x0100, {0xD3, 0x34, 0xED, 0x41, 0xDB, 0x20});
  bus.flush_ports = false;
  z80_reg8(z80r::A) = 0x12;
  z80_reg16(z80w::BC) = 0x7F8C;
  testbus::run_instructions(1);
  EXPECT_TRUE(z80_out_pending_at(0));
  EXPECT_FALSE(z80_out_pending_at(1));
  z80_flush_pending_out(1);
  EXPECT_TRUE(bus.outs.empty());
  z80_flush_pending_out(0);
  EXPECT_EQ(bus.outs, (std::vector<testbus::PortWrite>{{0x1234, 0x12}}));
  EXPECT_FALSE(z80_out_pending_at(0));

  testbus::run_instructions(1);
  EXPECT_TRUE(z80_out_pending_at(1));
  z80_flush_pending_out(1);
  EXPECT_EQ(bus.outs, (std::vector<testbus::PortWrite>{{0x1234, 0x12}, {0x7F8C, 0x7F}}));

  bus.in_value = [](uint16_t) { return uint8_t(0x00); };
  z80_reg8(z80r::F) = 0xFF;
  testbus::run_instructions(1);  // IN A,(&20): port 0x1220, flags untouched
  EXPECT_EQ(z80_reg8(z80r::A), 0x12) << "read before the clock performed it";
  z80_flush_pending_in();
  EXPECT_EQ(bus.ins.back(), 0x1220);
  EXPECT_EQ(z80_reg8(z80r::A), 0x00);
  EXPECT_EQ(z80_reg8(z80r::F), 0xFF);
}

TEST(Z80Traps, RomTrapOnlyFromRomOverDifferentRam) {
  // From ROM: ED FC 80 calls the tape trap with 0xFC80 and consumes the third byte.
  testbus::reset();
  testbus::map_rom(0);
  std::memcpy(bus.rom + 0x100, "\xED\xFC\x80", 3);
  z80_reg16(z80w::PC) = 0x0100;
  auto calls = testbus::run_instructions(1);
  EXPECT_EQ(calls[0].microseconds(), 2);
  EXPECT_EQ(bus.traps, std::vector<int>{0xFC80});
  EXPECT_EQ(pc(), 0x0103);

  // Same from RAM: a no-operation that leaves 0x80 to run next.
  start_at(0x0100, {0xED, 0xFC, 0x80});
  testbus::run_instructions(1);
  EXPECT_TRUE(bus.traps.empty());
  EXPECT_EQ(pc(), 0x0102);

  // With the bypass off the ROM trap is a no-operation too.
  testbus::reset();
  testbus::map_rom(0);
  std::memcpy(bus.rom + 0x100, "\xED\xF9", 2);
  z80.rom_trap_enabled = 0;
  z80_reg16(z80w::PC) = 0x0100;
  testbus::run_instructions(1);
  EXPECT_TRUE(bus.traps.empty());
  z80.rom_trap_enabled = 1;
  z80_reg16(z80w::PC) = 0x0100;
  testbus::run_instructions(1);
  EXPECT_EQ(bus.traps, std::vector<int>{0xF900});
}

TEST(Z80Run, HoldAndAddressZero) {
  start_at(0x0000, {});
  // The clock holds the processor for two calls: no instruction runs meanwhile.
  bus.hold_calls = 2;
  auto calls = testbus::run_instructions(3);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].count, 4);
  EXPECT_EQ(calls[1].count, 0);
  EXPECT_EQ(calls[2].count, 0);
  EXPECT_EQ(pc(), 0x0001);
  EXPECT_EQ(bus.address_zero_calls, 1);  // only before the instruction at 0
}

TEST(Z80Registers, SnapshotBlockRoundTrip) {
  uint8_t block[Z80_SNAPSHOT_BLOCK];
  for (int i = 0; i < Z80_SNAPSHOT_BLOCK; i++) block[i] = uint8_t(0x11 * (i + 1));
  block[10] = 1;  // IFF1
  block[11] = 0;  // IFF2
  block[20] = 2;  // IM
  z80_load_registers(block);
  EXPECT_EQ(z80_reg16(z80w::AF), 0x2211);
  EXPECT_EQ(z80_reg16(z80w::HL), 0x8877);
  EXPECT_EQ(z80_reg8(z80r::IFF1), IFF_SET);
  EXPECT_EQ(z80_reg16(z80w::IX), block[12] | block[13] << 8);
  EXPECT_EQ(z80_reg16(z80w::HL2), block[27] | block[28] << 8);
  EXPECT_EQ(z80_reg8(z80r::F2), block[21]);

  std::stringstream stream;
  EXPECT_EQ(z80_save_registers(stream), 0);
  z80_reg16(z80w::AF) = 0;
  EXPECT_EQ(z80_load_registers(stream), 0);
  EXPECT_EQ(z80_reg16(z80w::AF), 0x2211);
  std::stringstream short_stream(std::string(10, '\0'));
  EXPECT_EQ(z80_load_registers(short_stream), 1);
}

TEST(Z80Registers, DumpShowsRegistersPointedBytesAndFlags) {
  testbus::reset();
  z80_reg16(z80w::AF) = 0x12C5;  // S Z P C
  z80_reg16(z80w::BC) = 0x4000;
  z80_reg16(z80w::PC) = 0xFFFF;
  z80_reg8(z80r::I) = 0x3F;
  z80_reg8(z80r::R) = 0x05;
  z80_reg16(z80w::HL2) = 0xBEEF;
  z80_reg8(z80r::IFF1) = IFF_SET;
  z80_reg16(z80w::IM) = 1;
  bus.ram[0x4000] = 0xAB;
  bus.ram[0x4001] = 0xCD;
  bus.ram[0xFFFF] = 0x01;
  bus.ram[0x0000] = 0x02;
  std::ostringstream out;
  z80_dump_registers(out);
  // The second line: the two bytes each pair points at, in memory order (PC's wrap).
  EXPECT_EQ(out.str(),
            "AF=12C5 BC=4000 DE=0000 HL=0000 IX=0000 IY=0000 SP=0000 PC=FFFF IR=3F05\n"
            " \t0000    ABCD    0200    0200    0200    0200    0200    0102\n"
            "AF'=0000 BC'=0000 DE'=0000 HL'=BEEF IFF1=1 IFF2=0 IM=1 Z C PE M    \n");
}

TEST(Z80Registers, ErrorMessages) {
  auto report = [](int code) {
    z80_set_error(code, 0x0ABC);
    testing::internal::CaptureStdout();
    z80_report_error();
    return testing::internal::GetCapturedStdout();
  };
  EXPECT_EQ(report(0), "");
  EXPECT_EQ(report(1), "Z80: unknown OP-code at address 0abc\n");
  EXPECT_EQ(report(7), "Z80: unknown error !\n");
}
