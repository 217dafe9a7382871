// Configuration file reader and writers.
#include "config/config.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "config/messages.h"
#include "config/rom_list.h"

const char* const config_keyword_names[kw::COUNT] = {
    "NO TOKEN",         "#ENDIF",           "#IFCPC",          "AMSDOS_DISABLED",
    "AMSDOS_SPEEDUP",   "BREAK_MASK",       "COLOUR_SCREEN",   "COMPANY_NAME",
    "CPC_TYPE",         "CRTC_TYPE",        "DATA_FILE",       "DRIVE_A",
    "DRIVE_A_AUTOSTART", "DRIVE_A_SIDE",    "DRIVE_A_WRITEPROT", "DRIVE_B",
    "DRIVE_B_AUTOSTART", "DRIVE_B_SIDE",    "DRIVE_B_WRITEPROT", "EMS_ENABLED",
    "EMULATION_DELAY",  "EMULATION_SPEED",  "HELP_FILE",       "INTERRUPT_FREQUENCY",
    "INTERRUPT_RESUME", "JOY0_CALIBRATE",   "JOY1_CALIBRATE",  "JOY0_CURSOR_KEYS",
    "JOYSTICK_SIZE",    "KBD_LANGUAGE",     "LANGUAGE",        "M4_ENABLED",
    "MOUSE_ENABLED",    "MOUSE_TYPE",       "MULTIMODE_UPDATE", "PALETTE_CHANGE",
    "POKE_DATABASE",    "PPI_50HZ",         "PPI_EXP_SIGNAL",  "PRINTER",
    "RAM_SIZE",         "RAM_TYPE",         "REALTIME",        "ROM_BLOCK",
    "ROM_PATH",         "SB_DELAY",         "SB_DELAY0",       "SB_DMA_BUF",
    "SB_SAMPLE_RATE",   "SB_STEREO",        "SCREEN_OFFSET",   "M4_SDCARD_MODE",
    "SHOW_CONFIG",      "SNAPSHOT",         "SOUND_DEVICE",    "SOUND_ENABLED",
    "SOUND_FX_ENABLED", "TAPE_BYPASS",      "TAPE_PATH",       "TMP_PATH",
    "VIDEO_MODE",       "VKBD_LANGUAGE",    "VSYNC_POSITION",  "M4_SD_PATH",
    "SNA_SIZE",         "KBD_TEXT_TYPING",
};

namespace {
void (*config_wait_key)() = nullptr;
}  // namespace

config_wait_key_fn set_config_wait_key(config_wait_key_fn hook) {
  config_wait_key_fn previous = config_wait_key;
  config_wait_key = hook;
  return previous;
}


namespace {

struct Bounds {
  int min, max;
};

// Bounds of the numeric keywords (RAM_SIZE is handled apart: it depends on RAM_TYPE).
Bounds numeric_bounds(int id) {
  switch (id) {
    case kw::BREAK_MASK: case kw::COMPANY_NAME: return {0, 7};
    case kw::CPC_TYPE: return {0, 6};
    case kw::CRTC_TYPE: case kw::JOY0_CURSOR_KEYS: case kw::MULTIMODE_UPDATE:
    case kw::SOUND_FX_ENABLED: case kw::SNA_SIZE: return {0, 2};
    case kw::EMULATION_DELAY: return {0, 32000};
    case kw::EMULATION_SPEED: case kw::SB_DELAY: case kw::SB_DELAY0: case kw::SB_DMA_BUF:
    case kw::SOUND_DEVICE: return {0, 0};
    case kw::INTERRUPT_FREQUENCY: return {300, 300};
    case kw::JOYSTICK_SIZE: return {1, 2};
    case kw::SB_STEREO: return {1, 1};
    case kw::KBD_LANGUAGE: case kw::VSYNC_POSITION: return {0, 5};
    case kw::LANGUAGE: case kw::MOUSE_TYPE: case kw::SB_SAMPLE_RATE: return {0, 3};
    case kw::SCREEN_OFFSET: return {0, 15};
    case kw::VKBD_LANGUAGE: return {0, 4};
    default: return {0, 1};
  }
}

// The saved keywords in the order the writer emits them.
constexpr kw::Id saved_keywords[] = {
    kw::AMSDOS_DISABLED, kw::AMSDOS_SPEEDUP, kw::BREAK_MASK, kw::COLOUR_SCREEN,
    kw::COMPANY_NAME, kw::CPC_TYPE, kw::CRTC_TYPE, kw::DATA_FILE, kw::DRIVE_A,
    kw::DRIVE_A_AUTOSTART, kw::DRIVE_A_SIDE, kw::DRIVE_A_WRITEPROT, kw::DRIVE_B,
    kw::DRIVE_B_AUTOSTART, kw::DRIVE_B_SIDE, kw::DRIVE_B_WRITEPROT, kw::HELP_FILE,
    kw::INTERRUPT_RESUME, kw::JOY0_CURSOR_KEYS, kw::JOYSTICK_SIZE, kw::KBD_LANGUAGE,
    kw::LANGUAGE, kw::M4_ENABLED, kw::MOUSE_ENABLED, kw::MOUSE_TYPE, kw::POKE_DATABASE,
    kw::PPI_50HZ, kw::PPI_EXP_SIGNAL, kw::PRINTER, kw::RAM_SIZE, kw::RAM_TYPE, kw::REALTIME,
    kw::ROM_BLOCK, kw::ROM_PATH, kw::SB_SAMPLE_RATE, kw::SCREEN_OFFSET, kw::M4_SDCARD_MODE,
    kw::SHOW_CONFIG, kw::SNAPSHOT, kw::SOUND_ENABLED, kw::SOUND_FX_ENABLED, kw::TAPE_BYPASS,
    kw::TAPE_PATH, kw::TMP_PATH, kw::VIDEO_MODE, kw::VKBD_LANGUAGE, kw::VSYNC_POSITION,
    kw::M4_SD_PATH, kw::SNA_SIZE, kw::KBD_TEXT_TYPING,
};
static_assert(sizeof saved_keywords / sizeof saved_keywords[0] == 50);

}  // namespace

