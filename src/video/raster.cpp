// The raster engine: the CRTC's register file and counters, pixel generation and the
// monitor's hold model, advanced one microsecond (one character) per step. The Gate
// Array (gate_array.cpp) gets the CRTC's syncs and supplies the inks and the mode. One
// file, because the step, the fast path and the register side effects share one state
// record that no other file sees.
#include "video/raster.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "video/colours.h"
#include "video/gate_array.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

uint64_t microsecond_counter = 0;
namespace {
uint64_t frame_start_us = 0;
}  // namespace
uint64_t frame_start_time() { return frame_start_us; }
uint16_t frame_buffer[FRAME_PIXELS];

namespace {

// The engine's state record: CRTC, monitor, pixel output and the fast path.
struct VideoState {
  // ---- CRTC registers (stored masked; rN is register N of crtc_reg) ----
  int r0, r1, r2, r4, r5, r6, r7, r9, r12, r13;
  int r3_raw, r8_raw;  // last written values (the widths depend on the type)
  int hsync_width;     // 0..15, type 2: 16 for 0
  int vsync_width_m1;  // VSYNC width - 1 (15 for 16 lines)
  bool interlace;      // R8 bits 0-1 both set
  int skew;            // type 0 display skew 0..2
  int type;            // 0, 1 or 2

  // ---- CRTC counters and flags ----
  int hcc, vcc, rc, vadj;
  bool in_adjust;
  int ma, row_start;
  bool hsync_active;
  int hsync_count;     // -1 idle
  int vsync_state;     // 0 none, 1 active, 3 finished while the row condition holds
  int vsync_count;     // -1 idle
  bool vsync_started_this_line;
  uint64_t interrupt_raised_us;  // the microsecond in which the Gate Array last raised it
  bool vsync_condition;
  bool hde, vde;
  // Type 0 frame end.
  bool check_next, last_row_reached, restart_now, adjust_pending;
  bool last_row;       // the row counter advanced past R4
  bool off_by_r6;      // the vertical display was switched off by an R6 write
  int skew3_count;     // characters left of an R8 skew-3 blank
  bool skew3_disable;
  int lines_since_vsync;

  // ---- Gate Array output, as the pixels need it ----
  // Pen tables of the mode in effect and of the mode last written (the Gate Array's
  // modes, as pointers for the pixel loops).
  const uint16_t (*pen_current)[8];
  const uint16_t (*pen_pending)[8];
  uint16_t palette[17];  // host pixel values of the Gate Array's inks, pens 0..15 and the border
  uint8_t* video_block[4];

  // ---- Monitor model ----
  int x, y;
  int line_end;        // 376..472
  int shift;
  int pixel_offset;
  uint64_t hsync_moment;
  int line_mode;       // 0 synced, 1 sync came early, 2 free-running
  int vertical_hold;   // -14..26
  int vblank;          // vertical blanking countdown
  int blackout;        // horizontal blackout countdown
  int blackout_delay;
  int field;           // interlace field
  DisplayBounds bounds, previous_bounds;
  bool first_x_recorded, first_line_recorded;

  // ---- Time ----
  int owed;
  uint64_t frame_length;
  timeval now, last;
  bool frame_completed;
  bool break_armed;
  uint64_t break_time;
  uint64_t frames;

  // ---- Timing settings copied at reset ----
  int realtime, interrupt_resume, vsync_position;

