// A CPC with the M4 board fitted: a test ROM image carrying the board's name table and
// reply table, an SD card directory of its own, and packets sent through the two ports
// as CPC software sends them.
#pragma once
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hardware/hardware_fixture.h"
#include "m4/m4.h"
#include "test_support.h"

namespace m4test {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr int NAME_TABLE = 0xC100;
constexpr int REPLY_ADDRESS = 0xE800;
constexpr int CONFIG_ADDRESS = 0xF000;
constexpr int SOCKETS_ADDRESS = 0xF100;

inline void put_word(Bytes& rom, int at, int value) {
  rom[at] = static_cast<uint8_t>(value);
  rom[at + 1] = static_cast<uint8_t>(value >> 8);
}

// A 16 KB ROM with the board's first RSX name and the reply table at 0xFF00.
inline Bytes board_rom() {
  Bytes rom(m4::ROM_SIZE, 0);
  put_word(rom, m4::NAME_TABLE_WORD, NAME_TABLE);
  const char name[] = "M4 BOARD";
  for (int i = 0; i < 8; ++i) rom[NAME_TABLE - m4::ROM_BASE + i] = static_cast<uint8_t>(name[i]);
  rom[NAME_TABLE - m4::ROM_BASE + 7] |= 0x80;
  put_word(rom, m4::AREA_REPLY, REPLY_ADDRESS);
  put_word(rom, m4::AREA_CONFIG, CONFIG_ADDRESS);
  put_word(rom, m4::AREA_SOCKETS, SOCKETS_ADDRESS);
  return rom;
}

inline void write_file(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  testsupport::write_bytes(path, bytes);
}
inline void write_text(const fs::path& path, const std::string& text) { write_file(path, Bytes(text.begin(), text.end())); }
inline Bytes read_file(const fs::path& path) { return testsupport::file_bytes(path); }

// Bytes that differ from one offset to the next and from one seed to another.
inline Bytes pattern(std::size_t size, int seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 31 + seed) ^ (i >> 8));
  return b;
}

// A listening socket on 127.0.0.1 and an ephemeral port.
inline int listen_loopback(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 4);
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  *port = ntohs(a.sin_port);
  return fd;
}

class Board : public hwtest::Hardware {
 protected:
  fs::path base, rom_dir, sd;
  std::string saved_config;  // the configuration file name, which places "vsd.img"

  void SetUp() override {
    hwtest::Hardware::SetUp();
    base = testsupport::temp_dir("m4");
    rom_dir = base / "rom";
    sd = base / "sd";
    fs::create_directories(sd);
    write_file(rom_dir / "M4.ROM", board_rom());
    set_setting_text(kw::ROM_PATH, (rom_dir.string() + "/").c_str());
    set_setting_text(kw::M4_SD_PATH, sd.string().c_str());
    set_setting(kw::M4_ENABLED, 1);
    saved_config = config_file_name();
    set_config_file_name((base / "arvelo.cfg").string().c_str());
  }
  void TearDown() override {
    set_config_file_name(saved_config.c_str());
    m4_reset(ResetKind::POWER_ON);
    m4_stop();
    fs::remove_all(base);
    hwtest::Hardware::TearDown();
  }
  void start() {
    testing::internal::CaptureStderr();
    ASSERT_EQ(m4_start(), 0) << testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStderr();
    m4_reset(ResetKind::POWER_ON);
  }

  static const uint8_t* reply_area() { return m4_board().rom_image + (REPLY_ADDRESS - m4::ROM_BASE); }
  // The reply as the CPC reads it: the size byte and the bytes it counts.
  static Bytes reply() { return Bytes(reply_area(), reply_area() + 1 + reply_area()[0]); }
  static std::string reply_text(int from = 3) {
    return std::string(reinterpret_cast<const char*>(reply_area() + from));
  }
  static uint8_t status() { return reply_area()[3]; }

  // Writes the packet [size, code, params] to &FE00 and triggers &FC00.
  static Bytes send(int code, const Bytes& params = {}) {
    port_out(0xFE00, static_cast<uint8_t>(params.size() + 2));
    port_out(0xFE00, static_cast<uint8_t>(code));
    port_out(0xFE00, static_cast<uint8_t>(code >> 8));
    for (uint8_t b : params) port_out(0xFE00, b);
    port_out(0xFC00, 0);
    return reply();
  }
  // A command whose parameters are bytes then zero-terminated texts.
  static Bytes send_text(int code, Bytes head, std::initializer_list<std::string> texts) {
    for (const std::string& t : texts) {
      head.insert(head.end(), t.begin(), t.end());
      head.push_back(0);
    }
    return send(code, head);
  }
  // The whole listing, one entry text per call, until the empty reply.
  static std::vector<std::string> listing(uint8_t mode) {
    std::vector<std::string> entries;
    for (int guard = 0; guard < 200; ++guard) {
      const Bytes r = send(0x4306, {mode});
      if (r[0] == 2) break;
      entries.push_back(reply_text());
    }
    return entries;
  }
};

// The board started at set-up.
class StartedBoard : public Board {
 protected:
  void SetUp() override {
    Board::SetUp();
    start();
  }
};

}  // namespace m4test
