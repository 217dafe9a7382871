// Disc images in the drives: insert, eject and the disc autostart.
#include "media/dsk.h"

#include <cstring>
#include <utility>

#include "config/settings.h"
#include "hardware/autotype.h"
#include "hardware/memory.h"
#include "media/fdc.h"

namespace {

kw::Id path_keyword(int drive) { return drive ? kw::DRIVE_B : kw::DRIVE_A; }
kw::Id side_keyword(int drive) { return drive ? kw::DRIVE_B_SIDE : kw::DRIVE_A_SIDE; }
kw::Id protect_keyword(int drive) { return drive ? kw::DRIVE_B_WRITEPROT : kw::DRIVE_A_WRITEPROT; }
kw::Id autostart_keyword(int drive) { return drive ? kw::DRIVE_B_AUTOSTART : kw::DRIVE_A_AUTOSTART; }

// What the program knows of the disc in each drive: the autostart name and the block
// size found when it was inserted.
struct DriveDisc {
  char display_name[13];  // NAME    .EXT, or "|CPM" for a boot sector
  int block_size;
};
DriveDisc drive_discs[2];

constexpr int BOOT_SECTOR_R = 0x41;
constexpr int DIRECTORY_SECTOR_SIZE = 512;
constexpr int DIRECTORY_SECTORS = 4;
constexpr int ENTRY_SIZE = 32;
// A block size of 2048 goes with the sector IDs 0x91..0x99.
constexpr uint8_t LARGE_BLOCK_FORMAT = 0x90;

void clear_display_name(int drive) {
  char* name = drive_discs[drive].display_name;
  std::memset(name, 0, sizeof drive_discs[drive].display_name);
  name[8] = '.';
}

bool valid_drive(int drive) { return drive == 0 || drive == 1; }

// Directory entry helpers (32 bytes: user, name[8], ext[3], extent, ...).
bool entry_hidden(const uint8_t* e) { return (e[10] & 0x80) != 0; }
void entry_extension(const uint8_t* e, char ext[4]) {
  ext[0] = static_cast<char>(e[9] & 0x7F);
  ext[1] = static_cast<char>(e[10] & 0x7F);
  ext[2] = static_cast<char>(e[11]);
  ext[3] = 0;
}
bool is_run_extension(const char* ext) {
  return std::strcmp(ext, "BAS") == 0 || std::strcmp(ext, "BIN") == 0 || std::strcmp(ext, "   ") == 0;
}
bool is_disc_name(const uint8_t* e) {
  return std::memcmp(e + 1, "DISC", 4) == 0 || std::memcmp(e + 1, "#DISC", 5) == 0;
}

// Chooses between the chosen directory entry and a later candidate as the autostart
// search does; true when the candidate replaces the chosen one.
bool candidate_replaces(const uint8_t* chosen, const uint8_t* candidate) {
  char chosen_ext[4], ext[4];
  entry_extension(chosen, chosen_ext);
  entry_extension(candidate, ext);
  bool hidden = entry_hidden(candidate);
  if (!is_disc_name(candidate) && hidden && std::strcmp(ext, "BAS") != 0 && candidate[1] != '-')
    return false;  // passed over
  if (entry_hidden(chosen) && !hidden) return true;
  return !hidden && chosen[1] != '-' && chosen[1] != '#' && std::strcmp(chosen_ext, "BAS") != 0 &&
         std::strcmp(chosen_ext, "   ") != 0 && std::strcmp(ext, chosen_ext) != 0;
}

uint8_t visible_byte(uint16_t address) {
  const uint8_t* bank = read_bank[address >> 14];
  return bank ? bank[address & 0x3FFF] : 0;
}

// Finds the program to start on the drive's disc, reading it as the disc ROM would
// (the disc turns under the head), and fills the drive's display name: "|CPM" for a
// boot sector, else NAME    .EXT. False when no name was found.
bool autostart_search(int drive) {
  clear_display_name(drive);
  char* name = drive_discs[drive].display_name;
  const uint8_t format = fdc_drive_next_sector(drive).r & 0xF0;
  const int directory_track = disc_directory_track(format);
  uint8_t buffer[DIRECTORY_SECTOR_SIZE];

  // A boot sector on track 0 (system and IBM formats) starts CP/M.
  fdc_drive_load_track(drive, 0);
  const int got = fdc_drive_read_sector(drive, 0, 0, BOOT_SECTOR_R, buffer, sizeof buffer);
  const DiscTrack& track0 = fdc_drive(drive).track_info;
  if (got >= 4 && disc_track_sectors(track0) > 0 && disc_track_sector(track0, 0).length == DIRECTORY_SECTOR_SIZE &&
      !(buffer[0] == 0xE5 && buffer[1] == 0xE5 && buffer[2] == 0xE5 && buffer[3] == 0xE5)) {
    std::memset(name, 0, sizeof drive_discs[drive].display_name);
    std::memcpy(name, "|CPM", 4);
    return true;
  }

  fdc_drive_load_track(drive, directory_track);
  uint8_t chosen[ENTRY_SIZE] = {};
  bool have_choice = false;
  for (int s = 1; s <= DIRECTORY_SECTORS; s++) {
    const uint8_t r = static_cast<uint8_t>(format | s);
    if (fdc_drive_read_sector(drive, static_cast<uint8_t>(directory_track), 0, r, buffer, sizeof buffer) !=
            DIRECTORY_SECTOR_SIZE ||
        fdc_drive(drive).sector_length != DIRECTORY_SECTOR_SIZE)
      break;
    for (int i = 0; i < DIRECTORY_SECTOR_SIZE / ENTRY_SIZE; i++) {
      const uint8_t* e = buffer + ENTRY_SIZE * i;
      char ext[4];
      entry_extension(e, ext);
      if (e[0] != 0 || e[12] != 0 || e[1] == ' ' || !is_run_extension(ext)) continue;
      if (!have_choice || candidate_replaces(chosen, e)) {
        std::memcpy(chosen, e, ENTRY_SIZE);
        have_choice = true;
      }
    }
  }
  if (!have_choice) return false;
  for (int i = 0; i < 8; i++) name[i] = static_cast<char>(chosen[1 + i] & 0x7F);
  name[8] = '.';
  for (int i = 0; i < 3; i++) name[9 + i] = static_cast<char>(chosen[9 + i] & 0x7F);
  name[12] = 0;
  return true;
}

}  // namespace

