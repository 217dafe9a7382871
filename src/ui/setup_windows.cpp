// The setup window (F7): the numeric settings in a scrolling list with their bounds,
// and the actions (web server, load and save a configuration, ROM slots, restart, the
// poke database). Leaving it applies the values to the machine and writes them back
// into the configuration file in use, keeping its comments. The poke database list.
#include "ui/setup_windows.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <strings.h>

#include "config/config.h"
#include "config/data.h"
#include "config/messages.h"
#include "config/rom_list.h"
#include "core/machine.h"
#include "debugger/pokes.h"
#include "ui/filesel.h"
#include "ui/ui.h"
#include "z80/z80.h"

namespace {

constexpr int RAM_SIZE_STEP = 64;
constexpr int VALUE_COLUMNS = 3;
constexpr int TITLE_PAD = 2;
constexpr int ACTION_PAD = 5;
constexpr const char* TEMPLATE_NAME = "arvelo0.cfg";
constexpr int UPPER_ROM_SLOTS = 16;
constexpr int LOWER_ROM_SLOT = 255;

SetupWebServer web_server;

// The list: a title's message, then the settings under it.
struct SetupGroup {
  int title;
  std::vector<kw::Id> settings;
};
const SetupGroup SETUP_GROUPS[] = {
    {msg::SETUP_SPEED, {kw::REALTIME}},
    {msg::SETUP_DISPLAY, {kw::COLOUR_SCREEN, kw::VIDEO_MODE, kw::CRTC_TYPE}},
    {msg::SETUP_SOUND, {kw::SOUND_ENABLED, kw::SB_SAMPLE_RATE, kw::SOUND_FX_ENABLED}},
    {msg::SETUP_M4, {kw::M4_ENABLED, kw::M4_SDCARD_MODE}},
    {msg::SETUP_INPUT,
     {kw::KBD_LANGUAGE, kw::VKBD_LANGUAGE, kw::JOY0_CURSOR_KEYS, kw::JOYSTICK_SIZE, kw::MOUSE_TYPE,
      kw::MOUSE_ENABLED}},
    {msg::SETUP_LINKS, {kw::COMPANY_NAME, kw::PPI_50HZ, kw::PPI_EXP_SIGNAL}},
    {msg::SETUP_SYSTEM,
     {kw::AMSDOS_DISABLED, kw::AMSDOS_SPEEDUP, kw::LANGUAGE, kw::TAPE_BYPASS, kw::RAM_SIZE,
      kw::RAM_TYPE, kw::CPC_TYPE, kw::SHOW_CONFIG}},
};
// The action lines after the settings; the web-server line's message changes.
constexpr int WEB_SERVER_LINE = -1;
const int SETUP_ACTIONS[] = {WEB_SERVER_LINE,
                             msg::LOAD_CONFIGURATION,
                             msg::ROM_SLOTS,
                             msg::RESTART_WITH_SETTINGS,
                             msg::SAVE_CONFIGURATION_AS,
                             msg::POKE_DATABASE_ACTION,
                             msg::CLOSE_SETUP};

// A small list of fixed lines (ROM slots).
class lines_w : public selectwin {
 public:
  lines_w(int l, int t, int r, int b, const char* title, std::vector<std::string> lines)
      : selectwin(l, t, r, b, title), lines_(std::move(lines)) {}
  const char* line_text(char* buffer, int index, int width) override {
    if (index < 0 || index >= static_cast<int>(lines_.size())) return nullptr;
    std::snprintf(buffer, SELECT_LINE_MAX + 1, "%-.*s", std::max(0, width), lines_[index].c_str());
    return buffer;
  }

 private:
  std::vector<std::string> lines_;
};

void wait_in_window(int left, int top, int right, int bottom, const std::string& text) {
  framewindow w(left, top, right, bottom);
  w.set_scheme(FRAME_SCHEME);
  w.draw();
  // Row and column 0 are the frame.
  w.set_cursor(1, 1);
  w.print(text);
  w.update_texture();
  flush_input();
  wait_key(1);
  w.close();
}

}  // namespace

