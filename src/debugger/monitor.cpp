#include "debugger/monitor.h"

#include <iostream>

#include "z80/z80.h"

// Until the monitor's own console window exists, the monitor writes the processor state
// to standard output and lets the machine run on.
void monitor_run() {
  std::cout << "Debugger-Monitor\n";
  z80_dump_registers(std::cout);
  std::cout.flush();
}
