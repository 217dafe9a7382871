// Settings of the emulator: every setting is a configuration keyword with a type,
// bounds and an initial value. Numeric settings live in one table indexed by the
// keyword id; text settings have a getter and a setter (the setter applies the
// keyword's side effects, e.g. a final '/' for paths).
#pragma once
#include <string>

namespace kw {
// Keyword ids are fixed: they are positions in the configuration reader's keyword
// table, and message numbers of the setup labels are derived from them (id + 1).
enum Id : int {
  NO_TOKEN = 0, ENDIF = 1, IFCPC = 2,
  AMSDOS_DISABLED = 3, AMSDOS_SPEEDUP, BREAK_MASK, COLOUR_SCREEN, COMPANY_NAME, CPC_TYPE,
  CRTC_TYPE, DATA_FILE, DRIVE_A, DRIVE_A_AUTOSTART, DRIVE_A_SIDE, DRIVE_A_WRITEPROT, DRIVE_B,
  DRIVE_B_AUTOSTART, DRIVE_B_SIDE, DRIVE_B_WRITEPROT, EMS_ENABLED, EMULATION_DELAY,
  EMULATION_SPEED, HELP_FILE, INTERRUPT_FREQUENCY, INTERRUPT_RESUME, JOY0_CALIBRATE,
  JOY1_CALIBRATE, JOY0_CURSOR_KEYS, JOYSTICK_SIZE, KBD_LANGUAGE, LANGUAGE, M4_ENABLED,
  MOUSE_ENABLED, MOUSE_TYPE, MULTIMODE_UPDATE, PALETTE_CHANGE, POKE_DATABASE, PPI_50HZ,
  PPI_EXP_SIGNAL, PRINTER, RAM_SIZE, RAM_TYPE, REALTIME, ROM_BLOCK, ROM_PATH, SB_DELAY,
  SB_DELAY0, SB_DMA_BUF, SB_SAMPLE_RATE, SB_STEREO, SCREEN_OFFSET, M4_SDCARD_MODE,
  SHOW_CONFIG, SNAPSHOT, SOUND_DEVICE, SOUND_ENABLED, SOUND_FX_ENABLED, TAPE_BYPASS,
  TAPE_PATH, TMP_PATH, VIDEO_MODE, VKBD_LANGUAGE, VSYNC_POSITION, M4_SD_PATH, SNA_SIZE,
  KBD_TEXT_TYPING,
  COUNT
};
static_assert(SNA_SIZE == 64 && COUNT == 66, "keyword ids are part of the file format");
}  // namespace kw

// Numeric value of a keyword (text keywords read 0). The requested CPC type is the
// CPC_TYPE entry, `emulation_speed` the EMULATION_SPEED entry.
int setting(kw::Id id);
// Changes a numeric setting. Every change goes through here so that settings that depend
// on each other stay consistent: a 60 Hz machine (PPI_50HZ 0) has no VSYNC_POSITION
// above 4, whichever of the two is set last.
void set_setting(kw::Id id, int value);

// Text keywords: nullptr when not set. The setter stores an owned copy and applies the
// keyword's extra effect (final '/' for ROM_PATH/TAPE_PATH/TMP_PATH, drive browse
// directories, ...). Passing nullptr clears the value.
const char* setting_text(kw::Id id);
void set_setting_text(kw::Id id, const char* value);

// What a unit's reset does. POWER_ON clears the unit's state as switching the CPC on does;
// APPLY_SETTINGS keeps the state and only takes up settings that changed since (a
// snapshot's CPC type, a new printer file, ...).
enum class ResetKind { APPLY_SETTINGS, POWER_ON };

// Puts every setting back to its initial value (before any file is read).
void reset_settings();

// Browse directory of a drive (0 = A, 1 = B): the directory the file selector opens for
// the drive. Set together with DRIVE_A / DRIVE_B; nullptr while the drive has no path.
const char* drive_browse_dir(int drive);

// Makes a path the way the file selector hands paths back: a leading current working
// directory followed by '/' becomes "./".
std::string normalise_path(const std::string& path);

// The configuration file in use (the one read at set-up and written when settings are
// saved). Empty until start-up chooses one.
const char* config_file_name();
void set_config_file_name(const char* name);

// The data file name: "arvelo.dat" at start, replaced by DATA_FILE of the configuration.
// It is the DATA_FILE setting.
const char* data_file_name();
void set_data_file(const char* name);

// A leading '~' becomes $HOME. The result lives in one static buffer until the next call.
const char* expand_home(const char* path);
