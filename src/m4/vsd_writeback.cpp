// Write-back of the virtual SD image: the files of a FAT32 image go into the SD directory.
// The image is outside data (the CPC and any tool may have written it), so every number
// read from it is checked against the file's real size, every cluster is taken at most
// once (a loop or a cross-link ends the chain), and every name becomes one path
// component below the SD directory or is passed over.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "m4/vsd_image.h"

namespace {

using vsd::SECTOR_SIZE;

constexpr int MAX_SECTORS_PER_CLUSTER = 128;
constexpr std::size_t MAX_NAME_BYTES = 255;

struct Card {
  std::FILE* file = nullptr;
  uint32_t sectors_per_cluster = 0;
  uint64_t data_start = 0;          // byte offset of cluster 2
  uint32_t clusters = 0;            // data clusters that lie inside the file
  std::vector<uint32_t> fat;        // the first FAT, clusters + 2 entries
  std::vector<bool> taken;          // clusters already given to a file or directory
  std::string image_path;          // never written over by a file of the image
  uint32_t cluster_bytes() const { return sectors_per_cluster * SECTOR_SIZE; }
};

uint32_t get16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) { return get16(p) | (get16(p + 2) << 16); }

bool read_at(std::FILE* f, uint64_t offset, void* out, std::size_t bytes) {
  return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(out, 1, bytes, f) == bytes;
}

bool power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The boot sector's numbers, checked against the file; the first FAT read in.
bool open_card(Card& card, uint64_t file_bytes) {
  uint8_t boot[SECTOR_SIZE];
  if (!read_at(card.file, 0, boot, SECTOR_SIZE)) return false;
  const uint32_t spc = boot[vsd::BPB_SECTORS_PER_CLUSTER];
  const uint32_t reserved = get16(boot + vsd::BPB_RESERVED);
  const uint32_t fats = boot[vsd::BPB_FATS];
  const uint32_t fat_sectors = get32(boot + vsd::BPB_FAT32_SIZE);
  if (get16(boot + vsd::BPB_BYTES_PER_SECTOR) != SECTOR_SIZE || !power_of_two(spc) ||
      spc > MAX_SECTORS_PER_CLUSTER || reserved == 0 || fats == 0 || fat_sectors == 0 ||
      get16(boot + vsd::BPB_ROOT_ENTRIES) != 0 || get16(boot + vsd::BPB_FAT16_SIZE) != 0 ||
      boot[vsd::BOOT_SIGNATURE] != 0x55 || boot[vsd::BOOT_SIGNATURE + 1] != 0xAA)
    return false;
  const uint64_t file_sectors = file_bytes / SECTOR_SIZE;
  const uint64_t total = std::min<uint64_t>(get32(boot + vsd::BPB_TOTAL32), file_sectors);
  const uint64_t data_start = reserved + static_cast<uint64_t>(fats) * fat_sectors;
  if (data_start >= total) return false;
  const uint64_t clusters = std::min<uint64_t>({(total - data_start) / spc, static_cast<uint64_t>(fat_sectors) * SECTOR_SIZE / 4 - 2,
                                                vsd::BAD_CLUSTER - 2});
  card.sectors_per_cluster = spc;
  card.data_start = data_start * SECTOR_SIZE;
  card.clusters = static_cast<uint32_t>(clusters);
  std::vector<uint8_t> raw((clusters + 2) * 4);
  if (!read_at(card.file, static_cast<uint64_t>(reserved) * SECTOR_SIZE, raw.data(), raw.size())) return false;
  card.fat.resize(clusters + 2);
  for (std::size_t i = 0; i < card.fat.size(); ++i) card.fat[i] = get32(raw.data() + 4 * i) & vsd::CLUSTER_MASK;
  card.taken.assign(clusters + 2, false);
  return true;
}

bool in_data(const Card& card, uint32_t cluster) { return cluster >= 2 && cluster < card.clusters + 2; }

// The clusters of a chain that nothing else has taken yet, marked as taken; the chain
// ends at its end mark, at a cluster outside the card or at one already taken.
std::vector<uint32_t> take_chain(Card& card, uint32_t first) {
  std::vector<uint32_t> chain;
  for (uint32_t c = first; in_data(card, c) && !card.taken[c]; c = card.fat[c]) {
    card.taken[c] = true;
    chain.push_back(c);
  }
  return chain;
}

