// The debugger monitor driven with typed lines through the stream console, on a machine
// set up from the shared ROMs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "debugger/monitor.h"
#include "hardware/ports.h"
#include "sound/psg.h"
#include "test_support.h"
#include "video/gate_array.h"
#include "video/raster.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace fs = std::filesystem;

namespace {

// A disassembly line as the monitor shows it: address, five byte columns, the text.
std::string dis_line(const char* address, std::initializer_list<const char*> bytes, const char* text) {
  std::string line = std::string(address) + " : ";
  for (const char* b : bytes) line += std::string(b) + " ";
  line += std::string(3 * (5 - bytes.size()), ' ');
  return line + text;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class Monitor : public testing::Test {
 protected:
  fs::path work = testsupport::temp_dir("monitor");

  void SetUp() override {
    host_install_headless();
    set_message_file((testsupport::bin_dir() + "/arvelo.msg").c_str());
    open_message_file();
    reset_settings();
    clear_stop_request();
    REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
    const auto cfg = work / "monitor.cfg";
    std::ofstream(cfg) << testsupport::rom_config_lines(2, false)
                       << "TAPE_PATH = \"" << work.string() << "/\"\n";
    set_config_file_name(cfg.c_str());
    StartOptions options;
    ASSERT_EQ(setup_machine(options), 0);
    // Plain RAM everywhere, interrupts off, a stack in RAM.
    ga_write(0x8C);
    z80_reg16(z80w::SP) = 0x8000;
    clear_stop_request();
  }
  void TearDown() override {
    monitor_set_console(nullptr);
    z80_set_breakpoint(-1);
    teardown_machine();
    host_install_headless();
    fs::remove_all(work);
  }

  void poke(uint16_t a, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) {
      write_bank[a >> 14][a & 0x3FFF] = b;
      ++a;
    }
  }
  uint8_t peek(uint16_t a) { return read_bank[a >> 14][a & 0x3FFF]; }

  // One monitor session with these typed lines, or with `run` the machine's run driver
  // entering the monitor first; returns everything the monitor wrote.
  std::string session(const std::string& lines, bool run = false) {
    std::istringstream in(lines);
    std::ostringstream out;
    monitor_use_streams(in, out, true);
    if (run) {
      clear_stop_request();
      run_machine(true);
    } else {
      monitor_run();
    }
    monitor_set_console(nullptr);
    return out.str();
  }
};

}  // namespace

TEST_F(Monitor, TraceRunsSilentlyThenStepByStep) {
  // LD A,1  LD B,2  LD C,3  LD D,4  LD E,5  LD H,6  LD L,7
  poke(0x4000, {0x3E, 1, 0x06, 2, 0x0E, 3, 0x16, 4, 0x1E, 5, 0x26, 6, 0x2E, 7});
  z80_reg16(z80w::PC) = 0x4000;
  z80_reg16(z80w::HL) = 0;
  set_setting(kw::EMULATION_SPEED, 1);
  const std::string out = session("T 5\n\nq\n");

  // Five instructions, one more for the empty line; the text line ended the trace.
  EXPECT_EQ(z80_reg8(z80r::E), 5);
  EXPECT_EQ(z80_reg8(z80r::H), 6);
  EXPECT_EQ(z80_reg8(z80r::L), 0);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x400C);
  EXPECT_TRUE(stop_request_word & stopbit::QUIT);
  EXPECT_EQ(setting(kw::EMULATION_SPEED), 1);  // restored after stepping

  // The silent part shows nothing: the first state after the command is that after the
  // fifth instruction.
  const std::string after = out.substr(out.find("T 5\n") + 4);
  const size_t dump = after.find("AF=");
  EXPECT_NE(after.substr(dump, after.find('\n', dump) - dump).find("PC=400A"), std::string::npos);
  EXPECT_NE(after.find(dis_line("400A", {"26", "06"}, "LD H,&06\n<EMPTY RETURN=CONTINUE> ")), std::string::npos);
  EXPECT_NE(after.find(dis_line("400C", {"2E", "07"}, "LD L,&07\n<EMPTY RETURN=CONTINUE> ")), std::string::npos);
  EXPECT_EQ(count_of(out, "<EMPTY RETURN=CONTINUE> "), 2u);
}

