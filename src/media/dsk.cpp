// DSK images in the drives: insert, eject, the image checks and the disc autostart.
#include "media/dsk.h"

#include <sys/stat.h>

#include <cstring>

#include "config/settings.h"
#include "hardware/keyboard.h"
#include "hardware/autotype.h"
#include "hardware/memory.h"
#include "media/media_file.h"


namespace {

kw::Id path_keyword(int drive) { return drive ? kw::DRIVE_B : kw::DRIVE_A; }
kw::Id side_keyword(int drive) { return drive ? kw::DRIVE_B_SIDE : kw::DRIVE_A_SIDE; }
kw::Id protect_keyword(int drive) { return drive ? kw::DRIVE_B_WRITEPROT : kw::DRIVE_A_WRITEPROT; }
kw::Id autostart_keyword(int drive) { return drive ? kw::DRIVE_B_AUTOSTART : kw::DRIVE_A_AUTOSTART; }

// The controller's status registers and selection, kept across work that the program
// does on a drive between two processor instructions (insert, autostart search), so
// that a command in progress is not disturbed.
class FdcStatusGuard {
 public:
  FdcStatusGuard()
      : st0_(fdc.st0), st1_(fdc.st1), st2_(fdc.st2), c_(fdc.id_c), h_(fdc.id_h), r_(fdc.id_r),
        n_(fdc.id_n), st1s_(fdc.id_st1), st2s_(fdc.id_st2), drive_(fdc.drive), offset_(fdc.data_offset) {}
  ~FdcStatusGuard() {
    fdc.st0 = st0_, fdc.st1 = st1_, fdc.st2 = st2_;
    fdc.id_c = c_, fdc.id_h = h_, fdc.id_r = r_, fdc.id_n = n_;
    fdc.id_st1 = st1s_, fdc.id_st2 = st2s_;
    fdc.drive = drive_;
    fdc.data_offset = offset_;
  }
  FdcStatusGuard(const FdcStatusGuard&) = delete;
  FdcStatusGuard& operator=(const FdcStatusGuard&) = delete;

 private:
  uint8_t st0_, st1_, st2_, c_, h_, r_, n_, st1s_, st2s_, drive_;
  int64_t offset_;
};

// Motor on for the moment (the drive ready when it holds a disc); puts the motor flag
// and the ready bits back afterwards without sound events.
class MotorOnForTheMoment {
 public:
  MotorOnForTheMoment() : motor_(fdc.motor) {
    fdc.motor = 1;
    for (DiscDrive& d : disc_drives) fdc_update_ready(d);
  }
  ~MotorOnForTheMoment() {
    fdc.motor = motor_;
    for (DiscDrive& d : disc_drives) fdc_update_ready(d);
  }
  MotorOnForTheMoment(const MotorOnForTheMoment&) = delete;
  MotorOnForTheMoment& operator=(const MotorOnForTheMoment&) = delete;

