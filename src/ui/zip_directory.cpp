#include "ui/zip_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t END_SIGNATURE[4] = {'P', 'K', 5, 6};
constexpr uint8_t ENTRY_SIGNATURE[4] = {'P', 'K', 1, 2};
constexpr size_t END_RECORD_SIZE = 22;
constexpr size_t ENTRY_SIZE = 46;

unsigned u16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int zipdir_read(uint64_t size, const ZipReadAt& read_at, std::vector<ZipMember>& out,
                size_t max_members) {
  if (size < END_RECORD_SIZE) return ZIPDIR_NO_END_RECORD;

  // The end record closes the file, followed only by the archive comment: search for
  // its signature backwards from the last place it can start.
  const uint64_t back = std::min<uint64_t>(size, ZIPDIR_SEARCH_LIMIT + END_RECORD_SIZE);
  std::vector<uint8_t> tail(back);
  if (!read_at(size - back, tail.data(), tail.size())) return ZIPDIR_READ_ERROR;
  int64_t found = -1;
  for (int64_t i = static_cast<int64_t>(back - END_RECORD_SIZE); i >= 0; --i) {
    if (std::memcmp(&tail[i], END_SIGNATURE, 4) == 0) {
      found = i;
      break;
    }
  }
  if (found < 0) return ZIPDIR_NO_END_RECORD;
  const uint8_t* end = &tail[found];
  const unsigned entries = u16(end + 10);
  uint64_t offset = u32(end + 16);
  if (offset > size) return ZIPDIR_SEEK_ERROR;

  uint8_t fixed[ENTRY_SIZE];
  std::string name;
  for (unsigned n = 0; n < entries && out.size() < max_members; ++n) {
    if (offset + ENTRY_SIZE > size || !read_at(offset, fixed, ENTRY_SIZE)) return ZIPDIR_READ_ERROR;
    if (std::memcmp(fixed, ENTRY_SIGNATURE, 4) != 0) return ZIPDIR_BAD_ENTRY;
    const unsigned name_length = u16(fixed + 28);
    const unsigned extra_length = u16(fixed + 30);
    const unsigned comment_length = u16(fixed + 32);
    offset += ENTRY_SIZE;
    name.resize(name_length);
    if (offset + name_length > size ||
        !read_at(offset, reinterpret_cast<uint8_t*>(name.data()), name_length))
      return ZIPDIR_READ_ERROR;
    offset += static_cast<uint64_t>(name_length) + extra_length + comment_length;

    ZipMember member;
    // A name holding a zero byte ends there, as it would for every file function.
    member.name.assign(name.c_str());
    if (!member.name.empty() && (member.name.back() == '/' || member.name.back() == '\\')) {
      member.directory = true;
      member.name.pop_back();
    }
    // Names that cannot be shown or opened whole are left out.
    if (member.name.empty() || member.name.size() > ZIPDIR_NAME_MAX) continue;
    member.size = u32(fixed + 24);
    out.push_back(std::move(member));
  }
  return ZIPDIR_OK;
}

int zipdir_read_file(const char* path, std::vector<ZipMember>& out, size_t max_members) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return ZIPDIR_CANNOT_OPEN;
  int status = ZIPDIR_SEEK_ERROR;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size >= 0) {
      auto read_at = [f](uint64_t offset, uint8_t* buffer, size_t count) {
        if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
        return std::fread(buffer, 1, count, f) == count;
      };
      status = zipdir_read(static_cast<uint64_t>(size), read_at, out, max_members);
    }
  }
  std::fclose(f);
  return status;
}
