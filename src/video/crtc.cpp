// The CRTC's register file, its port side, snapshot blocks and the debugger dump.
#include <cstdio>
#include <istream>
#include <ostream>

#include "config/settings.h"
#include "core/machine.h"
#include "video/raster_state.h"
#include "z80/z80_bus.h"

namespace {

VideoState& v = video;

// Width fields of R3 and R8 as the CRTC type interprets them.
void derive_r3() {
  v.hsync_width = v.r3_raw & 0x0F;
  if (v.type == 2 && v.hsync_width == 0) v.hsync_width = 16;
  int vsync_width = 16;
  if (v.type == 0) {
    vsync_width = v.r3_raw >> 4;
    if (vsync_width == 0) vsync_width = 16;
  }
  v.vsync_width_m1 = vsync_width - 1;
}

// The HSYNC checks that follow a write to R2 or R3.
void hsync_after_write() {
  if (v.hcc == v.r2 && !v.hsync_active && v.hsync_width != 0) {
    v.hsync_active = true;
    v.hsync_count = 0;
    apply_pending_pens();
  } else if (v.hsync_active && v.hsync_count < 7) {
    apply_pending_pens();
  }
  if (v.hsync_active && v.hsync_count == v.hsync_width - 1) v.blackout = 0;
}

bool last_line_of_frame() { return v.vcc == v.r4 && v.rc == v.r9; }

void write_r8(int value) {
  v.r8_raw = value & 0xFF;
  v.interlace = (value & 3) == 3;
  if (v.type != 0) return;
  int s = (value >> 4) & 3;
  if (s == 3) {
    v.skew = 0;
    v.hde = false;
    v.skew3_disable = true;
    v.skew3_count = 3;
  } else if (s == 0) {
    v.skew = 0;
    v.hde = v.hcc < v.r1 && !v.skew3_disable;
  } else {
    v.skew = s;
    v.hde = v.hcc != 0 && v.hcc < s + v.r1 && !v.skew3_disable;
  }
}

void write_r6(int value) {
  int old = v.r6;
  v.r6 = value & 0x7F;
  if (v.type == 1) {
    if (v.r6 == 0 || v.r6 == v.vcc) {
      v.vde = false;
      v.off_by_r6 = true;
    } else if (v.vcc == 0 || (old == 0 && v.off_by_r6 && !last_line_of_frame())) {
      v.vde = true;
    }
  } else {
    if (v.r6 == v.vcc)
      v.vde = false;
    else if (v.r6 != 0 && v.vcc == 0 && v.rc == 0)
      v.vde = true;
  }
}

// Writes to R4 or R9 on type 1 at the very last character of a frame start the
// vertical adjust at once; without adjust lines the frame restarts there.
void type1_frame_end_write() {
  if (v.type != 1 || v.hcc != v.r0 || !last_line_of_frame()) return;
  v.in_adjust = true;
  v.rc = v.vadj = 0;
  v.adjust_pending = false;
  if (v.r5 == 0) raster_restart_with_vsync();
}

int clamp_type(int type) { return type < 0 ? 0 : (type > 2 ? 2 : type); }

void put_hex(std::ostream& out, int value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value & 0xFFFF);
  out << buf;
}

}  // namespace

void crtc_apply_type(int type) {
  invalidate_plain();
  v.type = clamp_type(type);
  derive_r3();
  if (v.type != 0) v.skew = 0;
}

int crtc_type() { return v.type; }

