// DSK and extended DSK image files: layout, reading and writing.
#include "media/disc_image.h"

#include <sys/stat.h>

#include <cstring>

#include "media/media_file.h"

namespace {

constexpr int ENTRY_SIZE = 8;
constexpr int DIRECTORY_SECTOR_SIZE = 512;
constexpr int DIRECTORY_SECTORS = 4;
// The size table of an extended image ends with its disc information block.
constexpr int SIZE_TABLE_ENTRIES = DISC_BLOCK_SIZE - DISC_INFO_SIZE_TABLE;

int standard_track_size(const DiscImage& image) {
  return image.info[DISC_INFO_TRACK_SIZE] | (image.info[DISC_INFO_TRACK_SIZE + 1] << 8);
}

// Size in bytes of track k (k = track × sides + side) of an extended image; tracks
// beyond the table have no size.
int64_t extended_track_size(const DiscImage& image, int64_t k) {
  if (k < 0 || k >= SIZE_TABLE_ENTRIES) return 0;
  return static_cast<int64_t>(image.info[DISC_INFO_SIZE_TABLE + k]) * 256;
}

int64_t track_offset(const DiscImage& image, int t, int s) {
  const int64_t k = static_cast<int64_t>(t) * disc_image_sides(image) + s;
  if (!image.extended) return DISC_BLOCK_SIZE + k * standard_track_size(image);
  int64_t offset = DISC_BLOCK_SIZE;
  for (int64_t j = 0; j < k && j < SIZE_TABLE_ENTRIES; j++) offset += extended_track_size(image, j);
  return offset;
}

const uint8_t* entry(const DiscTrack& track, int i) { return track.info + TRACK_INFO_LIST + ENTRY_SIZE * i; }
int entry_length(const uint8_t* e) { return e[6] | (e[7] << 8); }

// Sector size of a size code: 128 << N, 8192 from N = 6 on.
int size_of_code(int n) { return n < 6 ? (128 << n) : DISC_SECTOR_MAX; }

bool read_at(std::FILE* file, int64_t offset, uint8_t* out, size_t length, size_t& got) {
  got = 0;
  if (!file || std::fseek(file, offset, SEEK_SET) != 0) return false;
  got = std::fread(out, 1, length, file);
  return got == length;
}

bool signature_known(const uint8_t* head, bool& extended) {
  extended = std::memcmp(head, DSK_EXTENDED_SIGNATURE, DSK_SIGNATURE_LENGTH) == 0;
  return extended || std::memcmp(head, DSK_STANDARD_SIGNATURE, DSK_SIGNATURE_LENGTH) == 0;
}

}  // namespace

// ---- Opening -------------------------------------------------------------------------

bool disc_image_check_file(const char* path) {
  std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
  if (!f) return false;
  uint8_t head[DSK_SIGNATURE_LENGTH];
  const bool whole = std::fread(head, 1, sizeof head, f) == sizeof head;
  std::fclose(f);
  bool extended = false;
  return whole && signature_known(head, extended);
}

bool disc_image_open(DiscImage& image, const char* path, bool writable) {
  disc_image_close(image);
  image.file = writable ? media_open(path, "rb+", image.temp_number) : nullptr;
  image.read_only = image.file == nullptr;
  if (!image.file) image.file = media_open(path, "rb", image.temp_number);
  if (!image.file) {
    media_close_temp(image.temp_number);
    return false;
  }
  if (image.temp_number) image.member_path = path;
  if (disc_image_reload(image)) return true;
  disc_image_close(image);
  return false;
}

bool disc_image_reload(DiscImage& image) {
  size_t got = 0;
  if (!read_at(image.file, 0, image.info, sizeof image.info, got)) return false;
  return signature_known(image.info, image.extended);
}

void disc_image_close(DiscImage& image) {
  if (image.file) std::fclose(image.file);
  if (image.changed && image.temp_number) media_keep_member_copy(image.member_path, image.temp_number);
  image.file = nullptr;
  media_close_temp(image.temp_number);
  image.extended = image.read_only = image.changed = false;
  image.member_path.clear();
}

bool disc_image_is_open(const DiscImage& image) { return image.file != nullptr; }
int disc_image_tracks(const DiscImage& image) { return image.info[DISC_INFO_TRACKS]; }
int disc_image_sides(const DiscImage& image) { return image.info[DISC_INFO_SIDES]; }

int64_t disc_image_file_size(const DiscImage& image) {
  struct stat st;
  if (!image.file || ::fstat(fileno(image.file), &st) != 0) return 0;
  return st.st_size;
}

// ---- Tracks and sectors ----------------------------------------------------------------

bool disc_image_read_track(const DiscImage& image, int t, int s, DiscTrack& out) {
  out.offset = track_offset(image, t, s);
  const bool unformatted =
      image.extended && extended_track_size(image, static_cast<int64_t>(t) * disc_image_sides(image) + s) == 0;
  size_t got = 0;
  const bool whole = !unformatted && read_at(image.file, out.offset, out.info, sizeof out.info, got);
  // An unformatted track, or a block cut short by the end of the file: no sectors.
  if (!whole) std::memset(out.info, 0, sizeof out.info);
  if (out.info[TRACK_INFO_SECTORS] > TRACK_SECTORS_MAX) out.info[TRACK_INFO_SECTORS] = 1;
  if (!image.extended) {
    const int length = size_of_code(out.info[TRACK_INFO_SIZE_CODE]);
    for (int i = 0; i < disc_track_sectors(out); i++) {
      uint8_t* e = out.info + TRACK_INFO_LIST + ENTRY_SIZE * i;
      e[6] = static_cast<uint8_t>(length & 0xFF);
      e[7] = static_cast<uint8_t>(length >> 8);
    }
  }
  return whole || unformatted;
}