  // ---- Speed ----
  // Steps ahead in which nothing but drawing and counting happens (0: unknown).
  int plain_left;
  // The next step is a full one: the look-ahead found no plain step, or a span ran to
  // its end (a hint only: a full step is always right).
  bool step_due;
  // Host pixels of each video byte under the pens and palette in effect; an entry is
  // valid while its generation equals pixel_generation.
  struct alignas(32) BytePixels {
    uint16_t px[8];
    uint32_t generation;
  } byte_pixels[256];
  uint32_t pixel_generation;
  // Drawing of the current plain span, fixed while plain_left > 0.
  bool span_uniform;
  uint16_t span_colour;
  // The whole span is video memory inside the picture and the frame buffer, with no
  // edge fill and no blackout: its characters are copied without further tests.
  bool span_direct;
  // The same for a span of one colour.
  bool span_fill;
};

VideoState v;

// What the engine shows before the memory map hands it the video RAM.
uint8_t empty_block[16384];

// Any change of counters, registers or flags from outside the step ends a plain span
// (and with it the processor's credit, which never outlasts the span).
inline void invalidate_plain() {
  v.plain_left = 0;
  v.step_due = false;
  clock_cancel_credit();
}

void crtc_apply_type(int type);

// The pending screen mode takes effect.
inline void apply_pending_pens() {
  if (v.pen_current != v.pen_pending) {
    v.pen_current = v.pen_pending;
    ++v.pixel_generation;
    ga_pending_mode_shown();
  }
}

constexpr int LINE_PITCH = 2 * FRAME_WIDTH;  // one monitor line = two frame-buffer rows

// ---- Frame buffer writes (every write checked against the buffer) ----------------------

inline void put_pixels(int index, const uint16_t* px, int count) {
  if (index >= 0 && index + count <= FRAME_PIXELS) {
    std::memcpy(frame_buffer + index, px, static_cast<size_t>(count) * sizeof(uint16_t));
    return;
  }
  for (int i = 0; i < count; ++i)
    if (static_cast<unsigned>(index + i) < static_cast<unsigned>(FRAME_PIXELS))
      frame_buffer[index + i] = px[i];
}

inline void fill_pixels(int index, uint16_t colour, int count) {
  for (int i = 0; i < count; ++i)
    if (static_cast<unsigned>(index + i) < static_cast<unsigned>(FRAME_PIXELS))
      frame_buffer[index + i] = colour;
}

inline uint16_t blank_black() { return host_colour[HW_BLACK]; }

void recompute_pixel_offset() {
  v.pixel_offset = v.shift * 2 + ((v.hsync_width == 3 || v.hsync_width == 5) ? 8 : 0);
}

void reset_bounds(DisplayBounds& b) { b = DisplayBounds{0, 0, 400, 768}; }

void record_first_x() {
  if (!v.first_x_recorded) {
    v.bounds.first_x = v.x;
    v.first_x_recorded = true;
  }
}

// ---- HSYNC ------------------------------------------------------------------------------------

// The CRTC starts a HSYNC when the horizontal counter reaches R2 (a width of 0 gives
// none); the Gate Array puts a pending mode in effect at its start.
inline bool hsync_starts_here() {
  if (v.hcc != v.r2 || v.hsync_active || v.hsync_width == 0) return false;
  v.hsync_active = true;
  v.hsync_count = 0;
  apply_pending_pens();
  return true;
}

// During the first 7 µs of a HSYNC a new mode shows at once; in its last µs the monitor's
// blackout ends.
inline void hsync_in_progress() {
  if (v.hsync_count < 7) apply_pending_pens();
  if (v.hsync_count == v.hsync_width - 1) v.blackout = 0;
}

// The HSYNC state at the current character: checked at the start of each step and after
// a write to R2 or R3.
inline void hsync_check() {
  hsync_starts_here();
  if (v.hsync_active) hsync_in_progress();
}

// ---- Leaving the engine -----------------------------------------------------------------------

// Everything the engine hands to the world outside it: a finished monitor picture, an
// event poll, the frame-end work and the debugger's timed break. Every host call and
// stop request of the engine goes through here.
enum class Leave { PICTURE, EVENTS, FRAME_END_WORK, BREAK_TIME };
void leave_engine(Leave why);

// ---- Monitor ---------------------------------------------------------------------------------

void copy_bounds_to_previous() {
  v.previous_bounds = v.bounds;
  reset_bounds(v.bounds);
  v.first_x_recorded = false;
  v.first_line_recorded = false;
}

// A VSYNC reached the monitor late enough in its frame: the monitor starts a new one.
void new_monitor_frame() {
  if (v.y >= 223 && v.y <= 278) {
    if (v.vertical_hold < 26) ++v.vertical_hold;
  } else if (v.y >= 280) {
    if (v.vertical_hold > -14) --v.vertical_hold;
  }
  leave_engine(Leave::PICTURE);
  if (v.interlace) v.field ^= 1;
  v.y = v.vertical_hold - 33;
  recompute_pixel_offset();
  copy_bounds_to_previous();
}

void new_line() {
  if (v.shift > 0) {
    v.shift -= (v.shift >= 8) ? 2 : 1;
  } else if (v.shift < 0) {
    v.shift += (v.shift < -7) ? 2 : 1;
  } else if (v.line_mode != 2) {
    int d = v.x - v.line_end;
    if (d == 1) {
      if (v.line_end < 472) ++v.line_end;
    } else if (d == -1) {
      if (v.line_end > 376) --v.line_end;
    } else {
      v.shift = d;
    }
  }
  recompute_pixel_offset();
  ++v.y;
  v.x = -80;
  if (v.vblank > 0) --v.vblank;
}

// Horizontal hold: the line ends at the monitor's sync, or runs free at the line-end
// position, which follows the sync slowly.
inline void monitor_horizontal() {
  bool sync_now = v.hsync_moment == microsecond_counter;
  if (v.x > 375 && sync_now) {
    if (v.x >= v.line_end) {
      v.line_mode = 0;
    } else if (v.line_end > 376) {
      --v.line_end;
      v.line_mode = 1;
    }
    new_line();
  } else if (v.x >= v.line_end) {
    if (sync_now) {
      v.line_mode = 0;
    } else if (v.line_end < 472) {
      ++v.line_end;
      if (v.line_mode != 2)
        v.line_mode = 2;
      else
        v.shift = 3;
    }
    new_line();
  }
}

// ---- CRTC vertical logic ---------------------------------------------------------------

void start_vsync(int delay) {
  v.vsync_state = 1;
  v.vsync_count = 0;
  v.vsync_started_this_line = true;
  v.lines_since_vsync = 0;
  v.vblank = 26;
  ga_vsync_started(delay);
  if (v.y > 222) new_monitor_frame();
}

void end_vsync() {
  v.vsync_state = 0;
  v.vsync_count = -1;
}

inline void advance_vsync_count() { v.vsync_count = (v.vsync_count >= 16) ? 1 : v.vsync_count + 1; }

// The counter runs 1..16 after its first line; compared in 4 bits, so a 1-line VSYNC
// (stored width 0) also ends at 16.
inline bool vsync_width_reached() { return (v.vsync_count & 15) == v.vsync_width_m1; }

bool vsync_row_condition() {
  if (v.r0 == 0 || v.vcc != v.r7) return false;
  if (v.type == 2 && (v.hsync_active || v.r2 + v.hsync_width == v.r0 + 1)) return false;
  return true;
}

// VSYNC at the start of a line (and on demand after an R7 write or a type-0 restart).
void vsync_evaluate(int delay) {
  bool cond = vsync_row_condition();
  v.vsync_condition = cond;
  if (cond) {
    if (v.vsync_state == 0) {
      if (!v.vsync_started_this_line) start_vsync(delay);
    } else {
      if (vsync_width_reached()) {
        if (v.vsync_started_this_line)
          end_vsync();
        else
          v.vsync_state = 3;
      }
      advance_vsync_count();
    }
  } else if (v.vsync_state != 0) {
    if (vsync_width_reached())
      end_vsync();
    else
      advance_vsync_count();
  }
}

// At the start of a line: the vertical display may end, a VSYNC may start or end.
void line_start_vertical_checks() {
  if (v.vcc == v.r6) {
    v.vde = false;
    v.off_by_r6 = false;
    v.bounds.last_line = v.y;
  }
  vsync_evaluate(2);
}

// The CRTC begins a new frame at row 0.
void crtc_restart() {
  v.in_adjust = false;
  v.vcc = v.rc = v.vadj = 0;
  v.vde = true;
  if (!v.first_line_recorded) {
    v.bounds.first_line = v.y;
    v.first_line_recorded = true;
  }
  v.row_start = v.ma = ((v.r12 << 8) | v.r13) & 0x3FFF;
  v.last_row_reached = false;
  v.restart_now = false;
  v.adjust_pending = false;
  if (v.type == 0) {
    // A VSYNC beginning in the last microsecond of a HSYNC sees that HSYNC end too.
    bool last_us = v.hsync_active && v.hsync_count == v.hsync_width - 1;
    vsync_evaluate(last_us ? 3 : 2);
  }
}

void start_of_line() {
  if (v.skew == 0 && !v.skew3_disable) {
    v.hde = true;
    record_first_x();
  }
  if (v.type == 1 && v.r5 == 0 && v.vcc == 0) v.row_start = ((v.r12 << 8) | v.r13) & 0x3FFF;
  v.ma = v.row_start;
}

// Horizontal total reached: the line ends, the raster and row counters move on.
void horizontal_total_reached() {
  if (!v.in_adjust || v.type != 0) {
    if (v.in_adjust) v.vadj = (v.vadj + 1) & 31;
    if (v.rc == v.r9) {
      v.rc = 0;
      v.last_row = v.vcc == v.r4;
      v.vcc = (v.vcc + 1) & 127;
      if (v.last_row) {
        if (v.type != 0) {
          v.in_adjust = true;
          v.rc = v.vadj = 0;
          v.adjust_pending = false;
        } else if (v.adjust_pending) {
          if (v.r5 != 0) {
            v.in_adjust = true;
            v.adjust_pending = false;
          }
          v.rc = v.vadj = 0;
        }
      }
    } else {
      v.rc = (v.rc + 1) & 31;
    }
  } else {
    // Type 0 vertical adjust: the raster counter cycles, the row counter stands.
    v.rc = (v.rc == v.r9) ? 0 : ((v.rc + 1) & 31);
  }
  ++v.lines_since_vsync;
  v.hcc = 0;
  v.vsync_started_this_line = false;
  if (v.restart_now) crtc_restart();
  start_of_line();
}

// Type 0 recognises the end of the frame on the last line at characters 1 and 2.
inline void type0_frame_end_check() {
  if (v.check_next) {
    v.check_next = false;
    if (v.last_row_reached) {
      if (v.r5 == v.vadj) {
        v.restart_now = true;
      } else if (!v.in_adjust) {
        v.adjust_pending = true;
      } else {
        v.vadj = (v.vadj + 1) & 31;
        if (v.r5 == v.vadj) v.restart_now = true;
      }
    }
  }
  if (v.hcc == 1) {
    if (v.rc == v.r9 && v.vcc == v.r4) {
      v.last_row_reached = true;
      v.vadj = 0;
    }
    v.check_next = true;
  }
}

// ---- Pixels ------------------------------------------------------------------------------------

// The 8 host pixels of a video byte under the pens and palette in effect.
inline const VideoState::BytePixels& byte_pixels(uint8_t b) {
  VideoState::BytePixels& e = v.byte_pixels[b];
  if (e.generation != v.pixel_generation) {
    const uint16_t* pens = v.pen_current[b];
    for (int i = 0; i < 8; ++i) e.px[i] = v.palette[pens[i]];
    e.generation = v.pixel_generation;
  }
  return e;
}


inline void fill16(uint16_t* px, uint16_t c) {
  for (int i = 0; i < 16; ++i) px[i] = c;
}

// With the picture shifted right, the start of the row shows the border.
void fill_left_edge() {
  const bool beam_off = v.blackout != 0 || v.vblank == 23 || v.vblank == 24;
  fill_pixels(v.y * LINE_PITCH, beam_off ? 0 : (v.vblank == 0 ? v.palette[16] : blank_black()),
              v.pixel_offset);
}

void draw_character() {
  const int index = v.y * LINE_PITCH + v.x * 2 + v.pixel_offset;
  const bool beam_off = v.blackout != 0 || v.vblank == 23 || v.vblank == 24;
  uint16_t px[16];
  if (beam_off) {
    fill16(px, 0);
  } else {
    const bool hsync_blank = v.hsync_active && v.hsync_count < v.hsync_width - 1;
    const bool line_last = v.hcc == v.r0;
    const bool r2_blank = line_last && v.r2 == 0 && v.hsync_width != 0;
    if (!v.vde || !v.hde || hsync_blank || v.vsync_state == 1) {
      fill16(px, (hsync_blank || v.vblank != 0) ? blank_black() : v.palette[16]);
      if (r2_blank)
        for (int i = 8; i < 16; ++i) px[i] = blank_black();
    } else {
      if (v.vblank != 0) {
        fill16(px, blank_black());
      } else {
        const int addr = ((v.rc & 7) << 11) | ((v.ma & 0x3FF) << 1);
        const uint8_t* block = v.video_block[(v.ma >> 12) & 3];
        std::memcpy(px, byte_pixels(block[addr]).px, 16);
        std::memcpy(px + 8, byte_pixels(block[addr + 1]).px, 16);
      }
      if (r2_blank) {
        for (int i = 4; i < 16; ++i) px[i] = blank_black();
      } else if (line_last && v.type == 0) {
        for (int i = 8; i < 16; ++i) px[i] = v.palette[16];
      }
    }
  }
  if (v.x == 0 && v.pixel_offset > 0) fill_left_edge();
  // Every pixel shows as generated, also next to black: a real CPC cuts none of them.
  put_pixels(index, px, 16);
}

// With the picture shifted left, the end of the row shows the border.
void fill_right_edge() {
  bool beam_off = v.blackout != 0 || v.vblank == 23 || v.vblank == 24;
  fill_pixels(v.y * LINE_PITCH + FRAME_WIDTH + v.pixel_offset, beam_off ? 0 : v.palette[16],
              -v.pixel_offset);
}

// ---- The per-microsecond step ------------------------------------------------------------------
//
// Each sub-step is one event of the CRTC, the Gate Array or the monitor, in the order in
// which the hardware sees them within one character clock.

// The monitor blanks the beam for 4 µs, starting 2 µs after it saw a HSYNC.
inline void blackout_countdown() {
  if (v.blackout > 0) --v.blackout;
  if (v.blackout_delay > 0 && --v.blackout_delay == 0) {
    v.blackout = 4;
    v.blackout_delay = -1;
  }
}

// The 16 pixels of the character under the beam, or the border right of a picture
// shifted left.
inline void output_character() {
  if (static_cast<unsigned>(v.x) < 384u && static_cast<unsigned>(v.y) < 272u)
    draw_character();
  else if (v.x == 384 && v.pixel_offset < 0 && v.y >= 1 && v.y < 272)
    fill_right_edge();
}

inline void beam_to_next_character() {
  v.x += 8;
  v.ma = (v.ma + 1) & 0x3FFF;
}

// The horizontal counter moves on: with a skew, the display starts that many
// characters into the line.
inline void next_character() {
  v.hcc = (v.hcc + 1) & 255;
  if (v.hcc == 0) v.ma = v.row_start;  // R0 lowered below the counter: it wrapped
  if (v.skew != 0 && v.hcc == v.skew && !v.skew3_disable) {
    v.hde = true;
    record_first_x();
  }
}

// Skew 3 blanks the display for three characters.
inline void skew3_countdown() {
  if (v.skew3_count > 0 && --v.skew3_count == 0) {
    v.skew3_disable = false;
    if (v.hcc >= v.skew && v.hcc < v.r1 + v.skew) v.hde = true;
  }
}

inline void horizontal_display_ends() {
  v.hde = false;
  v.bounds.last_x = v.x;
}

// On the last scan line of a row, MA at R1 becomes the next row's start address.
inline bool row_start_latched_here() {
  return v.hcc == v.r1 && v.rc == v.r9 && (v.type != 0 || !v.in_adjust || v.last_row);
}

// The HSYNC counter: types 0 and 1 count in 4 bits; type 2 counts on to 17, where it
// starts over and shows a pending mode.
inline void hsync_counts() {
  if (v.type == 2) {
    if (++v.hsync_count == 17) {
      v.hsync_count = 0;
      apply_pending_pens();
    }
  } else {
    v.hsync_count = (v.hsync_count + 1) & 15;
  }
  if (v.hsync_count < 7) apply_pending_pens();
}

// The HSYNC's last microsecond ends the blackout; at its width it ends, and the Gate
// Array counts the scan line.
inline void hsync_end_check() {
  if (v.hsync_count == v.hsync_width - 1) v.blackout = 0;
  if (v.hsync_count == v.hsync_width) {
    v.hsync_active = false;
    v.hsync_count = -1;
    const bool was_pending = ga_interrupt_pending();
    ga_hsync_end();
    if (!was_pending && ga_interrupt_pending()) v.interrupt_raised_us = microsecond_counter;
  }
}

// The monitor sees a HSYNC of 3 µs or more, a few microseconds after its start.
inline void monitor_sees_hsync() {
  v.blackout_delay = 2;
  v.hsync_moment = microsecond_counter + (v.hsync_width <= 4 ? 3 : 4);
}

// HSYNC at the new horizontal counter: it starts, or a running one counts and may end.
inline void hsync_step() {
  const bool started = hsync_starts_here();
  if (!started && v.hsync_active) hsync_counts();
  if (v.hsync_active) hsync_end_check();
  if (started && v.hsync_width > 2) monitor_sees_hsync();
}

// No VSYNC accepted for too long: the monitor starts a frame by itself (with a
// picture only when the CRTC runs lines at all).
[[gnu::noinline]] void monitor_runs_free() {
  if (v.r0 != 0 || v.r4 != 0) {
    leave_engine(Leave::PICTURE);
    copy_bounds_to_previous();
  }
  leave_engine(Leave::EVENTS);
  frame_restart();
}

// Types 1 and 2 end the vertical adjust when its counter reaches R5.
inline bool vertical_adjust_ends() { return v.type != 0 && v.in_adjust && v.vadj == v.r5; }

inline void microsecond_passes() {
  ++microsecond_counter;
  if (v.break_armed && v.break_time == microsecond_counter) [[unlikely]] {
    v.break_armed = false;
    leave_engine(Leave::BREAK_TIME);
  }
}

[[gnu::always_inline]] inline void step() {
  blackout_countdown();
  hsync_check();
  output_character();
  beam_to_next_character();
  if (v.hcc == v.r0) {
    horizontal_total_reached();
  } else {
    next_character();
  }
  skew3_countdown();
  if (v.type == 0) type0_frame_end_check();
  if (v.hcc == v.r1 + v.skew) horizontal_display_ends();
  if (row_start_latched_here()) v.row_start = v.ma;
  hsync_step();
  monitor_horizontal();
  if (v.y > 335) [[unlikely]] monitor_runs_free();
  if (vertical_adjust_ends()) crtc_restart();
  if (v.hcc == 0) line_start_vertical_checks();
  microsecond_passes();
}

// ---- Plain spans ----------------------------------------------------------------------------------
//
// Most microseconds only draw a character and count: no sync, no line end, no display
// edge. The engine works out how many such steps lie ahead and runs them in a tight loop;
// anything that changes the CRTC from outside ends the span (invalidate_plain).

inline int limit_to(int budget, int target, int from) {
  // Steps before the one that makes the horizontal counter equal target.
  if (target > from) {
    int d = target - from - 1;
    if (d < budget) return d;
  }
  return budget;
}

int plain_steps_ahead() {
  if (v.skew3_count > 0 || v.y > 335) return 0;
  const bool blackout_idle = v.blackout == 0 && v.blackout_delay <= 0;
  int hsync_budget = 255;
  if (v.hsync_active) {
    // Inside a HSYNC only the counter moves, until the microsecond before its last (up
    // to the last when the blackout, which that microsecond clears, is over by then).
    if (v.hsync_count < 7 && v.pen_current != v.pen_pending) return 0;
    const int to_last = v.hsync_width - 1 - v.hsync_count;
    hsync_budget = to_last - ((v.blackout_delay <= 0 && v.blackout <= to_last) ? 0 : 1);
    if (hsync_budget <= 0) return 0;
  }
  if (v.type == 0 && v.check_next) return 0;
  if (v.type != 0 && v.in_adjust && v.vadj == v.r5) return 0;
  // A HSYNC that can start at this character (a running one only counts on).
  if (v.hcc == v.r2 && v.hsync_width != 0 && !v.hsync_active) return 0;
  // Line end (or the wrap to 0 when R0 was lowered below the counter).
  int budget = v.hcc <= v.r0 ? v.r0 - v.hcc : 255 - v.hcc;
  if (hsync_budget < budget) budget = hsync_budget;
  budget = limit_to(budget, v.r1, v.hcc);
  budget = limit_to(budget, v.r1 + v.skew, v.hcc);
  if (v.hsync_width != 0 && !v.hsync_active) budget = limit_to(budget, v.r2, v.hcc);
  if (v.skew != 0) budget = limit_to(budget, v.skew, v.hcc);
  if (v.type == 0) budget = limit_to(budget, 1, v.hcc);
  // Monitor: the step whose beam reaches the line end, or the HSYNC moment.
  int to_line_end = (v.line_end - v.x + 7) / 8 - 1;
  if (v.line_end - v.x <= 8) to_line_end = 0;
  if (to_line_end < budget) budget = to_line_end;
  if (v.hsync_moment >= microsecond_counter && v.hsync_moment - microsecond_counter < static_cast<uint64_t>(budget))
    budget = static_cast<int>(v.hsync_moment - microsecond_counter);
  if (v.break_armed && v.break_time > microsecond_counter &&
      v.break_time - microsecond_counter - 1 < static_cast<uint64_t>(budget))
    budget = static_cast<int>(v.break_time - microsecond_counter - 1);
  if (!blackout_idle && static_cast<unsigned>(v.y) < 272u) {
    // The blackout after a HSYNC counts down in a span only where nothing is drawn.
    if (v.x > 384 || (v.x == 384 && v.pixel_offset >= 0)) {
      // right of the picture for the rest of the line
    } else if (v.x < 0) {
      const int outside = (-v.x + 7) / 8;
      if (outside < budget) budget = outside;
    } else {
      return 0;
    }
  }
  return budget > 0 ? budget : 0;
}

// How the characters of a plain span look: one colour, or video memory.
void prepare_span() {
  const bool beam_off = v.vblank == 23 || v.vblank == 24;
  v.span_uniform = beam_off || !v.vde || !v.hde || v.hsync_active || v.vsync_state == 1 || v.vblank != 0;
  v.span_colour = beam_off ? 0 : ((v.vblank != 0 || v.hsync_active) ? blank_black() : v.palette[16]);
  // Video memory from the first character to the last one inside the picture: no edge
  // fill (at x == 0 with the picture shifted right) and every write inside the buffer.
  const int x0 = v.x;
  const int index = v.y * LINE_PITCH + v.pixel_offset + x0 * 2;
  const bool inside = static_cast<unsigned>(v.y) < 272u && v.blackout == 0 && v.blackout_delay <= 0 &&
                      x0 >= 0 && x0 + 8 * (v.plain_left - 1) < 384 && !(x0 == 0 && v.pixel_offset > 0) &&
                      index >= 0 && index + 16 * v.plain_left <= FRAME_PIXELS;
  v.span_direct = inside && !v.span_uniform;
  v.span_fill = inside && v.span_uniform;
}

// Characters of a plain span, all inside the visible window of a visible line.
void span_uniform(int index, int count) {
  uint16_t px[16];  // one character
  for (uint16_t& p : px) p = v.span_colour;
  if (index >= 0 && index + 16 * count <= FRAME_PIXELS) {
    uint16_t* const row = frame_buffer + index;
    for (int k = 0; k < count; ++k) std::memcpy(row + 16 * k, px, sizeof px);
    return;
  }
  for (; count > 0; --count, index += 16) put_pixels(index, px, 16);
}

void span_memory(int index, int ma, int count) {
  const int raster = (v.rc & 7) << 11;
  for (; count > 0; --count, index += 16, ++ma) {
    const int addr = raster | ((ma & 0x3FF) << 1);
    const uint8_t* block = v.video_block[(ma >> 12) & 3];
    uint16_t px[16];
    std::memcpy(px, byte_pixels(block[addr]).px, 16);
    std::memcpy(px + 8, byte_pixels(block[addr + 1]).px, 16);
    put_pixels(index, px, 16);
  }
}

// Characters of a direct span: every one inside the picture and the frame buffer.
void span_memory_direct(uint16_t* __restrict dst, int ma, int count) {
  const int raster = (v.rc & 7) << 11;
  const uint32_t generation = v.pixel_generation;
  const VideoState::BytePixels* const table = v.byte_pixels;
  while (count > 0) {
    // MA bits 10 and 11 take no part in the address: it wraps within 1024 characters.
    const int run = std::min(count, 0x400 - (ma & 0x3FF));
    const uint8_t* src = v.video_block[(ma >> 12) & 3] + (raster | ((ma & 0x3FF) << 1));
    const uint8_t* const end = src + 2 * run;
    ma += run;
    count -= run;
    for (; src != end; src += 2, dst += 16) {
      const VideoState::BytePixels& a = table[src[0]];
      if (a.generation != generation) [[unlikely]] byte_pixels(src[0]);
      const VideoState::BytePixels& b = table[src[1]];
      if (b.generation != generation) [[unlikely]] byte_pixels(src[1]);
      std::memcpy(dst, a.px, 16);
      std::memcpy(dst + 8, b.px, 16);
    }
  }
}

// The blackout countdowns of n steps outside the picture (blackout_countdown of the step).
void count_blackout(int n) {
  if (v.blackout_delay > 0 && n >= v.blackout_delay) {
    // The delay runs out on the way: the countdown starts again from 4 there.
    const int after = n - v.blackout_delay;
    v.blackout = after < 4 ? 4 - after : 0;
    v.blackout_delay = -1;
    return;
  }
  if (v.blackout_delay > 0) v.blackout_delay -= n;
  v.blackout = v.blackout > n ? v.blackout - n : 0;
}

// The characters of n plain steps from beam position x0 on a visible line.
void draw_plain(int x0, int n) {
  // Characters with 0 <= x < 384.
  const int first = x0 < 0 ? (-x0 + 7) / 8 : 0;
  int last = x0 < 384 ? (384 - x0 + 7) / 8 : 0;
  if (last > n) last = n;
  const int row = v.y * LINE_PITCH + v.pixel_offset;
  if (v.pixel_offset > 0 && x0 <= 0 && (-x0) % 8 == 0 && -x0 / 8 < n) fill_left_edge();
  if (first < last) {
    const int index = row + (x0 + 8 * first) * 2;
    if (v.span_uniform)
      span_uniform(index, last - first);
    else
      span_memory(index, v.ma + first, last - first);
  }
  if (v.pixel_offset < 0 && v.y >= 1 && x0 <= 384 && (384 - x0) % 8 == 0 && (384 - x0) / 8 < n)
    fill_right_edge();
}

// n plain steps: characters drawn, counters moved, nothing else happens.
inline void run_plain(int n) {
  const int x0 = v.x;
  if (v.span_direct) {
    span_memory_direct(frame_buffer + v.y * LINE_PITCH + v.pixel_offset + x0 * 2, v.ma, n);
  } else {
    if (v.hsync_active) v.hsync_count += n;  // stays below width - 1 within the span
    if (v.span_fill) {
      span_uniform(v.y * LINE_PITCH + v.pixel_offset + x0 * 2, n);
    } else {
      if (v.blackout != 0 || v.blackout_delay > 0) count_blackout(n);
      if (static_cast<unsigned>(v.y) < 272u && x0 < 392 && x0 + 8 * n > 0) draw_plain(x0, n);
    }
  }
  v.x = x0 + 8 * n;
  v.ma = (v.ma + n) & 0x3FFF;
  v.hcc += n;
  microsecond_counter += static_cast<uint64_t>(n);
}

bool fast_path = true;

// The processor's credit after a call of the clock: the steps of the plain span ahead,
// no more than keep the frame length within the 50,000 µs after which every call polls
// the events (`frame_diff` is the frame length as the call computed it). A span that
// shows video memory has the processor watch the blocks it reads.
inline void grant_credit(int32_t frame_diff) {
  if (v.plain_left == 0) {
    // Look ahead now, so that the next call finds its span ready.
    if (v.step_due || !fast_path) return;
    v.plain_left = plain_steps_ahead();
    if (v.plain_left == 0) {
      v.step_due = true;
      return;
    }
    prepare_span();
  }
  if (stop_request_word != 0 || !fast_path || frame_diff < 0 || frame_diff >= 50000) return;
  int c = v.plain_left;
  if (50000 - frame_diff < c) c = 50000 - frame_diff;
  if (!v.span_uniform && static_cast<unsigned>(v.y) < 272u && v.x < 384) {
    const int first = (v.ma >> 12) & 3;
    const int last = ((v.ma + c - 1) >> 12) & 3;
    uintptr_t start = reinterpret_cast<uintptr_t>(v.video_block[first]);
    uintptr_t end = start + 16384;
    if (last != first) {
      // The span crosses into the next block: watch both (and what lies between).
      const uintptr_t other = reinterpret_cast<uintptr_t>(v.video_block[last]);
      start = std::min(start, other);
      end = std::max(end, other + 16384);
    }
    clock_watch_start = start;
    clock_watch_size = end - start;
  } else {
    clock_watch_size = 0;
  }
  clock_credit_us = c;
}

inline void run_steps(int n) {
  while (n > 0) {
    if (v.plain_left == 0) {
      if (fast_path && !v.step_due) {
        v.plain_left = plain_steps_ahead();
        if (v.plain_left != 0) prepare_span();
      }
      if (v.plain_left == 0) {
        step();
        v.step_due = false;
        --n;
        continue;
      }
    }
    const int k = n < v.plain_left ? n : v.plain_left;
    run_plain(k);
    v.plain_left -= k;
    // A span is as long as it can be: the step behind it is a full one.
    if (v.plain_left == 0) v.step_due = true;
    n -= k;
  }
}

// ---- Frame end ------------------------------------------------------------------------------------

bool throttle_held = false;  // fast tape loading runs as fast as the host allows

long elapsed_us(const timeval& now, const timeval& last) {
  return (now.tv_sec - last.tv_sec) * 1000000L + (now.tv_usec - last.tv_usec);
}

void throttle() {
  long target = static_cast<long>(v.frame_length);
  if (v.last.tv_sec == 0 && v.last.tv_usec == 0) gettimeofday(&v.last, nullptr);
  gettimeofday(&v.now, nullptr);
  // Without a host sleep (a headless host) the wait is spent polling the clock.
  if (target > 3500 && host.delay_ms) {
    while (elapsed_us(v.now, v.last) < target - 3500) {
      host.delay_ms(3);
      gettimeofday(&v.now, nullptr);
    }
  }
  while (elapsed_us(v.now, v.last) < target) gettimeofday(&v.now, nullptr);
  v.last = v.now;
}

void frame_end_work() {
  v.frame_completed = false;
  int type = setting(kw::CRTC_TYPE);
  if (type != v.type) crtc_apply_type(type);
  if (v.realtime && !throttle_held) throttle();
  host.audio_mark_frame(frame_start_us);
  frame_start_us = microsecond_counter;
  host.poll_events();
  host.refresh_overlay();
}

[[gnu::noinline]] void leave_engine(Leave why) {
  switch (why) {
    case Leave::PICTURE:
      host.render_frame();
      v.frame_completed = true;
      ++v.frames;
      break;
    case Leave::EVENTS:
      host.poll_events();
      break;
    case Leave::FRAME_END_WORK:
      frame_end_work();
      break;
    case Leave::BREAK_TIME:
      request_stop(static_cast<int>(stopbit::TIMED | stopbit::BREAK));
      break;
  }
}

// Interrupt acknowledge time beyond the processor's own count, for the CRTC timings
// where the real Gate Array's interrupt lands a microsecond earlier or later.
int acknowledge_time(int accepted, int adjustment) {
  int t = accepted + 1;
  if (v.hsync_width == 15 && (z80_reg16(z80w::IM) & 0xFF) == 2) t = accepted + 2;
  if ((v.r2 == 3 && v.hsync_width == 3 && ga_interrupt_counter() != 15) || (v.r2 == 12 && v.hsync_width == 5))
    --t;
  if (adjustment < 0) --t;
  return t;
}

}  // namespace

