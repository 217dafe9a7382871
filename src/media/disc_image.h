// A DSK or extended DSK disc image file: opening and checking it, finding its tracks
// and the sectors on them, and reading and writing sector data. The image knows nothing
// of drives or of the disc controller: the controller (media/fdc.h) keeps the head
// position and the rotation and asks the image for a track's information block and
// for the bytes of a sector it has found. Browsers of a disc (the file selector, a
// disc image entered as a directory) read sectors by track, side and sector ID.
//
// The image never grows or shrinks: only bytes wholly inside the file are written, and
// the disc information block is never rewritten.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

constexpr int DISC_BLOCK_SIZE = 256;  // disc and track information blocks
// Longest sector the controller transfers; a longer stored length still places the
// sectors after it.
constexpr int DISC_SECTOR_MAX = 8192;
// Size of the AMSDOS directory: four 512-byte sectors of 16 entries.
constexpr int DISC_DIRECTORY_SIZE = 2048;

// The first eight bytes of the two image formats: only these are compared.
constexpr char DSK_STANDARD_SIGNATURE[] = "MV - CPC";
constexpr char DSK_EXTENDED_SIGNATURE[] = "EXTENDED";
constexpr int DSK_SIGNATURE_LENGTH = 8;

// Disc information block fields.
constexpr int DISC_INFO_TRACKS = 0x30;
constexpr int DISC_INFO_SIDES = 0x31;
constexpr int DISC_INFO_TRACK_SIZE = 0x32;  // standard image: every track's size (16-bit)
constexpr int DISC_INFO_SIZE_TABLE = 0x34;  // extended image: high byte of each track's size

// Track information block fields.
constexpr int TRACK_INFO_TRACK = 0x10;
constexpr int TRACK_INFO_SIDE = 0x11;
constexpr int TRACK_INFO_SIZE_CODE = 0x14;
constexpr int TRACK_INFO_SECTORS = 0x15;
constexpr int TRACK_INFO_GAP = 0x16;
constexpr int TRACK_INFO_FILLER = 0x17;
constexpr int TRACK_INFO_LIST = 0x18;  // sector information list, 8 bytes a sector
constexpr int TRACK_SECTORS_MAX = 19;  // a larger count is taken as one sector

// An open image. Its fields belong to the functions below; nothing else reads the file.
struct DiscImage {
  std::FILE* file = nullptr;
  int temp_number = 0;                  // temporary copy of an archive member, 0 = none
  bool extended = false;                // extended format
  bool read_only = false;               // opened without write access
  bool changed = false;                 // a sector or track was written
  std::string member_path;              // the archive member the temporary copy holds
  uint8_t info[DISC_BLOCK_SIZE] = {};   // disc information block
};

// The track information block of one track, as the image holds it, with the data
// length of every sector filled in (standard images store only the size code).
struct DiscTrack {
  uint8_t info[DISC_BLOCK_SIZE] = {};
  int64_t offset = 0;  // file offset of the block
};

// The ID and stored status of one sector of a track's list.
struct SectorId {
  uint8_t c, h, r, n, st1, st2;
  uint16_t length;  // stored data length
};

// Where a sector's data lies in the image.
struct SectorPlace {
  int64_t offset = -1;
  int length = 0;  // stored length (may exceed what one transfer takes)
};

// A track of a standard image to be written by FORMAT TRACK.
struct TrackFormat {
  uint8_t size_code, sectors, gap, filler;
  const uint8_t* ids;  // C, H, R, N of each sector
};

// ---- Opening -------------------------------------------------------------------------
// True when the file's first eight bytes are one of the two signatures.
bool disc_image_check_file(const char* path);
// Opens path (also a member of a ZIP archive, as a temporary copy) and checks its disc
// information block. With writable set it tries for write access first and falls back
// to reading only (image.read_only tells which). False, image closed, when the file
// cannot be opened or is not an image.
bool disc_image_open(DiscImage& image, const char* path, bool writable);
// Reads the disc information block again from the start of the file and checks it.
bool disc_image_reload(DiscImage& image);
// Closes the file and removes its temporary copy; the image is empty afterwards. A
// changed copy of an archive member is kept first as a new image beside the archive:
// the user's work is never thrown away, and the archive never changes.
void disc_image_close(DiscImage& image);
bool disc_image_is_open(const DiscImage& image);
int disc_image_tracks(const DiscImage& image);
int disc_image_sides(const DiscImage& image);
// Current size of the image file (0 without one).
int64_t disc_image_file_size(const DiscImage& image);

// ---- Tracks and sectors ----------------------------------------------------------------
// Reads track t, side s. An unformatted track (no bytes in the extended size table)
// reads as a track without sectors. False when the block is cut short by the end of
// the file (then the track has no sectors either).
bool disc_image_read_track(const DiscImage& image, int t, int s, DiscTrack& out);
// Number of sectors on the track (after the more-than-19 rule).
int disc_track_sectors(const DiscTrack& track);
// Entry i of the track's sector list (i below the sector count).
SectorId disc_track_sector(const DiscTrack& track, int i);
// Where the data of entry i lies: after the block and the sectors before it in the list.
SectorPlace disc_track_place(const DiscTrack& track, int i);

// Reads at most max bytes of a sector's data; the number of bytes read.
int disc_image_read(const DiscImage& image, const SectorPlace& place, uint8_t* out, int max);
// Writes length bytes at the sector's place; false when they do not lie wholly inside
// the file or the write fails.
bool disc_image_write(DiscImage& image, const SectorPlace& place, const uint8_t* data, int length);
// Writes a new track information block and the filler bytes for track t, side s of a
// standard image; false when the image is extended, the sectors do not fit its track
// size, the track is beyond the image or a write fails.
bool disc_image_format_track(DiscImage& image, int t, int s, const TrackFormat& format);

// ---- Browsing ----------------------------------------------------------------------------
// Reads the first sector with ID R of track t, side s (at most max bytes); the number
// of bytes read, or -1 when there is no such sector.
int disc_image_read_sector(const DiscImage& image, int t, int s, uint8_t r, uint8_t* out, int max);
// The disc format (high nibble of its sectors' IDs) gives the AMSDOS directory's track:
// system format (0x40) track 2, IBM format (0x00) track 1, data format track 0. The
// directory sectors have the IDs format | 1 ... format | 4.
int disc_directory_track(uint8_t format);
// Reads the four directory sectors (64 entries of 32 bytes) of the format of track 0's
// first sector into out; false when one is missing or not 512 bytes long.
bool disc_image_read_directory(const DiscImage& image, uint8_t out[DISC_DIRECTORY_SIZE]);
