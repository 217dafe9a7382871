// The SD card's file and directory commands against the host directory.
#include "m4/sdcard.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "m4/m4.h"
#include "m4/sd_dsk.h"
#include "m4/vsd_image.h"

namespace {

constexpr int FILE_SLOTS = 10;
constexpr int INPUT_SLOT = 1;
constexpr int OUTPUT_SLOT = 2;
constexpr int FIRST_FREE_SLOT = 3;
constexpr int MODE_WRITE = 0x02;
constexpr int MODE_UPDATE = 0x01;       // read back what is written
constexpr int MODE_NEW = 0x0C;          // bits 2-3: start from an empty file
constexpr int MODE_ANY_SLOT = 0x80;
constexpr int HEADER_SIZE = 128;
constexpr int HEADER_TYPE = 18;
constexpr int HEADER_CHECKSUM = 67;
constexpr int MAX_CURRENT_DIR = 256;
constexpr int READ_MAX = m4::REPLY_SIZE - 4;       // data after size, code and status
constexpr int BLOCK_DATA = 8;                       // 0x4312's data offset in the reply
constexpr int BLOCK_MAX = m4::REPLY_SIZE - BLOCK_DATA;
constexpr int SHORT_NAME_TRIES = 79;
constexpr int TYPE_PROTECTED = 0x01;               // header type bit: the file is scrambled
constexpr int RECORD_SIZE = 128;
// AMSDOS keeps a protected file scrambled on disc: each byte after the header is XORed
// with one byte of each of two key tables, both starting again with every 128-byte record.
constexpr uint8_t PROTECTION_KEY_A[13] = {0xE2, 0x9D, 0xDB, 0x1A, 0x42, 0x29, 0x39,
                                          0xC6, 0xB3, 0xC6, 0x90, 0x45, 0x8A};
constexpr uint8_t PROTECTION_KEY_B[11] = {0x49, 0xB1, 0x36, 0xF0, 0x2E, 0x1E,
                                          0x06, 0x2A, 0x28, 0x19, 0xEA};

struct FileSlot {
  bool open = false;
  bool in_dsk = false;            // the file lives inside the entered DSK image
  std::string path;               // host path of the open file (the temporary when writing)
  std::string final_path;         // where a written file goes at close
  bool gave_extension = false;    // the CPC named an extension when opening for writing
  std::FILE* file = nullptr;
  std::vector<uint8_t> dsk_data;  // a DSK file's contents, read at open
  std::size_t dsk_pos = 0;
  uint8_t mode = 0;
  uint8_t header[HEADER_SIZE] = {};
  bool has_header = false;
};

struct ListEntry {
  std::string name, extension;
  bool read_only = false, directory = false;
  long records = 0;
};

struct SdState {
  FileSlot slots[FILE_SLOTS];
  std::string current;           // host path below the root, "" for the root
  std::string listing_path;      // set by 0x4325, "" for the current directory
  std::vector<ListEntry> listing;
  std::size_t listing_next = 0;
  int listing_state = -1;        // -1 not started, 1 in progress, 0 finished
};

SdState sd;

// ---- Names ----------------------------------------------------------------------------------

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool same_text(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

bool has_wildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

std::string extension_of(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string without_extension(const std::string& name) {
  const auto slash = name.rfind('/');
  const auto dot = name.rfind('.');
  return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? name : name.substr(0, dot);
}

bool needs_short_name(const std::string& name) {
  const auto dot = name.rfind('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  return base.size() > 8 || ext.size() > 3 || name.find(' ') != std::string::npos ||
         base.find('.') != std::string::npos || name.find('~') != std::string::npos ||
         name.back() == '.';
}

std::string generate_short_name(const std::string& name, bool directory, int digit) {
  const auto dot = name.rfind('.');
  std::string base;
  for (char c : dot == std::string::npos ? name : name.substr(0, dot)) {
    if (c != ' ' && c != '.') base += c;
  }
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  std::string s = base.substr(0, 6) + '~' + static_cast<char>('1' + digit);
  if (!directory && !ext.empty()) s += "." + ext.substr(0, 3);
  return upper(s);
}

bool short_name_taken(const std::vector<std::string>& made, const std::string& s) {
  for (const std::string& m : made) {
    if (same_text(m, s)) return true;
  }
  return false;
}

// ---- Host directories -------------------------------------------------------------------------

struct HostEntry {
  std::string name, short_name;
  bool directory = false;
};

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A directory's entries in name order, each with its short name.
std::vector<HostEntry> read_host_directory(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::vector<bool> dirs;
  for (const std::string& n : names) dirs.push_back(is_directory(dir + "/" + n));
  const std::vector<std::string> shorts = m4::short_names(names, dirs);
  std::vector<HostEntry> entries;
  for (std::size_t i = 0; i < names.size(); ++i) entries.push_back({names[i], shorts[i], dirs[i]});
  return entries;
}

bool pattern_matches(const std::string& pattern, const HostEntry& e) {
  constexpr int FLAGS = FNM_CASEFOLD | FNM_NOESCAPE | FNM_PATHNAME | FNM_PERIOD;
  return ::fnmatch(pattern.c_str(), e.name.c_str(), FLAGS) == 0 ||
         ::fnmatch(pattern.c_str(), e.short_name.c_str(), FLAGS) == 0;
}

// The host name in dir for one CPC component: as written when it exists, else the entry
// whose long or short name matches without regard to case (a wildcard: the first match).
std::string resolve_component(const std::string& dir, const std::string& component) {
  if (!has_wildcard(component) && exists(dir + "/" + component)) return component;
  for (const HostEntry& e : read_host_directory(dir)) {
    if (e.name == "." || e.name == "..") continue;
    if (has_wildcard(component) ? pattern_matches(component, e)
                                : same_text(component, e.name) || same_text(component, e.short_name))
      return e.name;
  }
  return component;
}

// The CPC name as components below the root: drive letter dropped, trailing blanks gone,
// upper case; relative names start from the current directory. ".." never climbs above
// the root, so no name reaches outside the SD directory.
std::vector<std::string> cpc_components(std::string name) {
  if (name.size() >= 2 && name[1] == ':') name.erase(0, 2);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  name = upper(name);
  std::vector<std::string> parts;
  std::string start = name.empty() || name[0] != '/' ? sd.current + "/" : "";
  std::string all = start + name;
  std::size_t at = 0;
  while (at <= all.size()) {
    std::size_t end = all.find('/', at);
    if (end == std::string::npos) end = all.size();
    const std::string part = all.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  return parts;
}

// The host path below the root for a CPC name, each component resolved.
std::string relative_host_path(const std::string& name) {
  std::string relative;
  const std::string root = m4::sd_root();
  for (const std::string& part : cpc_components(name)) {
    const std::string dir = relative.empty() ? root : root + "/" + relative;
    const std::string host = resolve_component(dir, part);
    relative += (relative.empty() ? "" : "/") + host;
  }
  return relative;
}

std::string host_path(const std::string& name) {
  const std::string relative = relative_host_path(name);
  return relative.empty() ? m4::sd_root() : m4::sd_root() + "/" + relative;
}

std::string text_param(int offset) {
  const uint8_t* p = m4::packet();
  return offset < m4::COMMAND_SIZE ? std::string(reinterpret_cast<const char*>(p + offset)) : "";
}

int word16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// ---- Open-file slots ---------------------------------------------------------------------------

FileSlot* slot_of(int n) {
  return n >= 0 && n < FILE_SLOTS && sd.slots[n].open ? &sd.slots[n] : nullptr;
}

bool header_valid(const uint8_t* h) {
  int sum = 0;
  for (int i = 0; i < HEADER_CHECKSUM; ++i) sum += h[i];
  return (sum & 0xFFFF) == word16(h + HEADER_CHECKSUM);
}

bool is_protected(const FileSlot& s) { return s.has_header && (s.header[HEADER_TYPE] & TYPE_PROTECTED); }

// Scrambles or unscrambles (the same XOR) `count` bytes that lie at `position` of a file;
// the header itself is left alone.
void protection_transform(uint8_t* data, int count, long position) {
  for (int i = 0; i < count; ++i) {
    const long at = position + i - HEADER_SIZE;
    if (at < 0) continue;
    const int j = static_cast<int>(at % RECORD_SIZE);
    data[i] ^= PROTECTION_KEY_A[j % sizeof PROTECTION_KEY_A] ^ PROTECTION_KEY_B[j % sizeof PROTECTION_KEY_B];
  }
}

void forget(FileSlot& s) {
  if (s.file) std::fclose(s.file);
  s = FileSlot{};
}

// A written file's final name: the CPC's, or with the extension its header asks for.
std::string final_name(const FileSlot& s) {
  if (s.gave_extension || !s.has_header) return s.final_path;
  const int type = (s.header[HEADER_TYPE] >> 1) & 3;
  return s.final_path + (type == 0 ? ".BAS" : ".BIN");
}

bool close_slot(FileSlot& s) {
  if (!s.file) {
    forget(s);
    return true;
  }
  const bool written = (s.mode & MODE_WRITE) != 0;
  bool ok = std::fclose(s.file) == 0;
  s.file = nullptr;
  if (written && ok) {
    const std::string target = final_name(s);
    if (exists(target)) ok = std::rename(target.c_str(), (without_extension(target) + ".BAK").c_str()) == 0;
    ok = ok && std::rename(s.path.c_str(), target.c_str()) == 0;
  }
  forget(s);
  return ok;
}

int choose_slot(uint8_t mode) {
  if (mode & MODE_ANY_SLOT) {
    for (int n = FIRST_FREE_SLOT; n < FILE_SLOTS; ++n) {
      if (!sd.slots[n].open) return n;
    }
    return -1;
  }
  const int n = (mode & MODE_WRITE) ? OUTPUT_SLOT : INPUT_SLOT;
  if (sd.slots[n].open) close_slot(sd.slots[n]);
  return n;
}

bool copy_file(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  std::FILE* out = std::fopen(to.c_str(), "wb");
  bool ok = out != nullptr;
  char buffer[8192];
  while (ok) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
    if (n == 0) break;
    ok = std::fwrite(buffer, 1, n, out) == n;
  }
  const int saved = errno;
  std::fclose(in);
  if (out && std::fclose(out) != 0) ok = false;
  errno = saved;
  return ok;
}

std::FILE* open_for_reading(FileSlot& s, const std::string& name) {
  std::string path = host_path(name);
  if (!exists(path) && extension_of(cpc_components(name).empty() ? "" : cpc_components(name).back()).empty()) {
    for (const char* ext : {".BAS", ".BIN"}) {
      const std::string tried = host_path(name + ext);
      if (exists(tried)) {
        path = tried;
        break;
      }
    }
  }
  if (is_directory(path)) {
    errno = EISDIR;
    return nullptr;
  }
  s.path = path;
  return std::fopen(path.c_str(), "rb");
}

std::FILE* open_for_writing(FileSlot& s, const std::string& name, uint8_t mode) {
  const std::string path = host_path(name);
  const auto parts = cpc_components(name);
  if (parts.empty() || is_directory(path)) {
    errno = EISDIR;
    return nullptr;
  }
  s.gave_extension = !extension_of(parts.back()).empty();
  s.final_path = path;
  s.path = without_extension(path) + ".$$$";
  const bool update = (mode & MODE_UPDATE) != 0;
  if ((mode & MODE_NEW) || !update) return std::fopen(s.path.c_str(), update ? "w+b" : "wb");
  // Updating an existing file works on a copy, so the old file stays until the close.
  if (!exists(path)) return std::fopen(s.path.c_str(), "w+b");
  if (!copy_file(path, s.path)) return nullptr;
  return std::fopen(s.path.c_str(), "r+b");
}

void open_reply(int code, uint8_t status, int slot) {
  uint8_t* data = m4::begin_reply(code, status);
  data[0] = static_cast<uint8_t>(slot);
  m4::finish_reply(1);
}

void cmd_open(int code) {
  const uint8_t mode = m4::packet()[3];
  const std::string name = text_param(4);
  const int n = choose_slot(mode);
  if (n < 0) return open_reply(code, m4::ERR_NO_SLOT, 0);
  FileSlot& s = sd.slots[n];
  s = FileSlot{};
  s.mode = mode;
  if (sd_dsk_entered()) {
    if (mode & MODE_WRITE) return open_reply(code, m4::ERR_IN_DSK, 0xFF);
    if (!sd_dsk_read_file(name, s.dsk_data)) return open_reply(code, m4::ERR_NOT_FOUND, 0xFF);
    s.open = s.in_dsk = true;
    return open_reply(code, m4::OK, n);
  }
  s.file = (mode & MODE_WRITE) ? open_for_writing(s, name, mode) : open_for_reading(s, name);
  if (!s.file) {
    const uint8_t status = m4::errno_status(errno);
    s = FileSlot{};
    return open_reply(code, status, 0xFF);
  }
  s.open = true;
  open_reply(code, m4::OK, n);
}

long position(const FileSlot& s) {
  return s.in_dsk ? static_cast<long>(s.dsk_pos) : std::ftell(s.file);
}

long file_size(const FileSlot& s) {
  if (s.in_dsk) return static_cast<long>(s.dsk_data.size());
  struct stat st;
  return ::fstat(::fileno(s.file), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// Reads up to count bytes; the first record read at position 0 is kept as the header
// candidate. A protected file reaches the CPC unscrambled, as AMSDOS reads it from disc.
int read_bytes(FileSlot& s, uint8_t* out, int count) {
  const long start = position(s);
  int n;
  if (s.in_dsk) {
    const std::size_t left = s.dsk_data.size() - std::min(s.dsk_pos, s.dsk_data.size());
    n = static_cast<int>(std::min<std::size_t>(left, static_cast<std::size_t>(count)));
    std::memcpy(out, s.dsk_data.data() + s.dsk_pos, static_cast<std::size_t>(n));
    s.dsk_pos += static_cast<std::size_t>(n);
  } else {
    n = static_cast<int>(std::fread(out, 1, static_cast<std::size_t>(count), s.file));
  }
  if (start == 0 && n >= HEADER_SIZE) {
    std::memcpy(s.header, out, HEADER_SIZE);
    s.has_header = header_valid(s.header);
  }
  if (is_protected(s)) protection_transform(out, n, start);
  return n;
}

void cmd_read(int code) {
  const uint8_t* p = m4::packet();
  FileSlot* s = slot_of(p[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  const int count = std::min(word16(p + 4), READ_MAX);
  uint8_t* data = m4::begin_reply(code, m4::OK);
  const int n = read_bytes(*s, data, count);
  if (n == 0 && count > 0) data[-1] = m4::ERR_END_OF_FILE;
  m4::finish_reply(n);
}

// A protected file is stored scrambled, as AMSDOS writes it, so that it reads back the
// same way as one copied from a disc.
bool write_bytes(FileSlot& s, const uint8_t* data, int count) {
  if (s.in_dsk || !(s.mode & MODE_WRITE) || !s.file) return false;
  const long start = position(s);
  if (start == 0 && count >= HEADER_SIZE) {
    std::memcpy(s.header, data, HEADER_SIZE);
    s.has_header = header_valid(s.header);
  }
  std::vector<uint8_t> stored(data, data + count);
  if (is_protected(s)) protection_transform(stored.data(), count, start);
  return std::fwrite(stored.data(), 1, stored.size(), s.file) == stored.size();
}

void cmd_write(int code) {
  FileSlot* s = slot_of(m4::packet()[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  const int count = std::max(0, m4::packet_size() - 3);
  m4::reply_status(code, write_bytes(*s, m4::packet() + 4, count) ? m4::OK : m4::errno_status(errno));
}

void cmd_write_block(int code) {
  const uint8_t* p = m4::packet();
  FileSlot* s = slot_of(p[3]);
  if (!s || !(s->mode & MODE_ANY_SLOT)) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  const int count = std::min(word16(p + 4), std::max(0, m4::packet_bytes() - 6));
  m4::reply_status(code, write_bytes(*s, p + 6, count) ? m4::OK : m4::errno_status(errno));
}

void cmd_close(int code) {
  FileSlot* s = slot_of(m4::packet()[3]);
  m4::reply_status(code, s && close_slot(*s) ? m4::OK : m4::ERR_FAILED);
}

void cmd_seek(int code) {
  const uint8_t* p = m4::packet();
  FileSlot* s = slot_of(p[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  const long offset = static_cast<long>(static_cast<uint32_t>(word16(p + 4) | word16(p + 6) << 16));
  bool ok = true;
  if (s->in_dsk) {
    s->dsk_pos = static_cast<std::size_t>(offset);
  } else {
    ok = std::fseek(s->file, offset, SEEK_SET) == 0;
  }
  m4::reply_status(code, ok ? m4::OK : m4::errno_status(errno));
}

void cmd_end_of_file(int code) {
  FileSlot* s = slot_of(m4::packet()[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  m4::reply_status(code, position(*s) >= file_size(*s) ? m4::OK : m4::ERR_FAILED);
}

// Position and size replies carry their bytes straight after the code.
void reply_number(int code, long value, int bytes) {
  uint8_t* data = m4::begin_reply(code, 0) - 1;
  for (int i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  m4::finish_reply(bytes - 1);
}

void cmd_position(int code) {
  FileSlot* s = slot_of(m4::packet()[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  reply_number(code, position(*s), 3);
}

void cmd_size(int code) {
  FileSlot* s = slot_of(m4::packet()[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  reply_number(code, file_size(*s), 4);
}

void cmd_read_block(int code) {
  const uint8_t* p = m4::packet();
  FileSlot* s = slot_of(p[3]);
  if (!s) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  const int count = std::min(word16(p + 4), BLOCK_MAX);
  uint8_t* data = m4::begin_reply(code, m4::OK);
  const int n = read_bytes(*s, data + BLOCK_DATA - 4, count);
  const long at = position(*s);
  if (n < count) data[-1] = m4::ERR_END_OF_FILE;
  data[0] = static_cast<uint8_t>(n);
  data[1] = static_cast<uint8_t>(n >> 8);
  data[2] = static_cast<uint8_t>(at);
  data[3] = static_cast<uint8_t>(at >> 8);
  m4::finish_reply(BLOCK_DATA - 4 + n);
}

// ---- Directories --------------------------------------------------------------------------------

void cmd_change_directory(int code) {
  const std::string name = text_param(3);
  if (name.empty()) return m4::reply_status(code, m4::ERR_EMPTY_NAME);
  const std::string relative = relative_host_path(name);
  const std::string path = relative.empty() ? m4::sd_root() : m4::sd_root() + "/" + relative;
  if (relative.size() > MAX_CURRENT_DIR) return m4::reply_status(code, m4::ERR_FAILED);
  sd_dsk_leave();
  if (is_directory(path)) {
    sd.current = relative;
    return m4::reply_status(code, m4::OK);
  }
  if (same_text(extension_of(relative), "DSK") && sd_dsk_enter(path)) {
    sd.current = relative;
    return m4::reply_status(code, m4::OK);
  }
  // A failed change leaves the directory as it was, with a DSK image entered again.
  if (same_text(extension_of(sd.current), "DSK")) sd_dsk_enter(m4::sd_root() + "/" + sd.current);
  m4::reply_status(code, m4::ERR_FAILED);
}

void cmd_current_directory(int code) {
  const std::string text = "/" + sd.current;
  m4::set_message(text);
  m4::reply_text(code, text.c_str());
}

void cmd_free_space(int code) {
  struct statvfs fs;
  if (::statvfs(m4::sd_root().c_str(), &fs) != 0) return m4::reply_status(code, m4::OK);
  char text[64];
  const long kb = static_cast<long>(fs.f_bavail * fs.f_frsize / 1024);
  std::snprintf(text, sizeof text, "\r\n%4ldK free\r\n\r\n", kb);
  m4::reply_text(code, text);
}

ListEntry list_entry(const std::string& dir, const std::string& host, const std::string& shown) {
  ListEntry e;
  const auto dot = shown.rfind('.');
  e.name = dot == std::string::npos || dot == 0 ? shown : shown.substr(0, dot);
  e.extension = dot == std::string::npos || dot == 0 ? "" : shown.substr(dot + 1);
  struct stat st;
  if (::stat((dir + "/" + host).c_str(), &st) == 0) {
    e.directory = S_ISDIR(st.st_mode);
    e.read_only = !(st.st_mode & S_IWUSR);
    e.records = static_cast<long>((st.st_size + 127) / 128);
  }
  if (e.directory) e.name = shown;
  return e;
}

bool listing_order(const ListEntry& a, const ListEntry& b) {
  auto rank = [](const ListEntry& e) { return e.name == "." ? 0 : e.name == ".." ? 1 : 2; };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  return upper(a.name.substr(0, 11)) < upper(b.name.substr(0, 11));
}

void collect_listing(bool long_names) {
  sd.listing.clear();
  std::string where = sd.listing_path.empty() ? "" : sd.listing_path;
  std::string pattern = "*";
  std::vector<std::string> parts = cpc_components(where);
  if (!parts.empty() && has_wildcard(parts.back())) {
    pattern = parts.back();
    parts.pop_back();
  }
  std::string relative;
  for (const std::string& part : parts) relative += "/" + part;
  const std::string dir = host_path(relative.empty() ? "/" : relative);
  if (sd_dsk_entered() && sd.listing_path.empty()) {
    for (const SdDskEntry& f : sd_dsk_list()) sd.listing.push_back({f.name, f.extension, f.read_only, false, f.records});
  } else {
    const bool at_root = dir == m4::sd_root();
    for (const HostEntry& h : read_host_directory(dir)) {
      const bool dots = h.name == "." || h.name == "..";
      if (dots && at_root) continue;
      if (!dots && (h.name[0] == '.' || !pattern_matches(pattern, h))) continue;
      sd.listing.push_back(list_entry(dir, h.name, long_names ? h.name : h.short_name));
    }
  }
  std::stable_sort(sd.listing.begin(), sd.listing.end(), listing_order);
  sd.listing_next = 0;
  sd.listing_state = 1;
}

std::string entry_text(const ListEntry& e, bool long_names) {
  char text[600];
  const int kb = static_cast<int>((e.records * 128 + 1023) / 1024);
  const char ro = e.read_only ? '*' : ' ';
  if (e.directory) {
    std::snprintf(text, sizeof text, long_names ? ">%s" : ">%-16.16s", e.name.c_str());
  } else if (long_names) {
    std::snprintf(text, sizeof text, "%s.%s%c %3dK", e.name.c_str(), e.extension.c_str(), ro, kb);
  } else {
    std::snprintf(text, sizeof text, "%-8.8s.%-3.3s%c%3dK", e.name.c_str(), e.extension.c_str(), ro, kb);
  }
  return text;
}

void cmd_list(int code) {
  const bool long_names = m4::packet()[3] != 0;
  if (sd.listing_state == -1) collect_listing(long_names);
  if (sd.listing_state == 0 || sd.listing_next >= sd.listing.size()) {
    sd.listing_state = -1;
    return m4::reply_text(code, "");
  }
  m4::reply_text(code, entry_text(sd.listing[sd.listing_next++], long_names).c_str());
  if (sd.listing_next >= sd.listing.size()) sd.listing_state = 0;
}

void cmd_set_listing_path(int code) {
  sd.listing_path = text_param(3);
  sd.listing_state = -1;
  m4::reply_status(code, m4::OK);
}

// ---- Files by name ------------------------------------------------------------------------------

void reply_host_error(int code, const char* format = "%s") {
  const int error = errno;
  char text[300];
  std::snprintf(text, sizeof text, format, std::strerror(error));
  m4::reply_status_text(code, m4::errno_status(error), text);
}

void cmd_erase(int code) {
  const std::string name = text_param(3);
  if (name.empty()) return m4::reply_status_text(code, m4::ERR_NOT_FOUND, "Invalid argument.");
  auto parts = cpc_components(name);
  if (parts.empty()) return m4::reply_status_text(code, m4::ERR_NOT_FOUND, "Invalid argument.");
  if (!has_wildcard(parts.back())) {
    if (std::remove(host_path(name).c_str()) != 0) return reply_host_error(code);
    return m4::reply_status(code, m4::OK);
  }
  const std::string pattern = parts.back();
  parts.pop_back();
  std::string relative;
  for (const std::string& part : parts) relative += "/" + part;
  const std::string dir = host_path(relative.empty() ? "/" : relative);
  bool failed = false;
  for (const HostEntry& h : read_host_directory(dir)) {
    if (h.directory || h.name[0] == '.' || !pattern_matches(pattern, h)) continue;
    if (std::remove((dir + "/" + h.name).c_str()) != 0) failed = true;
  }
  if (failed) return reply_host_error(code, "Last error: %s");
  m4::reply_status(code, m4::OK);
}

void cmd_rename(int code) {
  const std::string to = text_param(3);
  const std::string from = text_param(3 + static_cast<int>(to.size()) + 1);
  if (to.empty() || from.empty()) return m4::reply_status(code, m4::ERR_EMPTY_NAME);
  if (std::rename(host_path(from).c_str(), host_path(to).c_str()) != 0) return reply_host_error(code);
  m4::reply_status(code, m4::OK);
}

void cmd_make_directory(int code) {
  const std::string name = text_param(3);
  if (name.empty()) return m4::reply_status(code, m4::ERR_EMPTY_NAME);
  if (::mkdir(host_path(name).c_str(), 0700) != 0) return reply_host_error(code);
  m4::reply_status(code, m4::OK);
}

void cmd_copy(int code) {
  const std::string from = text_param(3);
  const std::string to = text_param(3 + static_cast<int>(from.size()) + 1);
  if (to.empty() || from.empty()) return m4::reply_status(code, m4::ERR_EMPTY_NAME);
  const std::string source = host_path(from);
  if (is_directory(source)) {
    errno = EISDIR;
    return reply_host_error(code);
  }
  if (!copy_file(source, host_path(to))) return reply_host_error(code);
  m4::reply_status(code, m4::OK);
}

// 0x4316: size (4), FAT date (2), FAT time (2), directory flag, then the 8.3 name at 13
// and the long name at 26.
void cmd_file_info(int code) {
  constexpr int SHORT_AT = 13 - 4, LONG_AT = 26 - 4, LONG_MAX = 255 - 25 - 1;
  const std::string relative = relative_host_path(text_param(3));
  const std::string path = m4::sd_root() + "/" + relative;
  struct stat st;
  if (relative.empty() || ::stat(path.c_str(), &st) != 0) return m4::reply_status(code, m4::errno_status(errno));
  uint8_t* data = m4::begin_reply(code, m4::OK);
  std::memset(data, 0, LONG_AT);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(st.st_size >> (8 * i));
  struct tm t;
  localtime_r(&st.st_mtime, &t);
  const int date = ((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday;
  const int time = (t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2);
  data[4] = static_cast<uint8_t>(date);
  data[5] = static_cast<uint8_t>(date >> 8);
  data[6] = static_cast<uint8_t>(time);
  data[7] = static_cast<uint8_t>(time >> 8);
  data[8] = S_ISDIR(st.st_mode) ? 1 : 0;
  const auto slash = relative.rfind('/');
  const std::string dir = slash == std::string::npos ? m4::sd_root() : m4::sd_root() + "/" + relative.substr(0, slash);
  const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  for (const HostEntry& h : read_host_directory(dir)) {
    if (h.name == name) std::snprintf(reinterpret_cast<char*>(data + SHORT_AT), 13, "%s", h.short_name.c_str());
  }
  const std::string long_name = name.substr(0, LONG_MAX);
  std::memcpy(data + LONG_AT, long_name.c_str(), long_name.size() + 1);
  m4::finish_reply(LONG_AT + static_cast<int>(long_name.size()) + 1);
}

// 0x4317: the slot then reads the plain snapshot from just after its header.
void cmd_convert_snapshot(int code) {
  FileSlot* s = slot_of(m4::packet()[3]);
  if (!s || s->in_dsk || !s->file) return m4::reply_status(code, m4::ERR_NOT_OPEN);
  const std::string target = m4::sd_root() + "/m4/TMP.BIN";
  ::mkdir((m4::sd_root() + "/m4").c_str(), 0700);
  std::FILE* out = std::fopen(target.c_str(), "wb+");
  if (!out) return m4::reply_status(code, m4::errno_status(errno));
  std::rewind(s->file);
  if (!m4::convert_snapshot(s->file, out)) {
    std::fclose(out);
    std::fseek(s->file, 0, SEEK_SET);
    return m4::reply_status(code, m4::ERR_FAILED);
  }
  std::fclose(s->file);
  s->file = out;
  s->path = target;
  std::fseek(out, 0x100, SEEK_SET);
  m4::reply_status(code, m4::OK);
}

// ---- DSK image sectors and extraction ------------------------------------------------------------

void cmd_read_sector(int code) {
  const uint8_t* p = m4::packet();
  uint8_t* data = m4::begin_reply(code, m4::OK);
  const int n = sd_dsk_read_sector(p[3], p[4], data, READ_MAX);
  if (n < 0) {
    std::fprintf(stderr, "readsec EMU_ERROR 0x%02X 0x%02X\n", p[4], p[3]);
    return m4::reply_status(code, m4::ERR_FAILED);
  }
  m4::finish_reply(n);
}

void cmd_write_sector(int code) {
  const uint8_t* p = m4::packet();
  const int count = std::max(0, m4::packet_bytes() - 5);
  m4::reply_status(code, sd_dsk_write_sector(p[3], p[4], p + 5, count) ? m4::OK : m4::ERR_FAILED);
}

void cmd_extract(int code) {
  std::vector<uint8_t> bytes;
  std::string name8, ext3;
  if (!sd_dsk_entered() || !sd_dsk_read_file(text_param(3), bytes, &name8, &ext3))
    return m4::reply_status(code, m4::ERR_FAILED);
  const auto slash = sd.current.rfind('/');
  const std::string dir = slash == std::string::npos ? m4::sd_root() : m4::sd_root() + "/" + sd.current.substr(0, slash);
  const std::string path = dir + "/" + name8 + (ext3.empty() ? "" : "." + ext3);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out && std::fclose(out) != 0) ok = false;
  if (!ok) return m4::reply_status(code, m4::ERR_FAILED);
  char text[32];
  std::snprintf(text, sizeof text, "%-8.8s.%-3.3s\r\n", name8.c_str(), ext3.c_str());
  m4::reply_status_text(code, m4::OK, text);
}

// ---- The virtual SD image ------------------------------------------------------------------------

// 0x4314: sector number (4), count; the sectors follow the status. As many as the reply
// holds are given.
void cmd_read_image(int code) {
  const uint8_t* p = m4::packet();
  const uint32_t first = static_cast<uint32_t>(word16(p + 3) | (word16(p + 5) << 16));
  const int count = std::min<int>(p[7], READ_MAX / vsd::SECTOR_SIZE);
  uint8_t* data = m4::begin_reply(code, m4::OK);
  if (!vsd_read_sectors(first, count, data)) return m4::reply_status(code, m4::ERR_FAILED);
  m4::finish_reply(count * vsd::SECTOR_SIZE);
}

// 0x4315: sector number (4), count, data; only sectors the packet carries whole are written.
void cmd_write_image(int code) {
  constexpr int DATA_AT = 8;
  const uint8_t* p = m4::packet();
  const uint32_t first = static_cast<uint32_t>(word16(p + 3) | (word16(p + 5) << 16));
  const int count = std::min<int>(p[7], std::max(0, m4::packet_bytes() - DATA_AT) / vsd::SECTOR_SIZE);
  m4::reply_status(code, vsd_write_sectors(first, count, p + DATA_AT) ? m4::OK : m4::ERR_FAILED);
}

struct Command {
  int code;
  void (*run)(int code);
};

constexpr Command SD_COMMANDS[] = {
    {0x4301, cmd_open},           {0x4302, cmd_read},          {0x4303, cmd_write},
    {0x4304, cmd_close},          {0x4305, cmd_seek},          {0x4306, cmd_list},
    {0x4307, cmd_end_of_file},    {0x4308, cmd_change_directory}, {0x4309, cmd_free_space},
    {0x430A, cmd_position},       {0x430B, cmd_read_sector},   {0x430C, cmd_write_sector},
    {0x430E, cmd_erase},          {0x430F, cmd_rename},        {0x4310, cmd_make_directory},
    {0x4311, cmd_size},           {0x4312, cmd_read_block},    {0x4313, cmd_current_directory},
    {0x4314, cmd_read_image},     {0x4315, cmd_write_image}, {0x4316, cmd_file_info},
    {0x4317, cmd_convert_snapshot}, {0x431B, cmd_write_block}, {0x431C, cmd_copy},
    {0x4325, cmd_set_listing_path}, {0x432A, cmd_copy},        {0x4330, cmd_extract},
};

}  // namespace

bool sdcard_command(int code) {
  for (const Command& c : SD_COMMANDS) {
    if (c.code == code) {
      c.run(code);
      return true;
    }
  }
  return false;
}

void sdcard_reset() {
  for (FileSlot& s : sd.slots) {
    // A reset abandons written files: their temporaries are left, the old files stay.
    forget(s);
  }
  sd_dsk_leave();
  sd.current.clear();
  sd.listing_path.clear();
  sd.listing.clear();
  sd.listing_state = -1;
}

const std::string& sdcard_current_dir() { return sd.current; }

namespace m4 {

std::vector<std::string> short_names(const std::vector<std::string>& names, const std::vector<bool>& dirs) {
  std::vector<std::string> made;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    if (n == "." || n == ".." || n.empty()) {
      made.push_back(n);
      continue;
    }
    std::string s = upper(n);
    if (needs_short_name(n)) {
      s = "TOOMANY.NMS";
      for (int digit = 0; digit < SHORT_NAME_TRIES; ++digit) {
        const std::string tried = generate_short_name(n, dirs[i], digit);
        if (!short_name_taken(made, tried)) {
          s = tried;
          break;
        }
      }
    }
    made.push_back(s);
  }
  return made;
}

}  // namespace m4

std::string m4::sd_host_path(const std::string& cpc_name) { return host_path(cpc_name); }
