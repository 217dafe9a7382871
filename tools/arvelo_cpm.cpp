// arvelo-cpm FILE.com: runs a CP/M program on the bare Z80 core (no CPC hardware).
// The program is loaded at 0x100; BDOS functions 2 and 9 print on standard output; a
// jump to address 0 ends it with exit status 0.
#include <cstdio>

#include "cpm_machine.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: arvelo-cpm FILE.com\n");
    return 2;
  }
  std::string error = cpm::load(argv[1], stdout);
  if (!error.empty()) {
    std::fprintf(stderr, "arvelo-cpm: %s\n", error.c_str());
    return 1;
  }
  if (cpm::run()) return 0;
  z80_report_error();
  std::fprintf(stderr, "arvelo-cpm: the program stopped at %04X without ending\n",
               z80_reg16(z80w::PC));
  return 1;
}
