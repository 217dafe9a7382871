// The setup window (F7) and the poke database list it opens. Exposed here so that the
// tests can drive the list's values and the web-server line without a window.
#pragma once
#include <string>
#include <vector>

#include "config/settings.h"
#include "ui/select.h"

// What the setup window needs of a web server: the program installs the M4 board's at
// start; without them the web-server line shows "start" and choosing it does nothing.
struct SetupWebServer {
  bool (*running)() = nullptr;
  // Browse directory of drive A, the SD card, tapes and ROMs.
  bool (*start)(const char* drive_a, const char* sd_card, const char* tapes, const char* roms) = nullptr;
  void (*stop)() = nullptr;
};
void set_setup_web_server(const SetupWebServer& server);

// One line of the setup list.
struct SetupItem {
  int message = 0;           // label's message number
  kw::Id keyword = kw::NO_TOKEN;  // NO_TOKEN: a title or an action
  int min = 0, max = 0;
  int value = -1;            // -1: no value
  int step = 1;
};

class setup_w : public selectwin {
 public:
  setup_w(int left, int top, int right, int bottom);
  // Fills the list from the settings (titles, settings, actions).
  void build();
  // Stores every setting line's value with set_setting.
  void store_values() const;

  const std::vector<SetupItem>& items() const { return items_; }
  void draw(int flag = 0) override;
  const char* line_text(char* buffer, int index, int width) override;
  int line_value(int index) override;
  int line_step(int index) override;
  void set_line_value(int index, int value) override;
  int help_key(int index, const char* text) override;

 private:
  void compute_label_width();
  std::vector<SetupItem> items_;
  std::vector<std::string> labels_;
  int label_width_ = 0;
};

// Message number of the web-server line (74 stopped, 75 running).
int setup_web_server_message();
// The web-server line's action: starts the server with drive A's browse directory,
// M4_SD_PATH, TAPE_PATH and ROM_PATH when it is stopped, stops it when it runs.
void setup_toggle_web_server();
// Stores the list's values, re-applies the settings to the machine and reads the data
// file again when KBD_LANGUAGE or COLOUR_SCREEN differs from the opened values.
void apply_settings(const setup_w& w, int opened_kbd_language, int opened_colour_screen);
// The config file name is the template (compared without regard to case).
bool is_template_config(const std::string& path);

// Runs the setup window until it is left.
void open_setup();
// The poke database list: 0 when an entry was chosen and applied, 1 otherwise.
int poke_database_window();