int disc_track_sectors(const DiscTrack& track) {
  const int count = track.info[TRACK_INFO_SECTORS];
  return count > TRACK_SECTORS_MAX ? 1 : count;
}

SectorId disc_track_sector(const DiscTrack& track, int i) {
  const uint8_t* e = entry(track, i);
  return {e[0], e[1], e[2], e[3], e[4], e[5], static_cast<uint16_t>(entry_length(e))};
}

SectorPlace disc_track_place(const DiscTrack& track, int i) {
  SectorPlace place;
  place.offset = track.offset + DISC_BLOCK_SIZE;
  for (int j = 0; j < i; j++) place.offset += entry_length(entry(track, j));
  place.length = entry_length(entry(track, i));
  return place;
}

int disc_image_read(const DiscImage& image, const SectorPlace& place, uint8_t* out, int max) {
  const int length = place.length < max ? place.length : max;
  size_t got = 0;
  if (length > 0) read_at(image.file, place.offset, out, static_cast<size_t>(length), got);
  return static_cast<int>(got);
}

bool disc_image_write(DiscImage& image, const SectorPlace& place, const uint8_t* data, int length) {
  if (!image.file || place.offset < 0 || place.offset + length > disc_image_file_size(image)) return false;
  if (std::fseek(image.file, place.offset, SEEK_SET) != 0) return false;
  if (std::fwrite(data, 1, static_cast<size_t>(length), image.file) != static_cast<size_t>(length)) {
    std::clearerr(image.file);
    return false;
  }
  if (std::fflush(image.file) != 0) return false;
  image.changed = true;
  return true;
}

bool disc_image_format_track(DiscImage& image, int t, int s, const TrackFormat& format) {
  const int64_t sector_size = format.size_code > 5 ? DISC_SECTOR_MAX : (128 << format.size_code);
  const int64_t track_size = standard_track_size(image);
  if (image.extended || sector_size * format.sectors + 255 >= track_size || t >= disc_image_tracks(image))
    return false;
  const int64_t offset = track_offset(image, t, s);
  if (offset + track_size > disc_image_file_size(image)) return false;
  uint8_t block[DISC_BLOCK_SIZE] = {};
  std::memcpy(block, "Track-Info\r\n", 12);
  block[TRACK_INFO_TRACK] = static_cast<uint8_t>(t);
  block[TRACK_INFO_SIDE] = static_cast<uint8_t>(s);
  block[TRACK_INFO_SIZE_CODE] = format.size_code;
  block[TRACK_INFO_SECTORS] = format.sectors;
  block[TRACK_INFO_GAP] = format.gap;
  block[TRACK_INFO_FILLER] = format.filler;
  for (int i = 0; i < format.sectors; i++) std::memcpy(block + TRACK_INFO_LIST + ENTRY_SIZE * i, format.ids + 4 * i, 4);
  if (!disc_image_write(image, {offset, 0}, block, DISC_BLOCK_SIZE)) return false;
  std::memset(block, format.filler, sizeof block);
  const int64_t blocks = (track_size - DISC_BLOCK_SIZE) / DISC_BLOCK_SIZE;
  for (int64_t i = 0; i < blocks; i++)
    if (!disc_image_write(image, {offset + DISC_BLOCK_SIZE * (i + 1), 0}, block, DISC_BLOCK_SIZE)) return false;
  return true;
}

// ---- Browsing ----------------------------------------------------------------------------

int disc_image_read_sector(const DiscImage& image, int t, int s, uint8_t r, uint8_t* out, int max) {
  DiscTrack track;
  if (!disc_image_is_open(image) || t >= disc_image_tracks(image) || !disc_image_read_track(image, t, s, track))
    return -1;
  for (int i = 0; i < disc_track_sectors(track); i++)
    if (disc_track_sector(track, i).r == r) return disc_image_read(image, disc_track_place(track, i), out, max);
  return -1;
}

int disc_directory_track(uint8_t format) { return format == 0x40 ? 2 : format == 0x00 ? 1 : 0; }

bool disc_image_read_directory(const DiscImage& image, uint8_t out[DISC_DIRECTORY_SIZE]) {
  DiscTrack first;
  if (!disc_image_is_open(image) || !disc_image_read_track(image, 0, 0, first) || disc_track_sectors(first) == 0)
    return false;
  const uint8_t format = disc_track_sector(first, 0).r & 0xF0;
  const int t = disc_directory_track(format);
  for (int i = 0; i < DIRECTORY_SECTORS; i++) {
    uint8_t* sector = out + i * DIRECTORY_SECTOR_SIZE;
    const uint8_t r = static_cast<uint8_t>(format | (i + 1));
    if (disc_image_read_sector(image, t, 0, r, sector, DIRECTORY_SECTOR_SIZE) != DIRECTORY_SECTOR_SIZE) return false;
  }
  return true;
}
