// Fuzz target: the configuration reader, then the in-place update and the complete
// writer. The input is the configuration file in use, a temporary file: the writers
// write only there, and SHOW_CONFIG only prints.
#include "config/config.h"
#include "core/machine.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  reset_settings();
  free_rom_list();
  // The requested CPC type decides which sections are read.
  set_setting(kw::CPC_TYPE, size ? data[0] % 8 : 6);
  const std::string& path = fuzzsupport::write_input("cfg", data, size);
  set_config_file_name(path.c_str());
  config().read();
  update_config_file();
  config().read();
  write_config_file();
  config().read();
  free_rom_list();
  return 0;
}
