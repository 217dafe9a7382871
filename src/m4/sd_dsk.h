// A DSK image entered as a directory of the M4 board's SD card: its AMSDOS directory is
// listed, its files are read whole at open, and its sectors can be read and written by
// track and sector ID. The image itself is read through the disc image unit.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct SdDskEntry {
  std::string name, extension;  // blanks removed
  bool read_only = false;
  long records = 0;             // 128-byte records over all the file's extents
};

// Opens the image (writable when possible); false when it is not a DSK image.
bool sd_dsk_enter(const std::string& path);
void sd_dsk_leave();
bool sd_dsk_entered();
// The image's AMSDOS files (user 0), one entry a file.
std::vector<SdDskEntry> sd_dsk_list();
// The bytes of the file matching name (wildcards allowed, no regard to case; without an
// extension ".BAS", then ".BIN" are tried too). name8/ext3 receive its directory name.
bool sd_dsk_read_file(const std::string& name, std::vector<uint8_t>& out, std::string* name8 = nullptr,
                      std::string* ext3 = nullptr);
// Sector ID `sector` of track `track`, side 0: bytes read, -1 when absent.
int sd_dsk_read_sector(int track, int sector, uint8_t* out, int max);
bool sd_dsk_write_sector(int track, int sector, const uint8_t* data, int count);