KeywordKind keyword_kind(int id) {
  switch (id) {
    case kw::ENDIF: return KeywordKind::ENDIF;
    case kw::IFCPC: return KeywordKind::IFCPC;
    case kw::DATA_FILE: case kw::DRIVE_A: case kw::DRIVE_B: case kw::HELP_FILE:
    case kw::POKE_DATABASE: case kw::PRINTER: case kw::ROM_PATH: case kw::SNAPSHOT:
    case kw::TAPE_PATH: case kw::TMP_PATH: case kw::M4_SD_PATH:
      return KeywordKind::TEXT;
    case kw::JOY0_CALIBRATE: case kw::JOY1_CALIBRATE: return KeywordKind::JOY_CALIBRATION;
    case kw::ROM_BLOCK: return KeywordKind::ROM_BLOCK;
    default:
      return (id > kw::IFCPC && id < kw::COUNT) ? KeywordKind::NUMBER : KeywordKind::NONE;
  }
}

bool keyword_discarded(int id) { return id == kw::EMS_ENABLED || id == kw::INTERRUPT_FREQUENCY; }

// ---- setcfg ------------------------------------------------------------------------------

int setcfg::get_bounds(int id, int& min, int& max, int& step) const {
  if (keyword_kind(id) != KeywordKind::NUMBER) return 1;
  step = 1;
  if (id == kw::RAM_SIZE) {
    min = 64;
    max = setting(kw::RAM_TYPE) == 1 ? 576 : 4160;
    step = 64;
    return 0;
  }
  Bounds b = numeric_bounds(id);
  min = b.min;
  max = b.max;
  return 0;
}

void setcfg::set_text(int id, const char* text) {
  if (keyword_kind(id) != KeywordKind::TEXT) {
    std::cerr << "unknown setup " << id << '\n';
    return;
  }
  set_setting_text(static_cast<kw::Id>(id), text);
}

const char* setcfg::get_text(int id) {
  if (keyword_kind(id) != KeywordKind::TEXT) {
    std::cerr << "unknown setup " << id << '\n';
    return nullptr;
  }
  return setting_text(static_cast<kw::Id>(id));
}

void setcfg::set_rom_block(int slot, const char* file, int offset) { add_rom(slot, file, offset); }

void setcfg::set_joystick_calibration(int, const int*) {}

void setcfg::write_config(std::ostream& out) {
  for (kw::Id id : saved_keywords) {
    const char* name = config_keyword_names[id];
    switch (keyword_kind(id)) {
      case KeywordKind::NUMBER:
      {
        // Values outside the bounds are the "not set" initial values (RAM_SIZE 0,
        // VKBD_LANGUAGE -1), which the reader would refuse: like an unset text they are
        // left out.
        int min, max, step;
        get_bounds(id, min, max, step);
        const int value = setting(static_cast<kw::Id>(id));
        if (value < min || value > max) break;
        out << name << " = " << value << '\n';
        break;
      }
      case KeywordKind::TEXT:
        if (const char* value = setting_text(id)) out << name << " = \"" << value << "\"\n";
        break;
      case KeywordKind::ROM_BLOCK:
        for (int slot = 0; slot <= 255; ++slot)
          for (const RomEntry* e = rom_list(); e; e = e->next)
            if (e->slot == slot) {
              out << name << " = " << slot << ",\"" << e->file << "\"," << e->offset << '\n';
              break;
            }
        break;
      default:
        break;
    }
  }
}