TEST_F(Monitor, StepIntoAndStepOverACall) {
  // 4000: CALL 5000; 4003: NOP. 5000: INC A; RET.
  poke(0x4000, {0xCD, 0x00, 0x50, 0x00});
  poke(0x5000, {0x3C, 0xC9});
  z80_reg8(z80r::A) = 0;

  z80_reg16(z80w::PC) = 0x1234;
  session("S 4000\n");
  EXPECT_EQ(z80_reg16(z80w::PC), 0x5000);
  EXPECT_EQ(z80_reg16(z80w::SP), 0x7FFE);

  z80_reg16(z80w::SP) = 0x8000;
  session("O 4000\n");
  EXPECT_EQ(z80_reg16(z80w::PC), 0x4003);
  EXPECT_EQ(z80_reg8(z80r::A), 1);
  EXPECT_EQ(z80_reg16(z80w::SP), 0x8000);

  // A breakpoint inside the called routine ends the step over there.
  z80_reg16(z80w::SP) = 0x8000;
  session("B 5001\nO 4000\n");
  EXPECT_EQ(z80_reg16(z80w::PC), 0x5001);
  EXPECT_EQ(z80.breakpoint, 0x5001);
}

TEST_F(Monitor, TimedRunAndRunToABreakpoint) {
  for (int a = 0x4000; a < 0x4200; ++a) poke(static_cast<uint16_t>(a), {0x00});  // NOPs, 1 µs each
  z80_reg16(z80w::PC) = 0x4000;
  const uint64_t start = microsecond_counter;
  const std::string out = session("C 100\nQ\n", true);
  EXPECT_EQ(microsecond_counter - start, 0x100u);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x4100);
  EXPECT_EQ(count_of(out, "B)reakpoint R)un"), 2u);
  EXPECT_FALSE(video_break_armed());
  // R from an address runs on to the breakpoint (the monitor entered there, showing PC
  // and the instruction, is e2e.monitor's claim).
  const uint64_t resumed = microsecond_counter;
  session("B 4010\nR 4000\nQ\n", true);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x4010);
  EXPECT_EQ(microsecond_counter - resumed, 0x10u);  // from 4000, not on from 4100
}

TEST_F(Monitor, MicrosecondStepsHoldTheProcessor) {
  poke(0x4000, {0x01, 0x34, 0x12, 0x00});  // LD BC,&1234 (3 µs); NOP
  z80_reg16(z80w::PC) = 0x4000;
  const uint64_t start = microsecond_counter;
  std::string out = session("C\nS\nQ\n");
  // One microsecond passed; the instruction is held and shown at its own address.
  EXPECT_EQ(microsecond_counter - start, 1u);
  const std::string stepped = out.substr(out.find("> S\n"));
  EXPECT_NE(stepped.find(dis_line("4000", {"01", "34", "12"}, "LD BC,&1234 (CRTC steps to go: 2)\n")),
            std::string::npos) << stepped;
  EXPECT_NE(stepped.find("PC=4000"), std::string::npos);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x4003);  // the processor itself is past it
  // The single-step mode ended with the command: the next step finishes the instruction.
  out = session("S\n");
  EXPECT_EQ(microsecond_counter - start, 3u);
  EXPECT_NE(out.find(dis_line("4003", {"00"}, "NOP\n")), std::string::npos);
  EXPECT_EQ(z80.hold, 0);
  EXPECT_FALSE(stop_request_word & stopbit::STEP);
}

TEST_F(Monitor, HeldInterruptAcknowledgeIsShown) {
  for (int a = 0; a < 0x10000; ++a) poke(static_cast<uint16_t>(a), {0x00});
  // Standard screen timing so that the Gate Array raises its interrupt.
  const int regs[] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0};
  for (int r = 0; r < 14; ++r) crtc_write_register(r, regs[r]);
  z80_reg16(z80w::PC) = 0x4000;
  z80_reg8(z80r::IFF1) = z80_reg8(z80r::IFF2) = 0;
  for (int i = 0; i < 100000 && !ga_interrupt_pending(); ++i) {
    stop_request_word = 0x20000;
    z80_run();
  }
  clear_stop_request();
  ASSERT_TRUE(ga_interrupt_pending());
  const uint16_t pc = z80_reg16(z80w::PC);
  // Interrupts on in mode 1; microsecond steps: the NOP, then the acknowledge.
  const std::string out = session("IFF1 1\nIFF2 1\nIMD 1\nC\nT 1\n\n\n\n\n\n\n\nQ\n");
  const std::string shown = "handling INT (CRTC steps to go: ";
  const size_t ack = out.find(shown);
  ASSERT_NE(ack, std::string::npos) << out;
  // The count goes down by one a step.
  const int first = std::stoi(out.substr(ack + shown.size()));
  EXPECT_GE(first, 2);
  EXPECT_NE(out.find(shown + std::to_string(first - 1) + ")\n", ack), std::string::npos);
  // When it is over the processor is in the interrupt routine with PC on the stack.
  EXPECT_EQ(z80.hold, 0);
  EXPECT_GT(z80_reg16(z80w::PC), 0x0038);
  EXPECT_LT(z80_reg16(z80w::PC), 0x0040);
  EXPECT_EQ(peek(0x7FFE) | peek(0x7FFF) << 8, pc + 1);
  EXPECT_EQ(z80_reg8(z80r::IFF1), 0);
}

