#include "video/display_layout.h"

#include <cmath>
#include <cstring>

#include "video/font8x8.h"

// ---- Window ----------------------------------------------------------------------------------

double window_scale_for(int usable_width, int usable_height) {
  return (usable_width > 2 * FRAME_WIDTH && usable_height > 2 * FRAME_HEIGHT) ? 2.0 : 1.0;
}

int window_width_for(double scale) { return static_cast<int>(FRAME_WIDTH * scale); }
int window_height_for(double scale) { return static_cast<int>((FRAME_HEIGHT - 2) * scale); }

// ---- Picture placement ------------------------------------------------------------------------

int width_beside_debugger(int output_width) {
  return static_cast<int>(output_width -
                          (output_width * DEBUGGER_PANEL_WIDTH / FRAME_WIDTH) * 0.545);
}

double integer_scale_for(int width, int height) {
  const double s = std::fmin(static_cast<double>(width) / (FRAME_WIDTH - 100),
                             static_cast<double>(height) / (FRAME_HEIGHT - 100));
  if (s < 0.5) return 0.25;
  if (s < 1) return 0.5;
  return std::floor(s);
}

PictureLayout compute_picture_layout(int output_width, int output_height, int video_mode,
                                     bool debugger_panel) {
  PictureLayout l;
  const int w = debugger_panel ? width_beside_debugger(output_width) : output_width;
  const int h = output_height;
  if (w <= 0 || h <= 0) return l;
  ScreenRect& p = l.picture;
  if (video_mode == 1) {
    l.scale = integer_scale_for(w, h);
    p.w = static_cast<int>(FRAME_WIDTH * l.scale);
    p.h = static_cast<int>(FRAME_HEIGHT * l.scale);
    p.x = (w - p.w) / 2;
    p.y = p.h > h ? (h - p.h) / 2 : 0;
  } else if (static_cast<long>(w) * FRAME_HEIGHT < static_cast<long>(h) * FRAME_WIDTH) {
    // Relatively taller than the frame: full width, at the top.
    p.w = w;
    p.h = static_cast<int>(static_cast<long>(w) * FRAME_HEIGHT / FRAME_WIDTH);
    l.scale = static_cast<double>(w) / FRAME_WIDTH;
  } else {
    p.h = h;
    p.w = static_cast<int>(static_cast<long>(FRAME_WIDTH) * h / FRAME_HEIGHT);
    p.x = (w - p.w) / 2;
    l.scale = static_cast<double>(h) / FRAME_HEIGHT;
  }
  // Bars: left and right of the picture over the whole height, below it between them.
  if (p.x > 0) l.bars[0] = ScreenRect{0, 0, p.x, h};
  if (p.x + p.w < w) l.bars[1] = ScreenRect{p.x + p.w, 0, w - p.x - p.w, h};
  if (p.y + p.h < h) {
    const int left = p.x > 0 ? p.x : 0;
    const int right = p.x + p.w < w ? p.x + p.w : w;
    l.bars[2] = ScreenRect{left, p.y + p.h, right - left, h - p.y - p.h};
  }
  return l;
}

// ---- Source rectangle ------------------------------------------------------------------------

ScreenRect source_rect(bool crop_border, const DisplayBounds& b, bool full_texture,
                       int interlace_field) {
  ScreenRect r{0, 0, FRAME_WIDTH, FRAME_HEIGHT};
  if (crop_border) {
    r.x = b.first_x * 2;
    r.w = (b.last_x - b.first_x) * 2;
    if (r.w <= 0) {
      r.x = 0;
      r.w = FRAME_WIDTH;
    }
    r.y = b.first_line;
    r.h = b.last_line - b.first_line - 7;
    if (r.h <= 0) {
      r.y = 0;
      r.h = FRAME_HEIGHT / 2;
    }
    if (full_texture) {
      r.y *= 2;
      r.h *= 2;
    }
  }
  r.y += interlace_field;
  return r;
}

// ---- Picture conversion ----------------------------------------------------------------------

