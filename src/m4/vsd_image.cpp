// The virtual SD image: lays the SD directory out as a FAT32 card and serves its sectors.
#include "m4/vsd_image.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace {

using vsd::SECTOR_SIZE;

constexpr char VOLUME_LABEL[] = "CPCSD      ";  // 11 bytes, blank padded
constexpr uint32_t MIN_CLUSTERS = 65536;  // below 65525 clusters a card is not FAT32
constexpr uint32_t FREE_CLUSTERS = 32768; // room for the CPC to write (16 MB)
constexpr uint32_t MAX_FILE_SIZE = 0xFFFFFFFFu;
constexpr int FAT_ENTRIES_PER_SECTOR = SECTOR_SIZE / 4;
constexpr uint32_t FSINFO_LEAD = 0x41615252;    // "RRaA"
constexpr uint32_t FSINFO_STRUCT = 0x61417272;  // "rrAa"
constexpr uint32_t FSINFO_TRAIL = 0xAA550000;
constexpr int FSINFO_STRUCT_AT = 484;
constexpr int FSINFO_FREE_AT = 488;
constexpr int FSINFO_NEXT_AT = 492;
constexpr int FSINFO_TRAIL_AT = 508;
constexpr uint8_t MEDIA_FIXED = 0xF8;

// One file or directory of the image.
struct Node {
  std::string host_path;
  std::u16string long_name;     // empty for the root
  uint8_t short_name[11] = {};
  bool needs_long_name = false; // the short name alone does not give the host name
  bool directory = false;
  bool read_only = false;
  uint32_t size = 0;            // file bytes (directories: 0, as FAT wants)
  uint16_t date = 0, time = 0;
  uint32_t first_cluster = 0, clusters = 0;
  int parent = -1;
  std::vector<int> children;
  std::vector<uint8_t> entries; // a directory's entries, whole clusters
};

// A run of clusters belonging to one node.
struct Run {
  uint32_t first, count;
  int node;
};

struct Layout {
  std::vector<Node> nodes;      // nodes[0] is the root
  std::vector<Run> runs;        // by first cluster
  uint32_t clusters = 0;        // data clusters of the card
  uint32_t used = 0;
  uint32_t fat_sectors = 0;
  uint32_t total_sectors = 0;
  uint32_t data_start() const { return vsd::RESERVED_SECTORS + vsd::FAT_COUNT * fat_sectors; }
};

struct Image {
  bool made = false;
  std::string root, path;
  int mode = 0;
  std::unique_ptr<Layout> layout;               // built at the first sector access
  std::FILE* file = nullptr;                    // mode 0's image file
  std::map<uint32_t, std::vector<uint8_t>> written;  // other modes: sectors the CPC wrote
};

Image image;

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

// ---- Names ------------------------------------------------------------------------------

// The host name as UTF-16; false for bytes that are not UTF-8 or a name FAT cannot hold.
bool utf16_name(const std::string& name, std::u16string& out) {
  out.clear();
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= name.size()) return false;
    uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(name[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    i += 1 + extra;
    if (cp < 0x20 || (cp < 0x80 && std::strchr("*:<>|?\"\\", static_cast<int>(cp)))) return false;
    if ((cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return !out.empty() && out.size() <= 255;
}

// U+00C0-U+00FF in upper case as code page 850 bytes (0: none there).
constexpr uint8_t CP850_UPPER[64] = {
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0,
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0xF6, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0};
constexpr char16_t CP850_FIRST = 0xC0;

// A character as it may stand in a short name: upper case, in code page 850; '_' for
// one that may not ("+,;=[]", blanks, and what code page 850 lacks).
char short_char(char16_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<char>(c);
  if (c < 0x80 && std::strchr("!#$%&'()-@^_`{}~", static_cast<int>(c))) return static_cast<char>(c);
  if (c >= CP850_FIRST && c < CP850_FIRST + 64 && CP850_UPPER[c - CP850_FIRST]) {
    return static_cast<char>(CP850_UPPER[c - CP850_FIRST]);
  }
  return '_';
}

// The name as an 11-byte short name when it is a plain 8.3 name already.
bool plain_short_name(const std::u16string& name, uint8_t out[11]) {
  const auto dot = name.rfind(u'.');
  const std::u16string base = dot == std::u16string::npos ? name : name.substr(0, dot);
  const std::u16string ext = dot == std::u16string::npos ? u"" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != std::u16string::npos && ext.empty()))
    return false;
  std::memset(out, ' ', 11);
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (short_char(base[i]) == '_' && base[i] != u'_') return false;
    out[i] = static_cast<uint8_t>(short_char(base[i]));
  }
  for (std::size_t i = 0; i < ext.size(); ++i) {
    if (short_char(ext[i]) == '_' && ext[i] != u'_') return false;
    out[8 + i] = static_cast<uint8_t>(short_char(ext[i]));
  }
  return true;
}

