// Fuzz target: the keyboard-layout choice written into the user's configuration file.
// The input (after its first byte, the layout) is the file; the rewrite goes through a
// temporary file beside it and must leave a file the configuration reader accepts.
#include "config/config.h"
#include "core/machine.h"
#include "fuzz_support.h"
#include "ui/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  if (size == 0) return 0;
  // In a directory of its own: the temporary file is made beside the configuration.
  static const std::string path = fuzzsupport::work_dir("vkbd") + "/arvelo.cfg";
  fuzzsupport::write_file(path, data + 1, size - 1);
  write_vkbd_language(path.c_str(), data[0] % 5);
  reset_settings();
  free_rom_list();
  set_config_file_name(path.c_str());
  { config again; }
  free_rom_list();
  return 0;
}
