// Fuzz target: a disc image inserted into drive A (with the autostart search) and read
// through the controller's registers track by track and sector by sector, with a write
// and a FORMAT on each track. The image must never change its size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "machine_support.h"
#include "media/dsk.h"
#include "media/fdc.h"

namespace {

constexpr int POLL_LIMIT = 20000;

bool wait_request(bool to_processor) {
  for (int i = 0; i < POLL_LIMIT; i++) {
    uint8_t msr = fdc_read_status();
    if ((msr & MSR_RQM) && (((msr & MSR_DIO) != 0) == to_processor)) return true;
  }
  return false;
}

void command(std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) {
    if (!wait_request(false)) std::abort();  // the controller must always take commands
    fdc_write_data(b);
  }
}

int results(uint8_t* out, int max) {
  int n = 0;
  while ((fdc_read_status() & MSR_CB) && n < 16) {
    if (!wait_request(true)) std::abort();
    uint8_t v = fdc_read_data();
    if (n < max) out[n] = v;
    n++;
  }
  return n;
}

// Runs the execution phase: reads offered bytes, writes `fill` when asked for bytes.
void execution(uint8_t fill) {
  for (int guard = 0; guard < 40000 && (fdc_read_status() & MSR_EXM); guard++) {
    uint8_t msr = fdc_read_status();
    if (!(msr & MSR_RQM)) continue;
    if (msr & MSR_DIO)
      fdc_read_data();
    else
      fdc_write_data(fill);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::machine_at_rest("fuzz-dsk");
  set_setting(kw::AMSDOS_SPEEDUP, 1);
  set_setting(kw::DRIVE_A_AUTOSTART, size > 0 && (data[0] & 1));
  set_setting(kw::DRIVE_A_SIDE, size > 1 && (data[1] & 1));
  fdc_init();

  const std::string path = fuzzsupport::work_dir("fuzz-dsk") + "/image.dsk";
  fuzzsupport::write_file(path, data, size);

  drive_set_path(0, path.c_str());
  if (!drive_insert(0)) return 0;
  fdc_write_motor(1);
  command({0x03, 0xF1, 0x02});
  uint8_t r[16];
  const int tracks = std::min(disc_image_tracks(fdc_drive(0).image), 45);
  for (int t = 0; t <= tracks; t++) {
    for (uint8_t hd : {0x00, 0x04}) {
      command({0x0F, hd, static_cast<uint8_t>(t)});
      command({0x08});
      results(r, 16);
      int count = disc_track_sectors(fdc_drive(0).track_info);
      for (int i = 0; i < count + 1; i++) {
        command({0x4A, hd});
        if (results(r, 16) != 7) std::abort();
        command({0x46, hd, r[3], r[4], r[5], r[6], r[5], 0x2A, 0xFF});
        execution(0);
        results(r, 16);
      }
      command({0x45, hd, static_cast<uint8_t>(t), 0, 0xC1, 2, 0xC2, 0x2A, 0xFF});
      execution(0xA5);
      results(r, 16);
      command({0x4D, hd, static_cast<uint8_t>(t & 3), 9, 0x52, 0xE5});
      execution(static_cast<uint8_t>(t));
      results(r, 16);
      command({0x11, hd, 0, 0, 0xC1, 2, 0xC1, 0x2A, 1});
      execution(0);
      results(r, 16);
    }
  }
  drive_eject(0);
  // An image never grows or shrinks.
  if (fuzzsupport::file_size(path) != static_cast<long>(size)) std::abort();
  return 0;
}
