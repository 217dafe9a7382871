// Fuzz target: the disc controller driven by hostile disc software. The input is a
// stream of port operations on the controller (command, parameter and data bytes,
// data and status reads, motor switches, a disc change in the middle of a command)
// with an image in drive A. The image file must never change its size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "machine_support.h"
#include "media/dsk.h"
#include "media/fdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Sector {
  uint8_t r;
  uint16_t length;
};

// A small image: standard (two tracks of nine 512-byte sectors) or extended (sectors
// of mixed lengths, one longer than a transfer, an unformatted track, two sides; the
// last track's block is 9728 bytes long).
Bytes build_image(bool extended) {
  std::vector<Sector> data_track;
  for (uint8_t r = 0xC1; r <= 0xC9; r++) data_track.push_back({r, 512});
  const std::vector<std::vector<Sector>> standard = {data_track, data_track};
  const std::vector<std::vector<Sector>> mixed = {
      {{1, 256}, {2, 1024}, {3, 128}, {4, 512}}, {{1, 512}, {2, 2048}}, {}, {{5, 9000}, {6, 256}}};
  const auto& layout = extended ? mixed : standard;
  const int sides = extended ? 2 : 1;
  Bytes image(256, 0);
  std::memcpy(image.data(), extended ? "EXTENDED disc image by Arvelo\r\n" : "MV - CPC disc image by Arvelo\r\n", 31);
  image[DISC_INFO_TRACKS] = static_cast<uint8_t>(layout.size() / sides);
  image[DISC_INFO_SIDES] = static_cast<uint8_t>(sides);
  if (!extended) image[DISC_INFO_TRACK_SIZE + 1] = (256 + 9 * 512) >> 8;
  for (size_t k = 0; k < layout.size(); k++) {
    Bytes block(layout[k].empty() ? 0 : 256, 0);
    if (!block.empty()) {
      std::memcpy(block.data(), "Track-Info\r\n", 12);
      block[TRACK_INFO_SIZE_CODE] = 2;
      block[TRACK_INFO_SECTORS] = static_cast<uint8_t>(layout[k].size());
    }
    for (size_t i = 0; i < layout[k].size(); i++) {
      const Sector& s = layout[k][i];
      uint8_t* e = block.data() + TRACK_INFO_LIST + 8 * i;
      e[0] = static_cast<uint8_t>(k / sides), e[1] = static_cast<uint8_t>(k % sides), e[2] = s.r, e[3] = 2;
      if (extended) e[6] = static_cast<uint8_t>(s.length), e[7] = static_cast<uint8_t>(s.length >> 8);
      block.resize(block.size() + s.length, static_cast<uint8_t>(s.r));
    }
    block.resize((block.size() + 255) / 256 * 256, 0);
    if (extended) image[DISC_INFO_SIZE_TABLE + k] = static_cast<uint8_t>(block.size() / 256);
    image.insert(image.end(), block.begin(), block.end());
  }
  return image;
}

// Operation codes: the top two bits of an operation byte (a read repeats n + 1 times,
// n = bits 0-5).
enum : uint8_t { OP_WRITE_DATA = 0, OP_READ_DATA = 1, OP_READ_STATUS = 2, OP_DRIVE = 3 };

// A head move runs the machine for the step time (up to seconds of emulated time for a
// move over 255 tracks): a few of them per input keep each run short. Further SEEK and
// RECALIBRATE commands become SENSE INTERRUPT STATUS.
constexpr int HEAD_MOVES_MAX = 2;
constexpr uint8_t CODE_RECALIBRATE = 7, CODE_SENSE_INT = 8, CODE_SEEK = 15;

uint8_t limit_head_moves(uint8_t byte, int& moves) {
  if (fdc_state().msr & MSR_CB) return byte;  // a parameter or data byte
  const uint8_t code = byte & 0x1F;
  if (code != CODE_SEEK && code != CODE_RECALIBRATE) return byte;
  return ++moves > HEAD_MOVES_MAX ? CODE_SENSE_INT : byte;
}

// Drive operations (bit 5 clear): motor off/on, a disc change or an eject in the middle
// of whatever the controller does. Bit 5 set: the next byte written 256 × (n + 1)
// times (n = bits 0-4), so that whole sectors fit into a short input.
void drive_operation(uint8_t op, const uint8_t* data, size_t size, size_t& i, int& moves) {
  if (op & 0x20) {
    const uint8_t byte = i + 1 < size ? data[++i] : 0;
    for (int n = 0; n < 256 * ((op & 0x1F) + 1); n++) fdc_write_data(limit_head_moves(byte, moves));
    return;
  }
  const int action = op & 7;  // 0 motor off, 1 motor on, 2 insert, 3 eject, 4-7 motor on
  if (action == 2) {
    drive_insert(0);
  } else if (action == 3) {
    drive_eject(0);
  } else {
    fdc_write_motor(action != 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzzsupport::machine_at_rest("fuzz-fdc");
  const uint8_t set_up = data[0];
  set_setting(kw::AMSDOS_SPEEDUP, 1);
  set_setting(kw::DRIVE_A_AUTOSTART, 0);
  set_setting(kw::DRIVE_A_WRITEPROT, (set_up >> 1) & 1);
  set_setting(kw::DRIVE_A_SIDE, (set_up >> 2) & 1);
  fdc_init();

  const std::string path = fuzzsupport::work_dir("fuzz-fdc") + "/image.dsk";
  Bytes image = build_image(set_up & 1);
  // The image may claim more than the file holds: up to seven tracks beyond its end and,
  // in the extended image, a long sector that puts the one after it beyond the end.
  image[DISC_INFO_TRACKS] = static_cast<uint8_t>(image[DISC_INFO_TRACKS] + (set_up >> 5));
  if ((set_up & 0x09) == 0x09) image[image.size() - 9728 + TRACK_INFO_LIST + 7] = 0xFF;
  fuzzsupport::write_file(path, image.data(), image.size());
  drive_set_path(0, path.c_str());
  if (!drive_insert(0)) std::abort();
  fdc_write_motor(1);

  int head_moves = 0;
  for (size_t i = 1; i < size; i++) {
    const uint8_t op = data[i];
    switch (op >> 6) {
      case OP_WRITE_DATA:
        fdc_write_data(limit_head_moves(i + 1 < size ? data[++i] : op, head_moves));
        break;
      case OP_READ_DATA:
        for (int n = 0; n <= (op & 0x3F); n++) fdc_read_data();
        break;
      case OP_READ_STATUS:
        for (int n = 0; n <= (op & 0x3F); n++) fdc_read_status();
        break;
      default:
        drive_operation(op, data, size, i, head_moves);
        break;
    }
  }
  drive_eject(0);
  // An image never grows or shrinks.
  if (fuzzsupport::file_size(path) != static_cast<long>(image.size())) std::abort();
  return 0;
}