TEST_F(Monitor, DumpDisassemblyAndMemoryInput) {
  for (int a = 0x4000; a < 0x4200; ++a) poke(static_cast<uint16_t>(a), {0x00});
  std::string out = session("I 4000\n12\n34\n\n");
  EXPECT_EQ(peek(0x4000), 0x12);
  EXPECT_EQ(peek(0x4001), 0x34);
  EXPECT_NE(out.find("4002 : (00)  ? "), std::string::npos);

  // Values on the command line; a value above FF ends the input without a write.
  poke(0x4003, {0x77});
  session("I 4002 41 C1 100\n");
  EXPECT_EQ(peek(0x4002), 0x41);
  EXPECT_EQ(peek(0x4003), 0xC1);
  EXPECT_EQ(peek(0x4004), 0x00);

  poke(0x4004, {0x05});
  out = session("D 4000\n\nQ\n");
  // Bit 7 cleared, control codes as blanks; the empty line dumps the next 256 bytes.
  EXPECT_NE(out.find("4000 : 12 34 41 C1 05 00 00 00 00 00 00 00 00 00 00 00    4AA" + std::string(12, ' ') + "\n"),
            std::string::npos);
  EXPECT_NE(out.find("40F0 : "), std::string::npos);
  EXPECT_NE(out.find("41F0 : "), std::string::npos);
  EXPECT_EQ(out.find("4200 : "), std::string::npos);
  EXPECT_TRUE(stop_request_word & stopbit::QUIT);  // the line after the listing was a command

  poke(0x4000, {0xCD, 0x00, 0x50});
  out = session("A 4000\n\nx\n");
  EXPECT_NE(out.find(dis_line("4000", {"CD", "00", "50"}, "CALL &5000\n4003 : ")), std::string::npos);
  const size_t first = out.find("4000 : CD");
  const size_t page = out.find("<EMPTY RETURN=CONTINUE> ", first);
  EXPECT_EQ(count_of(out.substr(first, page - first), "\n"), 20u);
  EXPECT_EQ(count_of(out, "<EMPTY RETURN=CONTINUE> "), 2u);
  EXPECT_NE(out.find("only what you see."), std::string::npos);
}

TEST_F(Monitor, FindWithJokersWrapsAround) {
  for (int a = 0; a < 0x10000; ++a) poke(static_cast<uint16_t>(a), {0xAA});
  poke(0x1000, {0x21, 0x12, 0x00});
  poke(0x2000, {0x21, 0x34, 0x01});  // high byte not 0
  poke(0x8000, {0x21, 0xFF, 0x00});
  poke(0xFFFE, {0x21, 0x00});
  poke(0x0000, {0x00});  // LD HL,&0000 across the end of memory
  std::string out = session("N 0\n21\n?\n00\n\n");
  EXPECT_NE(out.find("find pattern ('?'=joker)\n"), std::string::npos);
  EXPECT_NE(out.find("0002 : (00)  ? "), std::string::npos);
  EXPECT_NE(out.find("Pattern found at: 1000, 8000, FFFE\n3 matches.\n"), std::string::npos) << out;
  out = session("N 9000 21 ? 0\n");
  EXPECT_NE(out.find("Pattern found at: FFFE, 1000, 8000\n3 matches.\n"), std::string::npos) << out;
  // A leading joker is ignored; ?? is a joker too.
  out = session("N 0 ? 21 ?? 0\n");
  EXPECT_NE(out.find("Pattern found at: 1000, 8000, FFFE\n3 matches.\n"), std::string::npos) << out;
  out = session("N 0 21 34 1 AA\n");
  EXPECT_NE(out.find("Pattern found at: 2000\n1 matches.\n"), std::string::npos) << out;
}