// ---- CRTC register writes ---------------------------------------------------------------------

namespace {

// A VSYNC starts at once when R7 is written with the row it names.
void vsync_on_r7_write() {
  bool cond = vsync_row_condition();
  v.vsync_condition = cond;
  if (cond && v.vsync_state == 0 && !v.vsync_started_this_line) start_vsync(2);
}

// The CRTC frame restart followed by the VSYNC check (type 1 R4/R9 writes).
void restart_with_vsync() {
  crtc_restart();
  if (v.type != 0 && v.r7 == 0) vsync_evaluate(2);
}

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
  if (v.r5 == 0) restart_with_vsync();
}

int clamp_type(int type) { return type < 0 ? 0 : (type > 2 ? 2 : type); }

void put_hex(std::ostream& out, int value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value & 0xFFFF);
  out << buf;
}

// Recomputes the widths of R3 and the R8 fields for the CRTC type in effect.
void crtc_apply_type(int type) {
  invalidate_plain();
  v.type = clamp_type(type);
  derive_r3();
  if (v.type != 0) v.skew = 0;
}

}  // namespace

int crtc_type() { return v.type; }

void crtc_write_register(int reg, int value) {
  invalidate_plain();
  switch (reg) {
    case crtc_reg::HTOTAL:
      v.r0 = value & 0xFF;
      break;
    case crtc_reg::HDISPLAYED:
      v.r1 = value & 0xFF;
      if (v.hcc == v.r1) {
        v.hde = false;
        if (v.rc == v.r9)
          v.row_start = v.ma;
        else
          v.ma = v.row_start;
      }
      break;
    case crtc_reg::HSYNC_POSITION:
      v.r2 = value & 0xFF;
      hsync_check();
      break;
    case crtc_reg::SYNC_WIDTHS:
      v.r3_raw = value & 0xFF;
      derive_r3();
      hsync_check();
      break;
    case crtc_reg::VTOTAL:
      v.r4 = value & 0x7F;
      type1_frame_end_write();
      break;
    case crtc_reg::VTOTAL_ADJUST:
      v.r5 = value & 0x1F;
      break;
    case crtc_reg::VDISPLAYED:
      write_r6(value);
      break;
    case crtc_reg::VSYNC_POSITION:
      v.r7 = value & 0x7F;
      vsync_on_r7_write();
      break;
    case crtc_reg::INTERLACE_SKEW:
      write_r8(value);
      break;
    case crtc_reg::MAX_RASTER:
      v.r9 = value & 0x1F;
      type1_frame_end_write();
      break;
    case crtc_reg::START_HIGH:
      v.r12 = value & 0x3F;
      break;
    case crtc_reg::START_LOW:
      v.r13 = value & 0xFF;
      break;
    default:
      break;
  }
}

