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

// What the data file holds. The reader only reads; the machine's set-up installs the
// tables into the keyboard and the colour units.
struct DataTables {
  static constexpr int KEY_TABLES = 6;
  // By table index (0 UK ... 5 ORIG) and palette flag (0 green, 1 colour): the last
  // complete table of its keyword. A table can be read and empty (it empties the key
  // map), so `*_read` tells whether the file had one at all.
  std::vector<int> key_tables[KEY_TABLES];
  bool key_table_read[KEY_TABLES] = {};
  std::vector<int> palettes[2];
  bool palette_read[2] = {};
};

// Reads the data file (data_file_name()) into `tables`.
class data : public scan {
 public:
  static constexpr int KEY_TABLES = DataTables::KEY_TABLES;
  static constexpr int KEY_TABLE_NUMBERS = 864;   // 216 groups of four
  static constexpr int PALETTE_NUMBERS = 96;      // 32 × red, green, blue

  // Reads the file. False when it cannot be opened; otherwise true, with `warnings`
  // counting the problems found (each already reported on standard output).
  bool read();

  DataTables tables;

 private:
  void read_statements();
  bool read_key_table(const char* name, std::vector<int>& values);
  bool read_palette(const char* name, std::vector<int>& values);
};
