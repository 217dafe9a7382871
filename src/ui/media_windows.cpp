// The windows of the media keys: snapshot load and save with the size choice (F5, F6),
// the disc drive window (F3) and the cassette deck (Shift+F3, or from the drive window).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <cstring>
#include <string>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "core/machine.h"
#include "media/dsk.h"
#include "media/snapshot.h"
#include "media/tape_deck.h"
#include "ui/filesel.h"
#include "ui/ui.h"

namespace {

// A list of fixed lines.
class textlist_w : public selectwin {
 public:
  textlist_w(int left, int top, int right, int bottom, const char* title, std::vector<std::string> lines)
      : selectwin(left, top, right, bottom, title), lines_(std::move(lines)) {}
  const char* line_text(char* buffer, int index, int width) override {
    if (index < 0 || index >= static_cast<int>(lines_.size())) return nullptr;
    const size_t n = std::min<size_t>(lines_[index].size(), static_cast<size_t>(std::max(0, width)));
    std::memcpy(buffer, lines_[index].data(), n);
    buffer[n] = 0;
    return buffer;
  }

 private:
  std::vector<std::string> lines_;
};

std::string snapshot_start_path() {
  const char* s = setting_text(kw::SNAPSHOT);
  return s && *s ? s : "./";
}

const char* base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

std::string drive_line(int drive) {
  std::string line = message_text(drive == 0 ? msg::DRIVE_A : msg::DRIVE_B);
  line += ' ';
  const char* path = setting_text(drive == 0 ? kw::DRIVE_A : kw::DRIVE_B);
  line += (drive_has_disc(drive) && path && *path) ? base_name(path) : "-";
  return line;
}

std::string drive_start_path(int drive) {
  const char* browse = drive_browse_dir(drive);
  if (browse && *browse) {
    // Preselect the inserted disc in its directory.
    const char* path = setting_text(drive == 0 ? kw::DRIVE_A : kw::DRIVE_B);
    if (drive_has_disc(drive) && path && *path && std::strchr(path, '/'))
      return path;
    return browse;
  }
  const char* path = setting_text(drive == 0 ? kw::DRIVE_A : kw::DRIVE_B);
  return path && *path ? path : "./";
}

std::string tape_line() {
  const TapeDeckStatus t = tape_deck_status();
  return std::string("Tape: ") + (t.loaded ? base_name(t.name.c_str()) : "-");
}

std::string seconds(uint64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ticks) / TAPE_TICKS_PER_SECOND);
  return text;
}

// The lines of the tape window: the controls, then one line per block of the tape.
enum TapeLine { TAPE_FILE, TAPE_PLAY, TAPE_REWIND, TAPE_EJECT, TAPE_BLANK, TAPE_FAST, TAPE_POSITION, TAPE_BLOCKS };

std::vector<std::string> tape_lines() {
  const TapeDeckStatus t = tape_deck_status();
  std::vector<std::string> lines = {
      tape_line(),
      t.playing ? "Stop" : "Play",
      "Rewind",
      "Eject",
      "New blank tape",
      std::string("Fast loading: ") + (tape_deck_fast_loading() ? "on" : "off"),
      "Position " + seconds(t.position_ticks) + " of " + seconds(t.length_ticks) +
          (t.motor ? ", motor on" : "") + (t.written.empty() ? "" : ", saved to " + std::string(base_name(t.written.c_str()))),
  };
  const std::vector<TapeBlockInfo>& blocks = tape_deck_signal().blocks;
  for (size_t i = 0; i < blocks.size(); ++i)
    lines.push_back((i == t.block ? "> " : "  ") + std::to_string(i + 1) + " " + blocks[i].description);
  return lines;
}

void insert_tape(const std::string& path) {
  std::string error;
  if (!tape_deck_insert(path.c_str(), error)) std::cout << error << std::endl;
}

std::string tape_start_path() {
  const TapeDeckStatus t = tape_deck_status();
  if (t.loaded && std::strchr(t.name.c_str(), '/')) return t.name;
  const char* dir = setting_text(kw::TAPE_PATH);
  return dir && *dir ? dir : "./";
}

