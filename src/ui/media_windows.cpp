// The windows of the media keys: snapshot load and save with the size choice (F5, F6)
// and the disc drive window (F3).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "media/dsk.h"
#include "media/snapshot.h"
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
  std::string line = message_text(drive == 0 ? 247 : 248);
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

}  // namespace

int snapshot_size_kb(int choice, int ram_size) {
  switch (choice) {
    case 0: return 64;
    case 1: return 128;
    default: return ram_size;
  }
}

int choose_snapshot_size(int current) {
  std::vector<std::string> lines = {message_text(243), message_text(244), message_text(245)};
  textlist_w w(25, 8, 55, 13, message_text(242), lines);
  int index = std::clamp(current, 0, 2);
  const int cancelled = select(w, index);
  w.close();
  return cancelled ? -1 : index;
}

int snapshot_load_chosen() {
  std::string path = snapshot_start_path();
  if (choose_file_dialog(message_text(240), path, nullptr) != 0) return 1;
  snapshot_set_path(path.c_str());
  return snapshot_load(path.c_str());
}

int snapshot_save_chosen() {
  std::string path = snapshot_start_path();
  if (choose_file_dialog(message_text(241), path, ".sna") != 0) return 1;
  const int size = choose_snapshot_size(setting(kw::SNA_SIZE));
  if (size < 0) return 1;
  setting(kw::SNA_SIZE) = size;
  snapshot_set_path(path.c_str());
  return snapshot_save(path.c_str(), snapshot_size_kb(size, setting(kw::RAM_SIZE)));
}

void disc_drive_window() {
  for (;;) {
    std::vector<std::string> lines = {drive_line(0), drive_line(1),
                                      std::string(message_text(249)) + " A:",
                                      std::string(message_text(249)) + " B:"};
    textlist_w w(15, 6, 65, 13, message_text(246), lines);
    int index = 0;
    const int cancelled = select(w, index);
    w.close();
    if (cancelled) return;
    if (index == 0 || index == 1) {
      std::string path = drive_start_path(index);
      if (choose_file_dialog(message_text(index == 0 ? 247 : 248), path, nullptr) != 0) continue;
      drive_insert_and_autostart(index, path.c_str());
      return;
    }
    drive_eject(index - 2);
    // The window shows the empty drive again.
  }
}
