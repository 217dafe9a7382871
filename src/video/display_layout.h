// The arithmetic of the display output, free of SDL: where the picture goes in the
// window, which part of the frame it shows, the smoothing of the real-time picture,
// the badge glyphs, the on-screen message countdown and the DPI-derived sizes.
//
// The SDL display (host_display.cpp) applies these results to its window; the tests
// check them without a window.
#pragma once
#include <cstdint>
#include <string>

#include "video/raster.h"

struct ScreenRect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const ScreenRect&) const = default;
  bool empty() const { return w <= 0 || h <= 0; }
};

// ---- Window -------------------------------------------------------------------------------
// The window's scale from the usable bounds of the first display: 2.0 when they are
// larger than twice the frame in both directions, otherwise 1.0.
double window_scale_for(int usable_width, int usable_height);
// The window's size at a scale: the frame less its last two rows.
int window_width_for(double scale);
int window_height_for(double scale);

// Width of the debugger panel the window grows by while the monitor is shown.
constexpr int DEBUGGER_PANEL_WIDTH = 640;

// ---- Picture placement --------------------------------------------------------------------
// Display mode bits (F11 cycles 0..3).
constexpr int DISPLAY_CROP_BORDER = 1;
constexpr int DISPLAY_FULL_SCREEN = 2;
constexpr int DISPLAY_MODES = 4;
inline int next_display_mode(int mode) { return (mode + 1) % DISPLAY_MODES; }

struct PictureLayout {
  ScreenRect picture;  // where the frame texture goes
  ScreenRect bars[3];  // left, right and bottom black bars (empty when not needed)
  double scale = 1;    // picture pixels per frame pixel (integer scaling: the step used)
};

// VIDEO_MODE 1: the largest whole scale for which the frame less a 100-pixel margin
// fits (0.5 and 0.25 for small outputs); centred horizontally, at the top unless it is
// taller than the output. Any other mode: the frame scaled to fit with its aspect
// ratio kept, at the top or centred horizontally. With the debugger panel shown the
// picture keeps to the part of the output left of the panel.
PictureLayout compute_picture_layout(int output_width, int output_height, int video_mode,
                                     bool debugger_panel);
// The integer-scaling step alone.
double integer_scale_for(int width, int height);
// The width the picture may use while the debugger panel is shown.
int width_beside_debugger(int output_width);

// ---- Source rectangle ---------------------------------------------------------------------
// The part of the screen texture shown. Without border crop the whole frame; with it
// the display area of the previous frame (falling back to the full width 768 and
// height 272 where the CRTC showed nothing). Rows count monitor lines in the
// half-height texture and frame rows in the full one. The interlace field is added to y.
ScreenRect source_rect(bool crop_border, const DisplayBounds& bounds, bool full_texture,
                       int interlace_field);

// ---- Picture conversion ------------------------------------------------------------------
// One smoothed monitor line: each RGB565 pixel becomes (2 left + 5 centre + 2 right) / 9
// per channel; the first and last pixel are copied.
void smooth_line(const uint16_t* in, uint16_t* out, int width);
// The texture for the current frame. half_height: one row per monitor line (the frame
// buffer's even rows); otherwise all rows, the odd ones black. smooth: each line
// smoothed (the picture of REALTIME mode). out holds 768 × 272 or 768 × 544 pixels.
void convert_frame(const uint16_t* frame, uint16_t* out, bool half_height, bool smooth);

// ---- Badge ---------------------------------------------------------------------------------
constexpr int BADGE_WIDTH = 48;
constexpr int BADGE_HEIGHT = 8;
constexpr uint32_t BADGE_SET = 0xFFFFFFFFu;    // opaque white
constexpr uint32_t BADGE_CLEAR = 0x00FF0000u;  // transparent
// Draws up to three glyphs of text, each doubled in width, into the 48 × 8 ARGB
// pixels. Returns false (nothing drawn) for an empty text or one starting with a blank:
// the badge is then hidden.
bool pack_badge(const char* text, uint32_t* pixels);

// ---- On-screen message ------------------------------------------------------------------
constexpr int FRAMES_PER_SECOND = 50;
struct OnScreenMessage {
  std::string text;
  int frames = 0;
  void show(const char* t, int seconds) {
    text = t ? t : "";
    frames = seconds > 0 ? seconds * FRAMES_PER_SECOND : 0;
    if (frames == 0) text.clear();
  }
  bool active() const { return frames > 0; }
  // One rendered frame: the count goes down; at 0 the text is released.
  void count_frame() {
    if (frames > 0 && --frames == 0) text.clear();
  }
};

// ---- Sizes from the display's DPI ----------------------------------------------------------
// The user interface scale from the diagonal DPI (156 DPI is scale 1).
double ui_scale_for(double diagonal_dpi);
// The side of the touch controls: JOYSTICK_SIZE × 2 × (horizontal DPI / 4), limited to a
// fifth of the output width when four of them would not fit.
int touch_size_for(double horizontal_dpi, int joystick_size, int output_width);

struct TouchLayout {
  ScreenRect pad;      // direction pad (lower left)
  ScreenRect fire[3];  // fire buttons (lower right)
};
// The touch controls in the lower corners of the output; with a mouse type set, the pad
// is a quarter of the size at the bottom edge.
TouchLayout compute_touch_layout(int output_width, int output_height, int size, int mouse_type);

// ---- Settings the hot keys step ------------------------------------------------------------
// SCREEN_OFFSET + delta kept within 0..15.
int step_screen_offset(int value, int delta);