using ShortNames = std::vector<std::array<uint8_t, 11>>;

bool short_name_used(const ShortNames& used, const uint8_t name[11]) {
  for (const auto& u : used) {
    if (std::memcmp(u.data(), name, 11) == 0) return true;
  }
  return false;
}

// "BASE~N.EXT" made from the long name, N raised until the name is free in its directory.
void numbered_short_name(const std::u16string& name, const ShortNames& used,
                         uint8_t out[11]) {
  auto dot = name.rfind(u'.');
  if (dot == 0) dot = std::u16string::npos;  // ".profile": all of it is the base
  std::string base, ext;
  for (std::size_t i = 0; i < (dot == std::u16string::npos ? name.size() : dot); ++i) {
    if (name[i] != u' ' && name[i] != u'.') base += short_char(name[i]);
  }
  if (dot != std::u16string::npos) {
    for (std::size_t i = dot + 1; i < name.size() && ext.size() < 3; ++i) {
      if (name[i] != u' ') ext += short_char(name[i]);
    }
  }
  if (base.empty()) base = "_";
  for (unsigned n = 1;; ++n) {
    const std::string tail = "~" + std::to_string(n);
    const std::string head = base.substr(0, 8 - tail.size()) + tail;
    std::memset(out, ' ', 11);
    std::memcpy(out, head.data(), head.size());
    std::memcpy(out + 8, ext.data(), ext.size());
    if (!short_name_used(used, out)) return;
  }
}

uint8_t short_checksum(const uint8_t name[11]) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

// ---- Walking the SD directory -------------------------------------------------------------

struct HostItem {
  std::string name;
  struct stat st;
};

// The entries of a directory that can go onto the card: regular files (also through a
// link) and real directories; links to directories are left out, so the tree has no loops.
std::vector<HostItem> host_items(const std::string& dir, const std::string& skip_path) {
  std::vector<HostItem> items;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return items;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    HostItem item{name, {}};
    struct stat link;
    if (path == skip_path || ::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &item.st) != 0) continue;
    const bool file = S_ISREG(item.st.st_mode) && static_cast<uint64_t>(item.st.st_size) <= MAX_FILE_SIZE;
    const bool directory = S_ISDIR(link.st_mode);
    if (file || directory) items.push_back(item);
  }
  ::closedir(d);
  std::sort(items.begin(), items.end(), [](const HostItem& a, const HostItem& b) { return a.name < b.name; });
  return items;
}

// "BASE.EXT" as the 11 bytes of a short name read.
std::string short_name_text(const uint8_t name[11]) {
  std::string base(reinterpret_cast<const char*>(name), 8);
  base.erase(base.find_last_not_of(' ') + 1);
  std::string ext(reinterpret_cast<const char*>(name + 8), 3);
  ext.erase(ext.find_last_not_of(' ') + 1);
  return ext.empty() ? base : base + "." + ext;
}

