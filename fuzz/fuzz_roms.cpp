// Fuzz target: the ROM images set-up loads (operating system, BASIC, disc ROM), read from
// their files and examined by the model detection with every patch switched on (tape
// bypass, disc ROM off, fast disc access). The images start as the shared ROMs from
// $ARVELO_ROM_DIR (blank without them); the input edits them in records of four bytes:
// image (0 OS, 1 BASIC, 2 disc ROM), offset (two bytes, little-endian) and value.
// Whatever the images hold, loading, detection and patching stay inside the banks.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "config/settings.h"
#include "core/machine.h"
#include "hardware/memory.h"

namespace {

constexpr int IMAGES = 3;
const char* const FILES[IMAGES] = {"os.rom", "basic.rom", "disc.rom"};
const int SLOTS[IMAGES] = {255, 0, 7};

const std::string& work_dir() { return fuzzsupport::work_dir("fuzz-roms"); }

std::vector<uint8_t> base_images[IMAGES];

// The shared 6128 images (OS, BASIC) and disc ROM, or blank banks.
void load_base_images() {
  for (auto& image : base_images) image.assign(BANK_SIZE, 0);
  const char* dir = std::getenv("ARVELO_ROM_DIR");
  if (!dir || !*dir) return;
  std::ifstream rom(std::string(dir) + "/cpc6128.rom", std::ios::binary);
  rom.read(reinterpret_cast<char*>(base_images[0].data()), BANK_SIZE);
  rom.read(reinterpret_cast<char*>(base_images[1].data()), BANK_SIZE);
  std::ifstream disc(std::string(dir) + "/amsdos.rom", std::ios::binary);
  disc.read(reinterpret_cast<char*>(base_images[2].data()), BANK_SIZE);
}

void set_up() {
  fuzzsupport::silence_console();
  load_base_images();
  reset_settings();
  set_setting_text(kw::ROM_PATH, (work_dir() + "/").c_str());
  set_setting(kw::TAPE_BYPASS, 1);
  set_setting(kw::AMSDOS_DISABLED, 1);
  set_setting(kw::AMSDOS_SPEEDUP, 1);
  free_rom_list();
  for (int i = 0; i < IMAGES; ++i) add_rom(SLOTS[i], FILES[i], 0);
  if (!memory_lay_out(128)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::once<set_up>();
  std::vector<uint8_t> images[IMAGES] = {base_images[0], base_images[1], base_images[2]};
  for (size_t at = 0; at + 4 <= size; at += 4) {
    const int image = data[at] % IMAGES;
    const int offset = (data[at + 1] | data[at + 2] << 8) % BANK_SIZE;
    images[image][offset] = data[at + 3];
  }
  for (int i = 0; i < IMAGES; ++i)
    fuzzsupport::write_file(work_dir() + "/" + FILES[i], images[i].data(), images[i].size());
  load_roms();
  return 0;
}
