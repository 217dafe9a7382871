// The µPD765 floppy disc controller: command, execution and result phases, the
// rotational model of the drives and the track loading of DSK images.
#include "media/fdc.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "config/settings.h"
#include "core/host.h"
#include "media/dsk.h"
#include "sound/fx.h"
#include "video/raster.h"

FdcState fdc;
DiscDrive disc_drives[2];

namespace {

// Command codes (low five bits of the first command byte).
enum : uint8_t {
  CMD_READ_TRACK = 2, CMD_SPECIFY = 3, CMD_SENSE_DRIVE = 4, CMD_WRITE_DATA = 5,
  CMD_READ_DATA = 6, CMD_RECALIBRATE = 7, CMD_SENSE_INT = 8, CMD_WRITE_DELETED = 9,
  CMD_READ_ID = 10, CMD_READ_DELETED = 12, CMD_FORMAT = 13, CMD_SEEK = 15,
  CMD_SCAN_EQUAL = 17, CMD_SCAN_LOW = 25, CMD_SCAN_HIGH = 29
};

// Number of command bytes of each code; 0 = code not implemented (dropped).
constexpr uint8_t command_length[32] = {
    0, 0, 9, 3, 2, 9, 9, 2,  // 0..7
    1, 9, 2, 0, 9, 6, 0, 3,  // 8..15
    0, 9, 0, 0, 0, 0, 0, 0,  // 16..23
    0, 9, 0, 0, 0, 9, 0, 0,  // 24..31
};

int handle_command(uint8_t value);
int handle_result(uint8_t value);
int handle_read(uint8_t value);
int handle_write(uint8_t value);
int handle_format(uint8_t value);
int handle_scan(uint8_t value);

bool fast_disc() { return setting(kw::AMSDOS_SPEEDUP) != 0; }

void sleep_ms(unsigned ms) {
  if (ms && host.delay_ms) host.delay_ms(ms);
}

DiscDrive& current_drive() { return disc_drives[fdc.drive & 1]; }

bool drive_ready(const DiscDrive& d) { return (d.st3 & st3_bit::READY) != 0; }

int image_tracks(const DiscDrive& d) { return d.disc_info[0x30]; }
int image_sides(const DiscDrive& d) { return d.disc_info[0x31]; }
int standard_track_size(const DiscDrive& d) { return d.disc_info[0x32] | (d.disc_info[0x33] << 8); }

// Size in bytes of track k (k = track × sides + side) of an extended image. The table
// ends with the disc information block; tracks beyond it have no size.
int64_t extended_track_size(const DiscDrive& d, int64_t k) {
  if (k < 0 || k >= 256 - 0x34) return 0;
  return static_cast<int64_t>(d.disc_info[0x34 + k]) * 256;
}

int64_t track_file_offset(const DiscDrive& d, int t, int side) {
  int64_t k = static_cast<int64_t>(t) * image_sides(d) + side;
  if (!d.extended) return 256 + k * standard_track_size(d);
  int64_t offset = 256;
  for (int64_t j = 0; j < k && j < 256 - 0x34; j++) offset += extended_track_size(d, j);
  return offset;
}

int entry_length(const uint8_t* e) { return e[6] | (e[7] << 8); }

}  // namespace

bool fdc_pass_sector(DiscDrive& d) {
  if (!drive_ready(d)) {
    fdc.st0 |= 0x48;
    return false;
  }
  int count = fdc_sector_count(d);
  if (count == 0) return false;
  if (d.sector_index >= count) d.sector_index = 0;
  const uint8_t* e = fdc_sector_entry(d, d.sector_index);
  fdc.id_c = e[0];
  fdc.id_h = e[1];
  fdc.id_r = e[2];
  fdc.id_n = e[3];
  fdc.id_st1 = e[4];
  fdc.id_st2 = e[5];
  d.sector_length = static_cast<uint16_t>(entry_length(e));
  d.sector_index = static_cast<uint8_t>(d.sector_index + 1 >= count ? 0 : d.sector_index + 1);
  return true;
}

