// Builds ZIP archives byte by byte (stored members), so that tests can also make
// broken and hostile ones.
#pragma once
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

struct ZipBuilder {
  struct Member {
    std::string name;
    std::string data;
    uint32_t local_offset = 0;
  };
  std::vector<Member> members;

  void add(const std::string& name, const std::string& data = "") { members.push_back({name, data, 0}); }

  static void u16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
  }
  static void u32(std::string& out, uint32_t v) {
    u16(out, v & 0xFFFF);
    u16(out, v >> 16);
  }

  // The fields a member's local header and its central directory entry share: version
  // needed 10, no flags, stored, time and date 0, crc 0 (not checked by the directory
  // reader), the sizes, the name length and no extra field.
  static void member_fields(std::string& out, const Member& m) {
    u16(out, 10);
    for (int i = 0; i < 4; ++i) u16(out, 0);
    u32(out, 0);
    u32(out, static_cast<uint32_t>(m.data.size()));
    u32(out, static_cast<uint32_t>(m.data.size()));
    u16(out, static_cast<unsigned>(m.name.size()));
    u16(out, 0);
  }

  // The whole archive; central_offset receives where its central directory starts.
  std::string bytes(uint32_t* central_offset = nullptr, int entries_override = -1) {
    std::string out;
    for (Member& m : members) {
      m.local_offset = static_cast<uint32_t>(out.size());
      out += std::string("PK\x03\x04", 4);
      member_fields(out, m);
      out += m.name;
      out += m.data;
    }
    const uint32_t central = static_cast<uint32_t>(out.size());
    if (central_offset) *central_offset = central;
    for (const Member& m : members) {
      out += std::string("PK\x01\x02", 4);
      u16(out, 20);  // version made by
      member_fields(out, m);
      for (int i = 0; i < 3; ++i) u16(out, 0);  // comment length, disk, internal attributes
      u32(out, 0);  // external attributes
      u32(out, m.local_offset);
      out += m.name;
    }
    const uint32_t size = static_cast<uint32_t>(out.size()) - central;
    out += std::string("PK\x05\x06", 4);
    u16(out, 0);
    u16(out, 0);
    const unsigned n = entries_override >= 0 ? static_cast<unsigned>(entries_override)
                                             : static_cast<unsigned>(members.size());
    u16(out, n);
    u16(out, n);
    u32(out, size);
    u32(out, central);
    u16(out, 0);  // no archive comment
    return out;
  }

  static void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
};
