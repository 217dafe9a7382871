// The µPD765 floppy disc controller and its two drives, A and B.
//
// The controller is byte-driven: the port decoder calls fdc_read_status,
// fdc_read_data, fdc_write_data and fdc_write_motor for the processor's IN and OUT
// instructions, and every sector transfer reads or writes the disc image at once
// through the image unit (media/disc_image.h), which holds the file. The drives keep
// the head position and the rotation: the track information block under the head and
// the sector that passes next. Drive delays (head load, head steps) advance the raster
// engine and, unless the fast-disc setting is on, sleep.
//
// The controller and drive records live in fdc.cpp; the rest of the program reads
// them through const accessors and changes them through the named operations below.
#pragma once
#include <cstdint>
#include <iosfwd>
#include "config/settings.h"  // ResetKind

#include "media/disc_image.h"

constexpr int FDC_SECTOR_BUFFER_SIZE = DISC_SECTOR_MAX;
constexpr int FDC_COMMAND_BYTES = 9;

// Main status register.
constexpr uint8_t MSR_D0B = 0x01;  // drive A busy (seeking)
constexpr uint8_t MSR_D1B = 0x02;  // drive B busy
constexpr uint8_t MSR_CB = 0x10;   // controller busy
constexpr uint8_t MSR_EXM = 0x20;  // execution phase
constexpr uint8_t MSR_DIO = 0x40;  // data direction: controller to processor
constexpr uint8_t MSR_RQM = 0x80;  // request for master

// Status register 0. The interrupt code (bits 7-6) is 0 for a normal end, 0x40 for an
// abnormal end, 0x80 for an invalid command (also "no interrupt pending").
constexpr uint8_t ST0_UNIT = 0x03;
constexpr uint8_t ST0_HEAD = 0x04;
constexpr uint8_t ST0_NOT_READY = 0x08;
constexpr uint8_t ST0_SEEK_END = 0x20;
constexpr uint8_t ST0_ABNORMAL_END = 0x40;
constexpr uint8_t ST0_INVALID_COMMAND = 0x80;
constexpr uint8_t ST0_INTERRUPT_CODE = 0xC0;
constexpr uint8_t ST0_ERRORS = 0xF8;  // everything but the unit and head bits

// Status register 1.
constexpr uint8_t ST1_MISSING_ADDRESS_MARK = 0x01;
constexpr uint8_t ST1_NOT_WRITABLE = 0x02;
constexpr uint8_t ST1_NO_DATA = 0x04;
constexpr uint8_t ST1_DATA_ERROR = 0x20;
constexpr uint8_t ST1_END_OF_CYLINDER = 0x80;

// Status register 2.
constexpr uint8_t ST2_CONTROL_MARK = 0x40;  // deleted data address mark

// Status register 3 of a drive.
constexpr uint8_t ST3_UNIT = 0x03;
constexpr uint8_t ST3_TRACK0 = 0x10;
constexpr uint8_t ST3_READY = 0x20;
constexpr uint8_t ST3_WRITE_PROTECTED = 0x40;

// A drive's pending interrupt status when none is pending.
constexpr uint8_t FDC_NO_INTERRUPT = ST0_INVALID_COMMAND;

enum class DriveState : uint8_t { EMPTY = 0, DISC = 2 };

// One disc drive and the image inserted in it.
struct DiscDrive {
  DiscImage image;          // the inserted image (closed when empty)
  DiscTrack track_info;     // track information block of the track under the head
  uint8_t int_status = FDC_NO_INTERRUPT;  // pending interrupt status (an ST0 value)
  uint8_t st3 = 0;          // unit | track 0 | ready | write protected
  DriveState state = DriveState::EMPTY;
  uint8_t unit = 0;         // 0 for A, 1 for B
  uint8_t track = 0;        // cylinder under the head
  uint8_t side = 0;         // side being read
  uint8_t sector_index = 0; // rotational position: next sector to pass under the head
  uint16_t sector_length = 0;  // data length of the last sector that passed
  uint8_t side_setting = 0; // DRIVE_x_SIDE
  uint8_t write_protect = 0;
};

