// The M4 board's SD card: a host directory (M4_SD_PATH) that the CPC sees through the
// board's file and directory commands. CPC names are looked up without regard to case
// through the host names and their 8.3 short names; a name never reaches outside the
// SD directory ("/.." at the top stays at the top). A DSK image can be entered like a
// directory: its AMSDOS files are then read, listed and extracted.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Runs an SD card command of the packet being executed; false when the code is not one.
bool sdcard_command(int code);
// Closes every open file (without renaming temporaries), leaves an entered DSK image and
// clears the current directory and the listing.
void sdcard_reset();
// The current directory below the SD root ("" for the root), as host names.
const std::string& sdcard_current_dir();

namespace m4 {
// The host path of a CPC name on the card, resolved as the file commands resolve it
// (relative to the current directory, never outside the SD directory).
std::string sd_host_path(const std::string& cpc_name);

// An 8.3 short name for each host name of a directory, in the given order (the names
// "." and ".." stay as they are). dirs[i] tells whether names[i] is a directory.
std::vector<std::string> short_names(const std::vector<std::string>& names,
                                     const std::vector<bool>& dirs);

// Turns a snapshot whose memory is in "MEMn" chunks (stored or run-length encoded) into
// a plain one: header, then the memory blocks; the header's memory size covers the
// highest block found. False when the input is not such a snapshot (too short, more
// memory than ten 64 KB blocks) or writing fails.
bool convert_snapshot(std::FILE* in, std::FILE* out);
}  // namespace m4