void crtc_write_register(int reg, int value) {
  invalidate_plain();
  switch (reg) {
    case 0:
      v.r0 = value & 0xFF;
      break;
    case 1:
      v.r1 = value & 0xFF;
      if (v.hcc == v.r1) {
        v.hde = false;
        if (v.rc == v.r9)
          v.row_start = v.ma;
        else
          v.ma = v.row_start;
      }
      break;
    case 2:
      v.r2 = value & 0xFF;
      hsync_after_write();
      break;
    case 3:
      v.r3_raw = value & 0xFF;
      derive_r3();
      hsync_after_write();
      break;
    case 4:
      v.r4 = value & 0x7F;
      type1_frame_end_write();
      break;
    case 5:
      v.r5 = value & 0x1F;
      break;
    case 6:
      write_r6(value);
      break;
    case 7:
      v.r7 = value & 0x7F;
      raster_vsync_on_r7();
      break;
    case 8:
      write_r8(value);
      break;
    case 9:
      v.r9 = value & 0x1F;
      type1_frame_end_write();
      break;
    case 12:
      v.r12 = value & 0x3F;
      break;
    case 13:
      v.r13 = value & 0xFF;
      break;
    default:
      break;
  }
}

int crtc_register(int reg) {
  switch (reg) {
    case 0: return v.r0;
    case 1: return v.r1;
    case 2: return v.r2;
    case 3: return v.hsync_width;
    case 4: return v.r4;
    case 5: return v.r5;
    case 6: return v.r6;
    case 7: return v.r7;
    case 8: return v.r8_raw;
    case 9: return v.r9;
    case 12: return v.r12;
    case 13: return v.r13;
    default: return 0;
  }
}

// ---- Port side ----------------------------------------------------------------------------------

void crtc_select(int reg) { v.selected = reg & 31; }
int crtc_selected() { return v.selected; }

void crtc_write(uint8_t value) {
  if (v.selected < 16 || v.selected == 31) v.copy[v.selected] = value;
  crtc_write_register(v.selected, value);
}

uint8_t crtc_copy(int reg) { return v.copy[reg & 31]; }

uint8_t crtc_read_register() {
  int type = setting(kw::CRTC_TYPE);
  int r = v.selected;
  if (r < 18) {
    if (r == 14 || r == 15 || (type == 0 && (r == 12 || r == 13)))
      return (r == 12 || r == 14) ? (v.copy[r] & 0x3F) : v.copy[r];
    return 0;
  }
  return (type == 1 && r == 31) ? 0xFF : 0;
}

uint8_t crtc_read_status() {
  switch (setting(kw::CRTC_TYPE)) {
    case 1:
      return v.vde ? 0 : 0x20;
    case 3:
      if (v.selected == 14) return v.copy[14] & 0x3F;
      if (v.selected == 15) return v.copy[15];
      return 0;
    default:
      return 0xFF;
  }
}

void crtc_save(uint8_t* out) {
  out[0] = static_cast<uint8_t>(v.selected);
  for (int r = 0; r < 18; ++r) out[1 + r] = v.copy[r];
}

void crtc_load(const uint8_t* in) {
  for (int r = 0; r < 18; ++r) {
    crtc_write_register(r, in[1 + r]);
    if (r < 16) v.copy[r] = in[1 + r];
  }
  v.selected = (in[0] % 18) & 31;
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
  for (int r = 0; r < 16; ++r) v.copy[r] = 0;
  v.copy[16] = v.copy[17] = 0xFF;
  v.selected = 0;
}

// ---- Raster snapshot block ----------------------------------------------------------------------

void raster_save(uint8_t* out) {
  out[0] = static_cast<uint8_t>(v.hcc);
  out[1] = 0;
  out[2] = static_cast<uint8_t>(v.vcc);
  out[3] = static_cast<uint8_t>(v.rc);
  out[4] = static_cast<uint8_t>(v.vadj);
  out[5] = static_cast<uint8_t>(v.hsync_count < 0 ? 255 : v.hsync_count);
  out[6] = static_cast<uint8_t>(v.vsync_count < 0 ? 255 : v.vsync_count);
  out[7] = static_cast<uint8_t>((v.vsync_state == 1 ? 1 : 0) | (v.hsync_active ? 2 : 0) |
                                (v.in_adjust ? 0x80 : 0));
  out[8] = 0;
  out[9] = static_cast<uint8_t>(v.vsync_delay);
  out[10] = static_cast<uint8_t>(v.int_counter);
  out[11] = v.int_pending ? 1 : 0;
  out[12] = static_cast<uint8_t>(v.x);
  out[13] = static_cast<uint8_t>(v.y);
  for (int i = 0; i < 8; ++i) {
    out[14 + i] = static_cast<uint8_t>(microsecond_counter >> (8 * i));
    out[22 + i] = static_cast<uint8_t>(frame_start_us >> (8 * i));
  }
}

