// Storage of every setting: the numeric table, the text values with their extra effects,
// the drives' browse directories and the names of the configuration and data files.
#include "config/settings.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Numeric values of all keywords, indexed by keyword id.
int setting_values[kw::COUNT];

// The vertical sync of a 60 Hz machine comes earlier in its shorter frame: positions
// above 4 would put it past the frame's end.
constexpr int MAX_VSYNC_POSITION_60HZ = 4;

struct TextValue {
  bool set = false;
  std::string value;
};

struct SettingsState {
  TextValue text[kw::COUNT];
  TextValue browse[2];       // drive A, drive B
  std::string config_file;   // configuration file in use
};

SettingsState settings_state;

// Initial numeric values, before any file is read.
struct Initial {
  kw::Id id;
  int value;
};
constexpr Initial initial_values[] = {
    {kw::AMSDOS_DISABLED, 0},  {kw::AMSDOS_SPEEDUP, 0},   {kw::BREAK_MASK, 7},
    {kw::COLOUR_SCREEN, 1},    {kw::COMPANY_NAME, 7},     {kw::CPC_TYPE, 6},
    {kw::CRTC_TYPE, 1},        {kw::DRIVE_A_AUTOSTART, 0}, {kw::DRIVE_A_SIDE, 0},
    {kw::DRIVE_A_WRITEPROT, 0}, {kw::DRIVE_B_AUTOSTART, 0}, {kw::DRIVE_B_SIDE, 0},
    {kw::DRIVE_B_WRITEPROT, 0}, {kw::EMULATION_DELAY, 0},  {kw::EMULATION_SPEED, 1},
    {kw::INTERRUPT_RESUME, 1}, {kw::JOY0_CURSOR_KEYS, 0}, {kw::JOYSTICK_SIZE, 2},
    {kw::KBD_LANGUAGE, 0},     {kw::LANGUAGE, 0},         {kw::M4_ENABLED, 1},
    {kw::MOUSE_ENABLED, 1},    {kw::MOUSE_TYPE, 0},       {kw::MULTIMODE_UPDATE, 2},
    {kw::PALETTE_CHANGE, 1},   {kw::PPI_50HZ, 1},         {kw::PPI_EXP_SIGNAL, 1},
    {kw::RAM_SIZE, 0},         {kw::RAM_TYPE, 0},         {kw::REALTIME, 0},
    {kw::SB_DELAY, 0},         {kw::SB_DELAY0, 0},        {kw::SB_DMA_BUF, 0},
    {kw::SB_SAMPLE_RATE, 0},   {kw::SB_STEREO, 1},        {kw::SCREEN_OFFSET, 0},
    {kw::M4_SDCARD_MODE, 0},   {kw::SHOW_CONFIG, 0},      {kw::SOUND_DEVICE, 0},
    {kw::SOUND_ENABLED, 1},    {kw::SOUND_FX_ENABLED, 2}, {kw::TAPE_BYPASS, 1},
    {kw::VIDEO_MODE, 0},       {kw::VKBD_LANGUAGE, -1},   {kw::VSYNC_POSITION, 0},
    {kw::SNA_SIZE, 0},         {kw::KBD_TEXT_TYPING, 1},
};

bool has_text(kw::Id id) {
  switch (id) {
    case kw::DATA_FILE: case kw::DRIVE_A: case kw::DRIVE_B: case kw::HELP_FILE:
    case kw::POKE_DATABASE: case kw::PRINTER: case kw::ROM_PATH: case kw::SNAPSHOT:
    case kw::TAPE_PATH: case kw::TMP_PATH: case kw::M4_SD_PATH:
      return true;
    default:
      return false;
  }
}

// Drive A's browse directory: the normalised path, or for a file inside a ZIP archive
// the directory that holds the archive.
std::string drive_a_browse(const std::string& path) {
  std::string dir = normalise_path(path);
  size_t zip = dir.find(".ZIP");
  size_t lower = dir.find(".zip");
  if (lower != std::string::npos && (zip == std::string::npos || lower < zip)) zip = lower;
  if (zip != std::string::npos) {
    dir.resize(zip);
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
  }
  return dir;
}

}  // namespace

