// Fuzz target: a snapshot file loaded into a set-up machine (128 KB of RAM, the shared
// ROM images from $ARVELO_ROM_DIR when they are there, marked ROM banks otherwise).
// Whatever the file holds, the load must end with a result, and the machine must still
// save a snapshot and run its video afterwards.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>

#include "config/settings.h"
#include "core/machine.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "media/fdc.h"
#include "media/snapshot.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace {

// Swallows the load's report lines and state dumps.
struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
} null_buffer;

const std::string& work_dir() {
  static std::string dir;
  if (dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/arvelo-fuzz-sna-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    std::atexit([] { std::filesystem::remove_all(work_dir()); });
  }
  return dir;
}

// The OS ROM and BASIC of a CPC 6128 into their banks, when the shared images exist.
void load_shared_roms() {
  const char* dir = std::getenv("ARVELO_ROM_DIR");
  if (!dir || !*dir) return;
  std::ifstream rom(std::string(dir) + "/cpc6128.rom", std::ios::binary);
  if (!rom) return;
  rom.read(reinterpret_cast<char*>(bank_table[bank_of_slot(255)]), BANK_SIZE);
  rom.read(reinterpret_cast<char*>(bank_table[bank_of_slot(0)]), BANK_SIZE);
}

void set_up_machine() {
  std::cout.rdbuf(&null_buffer);
  reset_settings();
  setting(kw::RAM_SIZE) = 128;
  setting(kw::CPC_TYPE) = model::CPC6128;
  free_rom_list();
  ram_size_kb = 128;
  first_rom_bank = 10;
  add_rom(255, "os.rom", 0);
  add_rom(0, "basic.rom", 0);
  bank_count = first_rom_bank + rom_count;
  if (memory_allocate(0, bank_count) != 0) std::abort();
  std::memset(bank_table[bank_of_slot(255)], 0xEE, BANK_SIZE);
  std::memset(bank_table[bank_of_slot(0)], 0xA0, BANK_SIZE);
  load_shared_roms();
  memory_init(ram_size_kb, bank_of_slot(0), bank_of_slot(255));
  hardware_model = model::CPC6128;
  fdc_init();
  machine_reset(1);
  snapshot_show_message = [](const char*) {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    set_up_machine();
    ready = true;
  }
  const std::string file = work_dir() + "/input.sna";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  snapshot_load(file.c_str());
  // Loaded or refused, the machine is in a state it can save and run from.
  if (snapshot_save((work_dir() + "/output.sna").c_str(), 128) != 0) std::abort();
  video_run(2000);
  return 0;
}
