// Fuzz target: the token scanner over arbitrary text, with keyword look-ups of the names.
#include <cstring>

#include "config/scan.h"
#include "fuzz_support.h"

namespace {
class FileScan : public scan {
 public:
  explicit FileScan(const std::string& path) { open(path, std::ios::binary); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  const std::string& path = fuzzsupport::write_input("scan", data, size);
  FileScan s(path);
  KeywordTable table;
  const char* names[] = {"NO TOKEN", "#ENDIF", "#IFCPC", "RAM_SIZE", "ROM_PATH"};
  table.build(names, 5);
  int token;
  size_t tokens = 0;
  while ((token = s.next_token()) != tok::END) {
    // Every token consumes at least one character.
    if (++tokens > size) __builtin_trap();
    if (std::strlen(s.text) >= scan::TEXT_SIZE) __builtin_trap();
    if (token == tok::NAME) table.lookup(s.text, (tokens & 1) != 0);
    if (token == tok::ERROR) s.skip_line();
  }
  return 0;
}