int crtc_register(int reg) {
  switch (reg) {
    case crtc_reg::HTOTAL: return v.r0;
    case crtc_reg::HDISPLAYED: return v.r1;
    case crtc_reg::HSYNC_POSITION: return v.r2;
    case crtc_reg::SYNC_WIDTHS: return v.hsync_width;
    case crtc_reg::VTOTAL: return v.r4;
    case crtc_reg::VTOTAL_ADJUST: return v.r5;
    case crtc_reg::VDISPLAYED: return v.r6;
    case crtc_reg::VSYNC_POSITION: return v.r7;
    case crtc_reg::INTERLACE_SKEW: return v.r8_raw;
    case crtc_reg::MAX_RASTER: return v.r9;
    case crtc_reg::START_HIGH: return v.r12;
    case crtc_reg::START_LOW: return v.r13;
    default: return 0;
  }
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
  const GateArray& ga = gate_array();
  out[9] = static_cast<uint8_t>(ga.resync_delay);
  out[10] = static_cast<uint8_t>(ga.interrupt_counter);
  out[11] = ga.interrupt_pending ? 1 : 0;
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
  ga_set_interrupt_state(in[10] & 63, in[11] != 0, static_cast<int8_t>(in[9]));
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
  out << (ga_interrupt_pending() ? " INT" : "    ");
  out << (v.vsync_state == 1 ? " VSYNC" : "      ");
  out << (v.hde ? " HDE" : "    ");
  out << (v.vde ? " VDE" : "    ");
  out << " irq counter: " << ga_interrupt_counter() << '\n';
}

