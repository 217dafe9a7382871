// The configuration file: KEYWORD = value statements with sections per CPC type. The
// reader applies a file to the settings at every machine set-up; the writers produce the
// same format when settings are saved or shown.
#pragma once
#include <iosfwd>

#include "config/scan.h"
#include "config/settings.h"

// Names of the configuration keywords, indexed by keyword id (kw::Id).
extern const char* const config_keyword_names[kw::COUNT];

// What a keyword's value is.
enum class KeywordKind { NONE, NUMBER, TEXT, JOY_CALIBRATION, ROM_BLOCK, IFCPC, ENDIF };
KeywordKind keyword_kind(int id);

// Per-keyword operations on the settings.
class setcfg {
 public:
  // Bounds of a numeric keyword (RAM_SIZE's depend on RAM_TYPE); 0, or 1 when the
  // keyword is not numeric.
  int get_bounds(int id, int& min, int& max, int& step) const;
  // Text keywords (through set_setting_text with its extra effects); other ids write
  // "unknown setup <id>" to standard error.
  void set_text(int id, const char* text);
  const char* get_text(int id);
  // ROM_BLOCK: registers a ROM image for a slot (add_rom).
  void set_rom_block(int slot, const char* file, int offset);
  // JOY0_CALIBRATE / JOY1_CALIBRATE: accepted, the values are not kept.
  void set_joystick_calibration(int joystick, const int values[4]);
  // Writes every saved keyword, one line each, in the file's order.
  void write_config(std::ostream& out);
  // Writes the configuration between "SETCFG: show config: ***" and "***" to standard output.
  void show_config();
};

// Reader of the configuration file in use (config_file_name()).
class config : public scan, public setcfg {
 public:
  // Reads the file and applies it to the settings. False when it cannot be opened;
  // otherwise true, with `warnings` counting the problems found (each reported).
  bool read();

 private:
  void read_statements();
  bool read_number_value(const char* context, int& value);
  bool expect_comma(const char* context);
};

// Numeric keywords that are read and checked but whose value is dropped.
bool keyword_discarded(int id);

// Writes a complete configuration file (comment header with the date, every saved
// keyword, "; end") to the configuration file in use. 0, or 1 after message 217 when the
// file cannot be written.
int write_config_file();

// Updates the configuration file in use in place: the values of the saved keywords are
// replaced on their lines, keeping comments, layout and the sections of other CPC types;
// keywords without a line are appended. ROM_BLOCK, SNAPSHOT, DRIVE_A, DRIVE_B, TAPE_PATH
// and ROM_PATH are never changed. 0, or 1 when the file cannot be read or written.
int update_config_file();

// Called after a write failure is reported, so that the user can read it (the window
// toolkit installs its wait for a key; nothing by default).
// Installs the function (the previous one is returned, so that a test can put it back).
using config_wait_key_fn = void (*)();
config_wait_key_fn set_config_wait_key(config_wait_key_fn hook);