// ---- Drives ---------------------------------------------------------------------------------

void drive_set_path(int drive, const char* path) {
  if (valid_drive(drive)) set_setting_text(path_keyword(drive), path);
}

bool drive_insert(int drive) {
  if (!valid_drive(drive)) return false;
  if (fdc_drive_has_disc(drive)) fdc_eject(drive);
  clear_display_name(drive);
  const char* path = setting_text(path_keyword(drive));
  if (!path || !*path) return false;

  const bool protect = setting(protect_keyword(drive)) != 0;
  DiscImage image;
  if (!disc_image_open(image, path, !protect)) return false;
  const bool read_only = protect || image.read_only;
  fdc_insert(drive, std::move(image), read_only, setting(side_keyword(drive)) != 0);
  const bool large_blocks = (fdc_drive_next_sector(drive).r & 0xF0) == LARGE_BLOCK_FORMAT;
  drive_discs[drive].block_size = large_blocks ? 2048 : 1024;

  if (setting(autostart_keyword(drive))) {
    const uint8_t track = fdc_drive(drive).track;
    autostart_search(drive);
    fdc_drive_load_track(drive, track);  // the head goes back where it was
  }
  fdc_reapply_side_selection();
  return true;
}

bool drive_insert_and_autostart(int drive, const char* path) {
  if (!valid_drive(drive)) return false;
  if (path) drive_set_path(drive, path);
  if (!drive_insert(drive)) return false;
  const char* name = drive == 0 ? drive_autostart_name(0) : nullptr;
  if (name) type_text(dsk_autostart_text(name, dsk_autostart_needs_prefix()).c_str());
  return true;
}

bool dsk_insert_configured(int drive, bool autostart) {
  if (!valid_drive(drive)) return false;
  if (autostart) return drive_insert_and_autostart(drive, nullptr);
  return drive_insert(drive);
}

bool drive_eject(int drive) {
  if (!valid_drive(drive) || !fdc_drive_has_disc(drive)) return false;
  fdc_eject(drive);
  clear_display_name(drive);
  return true;
}

bool drive_has_disc(int drive) { return valid_drive(drive) && fdc_drive_has_disc(drive); }

const char* drive_autostart_name(int drive) {
  if (!drive_has_disc(drive) || !setting(autostart_keyword(drive))) return nullptr;
  const char* name = drive_discs[drive].display_name;
  return name[0] ? name : nullptr;
}

int drive_block_size(int drive) { return valid_drive(drive) ? drive_discs[drive].block_size : 0; }

void drives_release() {
  for (int drive = 0; drive < 2; drive++) {
    drive_eject(drive);
    set_setting_text(path_keyword(drive), nullptr);
  }
}

// ---- Autostart ------------------------------------------------------------------------------

bool dsk_autostart_needs_prefix() {
  const uint8_t bc78 = visible_byte(0xBC78), bc79 = visible_byte(0xBC79);
  return visible_byte(0xA866) == bc79 || bc78 == 0xA4 || (bc78 == 0xFF && bc79 == 0xFF);
}

std::string dsk_autostart_text(const char* name, bool disc_prefix) {
  std::string text = disc_prefix ? "|disc:" : "";
  if (name[0] != '|') text += "run\"";
  text += name;
  if (text.size() > 48) text.resize(48);
  text += '\n';
  return text;
}