namespace {

// ---- Phases -------------------------------------------------------------------------

void back_to_idle() {
  fdc.msr &= static_cast<uint8_t>(~(msr_bit::DIO | msr_bit::CB | msr_bit::EXM));
  fdc.command = 0;
  fdc.drive = 0xFF;
  fdc.data_handler = handle_command;
}

// Enters the result phase with count bytes already in fdc.buffer.
void enter_result_bytes(int count) {
  fdc.byte_count = static_cast<uint8_t>(count);
  fdc.result_index = 0;
  fdc.msr = static_cast<uint8_t>((fdc.msr & ~msr_bit::EXM) | msr_bit::DIO);
  fdc.data_handler = handle_result;
}

// Result phase of the seven-byte commands: ST0 ST1 ST2 C H R N.
void enter_result() {
  fdc.buffer[0] = fdc.st0;
  fdc.buffer[1] = fdc.st1;
  fdc.buffer[2] = fdc.st2;
  fdc.buffer[3] = fdc.id_c;
  fdc.buffer[4] = fdc.id_h;
  fdc.buffer[5] = fdc.id_r;
  fdc.buffer[6] = fdc.id_n;
  enter_result_bytes(7);
}

void start_execution() {
  fdc.st0 = fdc.buffer[1] & 7;
  fdc.st1 = fdc.st2 = 0;
  fdc.id_c = fdc.id_h = fdc.id_r = fdc.id_n = 0;
  fdc.bytes_left = 0;
  fdc.buffer_pos = 0;
  fdc.msr |= msr_bit::EXM;
  if ((fdc.command & 1) == 0)
    fdc.msr |= msr_bit::DIO;
  else
    fdc.msr &= static_cast<uint8_t>(~msr_bit::DIO);
}

// ---- Reading ------------------------------------------------------------------------

// Start of a sector transfer of READ DATA / READ TRACK / READ DELETED DATA: at the
// end of the command phase and after the last byte of each sector.
void read_sector_start() {
  if (!fast_disc()) {
    video_run((fdc.specify2 & 0xFE) * 500);
    sleep_ms(fdc.specify2 >> 1);
  }
  DiscDrive& d = current_drive();
  uint8_t& r = fdc.buffer[4];
  if (r > fdc.buffer[6]) {
    fdc.st0 |= 0x40;
    if (fdc.st1 == 0) fdc.st1 = 0x80;  // end of cylinder: the normal end of a read
    enter_result();
    return;
  }
  int found = fdc_find_sector(d, fdc.buffer[2], fdc.buffer[3], r) == 0;
  r = static_cast<uint8_t>(r + 1);
  fdc.bytes_left = 0;
  if (found && (fdc.st0 & 0xF8) == 0) {
    fdc.st1 |= fdc.id_st1;
    fdc.st2 |= fdc.id_st2;
    if (fdc.command == CMD_READ_DELETED) {
      if (fdc.st2 & 0x40) {
        fdc.st2 &= static_cast<uint8_t>(~0x40);
      } else {
        fdc.st0 |= 0x40;
        fdc.st2 |= 0x40;
      }
    } else if (fdc.st2 & 0x40) {
      fdc.st0 |= 0x40;
    }
    int length = d.sector_length < FDC_SECTOR_BUFFER_SIZE ? d.sector_length : FDC_SECTOR_BUFFER_SIZE;
    if (d.file && length > 0 && std::fseek(d.file, fdc.data_offset, SEEK_SET) == 0)
      fdc.bytes_left = static_cast<int>(std::fread(fdc.sector_buffer, 1, length, d.file));
  }
  if (fdc.bytes_left == 0) {
    enter_result();
    return;
  }
  fdc.buffer_pos = 0;
}

// ---- Writing ------------------------------------------------------------------------

// Finds the next sector of a write (R, then R + 1) and prepares its transfer; false
// when the command ends (the status registers tell why).
bool write_sector_start() {
  DiscDrive& d = current_drive();
  uint8_t& r = fdc.buffer[4];
  if (r > fdc.buffer[6]) {
    fdc.st0 |= 0x40;
    fdc.st1 |= 0x80;
    return false;
  }
  if (d.st3 & st3_bit::WRITE_PROTECTED) {
    fdc.st0 |= 0x40;
    fdc.st1 |= 0x02;
    return false;
  }
  fdc_find_sector(d, fdc.buffer[2], fdc.buffer[3], r);
  r = static_cast<uint8_t>(r + 1);
  if (fdc.st0 & 0xF8) return false;
  fdc.bytes_left = d.sector_length < FDC_SECTOR_BUFFER_SIZE ? d.sector_length : FDC_SECTOR_BUFFER_SIZE;
  fdc.buffer_pos = 0;
  return fdc.bytes_left > 0;
}

// Writes `length` bytes of the sector buffer at `offset` of the drive's image. The
// image never grows: a sector that does not lie wholly inside the file is refused.
bool write_image(DiscDrive& d, int64_t offset, const uint8_t* data, int64_t length) {
  if (!d.file || offset < 0 || offset + length > dsk_file_size(d)) return false;
  if (std::fseek(d.file, offset, SEEK_SET) != 0) return false;
  if (std::fwrite(data, 1, static_cast<size_t>(length), d.file) != static_cast<size_t>(length)) {
    std::clearerr(d.file);
    return false;
  }
  return std::fflush(d.file) == 0;
}

// ---- FORMAT TRACK ---------------------------------------------------------------------

void format_write_track() {
  DiscDrive& d = current_drive();
  int n = fdc.buffer[2];
  int sc = fdc.buffer[3];
  int64_t sector_size = n > 5 ? 8192 : (128 << n);
  int64_t track_size = standard_track_size(d);
  if (fdc.st1 & 0x02) return;  // write protection came on while the IDs arrived
  if (d.extended || sector_size * sc + 255 >= track_size || d.track >= image_tracks(d)) {
    fdc.st0 |= 0x40;
    return;
  }
  int64_t offset = track_file_offset(d, d.track, d.side);
  if (offset + track_size > dsk_file_size(d)) {
    fdc.st0 |= 0x40;
    return;
  }
  uint8_t block[256] = {};
  std::memcpy(block, "Track-Info\r\n", 12);
  block[0x10] = d.track;
  block[0x11] = d.side;
  block[0x14] = static_cast<uint8_t>(n);
  block[0x15] = static_cast<uint8_t>(sc);
  block[0x16] = fdc.buffer[4];
  block[0x17] = fdc.buffer[5];
  for (int i = 0; i < sc; i++) std::memcpy(block + 0x18 + 8 * i, fdc.sector_buffer + 4 * i, 4);
  if (!write_image(d, offset, block, 256)) {
    fdc.st0 |= 0x40;
    return;
  }
  std::memset(block, fdc.buffer[5], sizeof block);
  int64_t blocks = (track_size - 256) / 256;
  for (int64_t i = 0; i < blocks; i++) {
    if (!write_image(d, offset + 256 + i * 256, block, 256)) {
      fdc.st0 |= 0x40;
      return;
    }
  }
  uint8_t saved = d.int_status;
  fdc_track_load(d, d.track, 1);
  d.int_status = saved;
}

// ---- Commands -------------------------------------------------------------------------

void do_seek(uint8_t target) {
  DiscDrive& d = current_drive();
  fdc.st0 = 0;
  fdc.msr |= (fdc.drive & 1) ? msr_bit::D1B : msr_bit::D0B;
  int delta = std::abs(static_cast<int>(d.track) - target);
  if (!drive_ready(d)) {
    fdc.st0 = 0x48;
    d.int_status = static_cast<uint8_t>(0x68 | (d.unit & 3) | d.side * 4);
  } else if (target < image_tracks(d)) {
    fdc_track_load(d, target, 1);
  } else {
    fdc.st1 |= 0x01;
    fdc.st0 = 0x40;
    d.int_status = static_cast<uint8_t>(0x60 | (d.unit & 3) | d.side * 4);
  }
  back_to_idle();
  int step_time = 16 - (fdc.specify1 >> 4);
  video_run(step_time * delta * 1100);
  if (!fast_disc()) sleep_ms(static_cast<unsigned>(step_time * delta));
}

void do_read_id() {
  DiscDrive& d = current_drive();
  fdc.st1 = fdc.st2 = 0;
  fdc.id_c = fdc.id_h = fdc.id_r = fdc.id_n = 0;
  fdc.st0 = fdc.drive & 7;
  if (!drive_ready(d)) {
    fdc.st0 |= 0x48;
  } else if (!fdc_pass_sector(d)) {
    // An unformatted track has no ID to report: missing address mark.
    fdc.st0 |= 0x40;
    fdc.st1 |= 0x01;
  }
  enter_result();
  int count = fdc_sector_count(d);
  if (d.sector_index != 0) fdc.status_delay = static_cast<uint16_t>(16976 / (count > 0 ? count : 1));
}

void do_format_start() {
  DiscDrive& d = current_drive();
  start_execution();
  if (d.st3 & st3_bit::WRITE_PROTECTED) {
    fdc.st0 = static_cast<uint8_t>((fdc.buffer[1] & 7) | 0x40);
    fdc.st1 = 0x02;
    enter_result();
    return;
  }
  if (!drive_ready(d) || !d.file) {
    fdc.st0 |= 0x48;
    enter_result();
    return;
  }
  if (fdc.buffer[3] > 18) fdc.buffer[3] = 19;
  fdc.bytes_left = 4 * fdc.buffer[3];
  fdc.buffer_pos = 0;
  if (fdc.bytes_left == 0) {
    enter_result();
    return;
  }
  fdc.data_handler = handle_format;
}

void do_sense_interrupt() {
  for (int i = 0; i < 2; i++) {
    DiscDrive& d = disc_drives[i];
    if ((d.int_status & 0xC0) != 0x80) {
      fdc.buffer[0] = d.int_status;
      fdc.buffer[1] = d.track;
      d.int_status = 0x80;
      if (fdc.buffer[0] & 0x20) fdc.msr &= static_cast<uint8_t>(~(i ? msr_bit::D1B : msr_bit::D0B));
      enter_result_bytes(2);
      return;
    }
  }
  fdc.buffer[0] = 0x80;
  enter_result_bytes(1);
}

void dispatch() {
  uint8_t code = fdc.command;
  if (command_length[code] == 0) {  // not implemented: dropped without a result
    back_to_idle();
    return;
  }
  if (code != CMD_SPECIFY && code != CMD_SENSE_INT) fdc_select_side(fdc.buffer[1]);
  switch (code) {
    case CMD_READ_TRACK:
    case CMD_READ_DATA:
    case CMD_READ_DELETED:
      start_execution();
      fdc.data_handler = handle_read;
      read_sector_start();
      break;
    case CMD_WRITE_DATA:
    case CMD_WRITE_DELETED:
      start_execution();
      if (write_sector_start())
        fdc.data_handler = handle_write;
      else
        enter_result();
      break;
    case CMD_FORMAT:
      do_format_start();
      break;
    case CMD_SCAN_EQUAL:
    case CMD_SCAN_LOW:
    case CMD_SCAN_HIGH:
      start_execution();
      fdc.data_handler = handle_scan;
      break;
    case CMD_READ_ID:
      do_read_id();
      break;
    case CMD_SEEK:
      do_seek(fdc.buffer[2]);
      break;
    case CMD_RECALIBRATE:
      do_seek(0);
      break;
    case CMD_SENSE_INT:
      do_sense_interrupt();
      break;
    case CMD_SENSE_DRIVE:
      fdc.buffer[0] = current_drive().st3;
      enter_result_bytes(1);
      break;
    case CMD_SPECIFY:
      fdc.specify1 = fdc.buffer[1];
      fdc.specify2 = fdc.buffer[2];
      back_to_idle();
      break;
    default:
      back_to_idle();
      break;
  }
}

// ---- Data register handlers -------------------------------------------------------------

int handle_command(uint8_t value) {
  if (!(fdc.msr & msr_bit::CB)) {
    fdc.msr |= msr_bit::CB;
    fdc.command = value & 0x1F;
    fdc.byte_count = 1;
  } else {
    fdc.byte_count++;
  }
  if (fdc.byte_count <= sizeof fdc.buffer) fdc.buffer[fdc.byte_count - 1] = value;
  if (fdc.byte_count < command_length[fdc.command]) return 0xFF;
  dispatch();
  return 0xFF;
}

int handle_result(uint8_t) {
  uint8_t value = fdc.result_index < sizeof fdc.buffer ? fdc.buffer[fdc.result_index] : 0xFF;
  fdc.result_index++;
  if (fdc.result_index >= fdc.byte_count) back_to_idle();
  return value;
}

int handle_read(uint8_t) {
  if (fdc.bytes_left <= 0) {
    enter_result();
    return 0xFF;
  }
  uint8_t value = fdc.sector_buffer[fdc.buffer_pos++];
  if (--fdc.bytes_left == 0) read_sector_start();
  return value;
}

int handle_write(uint8_t value) {
  if (fdc.bytes_left <= 0) {
    enter_result();
    return 0xFF;
  }
  fdc.sector_buffer[fdc.buffer_pos++] = value;
  if (--fdc.bytes_left > 0) return 0xFF;
  DiscDrive& d = current_drive();
  int length = d.sector_length < FDC_SECTOR_BUFFER_SIZE ? d.sector_length : FDC_SECTOR_BUFFER_SIZE;
  if (!write_image(d, fdc.data_offset, fdc.sector_buffer, length)) {
    // The sector could not be stored: report a data error rather than success.
    fdc.st0 |= 0x40;
    fdc.st1 |= 0x20;
    enter_result();
    return 0xFF;
  }
  if (!write_sector_start()) enter_result();
  return 0xFF;
}

int handle_format(uint8_t value) {
  if (fdc.bytes_left <= 0) {
    enter_result();
    return 0xFF;
  }
  fdc.sector_buffer[fdc.buffer_pos++] = value;
  if (current_drive().st3 & st3_bit::WRITE_PROTECTED) {
    fdc.st0 |= 0x40;
    fdc.st1 |= 0x02;
  }
  if (--fdc.bytes_left > 0) return 0xFF;
  format_write_track();
  enter_result();
  return 0xFF;
}

int handle_scan(uint8_t) {
  fdc.st0 = fdc.buffer[1] & 7;
  fdc.st1 = fdc.st2 = 0;
  fdc.id_c = fdc.id_h = fdc.id_r = fdc.id_n = 0;
  enter_result();
  return 0xFF;
}

}  // namespace