void smooth_line(const uint16_t* in, uint16_t* out, int width) {
  if (width <= 0) return;
  out[0] = in[0];
  for (int x = 1; x + 1 < width; ++x) {
    const unsigned l = in[x - 1], c = in[x], r = in[x + 1];
    const unsigned red = (2 * (l >> 11) + 5 * (c >> 11) + 2 * (r >> 11)) / 9;
    const unsigned green = (2 * ((l >> 5) & 63) + 5 * ((c >> 5) & 63) + 2 * ((r >> 5) & 63)) / 9;
    const unsigned blue = (2 * (l & 31) + 5 * (c & 31) + 2 * (r & 31)) / 9;
    out[x] = static_cast<uint16_t>(red << 11 | green << 5 | blue);
  }
  if (width > 1) out[width - 1] = in[width - 1];
}

void convert_frame(const uint16_t* frame, uint16_t* out, bool half_height, bool smooth) {
  const size_t line_bytes = FRAME_WIDTH * sizeof(uint16_t);
  for (int line = 0; line < FRAME_HEIGHT / 2; ++line) {
    const uint16_t* in = frame + 2 * line * FRAME_WIDTH;
    uint16_t* row = out + (half_height ? line : 2 * line) * FRAME_WIDTH;
    if (smooth) smooth_line(in, row, FRAME_WIDTH);
    else std::memcpy(row, in, line_bytes);
    if (!half_height) std::memset(row + FRAME_WIDTH, 0, line_bytes);
  }
}

// ---- Badge ------------------------------------------------------------------------------------

bool pack_badge(const char* text, uint32_t* pixels) {
  for (int i = 0; i < BADGE_WIDTH * BADGE_HEIGHT; ++i) pixels[i] = BADGE_CLEAR;
  if (!text || text[0] == '\0' || text[0] == ' ') return false;
  for (int g = 0; g < 3 && text[g]; ++g) {
    const int code = static_cast<unsigned char>(text[g]);
    for (int y = 0; y < BADGE_HEIGHT; ++y)
      for (int x = 0; x < 8; ++x)
        if (glyph_pixel(code, x, y)) {
          uint32_t* p = pixels + y * BADGE_WIDTH + g * 16 + 2 * x;
          p[0] = p[1] = BADGE_SET;
        }
  }
  return true;
}

// ---- Sizes from the display's DPI -------------------------------------------------------------

double ui_scale_for(double diagonal_dpi) {
  const double x = diagonal_dpi / 156.0;
  if (x >= 1) {
    const double whole = std::floor(x);
    return (x - whole >= 0.2) ? x : whole;
  }
  if (x <= 0) return 1;
  const int even = static_cast<int>(1 / x) & ~1;
  return even == 0 ? 1 : 1.0 / even;
}

int touch_size_for(double horizontal_dpi, int joystick_size, int output_width) {
  const double unit = horizontal_dpi * 0.25;
  int size = static_cast<int>(joystick_size * 2 * unit);
  if (4 * size >= output_width - 10) size = output_width / 5;
  return size;
}

TouchLayout compute_touch_layout(int output_width, int output_height, int size, int mouse_type) {
  TouchLayout t;
  if (size <= 0) return t;
  const int margin = size / 8;
  // Direction pad: the 160 × 222 picture scaled to the control size.
  int pad_w = mouse_type != 0 ? size / 4 : size;
  int pad_h = pad_w * 222 / 160;
  t.pad = ScreenRect{margin, output_height - pad_h - (mouse_type != 0 ? 0 : margin), pad_w, pad_h};
  // Fire buttons 1 and 2 share the 128 × 210 picture; button 3 is the 128 × 192 one.
  const int fire_w = size * 128 / 160;
  const int pair_h = fire_w * 210 / 128;
  const int pair_x = output_width - fire_w - margin;
  const int pair_y = output_height - pair_h - margin;
  t.fire[0] = ScreenRect{pair_x, pair_y, fire_w, pair_h / 2};
  t.fire[1] = ScreenRect{pair_x, pair_y + pair_h / 2, fire_w, pair_h - pair_h / 2};
  const int third_h = fire_w * 192 / 128;
  t.fire[2] = ScreenRect{pair_x - fire_w - margin, output_height - third_h - margin, fire_w, third_h};
  return t;
}

// ---- Settings the hot keys step ---------------------------------------------------------------

int step_screen_offset(int value, int delta) {
  const int v = value + delta;
  if (v < 0 || v > 15) return value;
  return v;
}
