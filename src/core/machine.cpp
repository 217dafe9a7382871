// Machine model: run control, machine identity, bank table, ROM list and model
// detection, set-up and teardown of the whole machine, and the run driver.
#include "core/machine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <new>

#include "config/settings.h"
#include "config/config.h"
#include "config/data.h"
#include "config/messages.h"
#include "debugger/monitor.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "m4/m4.h"
#include "core/host.h"
#include "media/dsk.h"
#include "media/fdc.h"
#include "media/media_file.h"
#include "media/snapshot.h"
#include "media/tape.h"
#include "media/tape_deck.h"
#include "sound/psg.h"
#include "video/colours.h"
#include "video/raster.h"
#include "z80/z80.h"

// ---- Run control -------------------------------------------------------------------

uint32_t stop_request_word = 0;

void request_stop(int code) {
  stop_request_word |= static_cast<uint32_t>(code);
  if (code == static_cast<int>(stopbit::TAPE)) z80_irq(0xFF);
}

void report_stop_reasons() {
  if (stop_request_word & stopbit::PORT_ACCESS) ports_report_undecoded();
  if (stop_request_word & stopbit::CPU_ERROR) z80_report_error();
  if (stop_request_word & stopbit::TAPE) print_message(97);
}

namespace {
bool audio_closed = true;  // the run driver reopens the device before a burst
}

// ---- Set-up and teardown ---------------------------------------------------------------

int setup_machine(StartOptions& options) {
  hardware_model = model::UNKNOWN;  // each pass detects the model from its own ROMs
  free_rom_list();
  fdc_init();
  {
    config cfg;
    if (cfg.status < 0) return 2;
  }
  { data d; }

  if (options.media_kind == MEDIA_DISC) set_setting_text(kw::DRIVE_A, options.media_file);
  if (options.media_kind == MEDIA_SNAPSHOT) set_setting_text(kw::SNAPSHOT, options.media_file);
  media_clean_temp();

  int ram = setting(kw::RAM_SIZE) / 64 * 64;
  if (ram <= 0) ram = 128;
  ram_size_kb = ram;
  const int extra = ram > 128 ? (ram - 128) / 16 : 0;
  fall_back_to_open_rom();
  memory_free();
  std::memset(bank_table, 0, sizeof bank_table);
  first_rom_bank = 10 + extra;
  bank_count = first_rom_bank + rom_count;
  if (bank_count > MAX_BANKS || memory_allocate(0, bank_count) != 0) {
    if (bank_count > MAX_BANKS) print_message(174);
    bank_count = 0;
    return 3;
  }

  const int rom_errors = load_roms();
  if (rom_errors) return rom_errors + 2;

  memory_init(ram, bank_of_slot(0), bank_of_slot(255));
  audio_closed = host.audio_open() != 0;
  if (setting(kw::M4_ENABLED)) m4_start();
  machine_reset(1);
  if (options.media_kind == MEDIA_DISC) start_drive_a_autostart();
  return 0;
}

void start_drive_a_autostart() {
  setting(kw::DRIVE_A_AUTOSTART) = 1;
  dsk_insert_configured(0, true);
}

int start_machine_media() {
  start_drive_a_autostart();
  return snapshot_load_configured() != 0 ? 1 : 0;
}

void teardown_machine() {
  dsk_eject(0);
  dsk_eject(1);
  tape_close();
  tape_deck_teardown();
  printer_close();
  host.audio_close();
  audio_closed = true;
  free_rom_list();
  memory_free();
  bank_count = 0;
}

int machine_reset(int kind) {
  int result = video_reset(kind);
  result += ports_reset(kind);
  result += fdc_reset(kind);
  if (kind == 1) z80_reset(0xFF);
  z80.rom_trap_enabled = tape_bypass_wanted() ? 1 : 0;
  result += tape_reset(kind);
  result += keyboard_reset(kind);
  video_apply_timing_settings();
  result += psg_reset(kind);
  result += mouse_reset(kind);
  result += m4_reset(kind);
  return result;
}

// ---- Run driver ------------------------------------------------------------------------

int run_machine(bool debug_first) {
  if (debug_first) monitor_run();
  while (!(stop_request_word & (stopbit::QUIT | stopbit::RESTART))) {
    clear_stop_request();
    build_colour_tables();
    do {
      if (audio_closed) audio_closed = host.audio_open() != 0;
      z80_run();
      host.audio_close();
      audio_closed = true;
      stop_request_word &= static_cast<uint32_t>(setting(kw::BREAK_MASK)) | 0xFFFFFFF8u;
    } while (stop_request_word == 0);
    report_stop_reasons();
    if (!(stop_request_word & (stopbit::QUIT | stopbit::RESTART))) monitor_run();
  }
  return 0;
}

// The processor calls this before fetching from address 0: a CPC reset or restart with
// the lower ROM in place while the M4 board is off is when changes made in its virtual
// SD image go back to the SD directory.
void z80_at_address_zero() {
  const bool lower_rom_on = !(memory_view().rom_state & 1);
  if (lower_rom_on && !setting(kw::M4_ENABLED) && setting(kw::M4_SDCARD_MODE) == 0) m4_vsd_sync();
}
