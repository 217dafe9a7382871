// The file selection dialogue and the loading of dropped files.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "config/messages.h"
#include "config/settings.h"
#include "media/dsk.h"
#include "media/snapshot.h"
#include "media/tape_deck.h"
#include "ui/filesel.h"
#include "ui/ui.h"

namespace {

constexpr int PATH_LEFT = 5, PATH_TOP = 20, PATH_RIGHT = 75, PATH_BOTTOM = 23;
constexpr int PATH_SCHEME = 3;

void show_path(framewindow& p, const std::string& directory, const std::string& current) {
  p.draw();
  std::string line = "Path = " + directory;
  const int room = p.width() - 3;
  if (static_cast<int>(line.size()) > room) line = "Path = ..." + directory.substr(directory.size() - (room - 10));
  p.put_text(2, 1, line.c_str(), PATH_SCHEME);
  if (!current.empty()) {
    std::string file = std::string(message_text(msg::CURRENT_FILE)) + " " + current;
    if (static_cast<int>(file.size()) > room) file.resize(static_cast<size_t>(room));
    p.put_text(2, 2, file.c_str(), PATH_SCHEME);
  }
  p.update_texture();
}

bool has_extension(const std::string& name) { return name.find('.') != std::string::npos; }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int choose_file(filesel_w& w, std::string& path) {
  framewindow path_window(PATH_LEFT, PATH_TOP, PATH_RIGHT, PATH_BOTTOM);
  path_window.set_scheme(PATH_SCHEME);
  std::string directory, name;
  split_path(path, directory, name);
  for (;;) {
    if (list_directory(w, directory) != 0) {
      path_window.close();
      ui_show_message(message_text(w.archive_status ? w.archive_status : msg::ZIP_CANNOT_OPEN));
      return 1;
    }
    int index = 0;
    std::string current;
    const int found = name.empty() ? -1 : w.find_entry(name);
    if (found >= 0) {
      index = found;
      if (w.entries[found].kind == KIND_FILE) current = name;
    }
    show_path(path_window, directory, current);
    if (select(w, index) != 0) {
      w.close();
      path_window.close();
      return 1;
    }
    const FileEntry chosen = w.entries[static_cast<size_t>(index)];
    if (chosen.kind == KIND_DIRECTORY || chosen.kind == KIND_ARCHIVE) {
      split_path(directory + chosen.name + (chosen.name == ".." ? "" : "/"), directory, name);
      if (chosen.name != "..") name.clear();
      continue;
    }
    if (chosen.kind == KIND_DRIVE) {
      directory = chosen.name.substr(0, 1) + ":";
      name.clear();
      continue;
    }
    std::string file = chosen.name;
    if (chosen.kind == KIND_NEW_FILE) {
      std::string typed;
      framewindow ask(20, 10, 59, 12, message_text(msg::CURRENT_FILE));
      ask.set_scheme(LIST_SCHEME);
      ask.set_frame_scheme(FRAME_SCHEME);
      ask.draw();
      if (ui_input_line(ask, 2, 1, 12, typed) != 0) {
        ask.close();
        name.clear();
        continue;
      }
      ask.close();
      if (!has_extension(typed)) typed += w.default_extension;
      file = typed;
    }
    w.close();
    path_window.close();
    path = normalise_path(directory + file);
    return 0;
  }
}

int choose_file_dialog(const char* title, std::string& path, const char* new_file_extension) {
  filesel_w w(1, 2, 80, 19, title);
  if (new_file_extension) {
    w.extras.push_back({KIND_NEW_FILE, "<new file>", 0});
    w.default_extension = new_file_extension;
  }
  return choose_file(w, path);
}

int ui_load_media(const char* path) {
  if (!path || !*path) return 1;
  std::string p = path;
  struct stat st;
  const bool directory = ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  const std::string l = lower(p);
  auto ends = [&](const char* s) {
    const size_t n = std::strlen(s);
    return l.size() >= n && l.compare(l.size() - n, n, s) == 0;
  };
  if (directory || ends(".zip")) {
    // A folder or an archive: the user picks the file inside it.
    std::string chosen = p + (p.back() == '/' ? "" : "/");
    if (choose_file_dialog(message_text(msg::DISC_DRIVES), chosen, nullptr) != 0) return 1;
    return ui_load_media(chosen.c_str());
  }
  if (ends(".dsk")) return drive_insert_and_autostart(0, p.c_str()) ? 0 : 1;
  if (ends(".cdt") || ends(".tzx") || ends(".csw") || ends(".wav")) {
    std::string error;
    if (tape_deck_insert(p.c_str(), error)) return 0;
    std::cout << error << std::endl;
    return 1;
  }
  if (ends(".sna")) {
    snapshot_set_path(p.c_str());
    return snapshot_load(p.c_str());
  }
  std::cout << "EMU: UNKNOWN special file " << p << std::endl;
  return 1;
}
