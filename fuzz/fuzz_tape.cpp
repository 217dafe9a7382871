// Fuzz target: a host file in the tape directory read through the tape traps, as the
// firmware would: opened (header or none), read character by character with a character
// returned now and then, opened again and read whole into memory, and listed by CAT.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "config/settings.h"
#include "core/machine.h"
#include "media/tape.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace {

std::vector<uint8_t> ram(65536);

const std::string& work_dir() { return fuzzsupport::work_dir("fuzz-tape"); }

void open_input() {
  std::memcpy(ram.data() + 0x9000, "FILE", 4);
  z80_reg8(z80r::B) = 4;
  z80_reg16(z80w::HL) = 0x9000;
  tape_trap(0xFC77);
}

void set_up() {
  fuzzsupport::silence_console();
  for (int q = 0; q < 4; ++q) read_bank[q] = write_bank[q] = ram.data() + q * 16384;
  set_hardware_model(model::CPC6128);
  set_setting_text(kw::TAPE_PATH, work_dir().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::once<set_up>();
  fuzzsupport::write_file(work_dir() + "/FILE.BAS", data, size);
  open_input();
  if (!(z80_reg8(z80r::F) & 1)) std::abort();  // the file is there: it must open
  // Every data byte comes once, however often one is given back.
  size_t bytes = 0;
  bool given_back = false;
  for (size_t guard = 0; guard < 2 * size + 4; ++guard) {
    tape_trap(0xFC80);
    if (!(z80_reg8(z80r::F) & 1)) break;
    ++bytes;
    given_back = !given_back && bytes % 7 == 3;
    if (given_back) {
      tape_trap(0xFC86);
      --bytes;
    }
    tape_trap(0xFC89);
  }
  if (bytes > size) std::abort();
  tape_trap(0xFC7A);
  open_input();
  z80_reg16(z80w::HL) = static_cast<uint16_t>(size);
  tape_trap(0xFC83);
  tape_trap(0xFC7D);
  tape_catalog(work_dir() + "/");
  return 0;
}
