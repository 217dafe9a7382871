// Helpers of the disc tests: a driver that talks to the controller through its two
// registers as the CPC's disc ROM does, and a builder of small images with known data.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "config/settings.h"
#include "media/dsk.h"
#include "media/fdc.h"
#include "test_support.h"

namespace disc {

using Bytes = std::vector<uint8_t>;

// Waits until the controller requests a byte in the given direction (DIO set: a byte
// for the processor).
inline bool wait_request(bool to_processor) {
  for (int i = 0; i < 100000; i++) {
    uint8_t msr = fdc_read_status();
    if ((msr & MSR_RQM) && (((msr & MSR_DIO) != 0) == to_processor)) return true;
  }
  return false;
}

inline void command(std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) {
    ASSERT_TRUE(wait_request(false)) << "controller does not accept a command byte";
    fdc_write_data(b);
  }
}

inline Bytes results() {
  Bytes out;
  while ((fdc_read_status() & MSR_CB) && out.size() < 16 && wait_request(true)) out.push_back(fdc_read_data());
  return out;
}

struct Transfer {
  Bytes data;  // bytes read, or as many bytes as the controller took
  Bytes result;
};

// A READ or WRITE command (code), its execution phase while EXM is set, the result.
inline Transfer transfer(uint8_t code, uint8_t hd_us, uint8_t c, uint8_t h, uint8_t r, uint8_t eot,
                         const Bytes& out = {}) {
  Transfer t;
  command({code, hd_us, c, h, r, 2, eot, 0x2A, 0xFF});
  size_t taken = 0;
  for (int guard = 0; guard < 200000 && (fdc_read_status() & MSR_EXM); guard++) {
    uint8_t msr = fdc_read_status();
    if (!(msr & MSR_RQM)) continue;
    if (msr & MSR_DIO)
      t.data.push_back(fdc_read_data());
    else
      fdc_write_data(taken < out.size() ? out[taken++] : 0), t.data.push_back(0);
  }
  t.result = results();
  return t;
}
inline Transfer read(uint8_t hd_us, uint8_t c, uint8_t h, uint8_t r, uint8_t eot, uint8_t code = 0x46) {
  return transfer(code, hd_us, c, h, r, eot);
}
inline Transfer write(uint8_t hd_us, uint8_t c, uint8_t h, uint8_t r, uint8_t eot, const Bytes& data,
                      uint8_t code = 0x45) {
  return transfer(code, hd_us, c, h, r, eot, data);
}

// SEEK (RECALIBRATE for track < 0) and the SENSE INTERRUPT STATUS after it.
inline Bytes seek(uint8_t hd_us, int track) {
  if (track < 0)
    command({0x07, hd_us});
  else
    command({0x0F, hd_us, static_cast<uint8_t>(track)});
  command({0x08});
  return results();
}

inline Bytes read_id(uint8_t hd_us) {
  command({0x4A, hd_us});
  return results();
}

// Data byte j of a sector, unique per track, side and sector ID.
inline uint8_t pattern(int track, int side, int r, int j) {
  return static_cast<uint8_t>(track * 13 + side * 101 + r * 7 + j * 3 + (j >> 8));
}

struct SectorSpec {
  uint8_t r, st2;
  uint16_t length;
};
struct TrackSpec {
  std::vector<SectorSpec> sectors;
  int stored_count = -1;  // sector count written into the track block (-1: the real one)
  int table_size = -1;    // extended table entry (-1: computed)
};

using Filler = std::function<uint8_t(int track, int side, int r, int j)>;

// A standard or extended image (sector IDs C = track, H = side, N = 2), every sector
// filled with pattern() or the given filler, each sector's data after the one before.
inline Bytes build_image(bool extended, int tracks, int sides, const std::function<TrackSpec(int, int)>& spec,
                         const Filler& fill = pattern) {
  Bytes image(256, 0);
  // The readers compare the first eight bytes; the words after them are our own.
  std::memcpy(image.data(), extended ? "EXTENDED disc image by Arvelo\r\n" : "MV - CPC disc image by Arvelo\r\n", 31);
  image[0x30] = static_cast<uint8_t>(tracks);
  image[0x31] = static_cast<uint8_t>(sides);
  std::vector<Bytes> blocks;
  size_t largest = 0;
  for (int t = 0; t < tracks; t++) {
    for (int s = 0; s < sides; s++) {
      TrackSpec ts = spec(t, s);
      Bytes block(256, 0);
      std::memcpy(block.data(), "Track-Info\r\n", 12);
      block[0x14] = 2;
      block[0x15] = static_cast<uint8_t>(ts.stored_count >= 0 ? ts.stored_count : ts.sectors.size());
      for (size_t i = 0; i < ts.sectors.size(); i++) {
        const SectorSpec& sp = ts.sectors[i];
        uint8_t entry[8] = {static_cast<uint8_t>(t), static_cast<uint8_t>(s), sp.r, 2, 0, sp.st2, 0, 0};
        if (extended) entry[6] = static_cast<uint8_t>(sp.length), entry[7] = static_cast<uint8_t>(sp.length >> 8);
        std::memcpy(block.data() + 0x18 + 8 * i, entry, 8);
        for (int j = 0; j < sp.length; j++) block.push_back(fill(t, s, sp.r, j));
      }
      if (extended) {
        block.resize(ts.table_size >= 0 ? ts.table_size * 256 : (block.size() + 255) / 256 * 256, 0);
        image[0x34 + t * sides + s] = static_cast<uint8_t>(block.size() / 256);
      }
      largest = std::max(largest, block.size());
      blocks.push_back(std::move(block));
    }
  }
  if (!extended) image[0x32] = static_cast<uint8_t>(largest), image[0x33] = static_cast<uint8_t>(largest >> 8);
  for (auto& b : blocks) {
    if (!extended) b.resize(largest, 0);
    image.insert(image.end(), b.begin(), b.end());
  }
  return image;
}

// Nine 512-byte sectors 0xC1..0xC9 (the data format) on every track.
inline TrackSpec data_format_track(int, int) {
  TrackSpec ts;
  for (int i = 0; i < 9; i++) ts.sectors.push_back({static_cast<uint8_t>(0xC1 + i), 0, 512});
  return ts;
}

using testsupport::file_bytes;
using testsupport::write_bytes;
inline std::string disks_dir() { return testsupport::testdata_dir() + "/disks"; }

// Fixture: private temporary directory (also TMP_PATH), fresh settings and controller.
class DiscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::temp_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    reset_settings();
    set_setting_text(kw::TMP_PATH, dir.c_str());
    set_setting(kw::AMSDOS_SPEEDUP, 1);
    fdc_init();
  }
  void TearDown() override {
    drive_eject(0);
    drive_eject(1);
    std::filesystem::remove_all(dir);
  }
  // The shared images are copied: the originals are never opened for writing.
  std::string copy_disk(const std::string& name) {
    std::filesystem::copy_file(disks_dir() + "/" + name, dir / name);
    return (dir / name).string();
  }
  std::string put_image(const std::string& name, const Bytes& bytes) {
    write_bytes(dir / name, bytes);
    return (dir / name).string();
  }
  // Inserts path into the drive and switches the motor on.
  void insert(int drive, const std::string& path) {
    drive_set_path(drive, path.c_str());
    ASSERT_TRUE(drive_insert(drive)) << path;
    fdc_write_motor(1);
  }
  std::filesystem::path dir;
};

}  // namespace disc