TEST_F(Monitor, RegisterAndDeviceWords) {
  z80_reg16(z80w::DE) = 0x5555;
  const std::string out = session(
      "AF 1234\nBC=ABCD\nHL' BEEF\nIR 3F12\nIMD 5\nIFF1 7\nIFF2 0\nPC\n4321\nDE\n\n"
      "CRTC 1 28\nPSG 7 3F\nGA 8D\nXY\nX\nD zz\nSP 10000\n");
  EXPECT_EQ(z80_reg16(z80w::AF), 0x1234);
  EXPECT_EQ(z80_reg16(z80w::BC), 0xABCD);
  EXPECT_EQ(z80_reg16(z80w::HL2), 0xBEEF);
  EXPECT_EQ(z80_reg8(z80r::I), 0x3F);
  EXPECT_EQ(z80_reg8(z80r::R), 0x12);
  EXPECT_EQ(z80_reg8(z80r::IM), 2);
  EXPECT_EQ(z80_reg8(z80r::IFF1), IFF_SET);
  EXPECT_EQ(z80_reg8(z80r::IFF2), 0);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x4321);    // value on the next line
  EXPECT_EQ(z80_reg16(z80w::DE), 0x5555);    // empty line: unchanged
  EXPECT_EQ(z80_reg16(z80w::SP), 0x8000);    // not a 16-bit value: unchanged
  EXPECT_EQ(crtc_register(1), 0x28);
  EXPECT_EQ(crtc_copy(1), 0x28);
  EXPECT_EQ(crtc_selected(), 0);             // the selected register is kept
  EXPECT_EQ(psg_read(7), 0x3F);
  EXPECT_EQ(gate_array().multi, 0x8D);
  EXPECT_EQ(gate_array().mode, 1);
  // The answers, and the new values in the dump of the next pass.
  for (const char* shown : {"XY : unknown command.\n", "only what you see.\n", "No hex value: zz\n",
                            "No hex value: 10000\n", "PC : (0000)  ? 4321", "AF=1234 BC=ABCD",
                            "IFF1=1 IFF2=0 IM=2"})
    EXPECT_NE(out.find(shown), std::string::npos) << shown;
}

TEST_F(Monitor, SaveAndLoadWithATapeHeader) {
  for (int i = 0; i < 0x100; ++i) poke(static_cast<uint16_t>(0x4000 + i), {static_cast<uint8_t>(i * 7)});
  for (int a = 0x6000; a < 0x6200; ++a) poke(static_cast<uint16_t>(a), {0x00});
  std::string out = session("V 4000 block.bin 100\n");
  std::vector<uint8_t> bytes = testsupport::file_bytes(work / "block.bin");
  ASSERT_EQ(bytes.size(), 128u + 256u) << out;  // empty when the file was not written
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 12), "BLOCK   BIN");
  EXPECT_EQ(bytes[18], 2);
  EXPECT_EQ(bytes[21] | bytes[22] << 8, 0x4000);
  EXPECT_EQ(bytes[24] | bytes[25] << 8, 0x100);
  EXPECT_EQ(bytes[64] | bytes[65] << 8 | bytes[66] << 16, 0x100);
  unsigned sum = 0;
  for (int i = 0; i <= 66; ++i) sum += bytes[i];
  EXPECT_EQ(bytes[67] | bytes[68] << 8, sum & 0xFFFF);
  EXPECT_EQ(bytes[128 + 3], 21);

  out = session("L 6000 block.bin\n");
  for (int i = 0; i < 0x100; ++i) ASSERT_EQ(peek(static_cast<uint16_t>(0x6000 + i)), static_cast<uint8_t>(i * 7)) << i;
  EXPECT_EQ(peek(0x6100), 0);
  EXPECT_NE(out.find("Loaded: block.bin (60ff)\n"), std::string::npos) << out;

  // Names and lengths asked for; length 0 saves all 64 KB.
  out = session("V 0\nall.bin\n0\n");
  EXPECT_NE(out.find("file to save: all.bin\nlength to save: 0\n"), std::string::npos);
  bytes = testsupport::file_bytes(work / "all.bin");
  ASSERT_EQ(bytes.size(), 128u + 65536u);
  EXPECT_EQ(bytes[64] | bytes[65] << 8 | bytes[66] << 16, 0x10000);  // 16 bits do not hold it
  out = session("L C000\nall.bin\n");
  EXPECT_NE(out.find("file to load: all.bin\nLoaded: all.bin (bfff)\n"), std::string::npos) << out;
  EXPECT_EQ(peek(0x0003), 21);  // the whole image came back, shifted by C000

  // A file without a header is data from its first byte.
  std::ofstream(work / "raw.txt") << "HELLO";
  session("L 7000 raw.txt\n");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&read_bank[1][0x3000]), 5), "HELLO");
  out = session("L 7000 missing.bin\n");
  EXPECT_NE(out.find("Tape: file not found: missing.bin\n"), std::string::npos);
}

// The prompt shows the emulation speed: s here, f in e2e.monitor's transcript.
TEST_F(Monitor, PromptFastModeAndEndOfInput) {
  set_setting(kw::EMULATION_SPEED, 0);
  std::string out = session("F\n");
  EXPECT_NE(out.find("------s-----> F\nfast Z80 is off Fast Z80 (x86 MC) is only possible with MS-DOS.\n"),
            std::string::npos);
  // No more input: the monitor is left and the machine runs on.
  stop_request_word = stopbit::BREAK;
  out = session("");
  EXPECT_EQ(stop_request_word, 0u);
  EXPECT_EQ(count_of(out, "Disa)ssem D)ump I)nput L)oad saV)e fiN)d Q)uit \n"), 1u);
}
