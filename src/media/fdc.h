// The µPD765 floppy disc controller and its two drives, A and B.
//
// The controller is byte-driven: the port decoder calls fdc_read_status,
// fdc_read_data, fdc_write_data and fdc_write_motor for the processor's IN and OUT
// instructions, and every sector transfer reads or writes the image file at once.
// Drive delays (head load, head steps) advance the raster engine and, unless the
// fast-disc setting is on, sleep.
#pragma once
#include <cstdint>
#include <cstdio>
#include <iosfwd>

constexpr int FDC_SECTOR_BUFFER_SIZE = 8192;

// Main status register bits.
namespace msr_bit {
constexpr uint8_t D0B = 0x01;  // drive A busy (seeking)
constexpr uint8_t D1B = 0x02;  // drive B busy
constexpr uint8_t CB = 0x10;   // controller busy
constexpr uint8_t EXM = 0x20;  // execution phase
constexpr uint8_t DIO = 0x40;  // data direction: controller to processor
constexpr uint8_t RQM = 0x80;  // request for master
}  // namespace msr_bit

// ST3 bits of a drive.
namespace st3_bit {
constexpr uint8_t TRACK0 = 0x10;
constexpr uint8_t READY = 0x20;
constexpr uint8_t WRITE_PROTECTED = 0x40;
}  // namespace st3_bit

// One disc drive with the image inserted in it.
struct DiscDrive {
  uint8_t disc_info[256];   // disc information block of the image
  uint8_t track_info[256];  // track information block of the track under the head
  FILE* file;               // the open image, nullptr when empty
  int64_t track_offset;     // file offset of the current track's information block
  uint8_t int_status;       // pending interrupt status (ST0 value), 0x80 = none
  uint8_t st3;              // unit | track 0 | ready | write protected
  uint8_t state;            // 0 no disc, 2 image present
  uint8_t extended;         // 0 standard image, 1 extended image
  uint8_t unit;             // 0 for A, 1 for B (other values for private drive records)
  uint8_t track;            // cylinder under the head
  uint8_t side;             // side being read
  uint8_t sector_index;     // rotational position: next sector to pass under the head
  uint16_t sector_length;   // data length of the last sector that passed
  uint8_t side_setting;     // DRIVE_x_SIDE
  uint8_t write_protect;    // write-protect flag
  uint16_t block_size;      // 2048 or 1024
  int temp_name;            // number of the temporary file of a ZIP member, 0 = none
  char display_name[13];    // 8.3 name of the autostart program
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
  uint8_t buffer[9];     // command bytes as received, then the result bytes
  uint8_t specify1;      // SRT/HUT
  uint8_t specify2;      // HLT/ND
  // ST0, ST1, ST2 being built and the ID of the last sector that passed the head,
  // contiguous so that a result is copied as ST0 ST1 ST2 C H R N.
  uint8_t st0, st1, st2, id_c, id_h, id_r, id_n;
  uint8_t id_st1, id_st2;  // that sector's stored ST1 and ST2
  uint8_t hd_us;           // the last HD/US byte that selected a drive
  uint8_t motor;           // motor flag shared by both drives
  uint16_t status_delay;   // main-status reads that must still report RQM clear
  int buffer_pos;          // next byte of sector_buffer
  int bytes_left;          // bytes still to transfer in this sector
  int64_t data_offset;     // file offset of the sector in transfer
  FdcDataHandler data_handler;
  uint8_t sector_buffer[FDC_SECTOR_BUFFER_SIZE];
};

extern FdcState fdc;
extern DiscDrive disc_drives[2];

// ---- Port side (called by the port decoder) -------------------------------------------
uint8_t fdc_read_status();
uint8_t fdc_read_data();
void fdc_write_data(uint8_t value);
// Motor port: bit 0 of value switches the motor of both drives.
void fdc_write_motor(uint8_t value);
inline void fdc_motor(int on) { fdc_write_motor(static_cast<uint8_t>(on)); }

// ---- Rest of the system -----------------------------------------------------------------
// Power-on state: both drives empty.
void fdc_init();
// Machine reset; acts only for kind 1 (keeps inserted discs, re-checks their images).
int fdc_reset(int kind);
int fdc_motor_state();
// "FDC :  motor = <n>\n"
void fdc_dump(std::ostream& out);

// Moves the drive's head to track t and loads that track's information block, passing
// sectors for the time the move takes. Result 0, or 1 when the drive is not ready or
// the track is beyond the image (the status stands in fdc.st0/st1 and int_status).
int fdc_track_load(DiscDrive& drive, int t, int with_sound);
// Searches sector r of cylinder c, head h from the current rotational position within
// one revolution. 0 and fdc.data_offset = the sector's data when found, else 1.
int fdc_find_sector(DiscDrive& drive, uint8_t c, uint8_t h, uint8_t r);
// One rotational step of the drive: the next sector passes under the head (its ID goes
// to fdc.id_*). False when nothing passed (not ready, or no sectors).
bool fdc_pass_sector(DiscDrive& drive);
// Number of sectors of the loaded track (after the >19 rule).
int fdc_sector_count(const DiscDrive& drive);
// Entry i of the loaded track's sector information list (8 bytes).
inline uint8_t* fdc_sector_entry(DiscDrive& drive, int i) { return drive.track_info + 0x18 + 8 * i; }
// Applies the side selection of an HD/US byte to its drive (reloads the track when the
// side changes).
void fdc_select_side(uint8_t hd_us);
// Sets the ready bit of a drive from the motor flag and its state.
void fdc_update_ready(DiscDrive& drive);
