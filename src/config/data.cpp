// Data file reader: keyboard tables and palettes.
#include "config/data.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "config/settings.h"

namespace {
const char* const data_keyword_names[datakw::COUNT] = {
    "NO TOKEN",   "KEYTAB_UK",   "KEYTAB_GR",     "KEYTAB_FR",     "KEYTAB_SP",
    "KEYTAB_DK",  "KEYTAB_ORIG", "RGB_PAL_GREEN", "RGB_PAL_COLOUR",
};
}  // namespace

bool data::read() {
  const char* name = data_file_name();
  std::cout << "DATA: Using " << name << std::endl;
  if (!open_text_file(*this, name)) {
    std::perror(name);
    return false;
  }
  read_statements();
  close();
  if (warnings != 0) std::cout << "DATA: " << warnings << " errors found." << std::endl;
  return true;
}

// Numbers separated by ','; a negative number ends the list unstored, the 864th number
// ends it stored.
bool data::read_key_table(const char* name, std::vector<int>& values) {
  values.clear();
  for (;;) {
    if (next_token() != tok::NUMBER) {
      warning("not a value", name);
      return false;
    }
    if (number < 0) return true;
    values.push_back(number);
    if (static_cast<int>(values.size()) == KEY_TABLE_NUMBERS) return true;
    if (next_token() != tok::COMMA) {
      warning("',' expected", name);
      return false;
    }
  }
}

// Exactly 96 numbers separated by ','; only the low 8 bits of each count.
bool data::read_palette(const char* name, std::vector<int>& values) {
  values.clear();
  for (int i = 0; i < PALETTE_NUMBERS; ++i) {
    if (i > 0 && next_token() != tok::COMMA) {
      warning("',' expected", name);
      return false;
    }
    if (next_token() != tok::NUMBER) {
      warning("not a value", name);
      return false;
    }
    values.push_back(number & 0xFF);
  }
  return true;
}

void data::read_statements() {
  KeywordTable table;
  table.build(data_keyword_names, datakw::COUNT);
  while (!too_many_warnings()) {
    int token = next_token();
    if (token == tok::END) break;
    if (token != tok::NAME) {
      warning("no keyword");
      skip_line();
      continue;
    }
    int id = table.lookup(text, false);
    if (id == datakw::NO_TOKEN) {
      std::string message = std::string("unknown keyword ") + text;
      warning(message.c_str());
      skip_line();
      continue;
    }
    if (next_token() != tok::EQUALS) {
      warning("'=' expected");
      continue;
    }
    const char* name = data_keyword_names[id];
    std::vector<int> values;
    if (id <= datakw::KEYTAB_ORIG) {
      if (!read_key_table(name, values)) {
        skip_line();
        continue;
      }
      tables.key_tables[id - 1] = values;
      tables.key_table_read[id - 1] = true;
    } else {
      if (!read_palette(name, values)) {
        skip_line();
        continue;
      }
      int flag = id == datakw::RGB_PAL_COLOUR ? 1 : 0;
      tables.palettes[flag] = values;
      tables.palette_read[flag] = true;
    }
  }
}