// ---- Public operations -------------------------------------------------------------------------------

namespace {

// The owed time of a call when it is not a plain stretch without port access: single
// steps for the debugger, or the deferred IN/OUT at their microseconds.
[[gnu::noinline]] void run_owed(bool single_step) {
  if (single_step) {
    if (v.owed > 0) {
      run_steps(1);
      --v.owed;
      if (v.owed == 1) {
        z80_flush_pending_out(1);
      } else if (v.owed == 0) {
        z80_flush_pending_in();
        z80_flush_pending_out(0);
      }
    }
  } else if (v.owed > 0) {
    if (z80.pending_out.port < 0 && z80.pending_in.port < 0) {
      run_steps(v.owed);
    } else {
      run_steps(v.owed - 1);
      z80_flush_pending_out(1);
      run_steps(1);
      z80_flush_pending_in();
      z80_flush_pending_out(0);
    }
    v.owed = 0;
  }
}

// The processor looks at its interrupt line at the start of an instruction's last clock
// cycle. With the CRTC's HSYNC end reaching the Gate Array a fraction of a microsecond
// late (types 0-2; the type 3 chip raises it at once), an instruction that ends in internal
// cycles looks before an interrupt raised in its last microsecond and takes it one
// instruction later.
inline bool raised_too_late_to_see() {
  return v.type != 3 && v.interrupt_raised_us + 1 == microsecond_counter;
}

// Microseconds of the interrupt response before the Gate Array sees the acknowledge (its
// counter's bit 5 is cleared then, so a HSYNC end in between still counts before it).
constexpr int ACK_LEAD_US = 2;

// The Gate Array's interrupt is pending at the end of a call: frame-end work, then the
// processor is offered the interrupt.
[[gnu::noinline]] int offer_interrupt(bool single_step, int adjustment, uint32_t& wait) {
  if (v.frame_completed) leave_engine(Leave::FRAME_END_WORK);
  if (adjustment < 0 && raised_too_late_to_see()) return 0;

  int accepted = z80_irq(0xFF);
  if (accepted == 0) {
    if (!v.interrupt_resume) wait = 0;
    return 0;
  }
  int ack = acknowledge_time(accepted, adjustment);
  wait = 0;
  if (single_step) {
    ga_acknowledge_interrupt();
    v.owed = ack > 0 ? ack : 0;
    return v.owed;
  }
  // The Gate Array sees the acknowledge in the response's second microsecond; after an
  // instruction whose last clock cycles are internal ones (negative adjustment) the
  // response starts inside that instruction's last microsecond, one microsecond sooner.
  int lead = adjustment < 0 ? ACK_LEAD_US - 1 : ACK_LEAD_US;
  if (lead > ack) lead = ack > 0 ? ack : 0;
  if (lead > 0) run_steps(lead);
  ga_acknowledge_interrupt();
  if (ack - lead > 0) run_steps(ack - lead);
  return 0;
}

}  // namespace