void set_setup_web_server(const SetupWebServer& server) { web_server = server; }

int setup_web_server_message() {
  return web_server.running && web_server.running() ? msg::STOP_WEB_SERVER : msg::START_WEB_SERVER;
}

bool is_template_config(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return strcasecmp(name.c_str(), TEMPLATE_NAME) == 0;
}

// ---- setup_w ------------------------------------------------------------------------------------

setup_w::setup_w(int left, int top, int right, int bottom) : selectwin(left, top, right, bottom) {
  build();
}

void setup_w::build() {
  items_.clear();
  setcfg cfg;
  for (const SetupGroup& group : SETUP_GROUPS) {
    items_.push_back({group.title, kw::NO_TOKEN, 0, 0, -1, 1});
    for (kw::Id id : group.settings) {
      SetupItem item{id + 1, id, 0, 0, setting(id), 1};
      int step = 1;
      cfg.get_bounds(id, item.min, item.max, step);
      item.step = id == kw::RAM_SIZE ? RAM_SIZE_STEP : 1;
      items_.push_back(item);
    }
  }
  for (int action : SETUP_ACTIONS)
    items_.push_back({action == WEB_SERVER_LINE ? setup_web_server_message() : action, kw::NO_TOKEN, 0, 0, -1, 1});
  labels_.clear();
  for (const SetupItem& item : items_) labels_.emplace_back(message_text(item.message));
  compute_label_width();
}

void setup_w::compute_label_width() {
  size_t longest = 0;
  for (const std::string& label : labels_) longest = std::max(longest, label.size());
  // The label, the value's columns and a blank must fit in the list's width.
  label_width_ = std::min(static_cast<int>(longest) + 1, std::max(1, line_width() - VALUE_COLUMNS - 1));
}

void setup_w::store_values() const {
  for (const SetupItem& item : items_)
    if (item.keyword != kw::NO_TOKEN) set_setting(item.keyword, item.value);
}

void setup_w::draw(int flag) {
  compute_label_width();
  selectwin::draw(flag);
}

const char* setup_w::line_text(char* buffer, int index, int width) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
  const SetupItem& item = items_[index];
  const char* label = labels_[index].c_str();
  if (item.value == -1) {
    std::snprintf(buffer, SELECT_LINE_MAX + 1, "%-*.*s%*s", label_width_ + TITLE_PAD,
                  label_width_ + TITLE_PAD, label, ACTION_PAD, "");
  } else {
    std::snprintf(buffer, SELECT_LINE_MAX + 1, "%-*.*s%3d", label_width_, label_width_ - 1, label,
                  item.value);
  }
  if (width >= 0 && width <= SELECT_LINE_MAX) buffer[std::min<size_t>(width, std::strlen(buffer))] = 0;
  return buffer;
}

int setup_w::line_value(int index) {
  return index >= 0 && index < static_cast<int>(items_.size()) ? items_[index].value : -1;
}

int setup_w::line_step(int index) {
  return index >= 0 && index < static_cast<int>(items_.size()) ? items_[index].step : 1;
}

void setup_w::set_line_value(int index, int value) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  SetupItem& item = items_[index];
  if (item.value == -1) return;
  value = std::clamp(value, item.min, item.max);
  item.value = value / item.step * item.step;
}

int setup_w::help_key(int index, const char* text) {
  (void)text;
  if (index >= 0 && index < static_cast<int>(labels_.size())) help_window(labels_[index].c_str());
  return selectbit::ROWS | selectbit::WINDOW;
}

// ---- Leaving and applying -------------------------------------------------------------------------

