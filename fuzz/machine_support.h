// Shared by the fuzz targets that need a whole machine: a CPC 6128 with 128 KB of RAM and
// two ROM banks filled with a given byte, so that no ROM file is needed to run.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config/settings.h"
#include "core/machine.h"
#include "hardware/memory.h"
#include "fuzz_support.h"
#include "media/fdc.h"

namespace fuzzsupport {

// Settings reset, memory allocated with the OS ROM bank filled with os_fill and BASIC's
// with basic_fill, every unit reset.
inline void set_up_6128(uint8_t os_fill, uint8_t basic_fill) {
  reset_settings();
  set_setting(kw::RAM_SIZE, 128);
  set_setting(kw::CPC_TYPE, model::CPC6128);
  free_rom_list();
  add_rom(255, "os.rom", 0);
  add_rom(0, "basic.rom", 0);
  if (!memory_lay_out(128)) std::abort();
  std::memset(bank_block(bank_of_slot(255)), os_fill, BANK_SIZE);
  std::memset(bank_block(bank_of_slot(0)), basic_fill, BANK_SIZE);
  memory_init(ram_size_kb(), bank_of_slot(0), bank_of_slot(255));
  set_hardware_model(model::CPC6128);
  fdc_init();
  machine_attach_units();
  machine_reset(ResetKind::POWER_ON);
}

// The settings reset once, with temporary files going into the work directory; then a
// machine at rest (which also links the machine model first).
inline void machine_at_rest(const char* tag) {
  static const bool done =
      (reset_settings(), set_setting_text(kw::TMP_PATH, work_dir(tag).c_str()), true);
  (void)done;
  clear_stop_request();
}

}  // namespace fuzzsupport