// The node's short name, unique in its directory; a long name is written whenever the
// short name does not spell the host name exactly.
void give_short_name(Node& node, const std::string& host_name, ShortNames& used) {
  if (!plain_short_name(node.long_name, node.short_name) || short_name_used(used, node.short_name)) {
    numbered_short_name(node.long_name, used, node.short_name);
  }
  std::array<uint8_t, 11> taken;
  std::memcpy(taken.data(), node.short_name, 11);
  used.push_back(taken);
  node.needs_long_name = short_name_text(node.short_name) != host_name;
}

bool make_node(const HostItem& item, const std::string& dir, int parent, Node& node) {
  if (!utf16_name(item.name, node.long_name)) {
    std::fprintf(stderr, "Virtual SD card: %s/%s left out (name not possible on a FAT card)\n", dir.c_str(),
                 item.name.c_str());
    return false;
  }
  node.host_path = dir + "/" + item.name;
  node.directory = S_ISDIR(item.st.st_mode);
  node.read_only = !(item.st.st_mode & S_IWUSR);
  node.size = node.directory ? 0 : static_cast<uint32_t>(item.st.st_size);
  vsd::fat_time(static_cast<long long>(item.st.st_mtime), node.date, node.time);
  node.parent = parent;
  return true;
}

// The files and folders below a directory node, depth first; folders deeper than
// MAX_DEPTH levels are left out.
void add_children(Layout& layout, int parent, const std::string& skip_path, int depth) {
  ShortNames used;
  const std::string dir = layout.nodes[parent].host_path;
  for (const HostItem& item : host_items(dir, skip_path)) {
    Node node;
    if (!make_node(item, dir, parent, node) || (node.directory && depth >= vsd::MAX_DEPTH)) continue;
    give_short_name(node, item.name, used);
    layout.nodes.push_back(node);
    const int index = static_cast<int>(layout.nodes.size()) - 1;
    layout.nodes[parent].children.push_back(index);
    if (node.directory) add_children(layout, index, skip_path, depth + 1);
  }
}

// ---- Laying out clusters -------------------------------------------------------------------

int long_entries(const Node& n) {
  return n.needs_long_name ? static_cast<int>((n.long_name.size() + vsd::LONG_NAME_CHARS - 1) / vsd::LONG_NAME_CHARS) : 0;
}

uint32_t directory_entries(const Layout& layout, int index) {
  const Node& dir = layout.nodes[index];
  uint32_t count = 2;  // the volume label in the root, "." and ".." elsewhere (one spare)
  for (int child : dir.children) count += 1 + static_cast<uint32_t>(long_entries(layout.nodes[child]));
  return count + 1;    // and the end marker
}