void setcfg::show_config() {
  std::cout << "SETCFG: show config: ***\n";
  write_config(std::cout);
  std::cout << "***" << std::endl;
}

// ---- Reader ------------------------------------------------------------------------------

bool config::read() {
  const char* name = config_file_name();
  std::cout << "CONFIG: Using " << name << std::endl;
  if (!open_text_file(*this, name)) {
    std::perror(name);
    return false;
  }
  read_statements();
  close();
  if (warnings != 0) std::cout << "CONFIG: " << warnings << " errors found." << std::endl;
  if (setting(kw::SHOW_CONFIG) == 1) show_config();
  return true;
}

bool config::read_number_value(const char* context, int& value) {
  if (next_token() != tok::NUMBER) {
    warning("not a value", context);
    return false;
  }
  value = number;
  return true;
}

bool config::expect_comma(const char* context) {
  if (next_token() != tok::COMMA) {
    warning("',' expected", context);
    return false;
  }
  return true;
}

void config::read_statements() {
  KeywordTable table;
  table.build(config_keyword_names, kw::COUNT);
  int sections = 0;
  bool at_end = false;
  while (!too_many_warnings()) {
    int token = next_token();
    if (token == tok::END) {
      at_end = true;
      break;
    }
    if (token != tok::NAME) {
      warning("no keyword");
      skip_line();
      continue;
    }
    int id = table.lookup(text, false);
    if (id == kw::NO_TOKEN) {
      std::string message = std::string("unknown keyword ") + text;
      warning(message.c_str());
      skip_line();
      continue;
    }
    const char* name = config_keyword_names[id];
    if (id >= kw::AMSDOS_DISABLED && next_token() != tok::EQUALS) {
      warning("'=' expected");
      continue;
    }
    switch (keyword_kind(id)) {
      case KeywordKind::NUMBER: {
        int value;
        if (!read_number_value(name, value)) break;
        int min, max, step;
        get_bounds(id, min, max, step);
        if (value < min || value > max) {
          char message[96];
          std::snprintf(message, sizeof message, "out of bounds: not %d <= %d <= %d", min, value, max);
          warning(message, name);
          break;
        }
        if (keyword_discarded(id)) break;
        if (id == kw::CPC_TYPE) {
          // A CPC type given on the command line wins over the file.
          int requested = setting(kw::CPC_TYPE);
          set_setting(kw::CPC_TYPE, requested != 6 ? requested : value);
          break;
        }
        set_setting(static_cast<kw::Id>(id), value);
        break;
      }
      case KeywordKind::TEXT:
        if (next_token() != tok::STRING) {
          warning("string expected", name);
          skip_line();
          break;
        }
        set_text(id, expand_home(text));
        break;
      case KeywordKind::JOY_CALIBRATION: {
        int values[4];
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i) {
          if (i > 0) ok = expect_comma(name);
          if (ok) ok = read_number_value(name, values[i]);
        }
        if (!ok) {
          skip_line();
          break;
        }
        set_joystick_calibration(id == kw::JOY1_CALIBRATE ? 1 : 0, values);
        break;
      }
      case KeywordKind::ROM_BLOCK: {
        int slot = 0, offset = 0;
        std::string file;
        bool ok = read_number_value(name, slot) && expect_comma(name);
        if (ok) {
          ok = next_token() == tok::STRING;
          if (!ok) warning("string expected", name);
          file = text;
        }
        ok = ok && expect_comma(name) && read_number_value(name, offset);
        if (!ok) {
          skip_line();
          break;
        }
        // Slots outside 0..255 would take one of the few ROM places and never be loaded;
        // a negative offset names no position in the file.
        char message[96];
        if (slot < 0 || slot > 255) {
          std::snprintf(message, sizeof message, "out of bounds: not %d <= %d <= %d", 0, slot, 255);
          warning(message, name);
          break;
        }
        if (offset < 0) {
          std::snprintf(message, sizeof message, "out of bounds: not %d <= %d", 0, offset);
          warning(message, name);
          break;
        }
        set_rom_block(slot, file.c_str(), offset);
        break;
      }
      case KeywordKind::IFCPC: {
        int type = 0;
        if (next_token() != tok::NUMBER)
          warning("not a value", name);
        else
          type = number;
        if (type == setting(kw::CPC_TYPE)) {
          ++sections;
          break;
        }
        // Drop everything up to the next #ENDIF; sections do not nest in a dropped part.
        quiet = true;
        for (;;) {
          int t = next_token();
          if (t == tok::END) break;
          if (t == tok::NAME && table.lookup(text, false) == kw::ENDIF) break;
        }
        quiet = false;
        break;
      }
      case KeywordKind::ENDIF:
        if (sections == 0)
          warning("unexpected '#ENDIF'");
        else
          --sections;
        break;
      case KeywordKind::NONE:
        break;
    }
  }
  if (at_end && sections > 0) warning("'#ENDIF' missing");
}

