// Fuzz target: command packets sent to the M4 board through its two ports, against an SD
// card directory with files, a subdirectory and a DSK image. Each input is a series of
// packets, each a 16-bit length and that many bytes written to &FE00, then &FC00. Every
// command must end with a reply or none, never write outside the reply areas or the
// ROM image, and never create or change anything outside the SD directory. The network
// is off throughout.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "hardware/ports.h"
#include "m4/m4.h"
#include "machine_support.h"
#include "media/disc_image.h"

namespace {

namespace fs = std::filesystem;

const std::string& work_dir() { return fuzzsupport::work_dir("fuzz-m4"); }

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fuzzsupport::write_file(path.string(), bytes.data(), bytes.size());
}

std::vector<uint8_t> board_rom() {
  std::vector<uint8_t> rom(m4::ROM_SIZE, 0);
  rom[m4::NAME_TABLE_WORD] = 0x00;
  rom[m4::NAME_TABLE_WORD + 1] = 0xC1;
  const char name[] = "M4 BOARD";
  for (int i = 0; i < 8; ++i) rom[0x100 + i] = static_cast<uint8_t>(name[i]);
  rom[0x107] |= 0x80;
  const int areas[] = {0xE800, 0xF000, 0xF100};
  for (int i = 0; i < 3; ++i) {
    rom[m4::AREA_REPLY + 2 * i] = static_cast<uint8_t>(areas[i]);
    rom[m4::AREA_REPLY + 2 * i + 1] = static_cast<uint8_t>(areas[i] >> 8);
  }
  return rom;
}

// A small data-format DSK image: one track of nine sectors, one directory entry.
std::vector<uint8_t> small_image() {
  constexpr int TRACK_SIZE = 256 + 9 * 512, TRACK = 256;
  std::vector<uint8_t> image(TRACK + TRACK_SIZE, 0xE5);
  std::fill(image.begin(), image.begin() + TRACK + 256, 0);
  std::memcpy(image.data(), "MV - CPCEMU Disk-File\r\n", 23);
  image[DISC_INFO_TRACKS] = image[DISC_INFO_SIDES] = 1;
  image[DISC_INFO_TRACK_SIZE] = TRACK_SIZE & 0xFF;
  image[DISC_INFO_TRACK_SIZE + 1] = TRACK_SIZE >> 8;
  std::memcpy(&image[TRACK], "Track-Info\r\n", 12);
  image[TRACK + TRACK_INFO_SIZE_CODE] = 2;
  image[TRACK + TRACK_INFO_SECTORS] = 9;
  for (int i = 0; i < 9; ++i) {
    image[TRACK + TRACK_INFO_LIST + 8 * i + 2] = static_cast<uint8_t>(0xC1 + i);
    image[TRACK + TRACK_INFO_LIST + 8 * i + 3] = 2;
  }
  std::memcpy(&image[TRACK + 256], "\0HELLO   BAS\0\0\0\x04\x02", 17);
  return image;
}

fs::path sd_dir() { return fs::path(work_dir()) / "sd"; }

void fresh_card() {
  fs::remove_all(sd_dir());
  fs::create_directories(sd_dir() / "games");
  write_file(sd_dir() / "Long file name.bas", std::vector<uint8_t>(300, 0x41));
  write_file(sd_dir() / "games" / "TEST.DSK", small_image());
}

void set_up() {
  fuzzsupport::silence_console();
  fuzzsupport::set_up_6128(0xEE, 0xA0);
  const fs::path rom = fs::path(work_dir()) / "rom";
  fs::create_directories(rom);
  write_file(rom / "M4.ROM", board_rom());
  set_setting_text(kw::ROM_PATH, (rom.string() + "/").c_str());
  set_setting_text(kw::M4_SD_PATH, sd_dir().string().c_str());
  // The virtual SD image is served from memory: no "vsd.img" beside the configuration.
  set_config_file_name((fs::path(work_dir()) / "arvelo.cfg").string().c_str());
  set_setting(kw::M4_SDCARD_MODE, 1);
  fresh_card();
}

// Only "rom" and "sd" may be in the work directory.
void check_nothing_outside() {
  for (const auto& e : fs::directory_iterator(work_dir())) {
    const std::string name = e.path().filename().string();
    if (name != "rom" && name != "sd") std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::once<set_up>();
  set_setting(kw::M4_ENABLED, 1);
  if (m4_start() != 0) std::abort();
  m4_reset(ResetKind::POWER_ON);
  // The network stays off: fuzzed packets must not connect to, listen on or look up
  // anything. Packets that would switch it on (0x433C, and the reset 0x4322) are dropped.
  m4::set_wifi_enabled(false);
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 2);
    at += 2;
    const int code = length >= 3 ? data[at + 1] | data[at + 2] << 8 : 0;
    if (code == 0x433C || code == 0x4322) {
      at += length;
      continue;
    }
    for (size_t i = 0; i < length; ++i) port_out(0xFE00, data[at + i]);
    at += length;
    port_out(0xFC00, 0);
    if (!setting(kw::M4_ENABLED)) break;
  }
  m4_reset(ResetKind::POWER_ON);
  check_nothing_outside();
  fresh_card();
  return 0;
}
