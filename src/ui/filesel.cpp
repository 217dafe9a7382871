#include "ui/filesel.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "config/messages.h"
#include "config/settings.h"
#include "media/media_file.h"
#include "ui/help_window.h"

namespace {

bool ends_with_nocase(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i])))
      return false;
  return true;
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

constexpr size_t NAME_MAX_CHARS = 257;
constexpr int DESCRIPTION_COLUMN = 34;  // name and kind before a description

// Sorted quickly by name (byte order); the median of three keeps already sorted
// listings from the quadratic case.
void quicksort(std::vector<FileEntry>& v, long lo, long hi) {
  while (lo < hi) {
    const long mid = lo + (hi - lo) / 2;
    if (v[mid].name < v[lo].name) std::swap(v[mid], v[lo]);
    if (v[hi].name < v[lo].name) std::swap(v[hi], v[lo]);
    if (v[hi].name < v[mid].name) std::swap(v[hi], v[mid]);
    const std::string pivot = v[mid].name;
    long i = lo, j = hi;
    while (i <= j) {
      while (v[i].name < pivot) ++i;
      while (pivot < v[j].name) --j;
      if (i <= j) {
        std::swap(v[i], v[j]);
        ++i;
        --j;
      }
    }
    // Recurse into the smaller part, loop on the larger.
    if (j - lo < hi - i) {
      quicksort(v, lo, j);
      lo = i;
    } else {
      quicksort(v, i, hi);
      hi = j;
    }
  }
}

int list_host_directory(filesel_w& w, const std::string& path) {
  DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
  if (!dir) return 0;
  int taken = 0;
  while (dirent* d = ::readdir(dir)) {
    if (d->d_name[0] == '.') continue;
    if (taken >= FILESEL_LISTED_MAX) break;
    FileEntry e;
    e.name = d->d_name;
    if (e.name.size() > NAME_MAX_CHARS) continue;
    struct stat st;
    const std::string full = path + e.name;
    if (::stat(full.c_str(), &st) == 0) {
      e.size = st.st_size;
      e.kind = S_ISDIR(st.st_mode) ? KIND_DIRECTORY : kind_of_name(e.name);
    } else {
      e.kind = kind_of_name(e.name);
    }
    if (e.kind == KIND_DIRECTORY) e.size = 0;
    w.entries.push_back(std::move(e));
    ++taken;
  }
  ::closedir(dir);
  return 0;
}

int list_archive(filesel_w& w, const std::string& archive, const std::string& inside) {
  std::vector<ArchiveMember> members;
  const ArchiveListing status = media_list_archive(archive.c_str(), members, FILESEL_ENTRIES_MAX * 8);
  w.archive_status = static_cast<int>(status);
  // Members of the folder: the part of their name after the folder, up to the next
  // separator (deeper members show their first folder).
  std::set<std::string> folders;
  int taken = 0;
  for (const ArchiveMember& m : members) {
    std::string name = m.name;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.compare(0, inside.size(), inside) != 0) continue;
    std::string rest = name.substr(inside.size());
    if (rest.empty()) continue;
    const size_t slash = rest.find('/');
    if (slash != std::string::npos || m.directory) {
      const std::string folder = rest.substr(0, slash);
      if (folder.empty() || !folders.insert(folder).second) continue;
      if (taken >= FILESEL_LISTED_MAX) break;
      w.entries.push_back({KIND_DIRECTORY, folder, 0});
      ++taken;
      continue;
    }
    if (taken >= FILESEL_LISTED_MAX) break;
    FileEntry e;
    e.name = rest;
    e.kind = kind_of_name(rest);
    e.size = m.size;
    w.entries.push_back(std::move(e));
    ++taken;
  }
  return status == ArchiveListing::OK ? 0 : 1;
}

std::string parent_entry_name(const std::string& path) {
  return (path.size() == 3 && path[2] == '\\') ? "." : "..";
}

}  // namespace

FileKind kind_of_name(const std::string& name) {
  if (name.size() > 4) {
    if (ends_with_nocase(name, ".zip")) return KIND_ARCHIVE;
    if (ends_with_nocase(name, ".url")) return KIND_LINK;
  }
  return KIND_FILE;
}

void sort_entries(std::vector<FileEntry>& entries, size_t from) {
  if (entries.size() > from + 1)
    quicksort(entries, static_cast<long>(from), static_cast<long>(entries.size() - 1));
}

