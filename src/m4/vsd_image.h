// The virtual SD image: the SD directory (M4_SD_PATH) offered to the CPC as a FAT32
// card, sector by sector (commands 0x4314/0x4315). On the first sector access the whole
// directory tree is laid out in memory: every file and directory gets a contiguous run
// of clusters, directories carry long file name entries, the root the volume label.
//
// Mode 0 (M4_SDCARD_MODE) writes the complete image once into a file ("vsd.img" next to
// the configuration) and then reads and writes sectors there; at a CPC reset while the
// board is off, the files of that image go back into the SD directory (write-back) and
// the image is closed, so the next access lays the directory out afresh. Other modes
// produce every sector from the in-memory layout when it is read (file data straight
// from the host files); sectors the CPC writes are kept in memory over it.
#pragma once
#include <cstdint>
#include <string>

namespace vsd {
constexpr int SECTOR_SIZE = 512;
constexpr int RESERVED_SECTORS = 32;
constexpr int FAT_COUNT = 2;
constexpr int BOOT_BACKUP = 6;        // sector of the boot sector's copy (FSInfo's at +1)
constexpr int FSINFO_SECTOR = 1;
constexpr uint32_t ROOT_CLUSTER = 2;
constexpr int ENTRY_SIZE = 32;
constexpr int ATTR_READ_ONLY = 0x01;
constexpr int ATTR_VOLUME = 0x08;
constexpr int ATTR_DIRECTORY = 0x10;
constexpr int ATTR_ARCHIVE = 0x20;
constexpr int ATTR_LONG_NAME = 0x0F;
constexpr int LONG_NAME_CHARS = 13;   // UTF-16 units of one long name entry
constexpr int LAST_LONG_ENTRY = 0x40;
constexpr uint8_t DELETED = 0xE5;
constexpr int CASE_LOWER_BASE = 0x08; // byte 12 of a short entry: shown in lower case
constexpr int CASE_LOWER_EXT = 0x10;
constexpr uint32_t CLUSTER_MASK = 0x0FFFFFFF;
constexpr uint32_t END_OF_CHAIN = 0x0FFFFFF8;  // this and above end a chain
constexpr uint32_t BAD_CLUSTER = 0x0FFFFFF7;
constexpr int MAX_DEPTH = 32;         // directory levels taken into (and out of) the image

// Boot sector fields.
constexpr int BPB_BYTES_PER_SECTOR = 11;
constexpr int BPB_SECTORS_PER_CLUSTER = 13;
constexpr int BPB_RESERVED = 14;
constexpr int BPB_FATS = 16;
constexpr int BPB_ROOT_ENTRIES = 17;
constexpr int BPB_TOTAL16 = 19;
constexpr int BPB_FAT16_SIZE = 22;
constexpr int BPB_TOTAL32 = 32;
constexpr int BPB_FAT32_SIZE = 36;
constexpr int BPB_ROOT_CLUSTER = 44;
constexpr int BOOT_SIGNATURE = 510;   // 0x55 0xAA

// A FAT date and time pair for a host time (local time).
void fat_time(long long seconds, uint16_t& date, uint16_t& time);
}  // namespace vsd

// Makes the image object for the SD directory and the image file path (board start-up),
// discarding an earlier one. Nothing is read or written until the first sector access.
void vsd_open(const std::string& sd_root, const std::string& image_path, int mode);
// Drops the object: an open image file is closed without write-back.
void vsd_discard();
// Reads or writes `count` sectors from sector `first`; false (nothing done) when the
// image cannot be laid out or a sector lies past its end.
bool vsd_read_sectors(uint32_t first, int count, uint8_t* out);
bool vsd_write_sectors(uint32_t first, int count, const uint8_t* data);
// True while an image file of mode 0 is in use (write-back has something to do).
bool vsd_file_open();
// Write-back of mode 0: closes the image file and writes its changed and new files into
// the SD directory. Nothing happens without an open image file.
void vsd_sync();

// Reads a FAT32 image and writes its files back below sd_root: a file whose date and
// time differ from the host file's replaces it, a missing one is created; nothing is
// deleted. Any image is accepted as input: a name that could leave sd_root, a symbolic
// link on the host, a broken or cross-linked cluster chain is passed over with a
// message. False when the file is not a FAT32 image this reader can take.
bool vsd_write_back(const std::string& image_path, const std::string& sd_root);