bool read_cluster(const Card& card, uint32_t cluster, uint8_t* out) {
  return read_at(card.file, card.data_start + static_cast<uint64_t>(cluster - 2) * card.cluster_bytes(), out,
                 card.cluster_bytes());
}

// ---- Directory entries ---------------------------------------------------------------------

struct Entry {
  std::string name;
  bool directory = false;
  uint32_t first_cluster = 0, size = 0;
  uint16_t date = 0, time = 0;
};

// Gathers the parts of a long name before its short entry.
struct LongName {
  std::u16string text;
  int expected = 0;   // the ordinal the next entry must carry, 0 when none is pending
  uint8_t checksum = 0;
  bool valid = false;
  void reset() { *this = LongName{}; }
  void add(const uint8_t* e) {
    static constexpr int CHAR_AT[vsd::LONG_NAME_CHARS] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const int ordinal = e[0] & 0x3F;
    if (e[0] & vsd::LAST_LONG_ENTRY) {
      reset();
      expected = ordinal;
      checksum = e[13];
      text.assign(static_cast<std::size_t>(ordinal) * vsd::LONG_NAME_CHARS, u'\0');
    }
    if (ordinal == 0 || ordinal != expected || e[13] != checksum) return reset();
    for (int k = 0; k < vsd::LONG_NAME_CHARS; ++k) {
      text[static_cast<std::size_t>((ordinal - 1) * vsd::LONG_NAME_CHARS + k)] = static_cast<char16_t>(get16(e + CHAR_AT[k]));
    }
    --expected;
    valid = expected == 0;
  }
};

uint8_t short_checksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A long name as UTF-8 up to its terminating 0; empty when it is not proper UTF-16.
std::string long_text(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && text[i] != 0; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      return "";
    }
    append_utf8(out, c);
  }
  return out;
}

// A short name as "BASE.EXT", in lower case where the entry asks for it.
std::string short_text(const uint8_t* e) {
  auto part = [](const uint8_t* p, int n, bool lower) {
    std::string s(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    s.erase(s.find_last_not_of(' ') + 1);
    for (char& c : s) {
      if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
  };
  const std::string ext = part(e + 8, 3, e[12] & vsd::CASE_LOWER_EXT);
  std::string name = part(e, 8, e[12] & vsd::CASE_LOWER_BASE);
  if (!ext.empty()) name += "." + ext;
  // Code page bytes have no one host spelling; they become '_' as in a short name.
  for (char& c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '_';
  }
  return name;
}

// A name that is one harmless path component: not empty, not "." or "..", no '/', no
// control character, not too long.
bool usable_name(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > MAX_NAME_BYTES) return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\') return false;
  }
  return true;
}

// The entries of a directory's clusters (the chain already taken).
std::vector<Entry> directory_entries(const Card& card, const std::vector<uint32_t>& chain) {
  std::vector<Entry> entries;
  std::vector<uint8_t> bytes(card.cluster_bytes());
  LongName long_name;
  for (uint32_t cluster : chain) {
    if (!read_cluster(card, cluster, bytes.data())) break;
    for (std::size_t at = 0; at < bytes.size(); at += vsd::ENTRY_SIZE) {
      const uint8_t* e = bytes.data() + at;
      if (e[0] == 0) return entries;
      if (e[0] == vsd::DELETED) {
        long_name.reset();
      } else if ((e[11] & 0x3F) == vsd::ATTR_LONG_NAME) {
        long_name.add(e);
      } else if (!(e[11] & vsd::ATTR_VOLUME)) {
        Entry entry;
        if (long_name.valid && long_name.checksum == short_checksum(e)) entry.name = long_text(long_name.text);
        if (entry.name.empty()) entry.name = short_text(e);
        entry.directory = (e[11] & vsd::ATTR_DIRECTORY) != 0;
        entry.first_cluster = (get16(e + 20) << 16) | get16(e + 26);
        entry.size = get32(e + 28);
        entry.time = static_cast<uint16_t>(get16(e + 22));
        entry.date = static_cast<uint16_t>(get16(e + 24));
        entries.push_back(entry);
        long_name.reset();
      } else {
        long_name.reset();
      }
    }
  }
  return entries;
}

// ---- Host files -------------------------------------------------------------------------------