bool split_archive_path(const std::string& path, std::string& archive, std::string& inside) {
  size_t start = 0;
  while (start < path.size()) {
    size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    const std::string component = path.substr(start, end - start);
    if (component.size() > 4 && ends_with_nocase(component, ".zip")) {
      const std::string candidate = path.substr(0, end);
      if (is_regular_file(candidate)) {
        archive = candidate;
        inside = slash == std::string::npos ? std::string() : path.substr(end + 1);
        if (!inside.empty() && inside.back() != '/') inside += '/';
        return true;
      }
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return false;
}

// ---- filesel_w -----------------------------------------------------------------------------

filesel_w::filesel_w(int left, int top, int right, int bottom, const char* title)
    : selectwin(left, top, right, bottom, title) {}

filesel_w::~filesel_w() { close_descriptions(); }

void filesel_w::close_descriptions() {
  if (description_file) std::fclose(description_file);
  description_file = nullptr;
  description_offsets.clear();
}

int filesel_w::find_entry(const std::string& name) const {
  int lo = first_sorted, hi = static_cast<int>(entries.size()) - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = entries[mid].name.compare(name);
    if (c == 0) return mid;
    if (c < 0) lo = mid + 1;
    else hi = mid - 1;
  }
  return -1;
}

std::string entry_line(const FileEntry& e, int width) {
  const int name_width = std::max(0, width - 9);
  std::string line = e.name.substr(0, static_cast<size_t>(name_width));
  line.resize(static_cast<size_t>(name_width), ' ');
  switch (e.kind) {
    case KIND_DIRECTORY: line += " <DIR>   "; break;
    case KIND_ARCHIVE: line += " <ZIP>   "; break;
    case KIND_DRIVE: line += " <DRV>   "; break;
    case KIND_NEW_FILE: line += " <FREE>  "; break;
    case KIND_LINK: line += " <URL>   "; break;
    default: {
      char size[32];
      std::snprintf(size, sizeof size, " %-8lld", static_cast<long long>(e.size));
      line += size;
      break;
    }
  }
  if (static_cast<int>(line.size()) > width) line.resize(static_cast<size_t>(std::max(0, width)));
  return line;
}

const char* filesel_w::line_text(char* buffer, int index, int width) {
  if (index < 0 || index >= static_cast<int>(entries.size())) return nullptr;
  width = std::min(width, SELECT_LINE_MAX);
  // With a description file, name and kind take a column of their own and the
  // descriptions follow it.
  const int field = description_file ? std::min(width, DESCRIPTION_COLUMN) : width;
  std::string line = entry_line(entries[index], field);
  if (description_file && index < static_cast<int>(description_offsets.size()) &&
      description_offsets[index] >= 0 && static_cast<int>(line.size()) < width) {
    line += ' ';
    if (std::fseek(description_file, static_cast<long>(description_offsets[index] + description_offset),
                   SEEK_SET) == 0) {
      int c;
      while (static_cast<int>(line.size()) < width && (c = std::fgetc(description_file)) != EOF &&
             c != '\n' && c != '\r')
        line += static_cast<char>(c == '\t' ? ' ' : c);
    }
  }
  line.resize(static_cast<size_t>(width), ' ');
  std::memcpy(buffer, line.c_str(), line.size() + 1);
  return buffer;
}

int filesel_w::help_key(int, const char*) {
  help_window(message_text(msg::FILE_SELECTOR_TOPIC));
  return selectbit::ROWS | selectbit::WINDOW;
}

int filesel_w::key_left(int) {
  if (description_offset > 0) --description_offset;
  return selectbit::ROWS;
}

int filesel_w::key_right(int) {
  if (description_offset < DESCRIPTION_OFFSET_MAX) ++description_offset;
  return selectbit::ROWS;
}

// ---- Listing ----------------------------------------------------------------------------------

int list_directory(filesel_w& w, const std::string& path) {
  w.close_descriptions();
  w.entries.clear();
  w.archive_status = 0;
  w.entries.push_back({KIND_DIRECTORY, parent_entry_name(path), 0});
  for (const FileEntry& e : w.extras) w.entries.push_back(e);
  w.first_sorted = static_cast<int>(w.entries.size());

  std::string archive, inside;
  int status = 0;
  if (split_archive_path(path, archive, inside)) {
    status = list_archive(w, archive, inside);
  } else {
    list_host_directory(w, path);
  }
  if (w.entries.size() > FILESEL_ENTRIES_MAX) w.entries.resize(FILESEL_ENTRIES_MAX);
  sort_entries(w.entries, static_cast<size_t>(w.first_sorted));

  if (status == 0 && archive.empty()) {
    // The description file of the listed directory.
    static const char* const names[] = {"descript.ion", "DESCRIPT.ION", "00_index.txt", "00_INDEX.TXT"};
    for (const char* n : names) {
      w.description_file = std::fopen((path + n).c_str(), "rb");
      if (w.description_file) break;
    }
    if (w.description_file) read_descriptions(w);
  }
  return status;
}

void read_descriptions(filesel_w& w) {
  w.description_offsets.assign(w.entries.size(), -1);
  FILE* f = w.description_file;
  if (!f) return;
  std::rewind(f);
  for (;;) {
    // First word: the name (up to 59 characters), ended by a blank or the line end.
    std::string name;
    int c = std::fgetc(f);
    if (c == EOF) break;
    while (c != EOF && c != ' ' && c != '\t' && c != '\n' && c != '\r') {
      if (name.size() < 59) name += static_cast<char>(c);
      c = std::fgetc(f);
    }
    while (c == ' ' || c == '\t') c = std::fgetc(f);
    const long offset = c == EOF ? -1 : std::ftell(f) - 1;
    while (c != EOF && c != '\n') c = std::fgetc(f);
    if (name.empty() || offset < 0) {
      if (c == EOF) break;
      continue;
    }
    std::string lower = name, upper = name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    int index = w.find_entry(name);
    if (index < 0) index = w.find_entry(lower);
    if (index < 0) index = w.find_entry(upper);
    if (index >= 0 && w.description_offsets[index] < 0) w.description_offsets[index] = offset;
    if (c == EOF) break;
  }
}

void split_path(const std::string& path, std::string& directory, std::string& name) {
  if (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0) {
    std::string up = path.substr(0, path.size() - 3);
    const size_t slash = up.rfind('/');
    const std::string last = slash == std::string::npos ? up : up.substr(slash + 1);
    if (!last.empty() && last != "." && last != "..") {
      directory = slash == std::string::npos ? std::string("./") : up.substr(0, slash + 1);
      name = last;
      return;
    }
    // "." or ".." at the end: go up from the real directory.
    char real[PATH_MAX];
    if (::realpath(up.empty() ? "/" : up.c_str(), real)) {
      std::string r = real;
      if (r == "/") {
        directory = "/";
        name.clear();
        return;
      }
      const size_t s = r.rfind('/');
      directory = r.substr(0, s + 1);
      name = r.substr(s + 1);
      return;
    }
    directory = up + "/../";
    name.clear();
    return;
  }
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    directory = "./";
    name = path;
  } else {
    directory = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
  }
}
