// DSK and extended DSK disc images in the drives: inserting (also from ZIP archives),
// ejecting, write protection, and the disc autostart, which finds the program on a new
// disc and types the command that runs it.
#pragma once
#include <cstdint>
#include <string>

#include "media/fdc.h"

// The first eight bytes of the two image formats.
constexpr char DSK_STANDARD_SIGNATURE[] = "MV - CPC";
constexpr char DSK_EXTENDED_SIGNATURE[] = "EXTENDED";

// ---- Drives ---------------------------------------------------------------------------------
// Replaces the drive's image path (DRIVE_A / DRIVE_B).
void drive_set_path(int drive, const char* path);
// Opens the drive's image path; 0 on success, 1 on failure (drive left empty).
int drive_insert(int drive);
// Sets path when given, inserts, and for drive A with autostart types the run command.
int drive_insert_and_autostart(int drive, const char* path);
// 0, or 1 when no image was inserted.
int drive_eject(int drive);
bool drive_has_disc(int drive);
// The autostart name when the drive's autostart setting is on and a name was found.
const char* drive_autostart_name(int drive);
// At exit: closes both images (removing temporary copies) and frees their paths.
void drives_release();

// Start-up names used by the machine: insert the configured image (with autostart
// typing when asked), and eject.
int dsk_insert_configured(int drive, bool autostart);
inline int dsk_eject(int drive) { return drive_eject(drive); }

// ---- Images ---------------------------------------------------------------------------------
// 0 when the file's first eight bytes are one of the two signatures, 1 otherwise.
int dsk_check_file(const char* path);
// Reads the disc information block from the start of the drive's file and checks its
// signature (sets `extended`); 0 when valid.
int dsk_read_disc_info(DiscDrive& drive);
// Closes the drive's image, removes its temporary copy; drive empty, ST3 0, int_status 0x08.
void dsk_close_image(DiscDrive& drive);
// Current size of the drive's image file (0 without one).
int64_t dsk_file_size(const DiscDrive& drive);

// Opens an image in a drive record of its own (not one of the two drives, e.g. for a
// disc browsed as a directory): ready, head on track 0. 0 on success, 1 when the file
// cannot be opened or is not an image. Close it with dsk_close_image.
int dsk_open_image(DiscDrive& drive, const char* path, bool read_only);

// Reads sector r of cylinder c, head h of the track under the head into out (at most
// max bytes); the number of bytes read, or -1 when the sector is not found.
int dsk_read_sector(DiscDrive& drive, uint8_t c, uint8_t h, uint8_t r, uint8_t* out, int max);

// ---- Autostart --------------------------------------------------------------------------------
// Finds the program to start on the drive's disc and fills `display_name` ("|CPM" for
// a boot sector, else NAME    .EXT). 0 when a name was found. Needs a 512-byte buffer.
int dsk_autostart_search(DiscDrive& drive, uint8_t* buffer);
// The text that starts the named program, given the memory-dependent "|disc:" prefix.
std::string dsk_autostart_text(const char* name, bool disc_prefix);
// The prefix test on the memory the processor currently sees.
bool dsk_autostart_needs_prefix();
