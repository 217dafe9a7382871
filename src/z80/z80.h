// The Z80 processor of the CPC.
//
// The core executes one instruction at a time and hands each instruction's duration,
// as a T-state count plus a signed adjustment, to the machine's clock (`video_advance` in the CPC),
// which rounds it to whole microseconds. Port accesses are not done while an instruction
// executes: they are recorded as a pending IN or OUT and performed by the clock at the
// microsecond at which the real bus cycle falls (z80_flush_pending_in/out).
//
// The core reaches the machine only through z80/z80_bus.h.
#pragma once
#include <cstdint>
#include <iosfwd>

// Byte indexes of the register file (fixed order; the tape bypass and the debugger
// address registers by position).
namespace z80r {
enum : int {
  F = 0, A = 1, C = 2, B = 3, E = 4, D = 5, L = 6, H = 7, R = 8, I = 9,
  IFF2 = 10, IFF1 = 11, IXL = 12, IXH = 13, IYL = 14, IYH = 15, SPL = 16, SPH = 17,
  PCL = 18, PCH = 19, IM = 20, IM_HIGH = 21,
  F2 = 22, A2 = 23, C2 = 24, B2 = 25, E2 = 26, D2 = 27, L2 = 28, H2 = 29,
  BYTE_COUNT = 30
};
}
// Word indexes of the register file.
namespace z80w {
enum : int {
  AF = 0, BC = 1, DE = 2, HL = 3, IR = 4 /* R low, I high */, IFF = 5, IX = 6, IY = 7,
  SP = 8, PC = 9, IM = 10, AF2 = 11, BC2 = 12, DE2 = 13, HL2 = 14, WORD_COUNT = 15
};
}

// The flag bits of F.
namespace z80f {
constexpr uint8_t S = 0x80, Z = 0x40, Y = 0x20 /* bit 5 */, H = 0x10, X = 0x08 /* bit 3 */,
                  P = 0x04, N = 0x02, C = 0x01;
}

// Held value of a set interrupt flip-flop: LD A,I copies it straight into P/V.
constexpr uint8_t IFF_SET = 4;

struct Z80PendingOut {
  int32_t port;      // -1: none
  uint8_t value;
  int position;      // 0: in the instruction's last µs, 1: in the µs before it
};

struct Z80PendingIn {
  int32_t port;      // -1: none
  uint8_t* dest;     // a register byte, or nullptr: memory at `address`
  uint16_t address;
  uint8_t flag_mode; // 0 none, 1 S Z P from the byte (IN r,(C)), 2 block input (INI...)
  uint8_t block_c;   // block input: C + 1 or C - 1, as the flags need it
  uint8_t block_b;   // block input: B after the decrement
};

struct Z80State {
  union {
    uint8_t b[z80r::BYTE_COUNT];
    uint16_t w[z80w::WORD_COUNT];
  } regs;
  uint32_t refresh_counter;  // M1 cycles; R's low 7 bits while z80_run runs
  uint8_t opcode_byte;       // DD/FD: a prefix ran alone (no interrupt before its byte)
  uint16_t instr_address;    // address of the instruction being executed
  uint8_t ei_pending;
  uint8_t halted;
  uint8_t ld_a_ir_flag;      // the instruction just executed was LD A,I or LD A,R
  uint16_t memptr;           // the processor's internal address latch (flags of BIT n,(HL))
  Z80PendingOut pending_out;
  Z80PendingIn pending_in;
  int error_code;            // 0 none, 1 unknown opcode, 2 HALT with interrupts disabled
  uint16_t error_address;
  int32_t breakpoint;        // -1: none
  int speed_mode;            // 0 "1x", 1 "3x", 2 "24x"
  uint8_t nmi_armed;
  uint8_t rom_trap_enabled;  // ED F9..FF call the tape trap (TAPE_BYPASS)
  uint32_t wait_word;        // handed to the clock; the core never sets it
  int hold;                  // the clock asked to be called again without an instruction
  unsigned speed_count;      // instruction count modulo 8 for speed mode 2
  uint8_t scratch;           // destination of IN (C) (flags only)
};

// Exported for the clock, which checks the pending port accesses on every call;
// other units read registers through z80_reg8/z80_reg16 and change state through the
// functions below.
extern Z80State z80;

// ---- Stop-request word -------------------------------------------------------------
// Any unit that must stop the processor ORs a bit in; z80_run returns after the
// current instruction when the word is non-zero.
namespace stopbit {
constexpr uint32_t CPU_ERROR = 0x0001;   // maskable by BREAK_MASK bit 0
constexpr uint32_t PORT_ACCESS = 0x0004; // maskable by BREAK_MASK bit 2
constexpr uint32_t TAPE = 0x0010;
constexpr uint32_t RESTART = 0x0800;
constexpr uint32_t BREAK = 0x4000;
constexpr uint32_t QUIT = 0x8000;
constexpr uint32_t STEP = 0x10000;
constexpr uint32_t TIMED = 0x20000;
}  // namespace stopbit

// Exported because z80_run tests it after every instruction.
extern uint32_t stop_request_word;

inline void clear_stop_request() { stop_request_word = 0; }
// Adds code to the stop-request word; exactly 0x0010 also acknowledges an interrupt
// with data-bus byte 0xFF.
void request_stop(int code);

// Executes instructions until the stop-request word is non-zero after one.
void z80_run();
// Clears the registers (the bus value is that of the reset line; the registers become 0).
void z80_reset(uint8_t bus);
// Maskable interrupt acknowledge with the given data-bus byte: the µs it took, 0 refused.
int z80_irq(uint8_t bus);
// request > 0 arms the NMI (returns 0); request <= 0 delivers it when armed (µs taken).
int z80_nmi(int request);

// The register file by index (tables above).
uint8_t& z80_reg8(int index);
uint16_t& z80_reg16(int index);
// R as a program sees it (bit 7 from R, the rest from the refresh counter while running).
uint8_t z80_current_r();

// Deferred port access, performed by the clock while it counts out an instruction.
void z80_flush_pending_in();
void z80_flush_pending_out(int position);
bool z80_out_pending_at(int position);

// The 29-byte register block of the snapshot format.
constexpr int Z80_SNAPSHOT_BLOCK = 29;
void z80_load_registers(const uint8_t* block);
void z80_save_registers(uint8_t* block);
// Stream forms: 0 on success, 1 when the stream fails.
int z80_load_registers(std::istream& in);
int z80_save_registers(std::ostream& out);

// The CPU error record; z80_report_error prints its message on standard output.
void z80_set_error(int code, uint16_t address);
void z80_report_error();

// Three lines: registers, the bytes they point at, alternates, flip-flops and flags.
void z80_dump_registers(std::ostream& out);

// The processor's state for reading (the debugger, the function menu, the hot keys).
const Z80State& z80_state();
// The wait-state word handed to the clock (the monitor marks a step with it).
void z80_set_wait_word(uint32_t word);
// Whether ED F9..FF call the ROM trap (TAPE_BYPASS).
void z80_set_rom_trap(bool enabled);

void z80_set_breakpoint(int32_t address);  // -1 removes it
void z80_set_speed_mode(int mode);         // 0, 1 or 2