 private:
  uint8_t motor_;
};

void clear_display_name(DiscDrive& d) {
  std::memset(d.display_name, 0, sizeof d.display_name);
  d.display_name[8] = '.';
}

// Closes the file and its temporary copy, leaving the interrupt status alone.
void close_file(DiscDrive& d) {
  if (d.file) std::fclose(d.file);
  d.file = nullptr;
  media_close_temp(d.temp_name);
  d.state = 0;
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

}  // namespace

// ---- Images -------------------------------------------------------------------------------

int dsk_check_file(const char* path) {
  if (!path) return 1;
  FILE* f = std::fopen(path, "rb");
  if (!f) return 1;
  char head[8];
  size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (got != sizeof head) return 1;
  return std::memcmp(head, DSK_STANDARD_SIGNATURE, 8) == 0 || std::memcmp(head, DSK_EXTENDED_SIGNATURE, 8) == 0
             ? 0
             : 1;
}

int dsk_read_disc_info(DiscDrive& d) {
  if (!d.file || std::fseek(d.file, 0, SEEK_SET) != 0) return 1;
  if (std::fread(d.disc_info, 1, sizeof d.disc_info, d.file) != sizeof d.disc_info) return 1;
  if (std::memcmp(d.disc_info, DSK_STANDARD_SIGNATURE, 8) == 0)
    d.extended = 0;
  else if (std::memcmp(d.disc_info, DSK_EXTENDED_SIGNATURE, 8) == 0)
    d.extended = 1;
  else
    return 1;
  return 0;
}

void dsk_close_image(DiscDrive& d) {
  close_file(d);
  d.int_status = 0x08;
  d.st3 = 0;
}

int64_t dsk_file_size(const DiscDrive& d) {
  if (!d.file) return 0;
  struct stat st;
  if (::fstat(fileno(d.file), &st) != 0) return 0;
  return st.st_size;
}

int dsk_read_sector(DiscDrive& d, uint8_t c, uint8_t h, uint8_t r, uint8_t* out, int max) {
  FdcStatusGuard guard;
  fdc.st0 = fdc.st1 = 0;
  if (fdc_find_sector(d, c, h, r) != 0 || !d.file) return -1;
  int length = d.sector_length < max ? d.sector_length : max;
  if (length <= 0 || std::fseek(d.file, fdc.data_offset, SEEK_SET) != 0) return 0;
  return static_cast<int>(std::fread(out, 1, static_cast<size_t>(length), d.file));
}

int dsk_open_image(DiscDrive& d, const char* path, bool read_only) {
  if (d.file) dsk_close_image(d);
  const uint8_t unit = d.unit;
  std::memset(&d, 0, sizeof d);
  d.unit = unit;
  clear_display_name(d);
  d.file = media_open(path, read_only ? "rb" : "rb+", d.temp_name);
  if (!d.file) {
    media_close_temp(d.temp_name);
    return 1;
  }
  if (dsk_read_disc_info(d) != 0) {
    close_file(d);
    return 1;
  }
  d.state = 2;
  d.write_protect = read_only;
  d.st3 = static_cast<uint8_t>((d.unit & 3) | st3_bit::READY | (read_only ? st3_bit::WRITE_PROTECTED : 0));
  FdcStatusGuard guard;
  fdc.st0 = fdc.st1 = 0;
  fdc_track_load(d, 0, 0);
  d.int_status = 0x80;
  int count = fdc_sector_count(d);
  uint8_t r = count ? fdc_sector_entry(d, 0)[2] : 0;
  d.block_size = (r & 0xF0) == 0x90 ? 2048 : 1024;
  return 0;
}

// ---- Drives ---------------------------------------------------------------------------------

void drive_set_path(int drive, const char* path) {
  if (valid_drive(drive)) set_setting_text(path_keyword(drive), path);
}

int drive_insert(int drive) {
  if (!valid_drive(drive)) return 1;
  DiscDrive& d = disc_drives[drive];
  if (d.file || d.state) dsk_close_image(d);
  clear_display_name(d);
  const char* path = setting_text(path_keyword(drive));
  if (!path || !*path) return 1;

  bool protect = setting(protect_keyword(drive)) != 0;
  FILE* file = protect ? nullptr : media_open(path, "rb+", d.temp_name);
  if (!file) {
    file = media_open(path, "rb", d.temp_name);
    protect = true;
  }
  if (!file) {
    media_close_temp(d.temp_name);
    return 1;
  }
  d.file = file;
  if (dsk_read_disc_info(d) != 0) {
    close_file(d);
    return 1;
  }
  d.state = 2;

  FdcStatusGuard guard;
  const uint8_t saved_int = d.int_status;
  const uint8_t old_index = d.sector_index;
  d.side_setting = setting(side_keyword(drive)) != 0;
  d.write_protect = protect;
  d.st3 = static_cast<uint8_t>((d.unit & 3) | (d.track == 0 ? st3_bit::TRACK0 : 0) |
                               (protect ? st3_bit::WRITE_PROTECTED : 0));
  {
    // The head stays where it was; the new disc's track under it is loaded. The old
    // disc's sectors are gone, so the rotational position carries over by index only.
    MotorOnForTheMoment motor;
    std::memset(d.track_info, 0, sizeof d.track_info);
    fdc.st0 = fdc.st1 = 0;
    fdc_track_load(d, d.track, 0);
    int count = fdc_sector_count(d);
    for (int i = 0; count && i < old_index % count; i++) fdc_pass_sector(d);
  }
  d.int_status = saved_int;

  int count = fdc_sector_count(d);
  uint8_t r = count ? fdc_sector_entry(d, d.sector_index % count)[2] : 0;
  d.block_size = (r & 0xF0) == 0x90 ? 2048 : 1024;

  if (setting(autostart_keyword(drive))) {
    MotorOnForTheMoment motor;
    uint8_t buffer[512];
    const uint8_t track = d.track;
    dsk_autostart_search(d, buffer);
    fdc.st0 = fdc.st1 = 0;
    fdc_track_load(d, track, 0);
    d.int_status = saved_int;
  }
  fdc_select_side(fdc.hd_us);
  d.int_status = saved_int;
  return 0;
}

int drive_insert_and_autostart(int drive, const char* path) {
  if (!valid_drive(drive)) return 1;
  if (path) drive_set_path(drive, path);
  if (drive_insert(drive) != 0) return 1;
  const char* name = drive == 0 ? drive_autostart_name(0) : nullptr;
  if (name) type_text(dsk_autostart_text(name, dsk_autostart_needs_prefix()).c_str());
  return 0;
}

int dsk_insert_configured(int drive, bool autostart) {
  if (!valid_drive(drive)) return 1;
  if (autostart) return drive_insert_and_autostart(drive, nullptr);
  return drive_insert(drive);
}

int drive_eject(int drive) {
  if (!valid_drive(drive)) return 1;
  DiscDrive& d = disc_drives[drive];
  if (!d.file && d.state == 0) return 1;
  dsk_close_image(d);
  clear_display_name(d);
  return 0;
}

bool drive_has_disc(int drive) { return valid_drive(drive) && disc_drives[drive].state == 2; }

const char* drive_autostart_name(int drive) {
  if (!valid_drive(drive) || !setting(autostart_keyword(drive))) return nullptr;
  const char* name = disc_drives[drive].display_name;
  return name[0] ? name : nullptr;
}

void drives_release() {
  for (int drive = 0; drive < 2; drive++) {
    DiscDrive& d = disc_drives[drive];
    if (d.file || d.state) dsk_close_image(d);
    set_setting_text(path_keyword(drive), nullptr);
  }
}

// ---- Autostart ------------------------------------------------------------------------------

int dsk_autostart_search(DiscDrive& d, uint8_t* buffer) {
  FdcStatusGuard guard;
  clear_display_name(d);
  int count = fdc_sector_count(d);
  const uint8_t format = count ? fdc_sector_entry(d, d.sector_index % count)[2] & 0xF0 : 0;
  const int directory_track = format == 0x40 ? 2 : format == 0x00 ? 1 : 0;

  // A boot sector on track 0 (system and IBM formats) starts CP/M.
  fdc.st0 = fdc.st1 = 0;
  fdc_track_load(d, 0, 0);
  int got = dsk_read_sector(d, 0, 0, 0x41, buffer, 512);
  if (got >= 4 && fdc_sector_count(d) > 0 &&
      (fdc_sector_entry(d, 0)[6] | (fdc_sector_entry(d, 0)[7] << 8)) == 512 &&
      !(buffer[0] == 0xE5 && buffer[1] == 0xE5 && buffer[2] == 0xE5 && buffer[3] == 0xE5)) {
    std::memset(d.display_name, 0, sizeof d.display_name);
    std::memcpy(d.display_name, "|CPM", 4);
    return 0;
  }

  fdc.st0 = fdc.st1 = 0;
  fdc_track_load(d, directory_track, 0);
  if (!(d.st3 & st3_bit::READY)) return 1;
  uint8_t chosen[32];
  bool have_choice = false;
  for (int s = 1; s <= 4; s++) {
    uint8_t r = static_cast<uint8_t>(format | s);
    if (dsk_read_sector(d, static_cast<uint8_t>(directory_track), 0, r, buffer, 512) != 512 ||
        d.sector_length != 512)
      break;
    for (int i = 0; i < 16; i++) {
      const uint8_t* e = buffer + 32 * i;
      char ext[4];
      entry_extension(e, ext);
      if (e[0] != 0 || e[12] != 0 || e[1] == ' ' || !is_run_extension(ext)) continue;
      if (!have_choice || candidate_replaces(chosen, e)) {
        std::memcpy(chosen, e, 32);
        have_choice = true;
      }
    }
  }
  if (!have_choice) return 1;
  for (int i = 0; i < 8; i++) d.display_name[i] = static_cast<char>(chosen[1 + i] & 0x7F);
  d.display_name[8] = '.';
  for (int i = 0; i < 3; i++) d.display_name[9 + i] = static_cast<char>(chosen[9 + i] & 0x7F);
  d.display_name[12] = 0;
  return 0;
}

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
