// Fuzz target: a snapshot with memory chunks turned into a plain one by the M4 board's
// conversion. Whatever the input, the conversion ends, and what it writes is the header
// and at most ten 64 KB memory blocks.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_support.h"
#include "m4/sdcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = fuzzsupport::write_input("fuzz-m4-sna", data, size);
  std::FILE* in = std::fopen(path.c_str(), "rb");
  std::FILE* out = std::tmpfile();
  if (!in || !out) std::abort();
  m4::convert_snapshot(in, out);
  std::fseek(out, 0, SEEK_END);
  if (std::ftell(out) > 0x100 + 10 * 65536) std::abort();
  std::fclose(in);
  std::fclose(out);
  return 0;
}