void allocate(Layout& layout) {
  uint32_t next = vsd::ROOT_CLUSTER;
  for (std::size_t i = 0; i < layout.nodes.size(); ++i) {
    Node& n = layout.nodes[i];
    const uint32_t bytes = n.directory || i == 0 ? directory_entries(layout, static_cast<int>(i)) * vsd::ENTRY_SIZE : n.size;
    n.clusters = (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE;
    if (n.clusters == 0) continue;
    n.first_cluster = next;
    layout.runs.push_back({next, n.clusters, static_cast<int>(i)});
    next += n.clusters;
  }
  layout.used = next - vsd::ROOT_CLUSTER;
  layout.clusters = std::max(MIN_CLUSTERS, layout.used + FREE_CLUSTERS);
  layout.fat_sectors = ((layout.clusters + 2) * 4 + SECTOR_SIZE - 1) / SECTOR_SIZE;
  layout.total_sectors = layout.data_start() + layout.clusters;
}

void short_entry(uint8_t* e, const uint8_t name[11], int attributes, uint32_t cluster, const Node* n) {
  std::memcpy(e, name, 11);
  e[11] = static_cast<uint8_t>(attributes);
  put16(e + 20, cluster >> 16);
  put16(e + 26, cluster & 0xFFFF);
  if (!n) return;
  put16(e + 14, n->time);
  put16(e + 16, n->date);
  put16(e + 18, n->date);
  put16(e + 22, n->time);
  put16(e + 24, n->date);
  put32(e + 28, n->size);
}

// The long name entries before a short entry, last part first.
uint8_t* long_name_entries(uint8_t* e, const Node& n) {
  static constexpr int CHAR_AT[vsd::LONG_NAME_CHARS] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const int parts = long_entries(n);
  const uint8_t sum = short_checksum(n.short_name);
  for (int part = parts; part >= 1; --part, e += vsd::ENTRY_SIZE) {
    e[0] = static_cast<uint8_t>(part | (part == parts ? vsd::LAST_LONG_ENTRY : 0));
    e[11] = vsd::ATTR_LONG_NAME;
    e[13] = sum;
    for (int k = 0; k < vsd::LONG_NAME_CHARS; ++k) {
      const std::size_t at = static_cast<std::size_t>((part - 1) * vsd::LONG_NAME_CHARS + k);
      const uint16_t c = at < n.long_name.size() ? n.long_name[at] : at == n.long_name.size() ? 0 : 0xFFFF;
      put16(e + CHAR_AT[k], c);
    }
  }
  return e;
}

void fill_directory(Layout& layout, int index) {
  Node& dir = layout.nodes[index];
  dir.entries.assign(static_cast<std::size_t>(dir.clusters) * SECTOR_SIZE, 0);
  uint8_t* e = dir.entries.data();
  if (index == 0) {
    short_entry(e, reinterpret_cast<const uint8_t*>(VOLUME_LABEL), vsd::ATTR_VOLUME, 0, nullptr);
    e += vsd::ENTRY_SIZE;
  } else {
    const uint8_t dot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    uint8_t dotdot[11];
    std::memcpy(dotdot, dot, 11);
    dotdot[1] = '.';
    const uint32_t up = dir.parent <= 0 ? 0 : layout.nodes[dir.parent].first_cluster;
    short_entry(e, dot, vsd::ATTR_DIRECTORY, dir.first_cluster, &dir);
    short_entry(e + vsd::ENTRY_SIZE, dotdot, vsd::ATTR_DIRECTORY, up, &dir);
    e += 2 * vsd::ENTRY_SIZE;
  }
  for (int child : dir.children) {
    const Node& n = layout.nodes[child];
    e = long_name_entries(e, n);
    const int attributes = (n.directory ? vsd::ATTR_DIRECTORY : vsd::ATTR_ARCHIVE) | (n.read_only ? vsd::ATTR_READ_ONLY : 0);
    short_entry(e, n.short_name, attributes, n.first_cluster, &n);
    e += vsd::ENTRY_SIZE;
  }
}

std::unique_ptr<Layout> lay_out(const std::string& root, const std::string& skip_path) {
  auto layout = std::make_unique<Layout>();
  Node top;
  top.host_path = root;
  top.directory = true;
  layout->nodes.push_back(top);
  add_children(*layout, 0, skip_path, 0);
  allocate(*layout);
  for (std::size_t i = 0; i < layout->nodes.size(); ++i) {
    if (layout->nodes[i].directory) fill_directory(*layout, static_cast<int>(i));
  }
  return layout;
}

// ---- Sectors ---------------------------------------------------------------------------------

void boot_sector(const Layout& l, uint8_t* s) {
  static constexpr uint8_t JUMP[3] = {0xEB, 0x58, 0x90};
  std::memcpy(s, JUMP, 3);
  std::memcpy(s + 3, "ARVELO  ", 8);
  put16(s + vsd::BPB_BYTES_PER_SECTOR, SECTOR_SIZE);
  s[vsd::BPB_SECTORS_PER_CLUSTER] = 1;
  put16(s + vsd::BPB_RESERVED, vsd::RESERVED_SECTORS);
  s[vsd::BPB_FATS] = vsd::FAT_COUNT;
  s[21] = MEDIA_FIXED;
  put16(s + 24, 63);   // sectors a track and heads, for tools that want a geometry
  put16(s + 26, 255);
  put32(s + vsd::BPB_TOTAL32, l.total_sectors);
  put32(s + vsd::BPB_FAT32_SIZE, l.fat_sectors);
  put32(s + vsd::BPB_ROOT_CLUSTER, vsd::ROOT_CLUSTER);
  put16(s + 48, vsd::FSINFO_SECTOR);
  put16(s + 50, vsd::BOOT_BACKUP);
  s[64] = 0x80;        // drive number
  s[66] = 0x29;        // extended boot signature: serial, label and type follow
  put32(s + 67, 0x43504344);
  std::memcpy(s + 71, VOLUME_LABEL, 11);
  std::memcpy(s + 82, "FAT32   ", 8);
  s[vsd::BOOT_SIGNATURE] = 0x55;
  s[vsd::BOOT_SIGNATURE + 1] = 0xAA;
}

void fsinfo_sector(const Layout& l, uint8_t* s) {
  put32(s, FSINFO_LEAD);
  put32(s + FSINFO_STRUCT_AT, FSINFO_STRUCT);
  put32(s + FSINFO_FREE_AT, l.clusters - l.used);
  put32(s + FSINFO_NEXT_AT, vsd::ROOT_CLUSTER + l.used);
  put32(s + FSINFO_TRAIL_AT, FSINFO_TRAIL);
}

// The run that holds a cluster, or nullptr for a free one.
const Run* run_of(const Layout& l, uint32_t cluster) {
  auto it = std::upper_bound(l.runs.begin(), l.runs.end(), cluster,
                             [](uint32_t c, const Run& r) { return c < r.first; });
  if (it == l.runs.begin()) return nullptr;
  --it;
  return cluster < it->first + it->count ? &*it : nullptr;
}

uint32_t fat_entry(const Layout& l, uint32_t cluster) {
  if (cluster == 0) return 0x0FFFFF00u | MEDIA_FIXED;
  if (cluster == 1) return vsd::CLUSTER_MASK;
  const Run* r = run_of(l, cluster);
  if (!r) return 0;
  return cluster + 1 == r->first + r->count ? vsd::CLUSTER_MASK : cluster + 1;
}

void fat_sector(const Layout& l, uint32_t index, uint8_t* s) {
  for (int i = 0; i < FAT_ENTRIES_PER_SECTOR; ++i) {
    const uint32_t cluster = index * FAT_ENTRIES_PER_SECTOR + static_cast<uint32_t>(i);
    if (cluster < l.clusters + 2) put32(s + 4 * i, fat_entry(l, cluster));
  }
}

// A file's bytes at an offset, zeros past its end (a host file may shrink meanwhile).
void file_data(const Node& n, uint32_t offset, uint8_t* s) {
  const int fd = ::open(n.host_path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return;
  const ssize_t got = ::pread(fd, s, SECTOR_SIZE, offset);
  (void)got;
  ::close(fd);
}

void data_sector(const Layout& l, uint32_t cluster, uint8_t* s) {
  const Run* r = run_of(l, cluster);
  if (!r) return;
  const Node& n = l.nodes[static_cast<std::size_t>(r->node)];
  const uint32_t offset = (cluster - r->first) * SECTOR_SIZE;
  if (n.directory || r->node == 0) {
    std::memcpy(s, n.entries.data() + offset, SECTOR_SIZE);
  } else {
    file_data(n, offset, s);
  }
}

// Sector `n` of the card as the layout gives it.
void model_sector(const Layout& l, uint32_t n, uint8_t* s) {
  std::memset(s, 0, SECTOR_SIZE);
  if (n == 0 || n == vsd::BOOT_BACKUP) return boot_sector(l, s);
  if (n == vsd::FSINFO_SECTOR || n == vsd::BOOT_BACKUP + vsd::FSINFO_SECTOR) return fsinfo_sector(l, s);
  if (n < vsd::RESERVED_SECTORS) return;
  if (n < l.data_start()) return fat_sector(l, (n - vsd::RESERVED_SECTORS) % l.fat_sectors, s);
  data_sector(l, n - l.data_start() + vsd::ROOT_CLUSTER, s);
}

bool write_sector(std::FILE* f, const Layout& l, uint32_t n) {
  uint8_t s[SECTOR_SIZE];
  model_sector(l, n, s);
  return std::fseek(f, static_cast<long>(n) * SECTOR_SIZE, SEEK_SET) == 0 && std::fwrite(s, 1, SECTOR_SIZE, f) == SECTOR_SIZE;
}

// The whole card into an open file: system area and used clusters; the free clusters
// stay holes of zeros.
bool write_layout(std::FILE* f, const Layout& l) {
  if (::ftruncate(::fileno(f), static_cast<off_t>(l.total_sectors) * SECTOR_SIZE) != 0) return false;
  for (uint32_t n = 0; n < l.data_start(); ++n) {
    if (!write_sector(f, l, n)) return false;
  }
  for (const Run& r : l.runs) {
    for (uint32_t c = r.first; c < r.first + r.count; ++c) {
      if (!write_sector(f, l, l.data_start() + c - vsd::ROOT_CLUSTER)) return false;
    }
  }
  return std::fflush(f) == 0;
}

std::FILE* create_image_file(const std::string& path, const Layout& l) {
  std::FILE* f = std::fopen(path.c_str(), "wb+");
  if (f && write_layout(f, l)) return f;
  std::fprintf(stderr, "Virtual SD card: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
  if (f) std::fclose(f);
  return nullptr;
}

// Lays the card out at the first sector access (and writes mode 0's file).
bool ready() {
  if (!image.made) return false;
  if (image.layout) return true;
  image.layout = lay_out(image.root, image.path);
  if (image.mode != 0) return true;
  image.file = create_image_file(image.path, *image.layout);
  if (!image.file) image.layout.reset();
  return image.file != nullptr;
}

bool in_card(uint32_t first, int count) {
  return count >= 0 && static_cast<uint64_t>(first) + static_cast<uint64_t>(count) <= image.layout->total_sectors;
}

}  // namespace

namespace vsd {
void fat_time(long long seconds, uint16_t& date, uint16_t& time) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  struct tm local;
  localtime_r(&t, &local);
  const int year = std::clamp(local.tm_year - 80, 0, 127);
  date = static_cast<uint16_t>((year << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}
}  // namespace vsd

void vsd_open(const std::string& sd_root, const std::string& image_path, int mode) {
  vsd_discard();
  image.made = true;
  image.root = sd_root;
  image.path = image_path;
  image.mode = mode;
}

void vsd_discard() {
  if (image.file) std::fclose(image.file);
  image = Image{};
}

bool vsd_read_sectors(uint32_t first, int count, uint8_t* out) {
  if (!ready() || !in_card(first, count)) return false;
  for (int i = 0; i < count; ++i, out += SECTOR_SIZE) {
    const uint32_t n = first + static_cast<uint32_t>(i);
    if (image.file) {
      if (std::fseek(image.file, static_cast<long>(n) * SECTOR_SIZE, SEEK_SET) != 0 ||
          std::fread(out, 1, SECTOR_SIZE, image.file) != SECTOR_SIZE)
        return false;
    } else if (auto it = image.written.find(n); it != image.written.end()) {
      std::memcpy(out, it->second.data(), SECTOR_SIZE);
    } else {
      model_sector(*image.layout, n, out);
    }
  }
  return true;
}

bool vsd_write_sectors(uint32_t first, int count, const uint8_t* data) {
  if (!ready() || !in_card(first, count)) return false;
  if (!image.file) {
    for (int i = 0; i < count; ++i, data += SECTOR_SIZE) image.written[first + i].assign(data, data + SECTOR_SIZE);
    return true;
  }
  const std::size_t bytes = static_cast<std::size_t>(count) * SECTOR_SIZE;
  return std::fseek(image.file, static_cast<long>(first) * SECTOR_SIZE, SEEK_SET) == 0 &&
         std::fwrite(data, 1, bytes, image.file) == bytes && std::fflush(image.file) == 0;
}

bool vsd_file_open() { return image.file != nullptr; }

void vsd_sync() {
  if (!image.file) return;
  std::fclose(image.file);
  image.file = nullptr;
  image.layout.reset();
  vsd_write_back(image.path, image.root);
}