void raster_load(const uint8_t* in) {
  invalidate_plain();
  v.hcc = in[0];
  v.vcc = in[2] & 127;
  v.rc = in[3] & 31;
  v.vadj = in[4] & 31;
  // A counter beyond every width would never end the HSYNC: 4 bits, as the CRTC has.
  v.hsync_count = in[5] == 255 ? -1 : (in[5] & 15);
  v.vsync_count = in[6] == 255 ? -1 : (in[6] & 31);
  v.vsync_state = in[7] & 1;
  v.hsync_active = (in[7] & 2) != 0;
  if (!v.hsync_active) v.hsync_count = -1;
  else if (v.hsync_count < 0) v.hsync_count = 0;
  v.in_adjust = (in[7] & 0x80) != 0;
  v.vsync_delay = static_cast<int8_t>(in[9]);
  v.int_counter = in[10] & 63;
  v.int_pending = in[11] != 0;
  v.x = static_cast<int8_t>(in[12]);
  v.y = static_cast<int8_t>(in[13]);
  microsecond_counter = 0;
  frame_start_us = 0;
  for (int i = 0; i < 8; ++i) {
    microsecond_counter |= static_cast<uint64_t>(in[14 + i]) << (8 * i);
    frame_start_us |= static_cast<uint64_t>(in[22 + i]) << (8 * i);
  }
}

int raster_save(std::ostream& out) {
  uint8_t block[RASTER_BLOCK_SIZE];
  raster_save(block);
  out.write(reinterpret_cast<const char*>(block), sizeof block);
  return out ? 0 : 1;
}

int raster_load(std::istream& in) {
  uint8_t block[RASTER_BLOCK_SIZE];
  in.read(reinterpret_cast<char*>(block), sizeof block);
  if (in.gcount() != static_cast<std::streamsize>(sizeof block)) return 1;
  raster_load(block);
  return 0;
}

// ---- Debugger dump -----------------------------------------------------------------------------

void crtc_dump(std::ostream& out) {
  out << "CRTC:  counter = ";
  put_hex(out, v.hcc, 2);
  out << ' ';
  if (v.hsync_count >= 0) {
    put_hex(out, v.hsync_count, 2);
    out << ' ';
  } else {
    out << "   ";
  }
  put_hex(out, v.vcc, 2);
  out << ' ';
  put_hex(out, v.vadj, 2);
  out << ' ';
  if (v.vsync_count >= 0)
    put_hex(out, v.vsync_count, 2);
  else
    out << "  ";
  out << ' ';
  put_hex(out, v.rc, 2);
  int addr = ((v.ma & 0x3000) << 2) | ((v.rc & 7) << 11) | ((v.ma & 0x3FF) << 1);
  out << '\t';
  put_hex(out, addr, 4);
  out << ": ";
  auto peek = [](int a) -> int {
    a &= 0xFFFF;
    const uint8_t* block = read_bank[a >> 14];
    return block ? block[a & 0x3FFF] : 0xFF;
  };
  put_hex(out, peek(addr), 2);
  out << ' ';
  put_hex(out, peek(addr + 1), 2);
  out << '\n';

  char buf[64];
  std::snprintf(buf, sizeof buf, "BEAM:  x=%3d y=%4d (decimal)", v.x, v.y);
  out << buf;
  out << (v.hsync_active ? " HSYNC" : "      ");
  out << (v.int_pending ? " INT" : "    ");
  out << (v.vsync_state == 1 ? " VSYNC" : "      ");
  out << (v.hde ? " HDE" : "    ");
  out << (v.vde ? " VDE" : "    ");
  out << " irq counter: " << v.int_counter << '\n';
}