// ---- Writers -----------------------------------------------------------------------------

int write_config_file() {
  const char* name = config_file_name();
  std::ofstream out(name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!out) {
    std::cout << message_text(msg::CONFIG_CANNOT_WRITE) << " " << name << std::endl;
    if (config_wait_key) config_wait_key();
    return 1;
  }
  std::time_t now = std::time(nullptr);
  std::tm date{};
  localtime_r(&now, &date);
  out << "; " << message_text(msg::CONFIG_SAVED_HEADER) << " " << date.tm_year + 1900 << "-" << date.tm_mon + 1
      << "-" << date.tm_mday << '\n';
  setcfg settings;
  settings.write_config(out);
  out << "; end\n";
  out.flush();
  if (!out) {
    std::cout << message_text(msg::CONFIG_CANNOT_WRITE) << " " << name << std::endl;
    if (config_wait_key) config_wait_key();
    return 1;
  }
  return 0;
}

namespace {

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Position of the comment's ';' of a line (outside double-quoted strings), or npos.
size_t comment_start(const std::string& line) {
  bool in_string = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') in_string = !in_string;
    else if (line[i] == ';' && !in_string) return i;
  }
  return std::string::npos;
}

bool before(size_t pos, size_t limit) { return pos != std::string::npos && pos < limit; }

struct NewLine {
  std::string key;
  std::string text;
  bool used = false;
};

}  // namespace

int update_config_file() {
  const char* name = config_file_name();

  // The new lines: every saved keyword, less those this save never changes in the file.
  std::ostringstream written;
  setcfg settings;
  settings.write_config(written);
  std::vector<NewLine> fresh;
  {
    std::istringstream in(written.str());
    std::string text;
    while (std::getline(in, text)) {
      size_t end = text.find(" =");
      std::string key = upper(text.substr(0, end));
      if (key == "ROM_BLOCK" || key == "SNAPSHOT" || key == "DRIVE_A" || key == "DRIVE_B" ||
          key == "TAPE_PATH" || key == "ROM_PATH")
        continue;
      fresh.push_back({key, text});
    }
  }

  // The old lines.
  std::vector<std::string> old_lines;
  {
    std::ifstream in(name, std::ios::in | std::ios::binary);
    if (!in) {
      std::cout << message_text(msg::CONFIG_CANNOT_WRITE) << " " << name << std::endl;
      return 1;
    }
    std::string text;
    while (std::getline(in, text)) old_lines.push_back(text);
    if (in.bad()) {
      std::cout << message_text(msg::CONFIG_CANNOT_WRITE) << " " << name << std::endl;
      return 1;
    }
  }

  std::string result;
  int section = -1;
  const int requested = setting(kw::CPC_TYPE);
  for (std::string& line : old_lines) {
    std::string u = upper(line);
    size_t comment = comment_start(u);
    size_t limit = comment == std::string::npos ? u.size() : comment;
    size_t equals = u.find('=');
    size_t ifcpc = u.find("#IFCPC");
    if (before(ifcpc, limit)) {
      long type = std::strtol(u.c_str() + ifcpc + 6, nullptr, 10);
      section = (type < 0 || type > 255) ? 255 : static_cast<int>(type);
    } else if (before(u.find("#ENDIF"), limit)) {
      section = -1;
    } else if (equals == std::string::npos || (section >= 0 && section != requested)) {
      // unchanged
    } else if (equals < limit) {
      // The key: the text before '=' without the blanks and tabs around it.
      size_t start = u.find_first_not_of(" \t");
      size_t key_end = equals;
      while (key_end > start && (u[key_end - 1] == ' ' || u[key_end - 1] == '\t')) --key_end;
      std::string key = u.substr(start, key_end - start);
      for (NewLine& n : fresh) {
        if (n.used || key.empty() || n.text.compare(0, key.size() + 2, key + " =") != 0) continue;
        // Replace the old value, up to the comment; one blank before the ';' is kept.
        size_t replace_end = limit;
        if (comment != std::string::npos && comment > key_end &&
            (line[comment - 1] == ' ' || line[comment - 1] == '\t'))
          replace_end = comment - 1;
        line = line.substr(0, key_end) + n.text.substr(key.size() + 1) + line.substr(replace_end);
        n.used = true;
        break;
      }
    }
    result += line;
    result += '\n';
  }
  for (const NewLine& n : fresh)
    if (!n.used) result += n.text + '\n';

  std::ofstream out(name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (out) out << result;
  out.flush();
  if (!out) {
    std::cout << message_text(msg::CONFIG_CANNOT_WRITE) << " " << name << std::endl;
    if (config_wait_key) config_wait_key();
    return 1;
  }
  return 0;
}