int video_advance(int tstates, int adjustment, uint32_t& wait, uint32_t& /*refresh*/) {
  // Time the processor counted against its credit runs first (a plain span in which
  // nothing reads video memory, so running it now draws what it would have drawn then).
  v.owed += clock_microseconds(tstates, adjustment) + clock_banked_us;
  clock_banked_us = 0;
  clock_credit_us = 0;
  const bool single_step = (stop_request_word & stopbit::STEP) != 0;
  if (v.owed > 0 && v.owed <= v.plain_left && !single_step &&
      (z80.pending_out.port & z80.pending_in.port) < 0) [[likely]] {
    run_plain(v.owed);
    v.plain_left -= v.owed;
    if (v.plain_left == 0) v.step_due = true;
    v.owed = 0;
  } else {
    run_owed(single_step);
  }

  // A CRTC that ends no frames must not freeze the user interface.
  int32_t diff = static_cast<int32_t>(static_cast<uint32_t>(microsecond_counter) -
                                      static_cast<uint32_t>(frame_start_us));
  v.frame_length = static_cast<uint64_t>(static_cast<int64_t>(diff));
  if (v.frame_length > 50000) [[unlikely]] {
    if (v.frame_length > 1000000) v.frame_length = 20000;
    leave_engine(Leave::EVENTS);
  }

  if (v.owed != 0) return v.owed;
  if (!ga_interrupt_pending()) [[likely]] {
    grant_credit(diff);
    return 0;
  }
  return offer_interrupt(single_step, adjustment, wait);
}