// A new tape in the tape directory under the first free name "tapeN.cdt".
std::string blank_tape_name() {
  std::string dir = tape_start_path();
  dir = dir.substr(0, dir.rfind('/') + 1);
  for (int n = 1;; ++n) {
    const std::string name = dir + "tape" + std::to_string(n) + ".cdt";
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return name;
  }
}

// True when the window should close.
bool tape_action(int index) {
  switch (index) {
    case TAPE_FILE: {
      std::string path = tape_start_path();
      if (choose_file_dialog("Tape", path, nullptr) == 0) insert_tape(path);
      return true;
    }
    case TAPE_PLAY:
      if (tape_deck_status().playing) tape_deck_stop();
      else tape_deck_play();
      return false;
    case TAPE_REWIND: tape_deck_rewind(); return false;
    case TAPE_EJECT: tape_deck_eject(); return false;
    case TAPE_BLANK: insert_tape(blank_tape_name()); return false;
    case TAPE_FAST: tape_deck_set_fast_loading(!tape_deck_fast_loading()); return false;
    case TAPE_POSITION: return false;
    default: tape_deck_wind_to_block(static_cast<size_t>(index - TAPE_BLOCKS)); return false;
  }
}

}  // namespace

void tape_window() {
  int index = TAPE_PLAY;
  for (;;) {
    std::vector<std::string> lines = tape_lines();
    index = std::min(index, static_cast<int>(lines.size()) - 1);
    textlist_w w(5, 3, 75, 22, "Cassette deck", std::move(lines));
    const int cancelled = select(w, index);
    w.close();
    if (cancelled || tape_action(index)) return;
  }
}

int snapshot_size_kb(int choice) {
  switch (choice) {
    case 0: return 64;
    case 1: return 128;
    default: return ram_size_kb();  // as set up: RAM_SIZE may be unset or not rounded
  }
}

int choose_snapshot_size(int current) {
  std::vector<std::string> lines = {message_text(msg::SIZE_64K), message_text(msg::SIZE_128K), message_text(msg::SIZE_ALL_RAM)};
  textlist_w w(25, 8, 55, 13, message_text(msg::SNAPSHOT_SIZE), lines);
  int index = std::clamp(current, 0, 2);
  const int cancelled = select(w, index);
  w.close();
  return cancelled ? -1 : index;
}

int snapshot_load_chosen() {
  std::string path = snapshot_start_path();
  if (choose_file_dialog(message_text(msg::LOAD_SNAPSHOT), path, nullptr) != 0) return 1;
  snapshot_set_path(path.c_str());
  return snapshot_load(path.c_str());
}

int snapshot_save_chosen() {
  std::string path = snapshot_start_path();
  if (choose_file_dialog(message_text(msg::SAVE_SNAPSHOT), path, ".sna") != 0) return 1;
  const int size = choose_snapshot_size(setting(kw::SNA_SIZE));
  if (size < 0) return 1;
  set_setting(kw::SNA_SIZE, size);
  snapshot_set_path(path.c_str());
  return snapshot_save(path.c_str(), snapshot_size_kb(size));
}

void disc_drive_window() {
  for (;;) {
    std::vector<std::string> lines = {drive_line(0), drive_line(1),
                                      std::string(message_text(msg::EJECT)) + " A:",
                                      std::string(message_text(msg::EJECT)) + " B:", tape_line()};
    textlist_w w(15, 6, 65, 14, message_text(msg::DISC_DRIVES), lines);
    int index = 0;
    const int cancelled = select(w, index);
    w.close();
    if (cancelled) return;
    if (index == 4) {
      tape_window();
      return;
    }
    if (index == 0 || index == 1) {
      std::string path = drive_start_path(index);
      if (choose_file_dialog(message_text(index == 0 ? msg::DRIVE_A : msg::DRIVE_B), path, nullptr) != 0) continue;
      drive_insert_and_autostart(index, path.c_str());
      return;
    }
    drive_eject(index - 2);
    // The window shows the empty drive again.
  }
}
