// Fuzz target: the data file reader with its keyboard tables and palettes.
#include "config/data.h"
#include "config/settings.h"
#include "core/machine.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data_in, size_t size) {
  fuzzsupport::silence_console();
  reset_settings();
  set_setting(kw::KBD_LANGUAGE, size ? data_in[0] % 6 : 0);
  set_setting(kw::COLOUR_SCREEN, size > 1 ? data_in[1] & 1 : 1);
  set_data_file(fuzzsupport::write_input("dat", data_in, size).c_str());
  data reader;
  if (reader.read()) install_data_tables(reader.tables);
  return 0;
}
