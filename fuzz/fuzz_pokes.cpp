// Fuzz target: the poke database reader. Lists every entry the way the list window does
// (indexes 0, 1, 2 ... until none, then a jump back), applies each entry's pokes with
// its numbered lines into a scratch memory, and asks '?' values with a fixed answer.
#include <array>
#include <string>

#include "debugger/pokes.h"
#include "fuzz_support.h"
#include "z80/z80_bus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::array<std::array<uint8_t, 0x4000>, 4> ram;
  for (int q = 0; q < 4; ++q) write_bank[q] = ram[q].data();
  const std::string& path = fuzzsupport::write_input("pokes", data, size);
  PokeDatabase db;
  if (!db.open(path.c_str())) return 0;
  auto ask = [](long& v) { v = 0x1234; return true; };
  std::string text, printed;
  constexpr int ENTRY_LIMIT = 1000;
  int n = 0;
  for (; n < ENTRY_LIMIT && db.entry_text(text, n); ++n) {
    apply_poke(text.c_str() + (text.size() > pokes::POKE_COLUMN ? pokes::POKE_COLUMN : text.size()),
               printed, ask);
    while (db.next_poke_text(text)) apply_poke(text.c_str() + pokes::POKE_COLUMN, printed, ask);
  }
  if (n > 1) db.entry_text(text, n / 2);
  return 0;
}
