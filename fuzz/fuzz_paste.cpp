// Clipboard text pasted into the emulated keyboard (Shift+Insert): any bytes must type
// to the end in a bounded number of keyboard scans and leave no key held.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hardware/autotype.h"
#include "hardware/keyboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  keyboard_reset(ResetKind::POWER_ON);
  // The clipboard hands over a C string: it ends at the first zero byte.
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();
  type_pasted(text.c_str());
  // Each character takes at most three scans (held, then released for one or two).
  const size_t limit = 3 * (text.size() + 2);
  size_t scans = 0;
  while (keyboard_inputs().typing_active) {
    for (int row = 0; row < 10; ++row) keyboard_row(row);
    if (++scans > limit) std::abort();
  }
  for (int row = 0; row < 16; ++row)
    if (keyboard_inputs().typing[row] != 0) std::abort();
  return 0;
}