// Copies a file's bytes from its chain into an open host file.
bool copy_out(const Card& card, const std::vector<uint32_t>& chain, uint32_t size, int fd) {
  std::vector<uint8_t> bytes(card.cluster_bytes());
  uint32_t left = size;
  for (std::size_t i = 0; left > 0 && i < chain.size(); ++i) {
    if (!read_cluster(card, chain[i], bytes.data())) return false;
    const uint32_t n = std::min<uint32_t>(left, card.cluster_bytes());
    if (::write(fd, bytes.data(), n) != static_cast<ssize_t>(n)) return false;
    left -= n;
  }
  return true;
}

// The host file gets the entry's time, so an unchanged file compares equal next time.
void set_time(int fd, const Entry& e) {
  struct tm t = {};
  t.tm_year = (e.date >> 9) + 80;
  t.tm_mon = ((e.date >> 5) & 0x0F) - 1;
  t.tm_mday = e.date & 0x1F;
  t.tm_hour = e.time >> 11;
  t.tm_min = (e.time >> 5) & 0x3F;
  t.tm_sec = (e.time & 0x1F) * 2;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  if (when == static_cast<std::time_t>(-1)) return;
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ::futimens(fd, times);
}

void write_file(Card& card, const Entry& e, const std::string& path) {
  struct stat st;
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    std::printf("Virtual SD card: %s is not a plain file on the host, left as it is\n", path.c_str());
    return;
  }
  const std::vector<uint32_t> chain = take_chain(card, e.first_cluster);
  if (exists) {
    uint16_t date, time;
    vsd::fat_time(static_cast<long long>(st.st_mtime), date, time);
    if (date == e.date && time == e.time) return;
  }
  if (static_cast<uint64_t>(chain.size()) * card.cluster_bytes() < e.size) {
    std::printf("Virtual SD card: %s has lost clusters in the image, left as it is\n", path.c_str());
    return;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
  const bool ok = fd >= 0 && copy_out(card, chain, e.size, fd);
  const int error = errno;
  if (fd >= 0) {
    set_time(fd, e);
    ::close(fd);
  }
  if (!ok) std::printf(exists ? "Error updating %s from virtual SD card: %d\n" : "Error creating %s from virtual SD card: %d\n", path.c_str(), error);
}

void write_directory(Card& card, const std::vector<uint32_t>& chain, const std::string& host_dir, int depth);

void enter_directory(Card& card, const Entry& e, const std::string& path, int depth) {
  if (depth >= vsd::MAX_DEPTH) return;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (::mkdir(path.c_str(), 0700) != 0) {
      std::printf("Error creating %s from virtual SD card: %d\n", path.c_str(), errno);
      return;
    }
  } else if (!S_ISDIR(st.st_mode)) {
    std::printf("Virtual SD card: %s is not a directory on the host, left as it is\n", path.c_str());
    return;
  }
  write_directory(card, take_chain(card, e.first_cluster), path, depth + 1);
}

void write_directory(Card& card, const std::vector<uint32_t>& chain, const std::string& host_dir, int depth) {
  for (const Entry& e : directory_entries(card, chain)) {
    if (e.name == "." || e.name == "..") continue;
    if (!usable_name(e.name)) {
      std::printf("Virtual SD card: a name in %s cannot be a host file name, passed over\n", host_dir.c_str());
      continue;
    }
    const std::string path = host_dir + "/" + e.name;
    if (path == card.image_path) continue;
    if (e.directory) {
      enter_directory(card, e, path, depth);
    } else {
      write_file(card, e, path);
    }
  }
}

}  // namespace

bool vsd_write_back(const std::string& image_path, const std::string& sd_root) {
  Card card;
  card.image_path = image_path;
  card.file = std::fopen(image_path.c_str(), "rb");
  if (!card.file) return false;
  struct stat st;
  bool ok = ::fstat(::fileno(card.file), &st) == 0 && open_card(card, static_cast<uint64_t>(st.st_size));
  if (ok) {
    uint8_t boot[SECTOR_SIZE];
    ok = read_at(card.file, 0, boot, SECTOR_SIZE);
    if (ok) write_directory(card, take_chain(card, get32(boot + vsd::BPB_ROOT_CLUSTER) & vsd::CLUSTER_MASK), sd_root, 0);
  } else {
    std::printf("Virtual SD card: %s is not a FAT32 image, nothing written back\n", image_path.c_str());
  }
  std::fclose(card.file);
  std::fflush(stdout);
  return ok;
}
