// Z80 disassembler: one instruction of the emulated memory, as the processor would read
// it now (through read_bank), as a line of assembly in the CPC's notation: hexadecimal
// numbers with a leading "&", undocumented forms with a star.
#pragma once
#include <cstdint>
#include <iosfwd>

struct DisasmState {
  uint16_t next;       // address of the next byte to read (wraps at 16 bits)
  int length;          // bytes of the instruction read so far (1-4)
  int prefix;          // 0 none, 1 ED, 2 DD, 3 FD
  uint8_t opcode;      // the byte behind the prefix (for DD CB / FD CB the last byte)
  char text[48];       // the instruction's text
  char operand[24];    // scratch: an indexed operand "(IX+&dd)"
};
// The last decoded instruction.
const DisasmState& disasm_result();

// Decodes the instruction at address into disasm.text; returns its length in bytes (1-4).
int disassemble(uint16_t address);

// Writes "AAAA : " with the address, five byte columns (the first `length` bytes at the
// address as two hexadecimal digits and a blank, the rest three blanks), then the text
// of the last disassemble call and a line end.
void print_disassembly(std::ostream& out, uint16_t address, int length);
