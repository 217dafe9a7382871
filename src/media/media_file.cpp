// Media files: plain paths (with a case-insensitive retry) and members of ZIP archives,
// which are extracted into numbered temporary files.
#include "media/media_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"

namespace {

// Numbers of the temporary files: each new file takes the next, 1..32000.
int temp_counter = 0;

// Members larger than this are not extracted (a damaged or hostile archive could
// otherwise fill the temporary directory).
constexpr zip_uint64_t MAX_MEMBER_SIZE = 256ull << 20;

enum class Reporter { plain, stream };

void report(msg::Id message, const std::string& name) {
  std::printf("%s %s\n", message_text(message), name.c_str());
  std::fflush(stdout);
}

int next_temp_number() {
  temp_counter = temp_counter % 32000 + 1;
  return temp_counter;
}

// Extracts member of archive into target, with the member's modification time.
// False when the archive cannot be read or has no such member.
bool extract_member(const std::string& archive, const std::string& member, const std::string& target) {
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error);
  if (!za) return false;
  bool ok = false;
  zip_int64_t index = zip_name_locate(za, member.c_str(), 0);
  if (index < 0) index = zip_name_locate(za, member.c_str(), ZIP_FL_NOCASE);
  zip_stat_t st;
  zip_stat_init(&st);
  if (index >= 0 && zip_stat_index(za, static_cast<zip_uint64_t>(index), 0, &st) == 0 &&
      (!(st.valid & ZIP_STAT_SIZE) || st.size <= MAX_MEMBER_SIZE)) {
    zip_file_t* zf = zip_fopen_index(za, static_cast<zip_uint64_t>(index), 0);
    if (zf) {
      FILE* out = std::fopen(target.c_str(), "wb");
      if (out) {
        std::vector<char> chunk(65536);
        zip_uint64_t total = 0;
        ok = true;
        for (;;) {
          zip_int64_t n = zip_fread(zf, chunk.data(), chunk.size());
          if (n < 0) {
            ok = false;
            break;
          }
          if (n == 0) break;
          total += static_cast<zip_uint64_t>(n);
          if (total > MAX_MEMBER_SIZE ||
              std::fwrite(chunk.data(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
            ok = false;
            break;
          }
        }
        if (std::fclose(out) != 0) ok = false;
        if (!ok) {
          std::remove(target.c_str());
        } else if (st.valid & ZIP_STAT_MTIME) {
          utimbuf times{st.mtime, st.mtime};
          utime(target.c_str(), &times);
        }
      }
      zip_fclose(zf);
    }
  }
  zip_discard(za);
  return ok;
}

FILE* open_member(const char* path, const char* mode, int& temp_number, Reporter how) {
  std::string archive, member;
  if (!media_split_archive_path(path, archive, member)) {
    if (how == Reporter::stream) std::printf("%s (ZIPSTR)\n", message_text(msg::ZIP_NO_TEMPORARY));
    return nullptr;
  }
  const bool reading = std::strchr(mode, 'r') != nullptr;
  const bool fresh = temp_number == 0;
  const int number = fresh ? next_temp_number() : temp_number;
  const std::string temp = media_temp_name(number);
  if (reading) {
    // The member goes straight into its numbered temporary file: extracting it under
    // its own name first could overwrite a user's file of that name in the directory.
    if (!extract_member(media_find_nocase(archive), member, temp)) {
      if (how == Reporter::stream) std::printf("%s (ZIPSTR)\n", message_text(msg::ZIP_NO_TEMPORARY));
      std::fflush(stdout);
      return nullptr;
    }
  } else {
    size_t slash = member.find_last_of('/');
    report(msg::ZIP_MEMBER_READ_ONLY, slash == std::string::npos ? member : member.substr(slash + 1));
  }
  FILE* file = std::fopen(temp.c_str(), mode);
  if (!file) {
    report(msg::TEMP_CANNOT_OPEN, temp);
    if (reading) std::remove(temp.c_str());
    return nullptr;
  }
  temp_number = number;
  return file;
}

FILE* open_media(const char* path, const char* mode, int& temp_number, Reporter how) {
  if (!path || !*path || !mode) return nullptr;
  if (!media_is_archive_path(path)) {
    FILE* file = std::fopen(path, mode);
    if (!file) {
      std::string found = media_find_nocase(path);
      if (found != path) file = std::fopen(found.c_str(), mode);
    }
    return file;
  }
  return open_member(path, mode, temp_number, how);
}

ArchiveListing listing_error(int zip_error) {
  switch (zip_error) {
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
      return ArchiveListing::CANNOT_OPEN;
    case ZIP_ER_SEEK:
      return ArchiveListing::SEEK_ERROR;
    case ZIP_ER_READ:
    case ZIP_ER_MEMORY:
      return ArchiveListing::READ_ERROR;
    case ZIP_ER_NOZIP:
      return ArchiveListing::NOT_AN_ARCHIVE;
    default:
      return ArchiveListing::BAD_ENTRY;
  }
}

ArchiveListing list_members(zip_t* za, std::vector<ArchiveMember>& out, size_t max_members) {
  const zip_int64_t count = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < count && out.size() < max_members; i++) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
      return ArchiveListing::BAD_ENTRY;
    ArchiveMember member;
    member.name.assign(st.name);
    if (!member.name.empty() && (member.name.back() == '/' || member.name.back() == '\\')) {
      member.directory = true;
      member.name.pop_back();
    }
    if (member.name.empty() || member.name.size() > ARCHIVE_NAME_MAX) continue;
    member.size = (st.valid & ZIP_STAT_SIZE) ? static_cast<int64_t>(st.size) : 0;
    out.push_back(std::move(member));
  }
  return ArchiveListing::OK;
}

