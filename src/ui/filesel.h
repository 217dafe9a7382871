// The file selector: a list of the entries of a directory or of a ZIP archive, with
// kinds, sizes and optional descriptions from a description file, and the dialogue that
// walks directories until a file is chosen.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/select.h"

enum FileKind : uint8_t {
  KIND_DIRECTORY = 1,
  KIND_ARCHIVE = 2,
  KIND_FILE = 3,
  KIND_DRIVE = 4,
  KIND_NEW_FILE = 5,
  KIND_LINK = 6,
};

struct FileEntry {
  uint8_t kind = KIND_FILE;
  std::string name;  // at most 257 characters
  int64_t size = 0;
};

constexpr int FILESEL_ENTRIES_MAX = 1526;
constexpr int FILESEL_LISTED_MAX = 1498;  // entries taken from one directory
constexpr int DESCRIPTION_OFFSET_MAX = 200;

// The kind of a directory entry by its name: .ZIP archives and .URL links (any case,
// names longer than four characters), other files.
FileKind kind_of_name(const std::string& name);

// Sorts entries by name in byte order.
void sort_entries(std::vector<FileEntry>& entries, size_t from);

// Splits a path naming something inside an archive ("dir/games.zip/sub/") into the
// archive file and the folder inside it ("sub/"); false when the path holds no archive.
bool split_archive_path(const std::string& path, std::string& archive, std::string& inside);

class filesel_w : public selectwin {
 public:
  filesel_w(int left, int top, int right, int bottom, const char* title = nullptr);
  ~filesel_w() override;

  const char* line_text(char* buffer, int index, int width) override;
  int help_key(int index, const char* text) override;
  int key_left(int index) override;
  int key_right(int index) override;

  // Listing (list_directory) and its results.
  std::vector<FileEntry> entries;
  int first_sorted = 1;
  int description_offset = 0;
  std::string default_extension;  // for new names, with its '.'
  // Extra entries shown after the parent entry (drives, "new file").
  std::vector<FileEntry> extras;
  // The status of the last archive listing (a message number), 0 when fine.
  int archive_status = 0;

  // Description file of the listing and one offset per entry (-1: none).
  FILE* description_file = nullptr;
  std::vector<int64_t> description_offsets;

  void close_descriptions();
  // Index of an entry among the sorted ones, -1 when absent.
  int find_entry(const std::string& name) const;
};

// Lists a directory, or the inside of an archive, into the window. 0, or 1 when the
// archive cannot be listed (archive_status holds the message number).
int list_directory(filesel_w& w, const std::string& path);

// Reads the description file's names and offsets for the listed entries.
void read_descriptions(filesel_w& w);

// The line of an entry at width w (without descriptions).
std::string entry_line(const FileEntry& e, int width);

// Splits a path into its directory (ending with '/') and the name after it; a path
// ending in "/.." goes one directory up and names the directory it left.
void split_path(const std::string& path, std::string& directory, std::string& name);

// The dialogue: lists path's directory, lets the user walk and choose; 0 with path
// replaced by the chosen file (relative to the working directory as "./..." where it
// lies below it), 1 when cancelled or an archive could not be read.
int choose_file(filesel_w& w, std::string& path);

// A whole file choice in a standard window: title, starting path (a directory or a file
// to preselect), the extension of new names when a "new file" entry is offered.
// 0 with path set to the choice, 1 when cancelled.
int choose_file_dialog(const char* title, std::string& path, const char* new_file_extension);

// Loads a file chosen outside the disc drive window (a dropped file): discs go into
// drive A with autostart, snapshots are loaded, an archive is opened in the file
// selector. 0 when something was loaded.
int ui_load_media(const char* path);