// ---- Track loading and sector search --------------------------------------------------

int fdc_sector_count(const DiscDrive& d) {
  int count = d.track_info[0x15];
  return count > 19 ? 1 : count;
}

int fdc_track_load(DiscDrive& d, int t, int with_sound) {
  if (!drive_ready(d)) {
    fdc.st0 |= 0x48;
    d.int_status = static_cast<uint8_t>(fdc.st0 | 0x68 | (d.unit & 3) | d.side * 4);
    return 1;
  }
  int result = 0;
  int delta = std::abs(static_cast<int>(d.track) - t);
  int old_count = fdc_sector_count(d);
  int steps = old_count ? (d.sector_index + delta * 11 * old_count / 200) % old_count : 0;
  if (t >= image_tracks(d) || t < 0) {
    fdc.st1 |= 0x01;
    fdc.st0 |= 0x40;
    result = 1;
  } else {
    bool moved = d.track != t;
    d.track = static_cast<uint8_t>(t);
    if (t == 0)
      d.st3 |= st3_bit::TRACK0;
    else
      d.st3 &= static_cast<uint8_t>(~st3_bit::TRACK0);
    if (moved && with_sound) fx_step(delta);

    d.track_offset = track_file_offset(d, t, d.side);
    bool empty_track = d.extended && extended_track_size(d, static_cast<int64_t>(t) * image_sides(d) + d.side) == 0;
    size_t got = 0;
    if (!empty_track && d.file && std::fseek(d.file, d.track_offset, SEEK_SET) == 0)
      got = std::fread(d.track_info, 1, sizeof d.track_info, d.file);
    if (empty_track || got != sizeof d.track_info) {
      // An unformatted track (no bytes in the extended table) or a track information
      // block cut short by the end of the file: the track has no sectors.
      std::memset(d.track_info, 0, sizeof d.track_info);
      if (!empty_track) {
        fdc.st0 |= 0x40;
        fdc.st1 |= 0x01;
        result = 1;
      }
    }
    if (d.track_info[0x15] > 19) d.track_info[0x15] = 1;
    int count = fdc_sector_count(d);
    if (!d.extended) {
      int n = d.track_info[0x14];
      int length = n < 6 ? (128 << n) : 8192;
      for (int i = 0; i < count; i++) {
        uint8_t* e = fdc_sector_entry(d, i);
        e[6] = static_cast<uint8_t>(length & 0xFF);
        e[7] = static_cast<uint8_t>(length >> 8);
      }
    }
    d.sector_index = 0;
    d.sector_length = count ? static_cast<uint16_t>(entry_length(fdc_sector_entry(d, 0))) : 0;
    for (int i = 0; i < steps; i++) fdc_pass_sector(d);
  }
  d.int_status = static_cast<uint8_t>(fdc.st0 | 0x20 | (d.unit & 3) | d.side * 4);
  return result;
}