void video_run(int microseconds) {
  if (microseconds > 0) run_steps(microseconds);
}

void video_reset(ResetKind kind) {
  invalidate_plain();
  ++v.pixel_generation;
  set_setting(kw::PALETTE_CHANGE, 1);
  if (kind != ResetKind::POWER_ON) {
    int type = setting(kw::CRTC_TYPE);
    if (type != v.type) crtc_apply_type(type);
    return;
  }
  v.vde = v.hde = false;
  v.pixel_offset = 0;
  v.shift = 0;
  v.vertical_hold = 0;
  v.r0 = v.r1 = v.r2 = v.r4 = v.r5 = v.r6 = v.r7 = v.r9 = v.r12 = v.r13 = 0;
  v.r3_raw = v.r8_raw = 0;
  v.interlace = false;
  v.skew = 0;
  v.skew3_disable = false;
  v.skew3_count = 0;
  crtc_apply_type(setting(kw::CRTC_TYPE));
  v.field = 0;
  v.x = -80;
  v.y = -43;
  v.hcc = v.vcc = v.rc = v.vadj = 0;
  v.ma = v.row_start = 0;
  v.in_adjust = false;
  v.check_next = v.last_row_reached = v.restart_now = v.adjust_pending = false;
  v.last_row = v.off_by_r6 = false;
  v.lines_since_vsync = 0;
  ga_set_interrupt_state(0, false, -1);
  v.line_end = 400;
  v.line_mode = 0;
  v.hsync_moment = ~0ull;
  v.vblank = 0;
  v.blackout = 0;
  v.blackout_delay = -1;
  microsecond_counter = 0;
  frame_start_us = 0;
  v.frame_length = 0;
  v.owed = 0;
  v.frame_completed = false;
  v.frames = 0;
  // The palette mirrors the Gate Array's inks, which the Gate Array's own reset sets.
  for (int i = 0; i < GA_PENS; ++i) v.palette[i] = host_colour[gate_array().ink[i] & 31];
  reset_bounds(v.bounds);
  reset_bounds(v.previous_bounds);
  v.first_x_recorded = v.first_line_recorded = false;
  gettimeofday(&v.last, nullptr);
}

