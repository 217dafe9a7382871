// Fuzz target: typed command lines for the debugger monitor, and the file its L command
// loads. The input's text up to the first zero byte is the command lines (a '/' becomes
// '_' so that file names stay inside the work directory); what follows the zero byte is
// the file "f" in the tape directory. Every command must end, whatever it is given: the
// machine's clock asks to quit after a fifth of an emulated second per input, which
// ends step-overs and traces that would run on.

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "core/host.h"
#include "debugger/monitor.h"
#include "machine_support.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

const std::string& work_dir() { return fuzzsupport::work_dir("fuzz-monitor"); }
uint64_t quit_at = 0;

void quit_when_late() {
  if (microsecond_counter >= quit_at) stop_request_word |= stopbit::QUIT;
}

void set_up_machine() {
  fuzzsupport::silence_console();
  host_install_headless();
  host.poll_events = quit_when_late;
  host.render_frame = quit_when_late;
  fuzzsupport::set_up_6128(0x00, 0xC9);  // OS ROM of NOPs, BASIC of RETs
  set_setting_text(kw::TAPE_PATH, work_dir().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::once<set_up_machine>();
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t text_size = zero ? static_cast<size_t>(zero - data) : size;
  std::string text(reinterpret_cast<const char*>(data), text_size);
  for (char& c : text)
    if (c == '/') c = '_';
  const size_t file_size = zero ? size - text_size - 1 : 0;
  fuzzsupport::write_file(work_dir() + "/f", zero ? zero + 1 : data, file_size);

  std::istringstream in(text);
  std::ostringstream out;
  monitor_use_streams(in, out, true);
  clear_stop_request();
  quit_at = microsecond_counter + 200000;
  monitor_run();
  video_disarm_break();
  z80_set_breakpoint(-1);
  set_setting(kw::EMULATION_SPEED, 1);
  return 0;
}