// Numbered names tried beside the archive before giving up on its directory.
constexpr int KEPT_NAMES_MAX = 999;

bool ends_with_nocase(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

// Copies the file source into a new file target, which must not exist yet. errno
// tells why it failed when the target could not be made.
bool copy_to_new_file(const std::string& source, const std::string& target) {
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (out < 0) return false;
  FILE* in = std::fopen(source.c_str(), "rb");
  bool ok = in != nullptr;
  std::vector<char> chunk(65536);
  while (ok) {
    const size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
    if (n == 0) break;
    ok = ::write(out, chunk.data(), n) == static_cast<ssize_t>(n);
  }
  if (in) std::fclose(in);
  if (::close(out) != 0) ok = false;
  if (!ok) {
    std::remove(target.c_str());
    errno = EIO;
  }
  return ok;
}

// Copies source to the first free name of directory + stem + ("" or "-n") + ".dsk".
// False (errno set) when the directory takes no new file.
bool copy_to_free_name(const std::string& source, const std::string& directory, const std::string& stem,
                       std::string& target) {
  for (int n = 0; n <= KEPT_NAMES_MAX; n++) {
    target = directory + stem + (n ? "-" + std::to_string(n) : "") + ".dsk";
    if (copy_to_new_file(source, target)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// ---- Paths -------------------------------------------------------------------------------

bool media_is_archive_path(const char* path) {
  return path && (std::strstr(path, ".ZIP") || std::strstr(path, ".zip"));
}

bool media_split_archive_path(const std::string& path, std::string& archive, std::string& member) {
  size_t upper = path.find(".ZIP");
  size_t lower = path.find(".zip");
  size_t at = std::min(upper, lower);
  if (at == std::string::npos) return false;
  archive = path.substr(0, at + 4);
  if (at + 4 >= path.size() || path[at + 4] != '/') return false;
  member = path.substr(at + 5);
  return !member.empty() && member.back() != '/';
}

std::string media_find_nocase(const std::string& path) {
  if (path.empty()) return path;
  std::string result = path[0] == '/' ? "/" : "";
  size_t pos = path[0] == '/' ? 1 : 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    if (!part.empty()) {
      std::string candidate = result + part;
      struct stat st;
      if (::stat(candidate.c_str(), &st) != 0) {
        DIR* dir = ::opendir(result.empty() ? "." : result.c_str());
        if (dir) {
          while (dirent* entry = ::readdir(dir)) {
            if (strcasecmp(entry->d_name, part.c_str()) == 0) {
              candidate = result + entry->d_name;
              break;
            }
          }
          ::closedir(dir);
        }
      }
      result = candidate;
      if (end < path.size()) result += '/';
    }
    pos = end + 1;
  }
  return result;
}

std::string media_temp_dir() {
  std::string dir;
  const char* setting_dir = setting_text(kw::TMP_PATH);
  const char* env_dir = std::getenv("TMPDIR");
  if (setting_dir && *setting_dir)
    dir = setting_dir;
  else if (env_dir && *env_dir)
    dir = env_dir;
  else
    dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string media_temp_name(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "TMP%05d.$$$", number);
  return media_temp_dir() + name;
}

void media_set_temp_counter(int number) { temp_counter = number < 0 ? 0 : number % 32000; }

// ---- Opening and temporary files ---------------------------------------------------------------

FILE* media_open(const char* path, const char* mode, int& temp_number) {
  return open_media(path, mode, temp_number, Reporter::plain);
}

bool media_close_temp(int& temp_number) {
  if (temp_number == 0) return true;
  std::string name = media_temp_name(temp_number);
  temp_number = 0;
  if (std::remove(name.c_str()) != 0) {
    report(msg::TEMP_CANNOT_REMOVE, name);
    return false;
  }
  return true;
}

bool media_keep_member_copy(const std::string& member_path, int temp_number) {
  std::string archive, member;
  if (temp_number == 0 || !media_split_archive_path(member_path, archive, member)) return false;
  const size_t slash = archive.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "" : archive.substr(0, slash + 1);
  std::string stem = member.substr(member.find_last_of('/') + 1);
  if (ends_with_nocase(stem, ".dsk")) stem.resize(stem.size() - 4);
  const std::string source = media_temp_name(temp_number);
  std::string target;
  const bool kept = copy_to_free_name(source, directory, stem, target) ||
                    copy_to_free_name(source, media_temp_dir(), stem, target);
  report(kept ? msg::DISC_SAVED_AS : msg::DISC_NOT_SAVED, kept ? target : member_path);
  return kept;
}

void media_clean_temp() {
  std::string pattern = media_temp_dir() + "TMP?????.$$$";
  glob_t found;
  if (::glob(pattern.c_str(), GLOB_NOSORT | GLOB_NOESCAPE, nullptr, &found) != 0) return;
  for (size_t i = 0; i < found.gl_pathc; i++) {
    std::string name = found.gl_pathv[i];
    if (is_directory(name)) continue;
    report(std::remove(name.c_str()) == 0 ? msg::TEMP_REMOVED : msg::TEMP_CANNOT_REMOVE, name);
  }
  ::globfree(&found);
}

// ---- Archive listings ----------------------------------------------------------------------------

ArchiveListing media_list_archive(const char* path, std::vector<ArchiveMember>& out, size_t max_members) {
  int error = 0;
  zip_t* za = zip_open(path, ZIP_RDONLY, &error);
  if (!za) return listing_error(error);
  const ArchiveListing result = list_members(za, out, max_members);
  zip_discard(za);
  return result;
}

ArchiveListing media_list_archive_bytes(const uint8_t* data, size_t size, std::vector<ArchiveMember>& out,
                                        size_t max_members) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  zip_t* za = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (!za) {
    if (source) zip_source_free(source);
    const ArchiveListing result = listing_error(zip_error_code_zip(&error));
    zip_error_fini(&error);
    return result;
  }
  zip_error_fini(&error);
  const ArchiveListing result = list_members(za, out, max_members);
  zip_discard(za);
  return result;
}

// ---- Archive-aware streams ---------------------------------------------------------------------

zip_base::~zip_base() { release(); }

bool zip_base::prepare(const char* path, const char* mode) {
  release();
  if (!path || !*path) return false;
  if (!media_is_archive_path(path)) {
    host_name_ = path;
    struct stat st;
    if (::stat(path, &st) != 0 && std::strchr(mode, 'r')) host_name_ = media_find_nocase(path);
    return true;
  }
  FILE* file = open_media(path, mode, temp_number_, Reporter::stream);
  if (!file) {
    if (temp_number_) {
      int number = temp_number_;
      temp_number_ = 0;
      std::remove(media_temp_name(number).c_str());
    }
    return false;
  }
  std::fclose(file);
  host_name_ = media_temp_name(temp_number_);
  return true;
}

void zip_base::release() {
  if (temp_number_) media_close_temp(temp_number_);
  host_name_.clear();
}

void zip_ifs::open(const char* path, std::ios::openmode mode) {
  close();
  if (!prepare(path, "rb")) {
    setstate(std::ios::failbit);
    return;
  }
  std::ifstream::open(host_name(), mode | std::ios::in);
}

void zip_ifs::close() {
  if (is_open()) std::ifstream::close();
  release();
}

void zip_ofs::open(const char* path, std::ios::openmode mode) {
  close();
  if (!prepare(path, "wb")) {
    setstate(std::ios::failbit);
    return;
  }
  std::ofstream::open(host_name(), mode | std::ios::out);
}

void zip_ofs::close() {
  if (is_open()) std::ofstream::close();
  release();
}
