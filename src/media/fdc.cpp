// The µPD765 floppy disc controller: command, execution and result phases, and the
// drives' mechanics: head moves, the rotational model and the track under the head.
#include "media/fdc.h"

#include <cstdlib>
#include <ostream>

#include "config/settings.h"
#include "core/host.h"
#include "sound/fx.h"
#include "video/raster.h"

namespace {

FdcState fdc;
DiscDrive disc_drives[2];

// Command codes (low five bits of the first command byte).
enum : uint8_t {
  CODE_READ_TRACK = 2, CODE_SPECIFY = 3, CODE_SENSE_DRIVE = 4, CODE_WRITE_DATA = 5,
  CODE_READ_DATA = 6, CODE_RECALIBRATE = 7, CODE_SENSE_INT = 8, CODE_WRITE_DELETED = 9,
  CODE_READ_ID = 10, CODE_READ_DELETED = 12, CODE_FORMAT = 13, CODE_SEEK = 15,
  CODE_SCAN_EQUAL = 17, CODE_SCAN_LOW = 25, CODE_SCAN_HIGH = 29
};
constexpr uint8_t CODE_MASK = 0x1F;

// Positions in the command buffer. READ, WRITE and SCAN: command, HD/US, C, H, R, N,
// EOT, GPL, DTL. FORMAT: command, HD/US, N, SC, GPL, D. SEEK: command, HD/US, NCN.
// SPECIFY: command, SRT/HUT, HLT/ND.
enum : int {
  CMD_CODE = 0, CMD_HD_US = 1, CMD_C = 2, CMD_H = 3, CMD_R = 4, CMD_N = 5, CMD_EOT = 6,
  CMD_FORMAT_N = 2, CMD_FORMAT_SC = 3, CMD_FORMAT_GPL = 4, CMD_FORMAT_FILLER = 5,
  CMD_SEEK_NCN = 2, CMD_SPECIFY_SRT_HUT = 1, CMD_SPECIFY_HLT_ND = 2
};
// Positions of the result bytes: ST0 ST1 ST2 C H R N; SENSE INTERRUPT STATUS gives
// ST0 and the present cylinder, SENSE DRIVE STATUS ST3.
enum : int { RES_ST0 = 0, RES_ST1, RES_ST2, RES_C, RES_H, RES_R, RES_N, RES_COUNT };
constexpr int RES_PCN = 1, RES_ST3 = 0;

constexpr uint8_t HD_US_UNIT = 0x03;
constexpr uint8_t HD_US_HEAD = 0x04;
constexpr uint8_t HD_US_BITS = 0x07;
// FORMAT takes at most 19 sectors (76 ID bytes); a larger count formats 19.
constexpr int FORMAT_SECTORS_MAX = 19;
// Status reads of one revolution: READ ID holds RQM for the revolution's part a sector takes.
constexpr int REVOLUTION_STATUS_READS = 16976;

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

bool drive_ready(const DiscDrive& d) { return (d.st3 & ST3_READY) != 0; }
bool has_disc(const DiscDrive& d) { return d.state == DriveState::DISC; }
bool write_protected(const DiscDrive& d) { return (d.st3 & ST3_WRITE_PROTECTED) != 0; }
int sector_count(const DiscDrive& d) { return disc_track_sectors(d.track_info); }
int transfer_length(int stored) { return stored < FDC_SECTOR_BUFFER_SIZE ? stored : FDC_SECTOR_BUFFER_SIZE; }

// The unit and head bits of a drive's interrupt status.
uint8_t drive_bits(const DiscDrive& d) { return static_cast<uint8_t>((d.unit & ST0_UNIT) | d.side * ST0_HEAD); }

void update_ready(DiscDrive& d) {
  if (fdc.motor && has_disc(d))
    d.st3 |= ST3_READY;
  else
    d.st3 &= static_cast<uint8_t>(~ST3_READY);
}

void clear_id(FdcStatus& s) { s.id_c = s.id_h = s.id_r = s.id_n = 0; }

// ---- Drive mechanics ----------------------------------------------------------------
// They report into the status registers given: the controller's own for a command, a
// scratch record for the program's reads.

// One rotational step: the next sector passes under the head (its ID goes to the
// status record). False when nothing passed (not ready, or no sectors).
bool pass_sector(DiscDrive& d, FdcStatus& s) {
  if (!drive_ready(d)) {
    s.st0 |= ST0_ABNORMAL_END | ST0_NOT_READY;
    return false;
  }
  const int count = sector_count(d);
  if (count == 0) return false;
  if (d.sector_index >= count) d.sector_index = 0;
  const SectorId id = disc_track_sector(d.track_info, d.sector_index);
  s.id_c = id.c, s.id_h = id.h, s.id_r = id.r, s.id_n = id.n;
  s.id_st1 = id.st1, s.id_st2 = id.st2;
  d.sector_length = id.length;
  d.sector_index = static_cast<uint8_t>(d.sector_index + 1 >= count ? 0 : d.sector_index + 1);
  return true;
}

// Moves the head to track t and reads that track's information block, passing the
// sectors that turn by during the move. False when the drive is not ready, the track
// is beyond the image (the head stays) or its block is cut short.
bool track_load(DiscDrive& d, int t, bool with_sound, FdcStatus& s) {
  if (!drive_ready(d)) {
    s.st0 |= ST0_ABNORMAL_END | ST0_NOT_READY;
    d.int_status = static_cast<uint8_t>(s.st0 | ST0_ABNORMAL_END | ST0_SEEK_END | ST0_NOT_READY | drive_bits(d));
    return false;
  }
  bool ok = true;
  const int delta = std::abs(static_cast<int>(d.track) - t);
  const int old_count = sector_count(d);
  // A head step takes 11/200 of a revolution.
  const int steps = old_count ? (d.sector_index + delta * 11 * old_count / 200) % old_count : 0;
  if (t >= disc_image_tracks(d.image) || t < 0) {
    s.st1 |= ST1_MISSING_ADDRESS_MARK;
    s.st0 |= ST0_ABNORMAL_END;
    ok = false;
  } else {
    const bool moved = d.track != t;
    d.track = static_cast<uint8_t>(t);
    if (t == 0)
      d.st3 |= ST3_TRACK0;
    else
      d.st3 &= static_cast<uint8_t>(~ST3_TRACK0);
    if (moved && with_sound) fx_step(delta);
    if (!disc_image_read_track(d.image, t, d.side, d.track_info)) {
      s.st0 |= ST0_ABNORMAL_END;
      s.st1 |= ST1_MISSING_ADDRESS_MARK;
      ok = false;
    }
    const int count = sector_count(d);
    d.sector_index = 0;
    d.sector_length = count ? disc_track_sector(d.track_info, 0).length : 0;
    for (int i = 0; i < steps; i++) pass_sector(d, s);
  }
  d.int_status = static_cast<uint8_t>(s.st0 | ST0_SEEK_END | drive_bits(d));
  return ok;
}

// Searches sector R of cylinder C, head H from the current rotational position within
// one revolution. With an error already standing, the search ends after the first
// sector passed. Not found: back at the index hole, no data.
bool find_sector(DiscDrive& d, uint8_t c, uint8_t h, uint8_t r, FdcStatus& s, SectorPlace& place) {
  const int count = sector_count(d);
  const bool error_on_entry = (s.st0 & ST0_ERRORS) != 0;
  if (count == 0 && !drive_ready(d)) s.st0 |= ST0_ABNORMAL_END | ST0_NOT_READY;  // no disc, no sector can pass
  for (int i = 0; i < count; i++) {
    const int index = d.sector_index < count ? d.sector_index : 0;
    const bool passed = pass_sector(d, s);
    if (error_on_entry) return false;
    if (passed && s.id_r == r && s.id_c == c && s.id_h == h) {
      place = disc_track_place(d.track_info, index);
      return true;
    }
  }
  d.sector_index = 0;
  s.st0 |= ST0_ABNORMAL_END;
  s.st1 |= ST1_NO_DATA;
  return false;
}

// Applies the head of an HD/US byte (or the drive's side setting) to the drive. The
// other side's track is read even while the motor is off, so that the track
// information always belongs to the side the drive is set to; commands on a drive
// that is not ready still fail when they pass a sector.
void apply_side(DiscDrive& d, uint8_t hd_us, FdcStatus& s) {
  const int head = (((hd_us & HD_US_HEAD) ? 1 : 0) | d.side_setting) & (disc_image_sides(d.image) - 1);
  if (head == d.side) return;
  d.side = static_cast<uint8_t>(d.side ^ 1);
  const uint8_t saved_int = d.int_status;
  const uint8_t st3 = d.st3;
  if (has_disc(d)) d.st3 |= ST3_READY;
  track_load(d, d.track, true, s);
  d.st3 = static_cast<uint8_t>((d.st3 & ~ST3_READY) | (st3 & ST3_READY));
  d.int_status = saved_int;
}

void select_drive(uint8_t hd_us) {
  fdc.hd_us = hd_us;
  fdc.drive = hd_us & 1;  // US1 selects nothing: two drives
  apply_side(disc_drives[fdc.drive], hd_us, fdc.status);
}

// A read of the program's on a drive: the motor on for the moment, the drive's pending
// interrupt kept, the controller's status registers untouched.
template <typename Read>
auto with_motor_on(DiscDrive& d, Read read) {
  const uint8_t motor = fdc.motor, saved_int = d.int_status;
  fdc.motor = 1;
  update_ready(d);
  FdcStatus scratch{};
  auto result = read(scratch);
  fdc.motor = motor;
  update_ready(d);
  d.int_status = saved_int;
  return result;
}

// ---- Phases -------------------------------------------------------------------------

void back_to_idle() {
  fdc.msr &= static_cast<uint8_t>(~(MSR_DIO | MSR_CB | MSR_EXM));
  fdc.command = 0;
  fdc.drive = 0xFF;
  fdc.data_handler = handle_command;
}

// Enters the result phase with count bytes already in fdc.buffer.
void enter_result_bytes(int count) {
  fdc.byte_count = static_cast<uint8_t>(count);
  fdc.result_index = 0;
  fdc.msr = static_cast<uint8_t>((fdc.msr & ~MSR_EXM) | MSR_DIO);
  fdc.data_handler = handle_result;
}

// Result phase of the seven-byte commands: ST0 ST1 ST2 C H R N.
void enter_result() {
  const FdcStatus& s = fdc.status;
  fdc.buffer[RES_ST0] = s.st0;
  fdc.buffer[RES_ST1] = s.st1;
  fdc.buffer[RES_ST2] = s.st2;
  fdc.buffer[RES_C] = s.id_c;
  fdc.buffer[RES_H] = s.id_h;
  fdc.buffer[RES_R] = s.id_r;
  fdc.buffer[RES_N] = s.id_n;
  enter_result_bytes(RES_COUNT);
}

// Ends the command abnormally with the given ST1 bits.
void fail(uint8_t st1_bits) {
  fdc.status.st0 |= ST0_ABNORMAL_END;
  fdc.status.st1 |= st1_bits;
}

void start_execution() {
  fdc.status.st0 = fdc.buffer[CMD_HD_US] & HD_US_BITS;
  fdc.status.st1 = fdc.status.st2 = 0;
  clear_id(fdc.status);
  fdc.bytes_left = 0;
  fdc.buffer_pos = 0;
  fdc.msr |= MSR_EXM;
  // Even codes (the reads) send data to the processor, odd codes take data from it.
  if ((fdc.command & 1) == 0)
    fdc.msr |= MSR_DIO;
  else
    fdc.msr &= static_cast<uint8_t>(~MSR_DIO);
}

// ---- Reading ------------------------------------------------------------------------

// Merges the found sector's stored status and applies the control mark: READ DATA ends
// after a deleted sector, READ DELETED DATA after a normal one.
void merge_stored_status() {
  FdcStatus& s = fdc.status;
  s.st1 |= s.id_st1;
  s.st2 |= s.id_st2;
  if (fdc.command == CODE_READ_DELETED) {
    if (s.st2 & ST2_CONTROL_MARK) {
      s.st2 &= static_cast<uint8_t>(~ST2_CONTROL_MARK);
    } else {
      s.st0 |= ST0_ABNORMAL_END;
      s.st2 |= ST2_CONTROL_MARK;
    }
  } else if (s.st2 & ST2_CONTROL_MARK) {
    s.st0 |= ST0_ABNORMAL_END;
  }
}

// Start of a sector transfer of READ DATA / READ TRACK / READ DELETED DATA: at the
// end of the command phase and after the last byte of each sector.
void read_sector_start() {
  if (!fast_disc()) {  // head load time
    video_run((fdc.specify2 & 0xFE) * 500);
    sleep_ms(fdc.specify2 >> 1);
  }
  DiscDrive& d = current_drive();
  uint8_t& r = fdc.buffer[CMD_R];
  if (r > fdc.buffer[CMD_EOT]) {
    // End of cylinder: the normal end of every read, since the CPC does not connect TC.
    fdc.status.st0 |= ST0_ABNORMAL_END;
    if (fdc.status.st1 == 0) fdc.status.st1 = ST1_END_OF_CYLINDER;
    enter_result();
    return;
  }
  const bool found = find_sector(d, fdc.buffer[CMD_C], fdc.buffer[CMD_H], r, fdc.status, fdc.place);
  r = static_cast<uint8_t>(r + 1);
  fdc.bytes_left = 0;
  if (found && (fdc.status.st0 & ST0_ERRORS) == 0) {
    merge_stored_status();
    fdc.bytes_left = disc_image_read(d.image, fdc.place, fdc.sector_buffer, FDC_SECTOR_BUFFER_SIZE);
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
  uint8_t& r = fdc.buffer[CMD_R];
  if (r > fdc.buffer[CMD_EOT]) {
    fail(ST1_END_OF_CYLINDER);
    return false;
  }
  if (write_protected(d)) {
    fail(ST1_NOT_WRITABLE);
    return false;
  }
  find_sector(d, fdc.buffer[CMD_C], fdc.buffer[CMD_H], r, fdc.status, fdc.place);
  r = static_cast<uint8_t>(r + 1);
  if (fdc.status.st0 & ST0_ERRORS) return false;
  fdc.bytes_left = transfer_length(d.sector_length);
  fdc.buffer_pos = 0;
  return fdc.bytes_left > 0;
}

// ---- FORMAT TRACK ---------------------------------------------------------------------

void format_write_track() {
  DiscDrive& d = current_drive();
  if (fdc.status.st1 & ST1_NOT_WRITABLE) return;  // write protection came on while the IDs arrived
  const TrackFormat format{fdc.buffer[CMD_FORMAT_N], fdc.buffer[CMD_FORMAT_SC], fdc.buffer[CMD_FORMAT_GPL],
                           fdc.buffer[CMD_FORMAT_FILLER], fdc.sector_buffer};
  if (!disc_image_format_track(d.image, d.track, d.side, format)) {
    fdc.status.st0 |= ST0_ABNORMAL_END;
    return;
  }
  const uint8_t saved_int = d.int_status;
  track_load(d, d.track, true, fdc.status);
  d.int_status = saved_int;
}

// ---- Commands -------------------------------------------------------------------------

void do_seek(uint8_t target) {
  DiscDrive& d = current_drive();
  fdc.status.st0 = 0;
  fdc.msr |= (fdc.drive & 1) ? MSR_D1B : MSR_D0B;
  const int delta = std::abs(static_cast<int>(d.track) - target);
  if (!drive_ready(d)) {
    fdc.status.st0 = ST0_ABNORMAL_END | ST0_NOT_READY;
    d.int_status = static_cast<uint8_t>(ST0_ABNORMAL_END | ST0_SEEK_END | ST0_NOT_READY | drive_bits(d));
  } else if (target < disc_image_tracks(d.image)) {
    track_load(d, target, true, fdc.status);
  } else {  // beyond the image: the head stays
    fdc.status.st1 |= ST1_MISSING_ADDRESS_MARK;
    fdc.status.st0 = ST0_ABNORMAL_END;
    d.int_status = static_cast<uint8_t>(ST0_ABNORMAL_END | ST0_SEEK_END | drive_bits(d));
  }
  back_to_idle();
  // Step rate time: 16 - SRT milliseconds a track.
  const int step_time = 16 - (fdc.specify1 >> 4);
  video_run(step_time * delta * 1100);
  if (!fast_disc()) sleep_ms(static_cast<unsigned>(step_time * delta));
}

void do_read_id() {
  DiscDrive& d = current_drive();
  FdcStatus& s = fdc.status;
  s.st1 = s.st2 = 0;
  clear_id(s);
  s.st0 = fdc.drive & HD_US_BITS;
  if (!drive_ready(d)) {
    s.st0 |= ST0_ABNORMAL_END | ST0_NOT_READY;
  } else if (!pass_sector(d, s)) {
    fail(ST1_MISSING_ADDRESS_MARK);  // an unformatted track has no ID to report
  }
  enter_result();
  const int count = sector_count(d);
  if (d.sector_index != 0)
    fdc.status_delay = static_cast<uint16_t>(REVOLUTION_STATUS_READS / (count > 0 ? count : 1));
}

void do_format_start() {
  DiscDrive& d = current_drive();
  start_execution();
  if (write_protected(d)) {
    fdc.status.st0 = static_cast<uint8_t>((fdc.buffer[CMD_HD_US] & HD_US_BITS) | ST0_ABNORMAL_END);
    fdc.status.st1 = ST1_NOT_WRITABLE;
    enter_result();
    return;
  }
  if (!drive_ready(d) || !disc_image_is_open(d.image)) {
    fdc.status.st0 |= ST0_ABNORMAL_END | ST0_NOT_READY;
    enter_result();
    return;
  }
  uint8_t& sectors = fdc.buffer[CMD_FORMAT_SC];
  if (sectors > FORMAT_SECTORS_MAX) sectors = FORMAT_SECTORS_MAX;
  fdc.bytes_left = 4 * sectors;
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
    if ((d.int_status & ST0_INTERRUPT_CODE) == FDC_NO_INTERRUPT) continue;
    fdc.buffer[RES_ST0] = d.int_status;
    fdc.buffer[RES_PCN] = d.track;
    d.int_status = FDC_NO_INTERRUPT;
    if (fdc.buffer[RES_ST0] & ST0_SEEK_END) fdc.msr &= static_cast<uint8_t>(~(i ? MSR_D1B : MSR_D0B));
    enter_result_bytes(2);
    return;
  }
  fdc.buffer[RES_ST0] = FDC_NO_INTERRUPT;
  enter_result_bytes(1);
}

void dispatch() {
  const uint8_t code = fdc.command;
  if (command_length[code] == 0) {  // not implemented: dropped without a result
    back_to_idle();
    return;
  }
  if (code != CODE_SPECIFY && code != CODE_SENSE_INT) select_drive(fdc.buffer[CMD_HD_US]);
  switch (code) {
    case CODE_READ_TRACK:
    case CODE_READ_DATA:
    case CODE_READ_DELETED:
      start_execution();
      fdc.data_handler = handle_read;
      read_sector_start();
      break;
    case CODE_WRITE_DATA:
    case CODE_WRITE_DELETED:
      start_execution();
      if (write_sector_start())
        fdc.data_handler = handle_write;
      else
        enter_result();
      break;
    case CODE_FORMAT:
      do_format_start();
      break;
    case CODE_SCAN_EQUAL:
    case CODE_SCAN_LOW:
    case CODE_SCAN_HIGH:
      start_execution();
      fdc.data_handler = handle_scan;
      break;
    case CODE_READ_ID:
      do_read_id();
      break;
    case CODE_SEEK:
      do_seek(fdc.buffer[CMD_SEEK_NCN]);
      break;
    case CODE_RECALIBRATE:
      do_seek(0);
      break;
    case CODE_SENSE_INT:
      do_sense_interrupt();
      break;
    case CODE_SENSE_DRIVE:
      fdc.buffer[RES_ST3] = current_drive().st3;
      enter_result_bytes(1);
      break;
    case CODE_SPECIFY:
      fdc.specify1 = fdc.buffer[CMD_SPECIFY_SRT_HUT];
      fdc.specify2 = fdc.buffer[CMD_SPECIFY_HLT_ND];
      back_to_idle();
      break;
    default:
      back_to_idle();
      break;
  }
}

// ---- Data register handlers -------------------------------------------------------------

int handle_command(uint8_t value) {
  if (!(fdc.msr & MSR_CB)) {
    fdc.msr |= MSR_CB;
    fdc.command = value & CODE_MASK;
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
  const uint8_t value = fdc.result_index < sizeof fdc.buffer ? fdc.buffer[fdc.result_index] : 0xFF;
  fdc.result_index++;
  if (fdc.result_index >= fdc.byte_count) back_to_idle();
  return value;
}

int handle_read(uint8_t) {
  if (fdc.bytes_left <= 0) {
    enter_result();
    return 0xFF;
  }
  const uint8_t value = fdc.sector_buffer[fdc.buffer_pos++];
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
  if (!disc_image_write(d.image, fdc.place, fdc.sector_buffer, transfer_length(fdc.place.length))) {
    // The sector could not be stored: report a data error rather than success.
    fail(ST1_DATA_ERROR);
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
  if (write_protected(current_drive())) fail(ST1_NOT_WRITABLE);
  if (--fdc.bytes_left > 0) return 0xFF;
  format_write_track();
  enter_result();
  return 0xFF;
}

// A scan ends at its first data byte; no sector is compared.
int handle_scan(uint8_t) {
  fdc.status.st0 = fdc.buffer[CMD_HD_US] & HD_US_BITS;
  fdc.status.st1 = fdc.status.st2 = 0;
  clear_id(fdc.status);
  enter_result();
  return 0xFF;
}

}  // namespace

// ---- Port side --------------------------------------------------------------------------

uint8_t fdc_read_status() {
  if (fdc.status_delay) {
    fdc.status_delay--;
    return fdc.msr & static_cast<uint8_t>(~MSR_RQM);
  }
  return fdc.msr;
}

uint8_t fdc_read_data() { return static_cast<uint8_t>(fdc.data_handler(0)); }

void fdc_write_data(uint8_t value) { fdc.data_handler(value); }

void fdc_write_motor(uint8_t value) {
  fdc.motor = value & 1;
  for (DiscDrive& d : disc_drives) {
    fx_motor(fdc.motor);
    update_ready(d);
  }
}

int fdc_motor_state() { return fdc.motor; }

void fdc_dump(std::ostream& out) { out << "FDC :  motor = " << static_cast<int>(fdc.motor) << "\n"; }

const FdcState& fdc_state() { return fdc; }
const DiscDrive& fdc_drive(int unit) { return disc_drives[unit & 1]; }
bool fdc_drive_has_disc(int unit) { return has_disc(fdc_drive(unit)); }

void fdc_load_state(uint8_t motor, uint8_t track_a, uint8_t track_b) {
  fdc_write_motor(motor);
  track_load(disc_drives[0], track_a, false, fdc.status);
  track_load(disc_drives[1], track_b, false, fdc.status);
}

// ---- Discs in the drives --------------------------------------------------------------------

void fdc_insert(int unit, DiscImage&& image, bool write_protect, bool side_setting) {
  DiscDrive& d = disc_drives[unit & 1];
  const uint8_t saved_int = d.int_status;
  const uint8_t old_index = d.sector_index;
  d.image = image;
  image = DiscImage{};  // the drive owns the file now
  d.state = DriveState::DISC;
  d.side_setting = side_setting;
  d.write_protect = write_protect;
  d.st3 = static_cast<uint8_t>((d.unit & ST3_UNIT) | (d.track == 0 ? ST3_TRACK0 : 0) |
                               (write_protect ? ST3_WRITE_PROTECTED : 0));
  d.track_info = DiscTrack{};
  with_motor_on(d, [&d, old_index](FdcStatus& s) {
    track_load(d, d.track, false, s);
    const int count = sector_count(d);
    for (int i = 0; count && i < old_index % count; i++) pass_sector(d, s);
    return true;
  });
  d.int_status = saved_int;
}

void fdc_eject(int unit) {
  DiscDrive& d = disc_drives[unit & 1];
  disc_image_close(d.image);
  d.state = DriveState::EMPTY;
  d.int_status = ST0_NOT_READY;
  d.st3 = 0;
}

bool fdc_drive_load_track(int unit, int t) {
  DiscDrive& d = disc_drives[unit & 1];
  return with_motor_on(d, [&d, t](FdcStatus& s) { return track_load(d, t, false, s); });
}

int fdc_drive_read_sector(int unit, uint8_t c, uint8_t h, uint8_t r, uint8_t* out, int max) {
  DiscDrive& d = disc_drives[unit & 1];
  return with_motor_on(d, [&](FdcStatus& s) {
    SectorPlace place;
    if (!find_sector(d, c, h, r, s, place)) return -1;
    return disc_image_read(d.image, place, out, max);
  });
}

SectorId fdc_drive_next_sector(int unit) {
  const DiscDrive& d = fdc_drive(unit);
  const int count = sector_count(d);
  return count ? disc_track_sector(d.track_info, d.sector_index % count) : SectorId{};
}

void fdc_reapply_side_selection() {
  FdcStatus scratch{};
  apply_side(disc_drives[fdc.hd_us & 1], fdc.hd_us, scratch);
}

// ---- Life cycle ---------------------------------------------------------------------------

void fdc_reset(ResetKind kind) {
  if (kind != ResetKind::POWER_ON) return;
  if (fdc.motor) fx_motor(0);
  fdc.msr = MSR_RQM;
  fdc.command = 0;
  fdc.drive = 0xFF;
  fdc.status_delay = 0;
  fdc.byte_count = fdc.result_index = 0;
  fdc.bytes_left = fdc.buffer_pos = 0;
  fdc.data_handler = handle_command;
  fdc.motor = 0;
  for (DiscDrive& d : disc_drives) {
    d.int_status = FDC_NO_INTERRUPT;
    d.st3 = static_cast<uint8_t>((d.unit & ST3_UNIT) | ST3_TRACK0 | (d.write_protect ? ST3_WRITE_PROTECTED : 0));
    fdc.status = FdcStatus{};
    if (!disc_image_is_open(d.image)) continue;
    if (!disc_image_reload(d.image)) {  // the file changed under the drive
      fdc_eject(d.unit);
      continue;
    }
    d.state = DriveState::DISC;
    d.st3 |= ST3_READY;
    track_load(d, d.track, false, fdc.status);
    d.st3 &= static_cast<uint8_t>(~ST3_READY);
    d.int_status = FDC_NO_INTERRUPT;
    fdc.status.st0 = fdc.status.st1 = 0;
  }
}

void fdc_init() {
  for (int i = 0; i < 2; i++) {
    DiscDrive& d = disc_drives[i];
    disc_image_close(d.image);  // power-on: no disc survives in the drives
    d = DiscDrive{};
    d.unit = static_cast<uint8_t>(i);
  }
  fdc = FdcState{};
  fdc_reset(ResetKind::POWER_ON);
}
