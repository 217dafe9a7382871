// Fuzz target: typed command lines for the debugger monitor, and the file its L command
// loads. The input's text up to the first zero byte is the command lines (a '/' becomes
// '_' so that file names stay inside the work directory); what follows the zero byte is
// the file "f" in the tape directory. Every command must end, whatever it is given: the
// machine's clock asks to quit after a fifth of an emulated second per input, which
// ends step-overs and traces that would run on.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "debugger/monitor.h"
#include "hardware/memory.h"
#include "media/fdc.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
} null_buffer;

std::string work_dir;
uint64_t quit_at = 0;

void quit_when_late() {
  if (microsecond_counter >= quit_at) stop_request_word |= stopbit::QUIT;
}

void set_up_machine() {
  std::cout.rdbuf(&null_buffer);
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/arvelo-fuzz-monitor-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  work_dir = pattern;
  std::atexit([] { std::filesystem::remove_all(work_dir); });

  host_install_headless();
  host.poll_events = quit_when_late;
  host.render_frame = quit_when_late;
  reset_settings();
  setting(kw::RAM_SIZE) = 128;
  setting(kw::CPC_TYPE) = model::CPC6128;
  set_setting_text(kw::TAPE_PATH, work_dir.c_str());
  free_rom_list();
  ram_size_kb = 128;
  first_rom_bank = 10;
  add_rom(255, "os.rom", 0);
  add_rom(0, "basic.rom", 0);
  bank_count = first_rom_bank + rom_count;
  if (memory_allocate(0, bank_count) != 0) std::abort();
  std::memset(bank_table[bank_of_slot(255)], 0x00, BANK_SIZE);  // NOPs
  std::memset(bank_table[bank_of_slot(0)], 0xC9, BANK_SIZE);    // RETs
  memory_init(ram_size_kb, bank_of_slot(0), bank_of_slot(255));
  hardware_model = model::CPC6128;
  fdc_init();
  machine_reset(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    set_up_machine();
    ready = true;
  }
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t text_size = zero ? static_cast<size_t>(zero - data) : size;
  std::string text(reinterpret_cast<const char*>(data), text_size);
  for (char& c : text)
    if (c == '/') c = '_';
  {
    std::ofstream file(work_dir + "/f", std::ios::binary | std::ios::trunc);
    if (zero) file.write(reinterpret_cast<const char*>(zero + 1), static_cast<std::streamsize>(size - text_size - 1));
  }

  std::istringstream in(text);
  std::ostringstream out;
  monitor_use_streams(in, out, true);
  clear_stop_request();
  quit_at = microsecond_counter + 200000;
  monitor_run();
  video_disarm_break();
  z80_set_breakpoint(-1);
  setting(kw::EMULATION_SPEED) = 1;
  return 0;
}