void apply_settings(const setup_w& w, int opened_kbd_language, int opened_colour_screen) {
  w.store_values();
  machine_reset(ResetKind::APPLY_SETTINGS);
  if (setting(kw::KBD_LANGUAGE) != opened_kbd_language ||
      setting(kw::COLOUR_SCREEN) != opened_colour_screen) {
    data d;
    if (d.read()) install_data_tables(d.tables);
  }
}

namespace {

struct SetupSession {
  setup_w& w;
  int kbd_language;
  int colour_screen;
  void apply() { apply_settings(w, kbd_language, colour_screen); }
};

void load_configuration(SetupSession& s) {
  s.apply();
  std::string path = config_file_name();
  if (choose_file_dialog(message_text(msg::LOAD_CONFIGURATION_TITLE), path, ".cfg") != 0) return;
  set_config_file_name(path.c_str());
  config cfg;
  const bool opened = cfg.read();
  if (!opened || cfg.warnings > 0) {
    flush_input();
    wait_key(1);
  }
}

std::string rom_slot_line(int slot) {
  std::string line = slot == LOWER_ROM_SLOT ? message_text(msg::LOWER_ROM)
                                            : std::string(message_text(msg::UPPER_ROM)) + " " + std::to_string(slot);
  line += ": ";
  std::string file = message_text(msg::EMPTY_SLOT);
  for (const RomEntry* e = rom_list(); e; e = e->next)
    if (e->slot == slot) file = e->file;
  return line + file;
}

void rom_slots(SetupSession& s) {
  s.apply();
  std::vector<std::string> lines = {rom_slot_line(LOWER_ROM_SLOT)};
  for (int slot = 0; slot < UPPER_ROM_SLOTS; ++slot) lines.push_back(rom_slot_line(slot));
  lines_w list(15, 6, 65, 19, message_text(msg::ROM_SLOT_TITLE), lines);
  int index = 0;
  const int cancelled = select(list, index);
  list.close();
  if (cancelled) return;
  const int slot = index == 0 ? LOWER_ROM_SLOT : index - 1;
  const char* rom_path = setting_text(kw::ROM_PATH);
  std::string path = rom_path && *rom_path ? rom_path : "./";
  if (choose_file_dialog(lines[index].c_str(), path, nullptr) != 0) return;
  // The ROM list holds names relative to ROM_PATH when the file lies there.
  if (rom_path && *rom_path && path.rfind(rom_path, 0) == 0) path = path.substr(std::strlen(rom_path));
  add_rom(slot, path.c_str(), 0);
}

void save_configuration_as(SetupSession& s) {
  s.apply();
  std::string path = config_file_name();
  if (choose_file_dialog(message_text(msg::SAVE_CONFIGURATION_TITLE), path, ".cfg") != 0) return;
  if (is_template_config(path)) {
    wait_in_window(5, 20, 75, 23, message_text(msg::TEMPLATE_NOT_WRITABLE));
    return;
  }
  const std::string in_use = config_file_name();
  set_config_file_name(path.c_str());
  if (write_config_file() != 0) set_config_file_name(in_use.c_str());
}

}  // namespace

void setup_toggle_web_server() {
  if (!web_server.running) return;
  if (web_server.running()) {
    web_server.stop();
    return;
  }
  web_server.start(drive_browse_dir(0), setting_text(kw::M4_SD_PATH), setting_text(kw::TAPE_PATH),
                   setting_text(kw::ROM_PATH));
}

namespace {

// The chosen line's action; true when the window is left.
bool setup_action(SetupSession& s, int message) {
  switch (message) {
    case msg::START_WEB_SERVER:
    case msg::STOP_WEB_SERVER: setup_toggle_web_server(); break;
    case msg::LOAD_CONFIGURATION: load_configuration(s); break;
    case msg::ROM_SLOTS: rom_slots(s); break;
    case msg::SAVE_CONFIGURATION_AS: save_configuration_as(s); break;
    default: return true;
  }
  s.w.build();
  return false;
}

}  // namespace