void video_hold_throttle(bool hold) { throttle_held = hold; }

void video_apply_timing_settings() {
  v.realtime = setting(kw::REALTIME);
  v.interrupt_resume = setting(kw::INTERRUPT_RESUME);
  v.vsync_position = setting(kw::VSYNC_POSITION);
}

void raster_pen_colour_changed(int pen) {
  if (pen < 0 || pen >= GA_PENS) return;
  v.palette[pen] = host_colour[gate_array().ink[pen] & 31];
  ++v.pixel_generation;
  if (pen == GA_BORDER_PEN) invalidate_plain();
}

void raster_mode_pending(int mode) {
  v.pen_pending = pen_tables[mode & 3];
  invalidate_plain();
}

void video_map_block(int index, uint8_t* block) {
  if (index >= 0 && index < 4) v.video_block[index] = block ? block : empty_block;
}

const uint8_t* video_ram_block(int index) { return v.video_block[index & 3]; }

void video_refresh_palette() {
  for (int i = 0; i < GA_PENS; ++i) v.palette[i] = host_colour[gate_array().ink[i] & 31];
  ++v.pixel_generation;
  invalidate_plain();
}

void frame_restart() {
  invalidate_plain();
  v.y = v.vertical_hold - 33;
  recompute_pixel_offset();
  v.vblank = 26;
}

void clear_frame_buffer() { std::memset(frame_buffer, 0, sizeof frame_buffer); }

const DisplayBounds& previous_display_bounds() { return v.previous_bounds; }
int interlace_field() { return v.field; }
uint64_t frames_rendered() { return v.frames; }

bool vsync_active() { return v.vsync_state == 1; }
bool vertical_display_on() { return v.vde; }

void video_arm_break(uint64_t at) {
  invalidate_plain();
  v.break_time = at;
  v.break_armed = true;
}
void video_disarm_break() { v.break_armed = false; }
bool video_break_armed() { return v.break_armed; }

void video_set_fast_path(bool on) {
  fast_path = on;
  invalidate_plain();
}

BeamState beam_state() {
  return BeamState{v.x,           v.y,           v.hcc,          v.vcc,           v.rc,
                   v.vadj,        v.in_adjust,   v.ma,           v.hsync_active,  v.hde,
                   v.vde,         v.hsync_count, v.vsync_count,  v.vsync_state,   v.vertical_hold,
                   v.line_end,    v.pixel_offset};
}

// Static start-up values: idle syncs, the firmware's mode 1 pens, no video RAM yet.
namespace {
struct VideoInit {
  VideoInit() {
    v.hsync_count = -1;
    v.vsync_count = -1;
    v.blackout_delay = -1;
    v.type = 1;
    v.pen_current = v.pen_pending = pen_tables[1];
    for (auto& b : v.video_block) b = empty_block;
    v.x = -80;
    v.y = -43;
    v.line_end = 400;
    v.hsync_moment = ~0ull;
    v.vsync_width_m1 = 15;
    v.pixel_generation = 1;
    reset_bounds(v.bounds);
    reset_bounds(v.previous_bounds);
  }
} video_init;
}  // namespace