int fdc_find_sector(DiscDrive& d, uint8_t c, uint8_t h, uint8_t r) {
  int count = fdc_sector_count(d);
  bool error_on_entry = (fdc.st0 & 0xF8) != 0;
  if (count == 0 && !drive_ready(d)) fdc.st0 |= 0x48;  // no disc, no sector can pass
  if (count > 0) {
    for (int i = 0; i < count; i++) {
      int index = d.sector_index < count ? d.sector_index : 0;
      bool passed = fdc_pass_sector(d);
      if (error_on_entry) return 1;
      if (passed && fdc.id_r == r && fdc.id_c == c && fdc.id_h == h) {
        int64_t offset = d.track_offset + 256;
        if (!d.extended) {
          offset += static_cast<int64_t>(index) * d.sector_length;
        } else {
          for (int j = 0; j < index; j++) offset += entry_length(fdc_sector_entry(d, j));
        }
        fdc.data_offset = offset;
        return 0;
      }
    }
  }
  d.sector_index = 0;
  fdc.st0 |= 0x40;
  fdc.st1 |= 0x04;
  return 1;
}

void fdc_select_side(uint8_t hd_us) {
  fdc.hd_us = hd_us;
  fdc.drive = hd_us & 1;
  DiscDrive& d = disc_drives[fdc.drive];
  int head = (((hd_us & 4) ? 1 : 0) | d.side_setting) & (image_sides(d) - 1);
  if (head != d.side) {
    d.side = static_cast<uint8_t>(d.side ^ 1);
    uint8_t saved = d.int_status;
    // The other side's track is loaded even while the motor is off, so that the
    // track information always belongs to the side the drive is set to; commands on
    // a drive that is not ready still fail when they pass a sector.
    uint8_t st3 = d.st3;
    if (d.state == 2) d.st3 |= st3_bit::READY;
    fdc_track_load(d, d.track, 1);
    d.st3 = static_cast<uint8_t>((d.st3 & ~st3_bit::READY) | (st3 & st3_bit::READY));
    d.int_status = saved;
  }
}

