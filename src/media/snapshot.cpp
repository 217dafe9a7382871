// Snapshots: loading (versions 1-3) and saving (version 3) of SNA files.
#include "media/snapshot.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "core/machine.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "video/gate_array.h"
#include "media/fdc.h"
#include "media/media_file.h"
#include "sound/psg.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

void show_on_stdout(const char* text) { std::cout << text << std::endl; }

void (*show_message)(const char* text) = show_on_stdout;

void show(msg::Id message) { show_message(message_text(message)); }

// "<message> <size>KB" on standard output.
void print_size_message(msg::Id message, int size_kb) {
  std::cout << message_text(message) << " " << size_kb << "KB" << std::endl;
}

void print_path_message(msg::Id message, const char* path) {
  std::cout << message_text(message) << " " << (path ? path : "") << std::endl;
}

// The hardware lines of the debugger's state display.
void dump_hardware(std::ostream& out) {
  ga_dump(out);
  upper_rom_dump(out);
  crtc_dump(out);
  ppi_dump(out);
  psg_dump(out);
  fdc_dump(out);
  printer_dump(out);
}

// A memory size the file format can hold: at least 64 and a multiple of 64.
bool valid_memory_size(int size_kb) { return size_kb >= 64 && size_kb % 64 == 0; }

// The CPC type text of messages 230-236 (types above 6 read as unknown).
const char* cpc_type_text(int type) { return message_text(msg::CPC_TYPE_NAMES + (type > 6 ? 6 : type)); }

bool is_directory(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The version-3 part of a load: disc controller, printer, CRTC type and the raster
// engine's counters.
void load_version3_state(const uint8_t* h) {
  fdc_load_state(h[sna::FDC_MOTOR], h[sna::FDC_TRACK_A], h[sna::FDC_TRACK_B]);
  printer_set_latch(h[sna::PRINTER]);
  // The machine knows CRTC types 0 to 2; another value leaves the configured type.
  if (h[sna::CRTC_TYPE] <= 2 && h[sna::CRTC_TYPE] != setting(kw::CRTC_TYPE)) {
    set_setting(kw::CRTC_TYPE, h[sna::CRTC_TYPE]);
    video_reset(ResetKind::APPLY_SETTINGS);  // the new type takes effect now, not at the next frame end
  }
  raster_load(h + sna::RASTER);
}

}  // namespace

void snapshot_set_message_hook(void (*hook)(const char* text)) { show_message = hook ? hook : show_on_stdout; }

int snapshot_load(const char* path) {
  if (!path || !*path || is_directory(path)) {
    print_path_message(msg::SNAPSHOT_CANNOT_OPEN, path);
    return 1;
  }
  zip_ifs in(path, std::ios::binary);
  if (!in.is_open()) {
    print_path_message(msg::SNAPSHOT_CANNOT_OPEN, path);
    return 1;
  }

  uint8_t h[sna::HEADER_SIZE] = {};
  in.read(reinterpret_cast<char*>(h), sizeof h);
  const auto header_bytes = in.gcount();
  if (header_bytes < 9 || std::memcmp(h, sna::SIGNATURE, 8) != 0 || h[8] != 0) {
    show(msg::SNAPSHOT_NOT_A_SNAPSHOT);
    return 1;
  }
  const int version = h[sna::VERSION];
  if (version == 0 || version > 3) {
    std::cout << message_text(msg::SNAPSHOT_BAD_VERSION) << " " << version << std::endl;
    return 1;
  }
  // A header cut short is no snapshot: its fields would be guesses.
  if (header_bytes < sna::HEADER_SIZE) {
    show(msg::SNAPSHOT_NOT_A_SNAPSHOT);
    return 1;
  }
  const int size_kb = h[sna::MEMORY_SIZE] | h[sna::MEMORY_SIZE + 1] << 8;
  if (!valid_memory_size(size_kb)) {
    print_size_message(msg::SNAPSHOT_BAD_SIZE, size_kb);
    return 1;
  }
  const bool too_large = size_kb > ram_size_kb();
  const int load_kb = too_large ? 64 : size_kb;

  // The memory image must be in the file in full before anything is taken over: a file
  // that ends early is refused, and the running machine stays as it was.
  std::string memory(static_cast<size_t>(load_kb) * 1024, '\0');
  in.read(memory.data(), static_cast<std::streamsize>(memory.size()));
  bool complete = in.gcount() == static_cast<std::streamsize>(memory.size());
  if (complete && too_large) {
    // Only 64 KB are taken, but a file that does not hold the size it declares is
    // damaged all the same.
    const std::streamsize rest = static_cast<std::streamsize>(size_kb - load_kb) * 1024;
    in.ignore(rest);
    complete = in.gcount() == rest;
  }
  if (!complete) {
    print_size_message(msg::FILE_TOO_SHORT, size_kb);
    return 1;
  }
  in.close();

  if (too_large) {
    print_size_message(msg::SNAPSHOT_LARGER_THAN_RAM, size_kb);
    show(msg::SNAPSHOT_FIRST_64K_LOADED);
  }

  z80_load_registers(h + sna::Z80_REGISTERS);
  ga_load(h + sna::GATE_ARRAY);
  crtc_load(h + sna::CRTC);
  upper_rom_port_write(h[sna::UPPER_ROM]);
  ppi_load(h + sna::PPI);
  psg_load(h + sna::PSG);

  if (version >= 2) {
    const int type = h[sna::CPC_TYPE];
    std::cout << size_kb << "K-Snapshot v" << version << " " << cpc_type_text(type) << std::endl;
    if (type != hardware_model()) show(msg::SNAPSHOT_OTHER_MODEL);
    // Version 2's interrupt number and screen-mode table (0x6E-0x74) are not used: the
    // raster engine keeps its own timing state.
  }
  if (version == 3) load_version3_state(h);

  std::istringstream memory_stream(std::move(memory));
  memory_load(memory_stream, load_kb);

  z80_dump_registers(std::cout);
  dump_hardware(std::cout);
  std::cout.flush();
  return 0;
}