void open_setup() {
  setup_w w(5, 6, 75, 19);
  SetupSession s{w, setting(kw::KBD_LANGUAGE), setting(kw::COLOUR_SCREEN)};
  std::vector<SetupItem> opened = w.items();
  int index = 0;
  int left_by = 0;
  for (;;) {
    if (select(w, index) != 0) {
      for (size_t i = 0; i < opened.size(); ++i)
        if (opened[i].value != -1) w.set_line_value(static_cast<int>(i), opened[i].value);
      break;
    }
    left_by = w.items()[index].message;
    if (w.items()[index].keyword == kw::NO_TOKEN && !setup_action(s, left_by)) continue;
    break;
  }
  w.close();
  s.apply();
  update_config_file();
  if (left_by == msg::RESTART_WITH_SETTINGS) request_stop(stopbit::RESTART);
  else if (left_by == msg::POKE_DATABASE_ACTION) poke_database_window();
}

// ---- Poke database --------------------------------------------------------------------------------

namespace {

int last_poke_entry = 0;

class dbase_w : public selectwin {
 public:
  dbase_w(PokeDatabase& db) : selectwin(1, 4, 80, 25), db_(db) {}
  const char* line_text(char* buffer, int index, int width) override {
    std::string text;
    if (!db_.entry_text(text, index)) return nullptr;
    std::snprintf(buffer, SELECT_LINE_MAX + 1, "%-.*s", std::max(0, width), text.c_str());
    return buffer;
  }

 private:
  PokeDatabase& db_;
};

// A '?' value of a poke, typed in a window as a decimal number.
bool ask_poke_value(long& value) {
  framewindow w(20, 10, 60, 13);
  w.set_scheme(FRAME_SCHEME);
  w.draw();
  w.set_cursor(1, 1);
  w.print("? ");
  std::string text;
  const int cancelled = ui_input_line(w, 3, 1, 10, text);
  w.close();
  if (cancelled) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str();
}

// The line's text before its poke, then what the poke did: the same "address value
// (byte before)" the console gets, so that a user without a console sees it too.
void show_poke_line(framewindow& w, int row, const std::string& text) {
  w.set_cursor(1, row);
  w.print(text.substr(0, pokes::POKE_COLUMN));
  std::string printed;
  if (apply_poke(text.c_str() + std::min(text.size(), static_cast<size_t>(pokes::POKE_COLUMN)), printed,
                 ask_poke_value)) {
    std::cout << printed << std::flush;
    w.set_cursor(1 + pokes::POKE_COLUMN, row);
    w.print(printed);
  }
}

void apply_chosen_entry(PokeDatabase& db, int index) {
  framewindow w(5, 5, 75, 20);
  w.set_scheme(FRAME_SCHEME);
  w.draw();
  std::string text;
  if (db.entry_text(text, index)) {
    show_poke_line(w, 1, text);
    for (int k = 0; db.next_poke_text(text); ++k) show_poke_line(w, k + 2, text);
  }
  w.update_texture();
  wait_key(1);
  w.close();
}

}  // namespace

int poke_database_window() {
  titlewindow title(1, 1, 80, 3, message_text(msg::POKE_DATABASE_TITLE));
  title.draw();
  PokeDatabase db;
  const char* name = setting_text(kw::POKE_DATABASE);
  if (!db.open(name ? expand_home(name) : nullptr)) {
    wait_in_window(5, 20, 75, 23, std::string(message_text(msg::POKE_DATABASE_CANNOT_OPEN)) + " " + (name ? name : ""));
    title.close();
    return 1;
  }
  dbase_w list(db);
  list.draw();
  int index = last_poke_entry;
  const int cancelled = select(list, index);
  if (!cancelled) {
    last_poke_entry = index;
    apply_chosen_entry(db, index);
  }
  list.close();
  title.close();
  return cancelled ? 1 : 0;
}
