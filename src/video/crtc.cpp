// The CRTC's port side: register select, the read-back copy, the read and status ports
// as each CRTC type answers them, and the CRTC's snapshot block. The register file and
// its side effects belong to the raster engine (crtc_write_register).
#include <istream>
#include <ostream>

#include "config/settings.h"
#include "video/raster.h"

namespace {

struct CrtcPort {
  int selected;      // register number 0..31
  uint8_t copy[32];  // values written to registers 0..15 and 31, for the read ports
};
CrtcPort port{};

}  // namespace

// ---- Port side ----------------------------------------------------------------------------------

void crtc_select(int reg) { port.selected = reg & 31; }
int crtc_selected() { return port.selected; }

void crtc_write(uint8_t value) {
  if (port.selected < 16 || port.selected == 31) port.copy[port.selected] = value;
  crtc_write_register(port.selected, value);
}

uint8_t crtc_copy(int reg) { return port.copy[reg & 31]; }

uint8_t crtc_read_register() {
  int type = setting(kw::CRTC_TYPE);
  int r = port.selected;
  if (r < 18) {
    if (r == 14 || r == 15 || (type == 0 && (r == 12 || r == 13)))
      return (r == 12 || r == 14) ? (port.copy[r] & 0x3F) : port.copy[r];
    return 0;
  }
  return (type == 1 && r == 31) ? 0xFF : 0;
}

uint8_t crtc_read_status() {
  switch (setting(kw::CRTC_TYPE)) {
    case 1:
      return vertical_display_on() ? 0 : 0x20;
    case 3:
      if (port.selected == 14) return port.copy[14] & 0x3F;
      if (port.selected == 15) return port.copy[15];
      return 0;
    default:
      return 0xFF;
  }
}

void crtc_save(uint8_t* out) {
  out[0] = static_cast<uint8_t>(port.selected);
  for (int r = 0; r < 18; ++r) out[1 + r] = port.copy[r];
}

void crtc_load(const uint8_t* in) {
  for (int r = 0; r < 18; ++r) {
    crtc_write_register(r, in[1 + r]);
    if (r < 16) port.copy[r] = in[1 + r];
  }
  port.selected = (in[0] % 18) & 31;
}

int crtc_save(std::ostream& out) {
  uint8_t block[CRTC_BLOCK_SIZE];
  crtc_save(block);
  out.write(reinterpret_cast<const char*>(block), sizeof block);
  return out ? 0 : 1;
}

int crtc_load(std::istream& in) {
  uint8_t block[CRTC_BLOCK_SIZE];
  in.read(reinterpret_cast<char*>(block), sizeof block);
  if (in.gcount() != static_cast<std::streamsize>(sizeof block)) return 1;
  crtc_load(block);
  return 0;
}

void crtc_reset() {
  for (int r = 0; r < 18; ++r) crtc_write_register(r, 0);
  for (int r = 0; r < 16; ++r) port.copy[r] = 0;
  port.copy[16] = port.copy[17] = 0xFF;
  port.selected = 0;
}