void snapshot_build_header(uint8_t* h, int size_kb) {
  std::memset(h, 0, sna::HEADER_SIZE);
  std::memcpy(h, sna::SIGNATURE, 8);
  h[sna::VERSION] = 3;
  z80_save_registers(h + sna::Z80_REGISTERS);
  ga_save(h + sna::GATE_ARRAY);
  crtc_save(h + sna::CRTC);
  h[sna::UPPER_ROM] = upper_rom_latch();
  ppi_save(h + sna::PPI);
  psg_save(h + sna::PSG);
  h[sna::MEMORY_SIZE] = static_cast<uint8_t>(size_kb);
  h[sna::MEMORY_SIZE + 1] = static_cast<uint8_t>(size_kb >> 8);
  h[sna::CPC_TYPE] = static_cast<uint8_t>(hardware_model());
  h[sna::FDC_MOTOR] = static_cast<uint8_t>(fdc_motor_state());
  h[sna::FDC_TRACK_A] = fdc_drive(0).track;
  h[sna::FDC_TRACK_B] = fdc_drive(1).track;
  h[sna::PRINTER] = printer_latch();
  h[sna::CRTC_TYPE] = static_cast<uint8_t>(setting(kw::CRTC_TYPE));
  raster_save(h + sna::RASTER);
}

int snapshot_save(const char* path, int size_kb) {
  std::ofstream out;
  if (path && *path && !is_directory(path)) out.open(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) {
    print_path_message(msg::SNAPSHOT_CANNOT_OPEN, path);
    return 1;
  }
  if (size_kb > ram_size_kb()) {
    show(msg::SNAPSHOT_SAVE_SIZE_TOO_LARGE);
    size_kb = 64;
  }
  // Sizes in between are not a snapshot format size: take the 64 KB multiple below.
  size_kb = size_kb < 64 ? 64 : size_kb / 64 * 64;

  uint8_t h[sna::HEADER_SIZE];
  snapshot_build_header(h, size_kb);

  out.write(reinterpret_cast<const char*>(h), sizeof h);
  memory_save(out, size_kb);
  out.close();
  if (out.fail()) {
    print_path_message(msg::SNAPSHOT_CANNOT_OPEN, path);
    return 1;
  }
  dump_hardware(std::cout);
  std::cout.flush();
  return 0;
}

void snapshot_set_path(const char* path) { set_setting_text(kw::SNAPSHOT, path); }

int snapshot_load_configured() {
  const char* kept = setting_text(kw::SNAPSHOT);
  if (!kept || !*kept) return 0;
  const std::string path = expand_home(kept);
  // The snapshot directory of the configuration means no snapshot is chosen yet. A
  // path that names nothing is tried all the same, so that its message is seen.
  if (is_directory(path.c_str()) || path.back() == '/') return 0;
  return snapshot_load(path.c_str());
}