void fdc_update_ready(DiscDrive& d) {
  if (fdc.motor && d.state == 2)
    d.st3 |= st3_bit::READY;
  else
    d.st3 &= static_cast<uint8_t>(~st3_bit::READY);
}

// ---- Port side --------------------------------------------------------------------------

uint8_t fdc_read_status() {
  if (fdc.status_delay) {
    fdc.status_delay--;
    return fdc.msr & 0x7F;
  }
  return fdc.msr;
}

uint8_t fdc_read_data() { return static_cast<uint8_t>(fdc.data_handler(0)); }

void fdc_write_data(uint8_t value) { fdc.data_handler(value); }

void fdc_write_motor(uint8_t value) {
  fdc.motor = value & 1;
  for (DiscDrive& d : disc_drives) {
    fx_motor(fdc.motor);
    fdc_update_ready(d);
  }
}

int fdc_motor_state() { return fdc.motor; }

void fdc_dump(std::ostream& out) { out << "FDC :  motor = " << static_cast<int>(fdc.motor) << "\n"; }

// ---- Life cycle ---------------------------------------------------------------------------

int fdc_reset(int kind) {
  if (kind != 1) return 0;
  if (fdc.motor) fx_motor(0);
  fdc.msr = msr_bit::RQM;
  fdc.command = 0;
  fdc.drive = 0xFF;
  fdc.status_delay = 0;
  fdc.byte_count = fdc.result_index = 0;
  fdc.bytes_left = fdc.buffer_pos = 0;
  fdc.data_handler = handle_command;
  fdc.motor = 0;
  for (DiscDrive& d : disc_drives) {
    d.int_status = 0x80;
    d.st3 = static_cast<uint8_t>((d.unit & 3) | st3_bit::TRACK0 | (d.write_protect ? st3_bit::WRITE_PROTECTED : 0));
    fdc.st0 = fdc.st1 = fdc.st2 = 0;
    fdc.id_c = fdc.id_h = fdc.id_r = fdc.id_n = fdc.id_st1 = fdc.id_st2 = 0;
    if (!d.file) continue;
    if (dsk_read_disc_info(d) != 0) {
      dsk_close_image(d);
      continue;
    }
    d.state = 2;
    d.st3 |= st3_bit::READY;
    fdc_track_load(d, d.track, 0);
    d.st3 &= static_cast<uint8_t>(~st3_bit::READY);
    d.int_status = 0x80;
    fdc.st0 = fdc.st1 = 0;
  }
  return 0;
}

void fdc_init() {
  for (int i = 0; i < 2; i++) {
    DiscDrive& d = disc_drives[i];
    if (d.file) dsk_close_image(d);  // power-on: no disc survives in the drives
    std::memset(&d, 0, sizeof d);
    d.unit = static_cast<uint8_t>(i);
    d.display_name[8] = '.';
    d.block_size = 1024;
  }
  std::memset(&fdc, 0, sizeof fdc);
  fdc.motor = 0;
  fdc_reset(1);
}
