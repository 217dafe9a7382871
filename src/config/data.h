// The data file: the six keyboard tables (host key to CPC keyboard matrix, one per
// keyboard language) and the two 32-colour palettes (green and colour monitor).
#pragma once
#include <vector>

#include "config/scan.h"

// Keyword ids of the data file, in the order of its keyword table.
namespace datakw {
enum Id : int {
  NO_TOKEN = 0, KEYTAB_UK, KEYTAB_GR, KEYTAB_FR, KEYTAB_SP, KEYTAB_DK, KEYTAB_ORIG,
  RGB_PAL_GREEN, RGB_PAL_COLOUR, COUNT
};
}  // namespace datakw

// Reads the data file (data_file_name()) and hands every complete keyboard table to
// load_key_table and every complete palette to set_palette.
class data : public scan {
 public:
  static constexpr int KEY_TABLES = 6;
  static constexpr int KEY_TABLE_NUMBERS = 864;   // 216 groups of four
  static constexpr int PALETTE_NUMBERS = 96;      // 32 × red, green, blue

  data();
  // The number of warnings, or 1 when the file cannot be opened.
  int errors = 0;

  // What was read and applied, by table index (0 UK ... 5 ORIG) and palette flag
  // (0 green, 1 colour); empty when the file held no valid table of that kind.
  std::vector<int> key_tables[KEY_TABLES];
  std::vector<int> palettes[2];

 private:
  void read_statements();
  bool read_key_table(const char* name, std::vector<int>& values);
  bool read_palette(const char* name, std::vector<int>& values);
};
