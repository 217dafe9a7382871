// Media files: the one way in which disc images and other media are opened. A path
// that names a member of a ZIP archive ("dir/games.zip/game.dsk") is served from a
// temporary copy "TMP%05d.$$$" in the temporary directory; the archive itself is never
// changed.
#pragma once
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// Opens path with the stdio mode. For an archive member, temp_number names the
// temporary file (0 = take the next number; it is set to the number used). Returns
// nullptr on failure (after reporting a message for temporary-file problems).
FILE* media_open(const char* path, const char* mode, int& temp_number);

// Removes the temporary file of temp_number and sets it to 0; false when the file
// could not be removed (reported).
bool media_close_temp(int& temp_number);

// Keeps the changed temporary copy (number temp_number) of the archive member at
// member_path ("dir/games.zip/game.dsk"): copies it into a new file named after the
// member beside the archive ("dir/game.dsk", "dir/game-1.dsk" when that is taken), or
// in the temporary directory when the archive's directory is not writable. No file is
// ever overwritten and the archive is not touched. Reports where the copy went; false
// when it could not be made (reported too).
bool media_keep_member_copy(const std::string& member_path, int temp_number);

// Start-up: removes temporary files left over in the temporary directory.
void media_clean_temp();

// The temporary directory with a final '/': TMP_PATH, else $TMPDIR, else /tmp/.
std::string media_temp_dir();
// Full name of temporary file number n.
std::string media_temp_name(int number);
// True when the path contains ".ZIP" or ".zip".
bool media_is_archive_path(const char* path);
// Splits "archive.zip/member" into its two parts; false when there is no member.
bool media_split_archive_path(const std::string& path, std::string& archive, std::string& member);
// Resolves each component of path without regard to case; the path itself when no
// match is found.
std::string media_find_nocase(const std::string& path);

// Sets the temporary-file counter (the next file takes number + 1, wrapping after 32000).
void media_set_temp_counter(int number);

// ---- Archive listings (the file selector) ---------------------------------------------------
struct ArchiveMember {
  std::string name;  // full member name, a directory without its final separator
  int64_t size = 0;  // uncompressed size
  bool directory = false;
};

// How a listing ended: the numbers of the messages that report it.
enum class ArchiveListing : int {
  OK = 0,
  CANNOT_OPEN = 250,
  SEEK_ERROR = 251,
  READ_ERROR = 252,
  NOT_AN_ARCHIVE = 253,  // no end-of-central-directory record
  BAD_ENTRY = 256,       // the central directory is damaged
};

// Longest member name listed (longer names could not be shown or opened).
constexpr size_t ARCHIVE_NAME_MAX = 256;

// Appends the members of an archive to out (at most max_members), under the names by
// which media_open finds them; names that cannot be listed (empty or too long) are left
// out. A damaged archive is not listed at all.
ArchiveListing media_list_archive(const char* path, std::vector<ArchiveMember>& out, size_t max_members);
// The same for an archive held in memory.
ArchiveListing media_list_archive_bytes(const uint8_t* data, size_t size, std::vector<ArchiveMember>& out,
                                        size_t max_members);

// ---- Archive-aware streams ---------------------------------------------------------------
// Open their file through media_open and remove its temporary file when they close.
class zip_base {
 public:
  zip_base() = default;
  zip_base(const zip_base&) = delete;
  zip_base& operator=(const zip_base&) = delete;
  // The host file actually opened (the temporary copy for an archive member).
  const std::string& host_name() const { return host_name_; }

 protected:
  ~zip_base();
  // Prepares path for opening with the stdio mode; false when it cannot be opened.
  bool prepare(const char* path, const char* mode);
  void release();

 private:
  int temp_number_ = 0;
  std::string host_name_;
};

class zip_ifs : public std::ifstream, public zip_base {
 public:
  zip_ifs() = default;
  explicit zip_ifs(const char* path, std::ios::openmode mode = std::ios::binary) { open(path, mode); }
  ~zip_ifs() { close(); }
  void open(const char* path, std::ios::openmode mode = std::ios::binary);
  void close();
};

class zip_ofs : public std::ofstream, public zip_base {
 public:
  zip_ofs() = default;
  explicit zip_ofs(const char* path, std::ios::openmode mode = std::ios::binary) { open(path, mode); }
  ~zip_ofs() { close(); }
  void open(const char* path, std::ios::openmode mode = std::ios::binary);
  void close();
};