// The status registers being built and the ID of the last sector that passed the
// head, in result order ST0 ST1 ST2 C H R N, then that sector's stored ST1 and ST2.
struct FdcStatus {
  uint8_t st0, st1, st2, id_c, id_h, id_r, id_n;
  uint8_t id_st1, id_st2;
};

// The current handler of the data register: gets the byte written (0 for a read) and
// returns the byte read in its low eight bits.
using FdcDataHandler = int (*)(uint8_t value);

struct FdcState {
  uint8_t msr;
  uint8_t command;       // command in progress (first byte & 0x1F), 0 when idle
  uint8_t drive;         // selected drive of the command in progress, 0xFF when idle
  uint8_t result_index;  // next result byte
  uint8_t byte_count;    // command bytes received, or result bytes to give
  uint8_t buffer[FDC_COMMAND_BYTES];  // command bytes as received, then the result bytes
  uint8_t specify1;      // SRT/HUT
  uint8_t specify2;      // HLT/ND
  FdcStatus status;
  uint8_t hd_us;           // the last HD/US byte that selected a drive
  uint8_t motor;           // motor flag shared by both drives
  uint16_t status_delay;   // main-status reads that must still report RQM clear
  int buffer_pos;          // next byte of sector_buffer
  int bytes_left;          // bytes still to transfer in this sector
  SectorPlace place;       // where the sector in transfer lies in the image
  FdcDataHandler data_handler;
  uint8_t sector_buffer[FDC_SECTOR_BUFFER_SIZE];
};

// ---- Port side (called by the port decoder) -------------------------------------------
uint8_t fdc_read_status();
uint8_t fdc_read_data();
void fdc_write_data(uint8_t value);
// Motor port: bit 0 of value switches the motor of both drives.
void fdc_write_motor(uint8_t value);

// ---- Rest of the system -----------------------------------------------------------------
// Power-on state: both drives empty.
void fdc_init();
// Machine reset; acts only for POWER_ON (keeps inserted discs, re-checks their images).
void fdc_reset(ResetKind kind);
int fdc_motor_state();
// "FDC :  motor = <n>\n"
void fdc_dump(std::ostream& out);
const FdcState& fdc_state();
const DiscDrive& fdc_drive(int unit);
bool fdc_drive_has_disc(int unit);

// A snapshot's controller state: the motor, then each drive's head moved to its track
// as a seek would (a drive that is not ready keeps its head and gets the not-ready
// interrupt status).
void fdc_load_state(uint8_t motor, uint8_t track_a, uint8_t track_b);

// ---- Discs in the drives (the program's side, between processor instructions) -------
// These leave the controller's registers and the drives' pending interrupts alone, so
// that a command in progress is not disturbed.
//
// Puts an opened image into the empty drive. The head stays where it is and the new
// disc's track under it is read; the old disc's rotational position carries over by
// sector index.
void fdc_insert(int unit, DiscImage&& image, bool write_protect, bool side_setting);
// Closes the drive's image: drive empty, ST3 0, and a not-ready status change pending.
void fdc_eject(int unit);
// Program reads of the disc in a drive, with its motor on for the moment: the head
// moves to track t (false when it cannot), and sector R of cylinder C, head H is
// searched from the current rotational position and read (at most max bytes; the
// number read, or -1 when the sector does not pass within one revolution).
bool fdc_drive_load_track(int unit, int t);
int fdc_drive_read_sector(int unit, uint8_t c, uint8_t h, uint8_t r, uint8_t* out, int max);
// The sector that passes next under the drive's head (zero ID when the track has none).
SectorId fdc_drive_next_sector(int unit);
// Applies the controller's last HD/US side selection again (after a disc change).
void fdc_reapply_side_selection();
