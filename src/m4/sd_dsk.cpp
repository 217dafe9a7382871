#include "m4/sd_dsk.h"

#include <fnmatch.h>

#include <algorithm>
#include <map>

#include "media/disc_image.h"

namespace {

constexpr int ENTRY_SIZE = 32;
constexpr int ENTRIES = DISC_DIRECTORY_SIZE / ENTRY_SIZE;
constexpr uint8_t UNUSED = 0xE5;
constexpr int ENTRY_NAME = 1;
constexpr int ENTRY_EXTENSION = 9;
constexpr int ENTRY_EXTENT = 12;
constexpr int ENTRY_RECORDS = 15;
constexpr int ENTRY_BLOCKS = 16;
constexpr int BLOCKS_PER_ENTRY = 16;
constexpr int RECORD_SIZE = 128;
constexpr int SECTOR_SIZE = 512;
constexpr int SECTORS_PER_BLOCK = 2;     // 1 KB blocks
constexpr uint8_t IBM_FORMAT = 0x00;     // 8 sectors a track; the other formats have 9

DiscImage image;

std::string trimmed(const uint8_t* p, int length) {
  std::string s;
  for (int i = 0; i < length; ++i) {
    const char c = static_cast<char>(p[i] & 0x7F);
    if (c != ' ') s += c;
  }
  return s;
}

struct FileExtents {
  SdDskEntry entry;
  std::map<int, const uint8_t*> extents;  // by extent number
};

// The directory's files: user 0 entries grouped by name.
std::vector<FileExtents> directory_files(const uint8_t* dir) {
  std::vector<FileExtents> files;
  for (int i = 0; i < ENTRIES; ++i) {
    const uint8_t* e = dir + i * ENTRY_SIZE;
    if (e[0] == UNUSED || e[0] > 15) continue;
    const std::string name = trimmed(e + ENTRY_NAME, 8), ext = trimmed(e + ENTRY_EXTENSION, 3);
    auto it = std::find_if(files.begin(), files.end(), [&](const FileExtents& f) {
      return f.entry.name == name && f.entry.extension == ext;
    });
    if (it == files.end()) {
      files.push_back({{name, ext, (e[ENTRY_EXTENSION] & 0x80) != 0, 0}, {}});
      it = files.end() - 1;
    }
    it->extents[e[ENTRY_EXTENT]] = e;
    it->entry.records += e[ENTRY_RECORDS];
  }
  return files;
}

uint8_t disc_format() {
  DiscTrack first;
  if (!disc_image_read_track(image, 0, 0, first) || disc_track_sectors(first) == 0) return 0xC0;
  return disc_track_sector(first, 0).r & 0xF0;
}

// Appends block b's bytes: blocks count from the directory track's first sector.
bool read_block(int b, uint8_t format, std::vector<uint8_t>& out) {
  const int per_track = format == IBM_FORMAT ? 8 : 9;
  for (int i = 0; i < SECTORS_PER_BLOCK; ++i) {
    const int logical = b * SECTORS_PER_BLOCK + i;
    const int track = disc_directory_track(format) + logical / per_track;
    const uint8_t r = static_cast<uint8_t>(format | (logical % per_track + 1));
    uint8_t sector[SECTOR_SIZE];
    if (disc_image_read_sector(image, track, 0, r, sector, SECTOR_SIZE) != SECTOR_SIZE) return false;
    out.insert(out.end(), sector, sector + SECTOR_SIZE);
  }
  return true;
}

bool read_extents(const FileExtents& f, std::vector<uint8_t>& out) {
  const uint8_t format = disc_format();
  out.clear();
  for (const auto& [number, e] : f.extents) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < BLOCKS_PER_ENTRY && e[ENTRY_BLOCKS + i]; ++i) {
      if (!read_block(e[ENTRY_BLOCKS + i], format, bytes)) return false;
    }
    bytes.resize(std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(e[ENTRY_RECORDS]) * RECORD_SIZE));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return true;
}

bool name_matches(const std::string& pattern, const SdDskEntry& e) {
  const std::string full = e.extension.empty() ? e.name : e.name + "." + e.extension;
  return ::fnmatch(pattern.c_str(), full.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

std::string cpc_name(std::string name) {
  if (name.size() >= 2 && name[1] == ':') name.erase(0, 2);
  const auto slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

bool find_sector(int track, int sector, SectorPlace& place) {
  DiscTrack t;
  if (!disc_image_read_track(image, track, 0, t)) return false;
  for (int i = 0; i < disc_track_sectors(t); ++i) {
    if (disc_track_sector(t, i).r == sector) {
      place = disc_track_place(t, i);
      return true;
    }
  }
  return false;
}

}  // namespace

bool sd_dsk_enter(const std::string& path) {
  sd_dsk_leave();
  return disc_image_check_file(path.c_str()) && disc_image_open(image, path.c_str(), true);
}

void sd_dsk_leave() {
  if (disc_image_is_open(image)) disc_image_close(image);
}

bool sd_dsk_entered() { return disc_image_is_open(image); }

std::vector<SdDskEntry> sd_dsk_list() {
  uint8_t dir[DISC_DIRECTORY_SIZE];
  std::vector<SdDskEntry> list;
  if (!disc_image_read_directory(image, dir)) return list;
  for (const FileExtents& f : directory_files(dir)) list.push_back(f.entry);
  return list;
}

bool sd_dsk_read_file(const std::string& name, std::vector<uint8_t>& out, std::string* name8, std::string* ext3) {
  uint8_t dir[DISC_DIRECTORY_SIZE];
  if (!disc_image_read_directory(image, dir)) return false;
  const std::string wanted = cpc_name(name);
  if (wanted.empty()) return false;
  std::vector<std::string> tries{wanted};
  if (wanted.find('.') == std::string::npos) {
    tries.push_back(wanted + ".BAS");
    tries.push_back(wanted + ".BIN");
  }
  const std::vector<FileExtents> files = directory_files(dir);
  for (const std::string& pattern : tries) {
    for (const FileExtents& f : files) {
      if (!name_matches(pattern, f.entry)) continue;
      if (name8) *name8 = f.entry.name;
      if (ext3) *ext3 = f.entry.extension;
      return read_extents(f, out);
    }
  }
  return false;
}

int sd_dsk_read_sector(int track, int sector, uint8_t* out, int max) {
  if (!disc_image_is_open(image)) return -1;
  return disc_image_read_sector(image, track, 0, static_cast<uint8_t>(sector), out, max);
}

bool sd_dsk_write_sector(int track, int sector, const uint8_t* data, int count) {
  SectorPlace place;
  if (!disc_image_is_open(image) || image.read_only || !find_sector(track, sector, place)) return false;
  return disc_image_write(image, place, data, std::min(count, place.length));
}
