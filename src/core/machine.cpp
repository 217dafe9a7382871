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

namespace {
// Before the instruction at address 0: a CPC reset or restart with the lower ROM in
// place while the M4 board is off is when changes made in its virtual SD image go back
// to the SD directory.
void at_address_zero() {
  const bool lower_rom_on = !(memory_view().rom_state & 1);
  if (lower_rom_on && !setting(kw::M4_ENABLED) && setting(kw::M4_SDCARD_MODE) == 0) m4_vsd_sync();
}

// What the M4 board's reset command asks of the machine.
void power_on_reset() { machine_reset(ResetKind::POWER_ON); }

bool audio_closed = true;  // the run driver reopens the device before a burst

}

// ---- Set-up and teardown ---------------------------------------------------------------

void machine_attach_units() {
  z80_attach_bus(Z80Bus{video_advance, port_in, port_out, tape_trap, at_address_zero});
  ports_attach_disc_controller(
      DiscControllerPorts{fdc_read_status, fdc_read_data, fdc_write_data, fdc_write_motor});
  keyboard_attach_cassette(CassettePorts{tape_deck_port_c, tape_deck_read});
  m4_attach_machine_reset(power_on_reset);
}

void install_data_tables(const DataTables& tables) {
  for (int i = 0; i < DataTables::KEY_TABLES; ++i) {
    if (!tables.key_table_read[i]) continue;
    // An empty table is a real table too (it empties the key map): never pass nullptr.
    static const int none = 0;
    const std::vector<int>& values = tables.key_tables[i];
    load_key_table(i, values.empty() ? &none : values.data(), static_cast<int>(values.size()));
  }
  for (int flag = 0; flag < 2; ++flag)
    if (tables.palette_read[flag]) set_palette(flag, tables.palettes[flag].data());
}

int setup_machine(StartOptions& options) {
  machine_attach_units();
  set_hardware_model(model::UNKNOWN);  // each pass detects the model from its own ROMs
  free_rom_list();
  fdc_init();
  {
    config cfg;
    if (!cfg.read()) return 2;
  }
  {
    data d;
    if (d.read()) install_data_tables(d.tables);
  }

  if (options.media_kind == MEDIA_DISC) set_setting_text(kw::DRIVE_A, options.media_file);
  if (options.media_kind == MEDIA_SNAPSHOT) set_setting_text(kw::SNAPSHOT, options.media_file);
  media_clean_temp();

  int ram = setting(kw::RAM_SIZE) / 64 * 64;
  if (ram <= 0) ram = 128;
  fall_back_to_open_rom();
  if (!memory_lay_out(ram)) return 3;

  const int rom_errors = load_roms();
  if (rom_errors) return rom_errors + 2;

  memory_init(ram, bank_of_slot(0), bank_of_slot(255));
  audio_closed = host.audio_open() != 0;
  if (setting(kw::M4_ENABLED)) m4_start();
  machine_reset(ResetKind::POWER_ON);
  if (options.media_kind == MEDIA_DISC) start_drive_a_autostart();
  return 0;
}

void start_drive_a_autostart() {
  set_setting(kw::DRIVE_A_AUTOSTART, 1);
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
  // The board's ROM and port hooks go too: a restart with the board switched off in
  // the settings must find the ports unused and no board ROM in the slots.
  m4_stop();
  free_rom_list();
  memory_free();
}

void machine_reset(ResetKind kind) {
  video_reset(kind);
  ports_reset(kind);
  fdc_reset(kind);
  if (kind == ResetKind::POWER_ON) z80_reset(0xFF);
  z80_set_rom_trap(tape_bypass_wanted());
  tape_reset(kind);
  keyboard_reset(kind);
  video_apply_timing_settings();
  psg_reset(kind);
  mouse_reset(kind);
  m4_reset(kind);
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

