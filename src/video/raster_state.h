// The raster engine's state record, shared by the files of the video unit only.
#pragma once
#include <sys/time.h>

#include <cstdint>

#include "video/raster.h"
#include "z80/z80_bus.h"

struct VideoState {
  // ---- CRTC registers (stored masked) ----
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
  bool vsync_condition;
  bool hde, vde;
  // Type 0 frame end.
  bool check_next, last_row_reached, restart_now, adjust_pending;
  bool last_row;       // the row counter advanced past R4
  bool off_by_r6;      // the vertical display was switched off by an R6 write
  int skew3_count;     // characters left of an R8 skew-3 blank
  bool skew3_disable;
  int lines_since_vsync;

  // ---- Gate Array raster side ----
  int int_counter;     // 0..63
  bool int_pending;
  int vsync_delay;     // HSYNC ends still to wait after a VSYNC start (-1 idle)
  const uint16_t (*pen_current)[8];
  const uint16_t (*pen_pending)[8];
  uint16_t palette[17];  // host pixel values of pens 0..15 and the border
  int ink[17];           // hardware colour numbers behind palette (-1: none set)
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
  bool prev_group_blank;
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

  // ---- CRTC port side ----
  int selected;
  uint8_t copy[32];

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
    bool blank;  // all 8 pixels 0 (no beam)
  } byte_pixels[256];
  uint32_t pixel_generation;
  // Whether a pen shows as 0 (no beam), worked out for zero_check_generation.
  bool palette_has_zero;
  uint32_t zero_check_generation;
  // Drawing of the current plain span, fixed while plain_left > 0.
  bool span_uniform;
  uint16_t span_colour;
  // The whole span is video memory inside the picture and the frame buffer, with no
  // edge fill and no blackout: its characters are copied without further tests.
  bool span_direct;
  // The same for a span of one colour.
  bool span_fill;
};

extern VideoState video;

// Any change of counters, registers or flags from outside the step ends a plain span
// (and with it the processor's credit, which never outlasts the span).
inline void invalidate_plain() {
  video.plain_left = 0;
  video.step_due = false;
  clock_credit_us = 0;
}

// The pending screen mode takes effect.
inline void apply_pending_pens() {
  if (video.pen_current != video.pen_pending) {
    video.pen_current = video.pen_pending;
    ++video.pixel_generation;
  }
}

// Recomputes the widths of R3 and the R8 fields for the CRTC type in effect.
void crtc_apply_type(int type);
// Palette entries from the ink numbers after the host colour table changed.
void video_refresh_palette();

// Register side effects that reach into the engine: a VSYNC start after an R7 write,
// and the CRTC frame restart followed by the VSYNC check (type 1 R4/R9 writes).
void raster_vsync_on_r7();
void raster_restart_with_vsync();
