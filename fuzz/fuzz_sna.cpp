// Fuzz target: a snapshot file loaded into a set-up machine (128 KB of RAM, the shared
// ROM images from $ARVELO_ROM_DIR when they are there, marked ROM banks otherwise).
// Whatever the file holds, the load must end with a result, and the machine must still
// save a snapshot and run its video afterwards.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "machine_support.h"
#include "media/snapshot.h"
#include "video/raster.h"

namespace {

const std::string& work_dir() { return fuzzsupport::work_dir("fuzz-sna"); }

// The OS ROM and BASIC of a CPC 6128 into their banks, when the shared images exist.
void load_shared_roms() {
  const char* dir = std::getenv("ARVELO_ROM_DIR");
  if (!dir || !*dir) return;
  std::ifstream rom(std::string(dir) + "/cpc6128.rom", std::ios::binary);
  if (!rom) return;
  rom.read(reinterpret_cast<char*>(bank_block(bank_of_slot(255))), BANK_SIZE);
  rom.read(reinterpret_cast<char*>(bank_block(bank_of_slot(0))), BANK_SIZE);
}

void set_up_machine() {
  fuzzsupport::silence_console();
  fuzzsupport::set_up_6128(0xEE, 0xA0);  // marked banks, replaced by the shared ROMs if there
  load_shared_roms();
  snapshot_set_message_hook([](const char*) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::once<set_up_machine>();
  const std::string file = work_dir() + "/input.sna";
  fuzzsupport::write_file(file, data, size);
  snapshot_load(file.c_str());
  // Loaded or refused, the machine is in a state it can save and run from.
  if (snapshot_save((work_dir() + "/output.sna").c_str(), 128) != 0) std::abort();
  video_run(2000);
  return 0;
}