std::string normalise_path(const std::string& path) {
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  size_t n = std::strlen(cwd);
  // The root directory itself already ends with '/'.
  if (n == 1 && cwd[0] == '/') return path;
  if (path.size() > n && path.compare(0, n, cwd) == 0 && path[n] == '/')
    return "./" + path.substr(n + 1);
  return path;
}

int setting(kw::Id id) { return setting_values[id]; }

void set_setting(kw::Id id, int value) {
  setting_values[id] = value;
  if ((id == kw::PPI_50HZ || id == kw::VSYNC_POSITION) && setting_values[kw::PPI_50HZ] == 0 &&
      setting_values[kw::VSYNC_POSITION] > MAX_VSYNC_POSITION_60HZ)
    setting_values[kw::VSYNC_POSITION] = MAX_VSYNC_POSITION_60HZ;
}

void reset_settings() {
  for (int& v : setting_values) v = 0;
  for (const Initial& i : initial_values) setting_values[i.id] = i.value;
  for (TextValue& t : settings_state.text) t = TextValue{};
  for (TextValue& t : settings_state.browse) t = TextValue{};
  set_setting_text(kw::DATA_FILE, "arvelo.dat");
}

namespace {
// The values hold before anything else runs, so that a unit reading a setting before
// start-up has reset them sees the initial value.
struct InitialiseSettings {
  InitialiseSettings() { reset_settings(); }
} initialise_settings;
}  // namespace

const char* setting_text(kw::Id id) {
  if (id < 0 || id >= kw::COUNT) return nullptr;
  const TextValue& t = settings_state.text[id];
  return t.set ? t.value.c_str() : nullptr;
}

void set_setting_text(kw::Id id, const char* value) {
  if (id < 0 || id >= kw::COUNT || !has_text(id)) return;
  TextValue& t = settings_state.text[id];
  if (!value) {
    t = TextValue{};
    if (id == kw::DRIVE_A) settings_state.browse[0] = TextValue{};
    if (id == kw::DRIVE_B) settings_state.browse[1] = TextValue{};
    return;
  }
  std::string v = value;
  switch (id) {
    case kw::ROM_PATH: case kw::TAPE_PATH: case kw::TMP_PATH:
      if (!v.empty() && v.back() != '/') v += '/';
      break;
    case kw::M4_SD_PATH:
      if (!v.empty() && v.back() == '/') v.pop_back();
      break;
    case kw::PRINTER:
      if (v.empty()) {
        t = TextValue{};
        return;
      }
      break;
    case kw::DRIVE_A:
      settings_state.browse[0].set = true;
      settings_state.browse[0].value = drive_a_browse(v);
      break;
    case kw::DRIVE_B:
      settings_state.browse[1].set = true;
      settings_state.browse[1].value = v;
      break;
    default:
      break;
  }
  t.set = true;
  t.value = std::move(v);
}

const char* drive_browse_dir(int drive) {
  if (drive < 0 || drive > 1) return nullptr;
  const TextValue& t = settings_state.browse[drive];
  return t.set ? t.value.c_str() : nullptr;
}

const char* config_file_name() { return settings_state.config_file.c_str(); }

void set_config_file_name(const char* name) { settings_state.config_file = name ? name : ""; }

const char* data_file_name() {
  const char* name = setting_text(kw::DATA_FILE);
  return name ? name : "";
}

void set_data_file(const char* name) { set_setting_text(kw::DATA_FILE, name); }

const char* expand_home(const char* path) {
  // Room for the longest setting text (4095 characters) after the longest home
  // directory the system allows: a configured path is never cut short.
  static char buffer[8192];
  if (!path) path = "";
  const char* home = std::getenv("HOME");
  if (path[0] == '~' && home && *home) {
    std::snprintf(buffer, sizeof buffer, "%s%s", home, path + 1);
  } else if (path[0] == '~') {
    // Without HOME there is no home directory to use: the rest of the path is taken
    // relative to the current directory ("~/x" becomes "./x").
    std::snprintf(buffer, sizeof buffer, ".%s", path + 1);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s", path);
  }
  return buffer;
}
