// Disc images in the drives: inserting (also from ZIP archives), ejecting, write
// protection, and the disc autostart, which finds the program on a new disc and types
// the command that runs it. The image files themselves are media/disc_image.h's; the
// drives' mechanics are the controller's (media/fdc.h).
#pragma once
#include <string>

// ---- Drives ---------------------------------------------------------------------------------
// Replaces the drive's image path (DRIVE_A / DRIVE_B).
void drive_set_path(int drive, const char* path);
// Opens the drive's image path; false on failure (drive left empty).
bool drive_insert(int drive);
// Sets path when given, inserts, and for drive A with autostart types the run command.
bool drive_insert_and_autostart(int drive, const char* path);
// False when no image was inserted.
bool drive_eject(int drive);
bool drive_has_disc(int drive);
// The autostart name when the drive holds a disc, its autostart setting is on and a
// name was found.
const char* drive_autostart_name(int drive);
// AMSDOS block size of the inserted disc (2048 for the formats of 0x90 sector IDs).
int drive_block_size(int drive);
// At exit: closes both images (removing temporary copies) and frees their paths.
void drives_release();

// Start-up names used by the machine: insert the configured image (with autostart
// typing when asked), and eject.
bool dsk_insert_configured(int drive, bool autostart);
inline bool dsk_eject(int drive) { return drive_eject(drive); }

// ---- Autostart --------------------------------------------------------------------------------
// The text that starts the named program, given the memory-dependent "|disc:" prefix.
std::string dsk_autostart_text(const char* name, bool disc_prefix);
// The prefix test on the memory the processor currently sees.
bool dsk_autostart_needs_prefix();
