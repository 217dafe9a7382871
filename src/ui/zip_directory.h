// The file selector's own reader of a ZIP archive's central directory: the names,
// sizes and kinds of the members, without extracting anything. Opening a chosen member
// is the media files' business.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ZipMember {
  std::string name;   // full member name, a directory without its final separator
  int64_t size = 0;   // uncompressed size
  bool directory = false;
};

// Result codes are the numbers of the messages that report them.
enum ZipDirStatus : int {
  ZIPDIR_OK = 0,
  ZIPDIR_CANNOT_OPEN = 250,
  ZIPDIR_SEEK_ERROR = 251,
  ZIPDIR_READ_ERROR = 252,
  ZIPDIR_NO_END_RECORD = 253,
  ZIPDIR_BAD_ENTRY = 256,
};

// How far back from the end the end-of-central-directory record is searched for (it
// ends the file, followed by a comment of at most 65535 bytes).
constexpr int64_t ZIPDIR_SEARCH_LIMIT = 66000;
// Longest member name taken (longer names could not be listed or opened).
constexpr size_t ZIPDIR_NAME_MAX = 256;

// Reads `count` bytes at `offset` into `buffer`; false when they are not all there.
using ZipReadAt = std::function<bool(uint64_t offset, uint8_t* buffer, size_t count)>;

// Reads the central directory of an archive of `size` bytes through `read_at`. Members
// are appended to `out` (at most `max_members`); the listing ends at the first bad
// entry, whose status is returned. Members already read stay in `out`.
int zipdir_read(uint64_t size, const ZipReadAt& read_at, std::vector<ZipMember>& out,
                size_t max_members);

// The same for an archive file on disc.
int zipdir_read_file(const char* path, std::vector<ZipMember>& out, size_t max_members);
