#include "ui/logo.h"

#include <cstring>

#include "video/font8x8.h"

namespace {

enum LogoColour : uint8_t {
  BACKGROUND = 0,    // 0..7: the background's gradient
  SHADOW = 8,
  LETTERS = 9,       // 9..16: the name's gradient, top to bottom
  STRIPE_RED = 17,
  STRIPE_GREEN = 18,
  STRIPE_BLUE = 19,
  CAPTION = 20,
  BORDER = 21,
};

void set(LogoPicture& p, int x, int y, uint8_t c) {
  if (x >= 0 && y >= 0 && x < LOGO_WIDTH && y < LOGO_HEIGHT) p.pixels[static_cast<size_t>(y) * LOGO_WIDTH + x] = c;
}

// Text in the font, each glyph pixel sx × sy logo pixels; colour from the pixel row
// when gradient is set.
void text(LogoPicture& p, const char* s, int x, int y, int sx, int sy, uint8_t colour, bool gradient) {
  for (; *s; ++s, x += 8 * sx)
    for (int gy = 0; gy < 8; ++gy)
      for (int gx = 0; gx < 8; ++gx) {
        if (!glyph_pixel(static_cast<unsigned char>(*s), gx, gy)) continue;
        for (int dy = 0; dy < sy; ++dy)
          for (int dx = 0; dx < sx; ++dx) {
            const int py = gy * sy + dy;
            const uint8_t c = gradient ? static_cast<uint8_t>(colour + py * 8 / (8 * sy)) : colour;
            set(p, x + gx * sx + dx, y + py, c);
          }
      }
}

}  // namespace

LogoPicture draw_logo() {
  LogoPicture p;
  p.pixels.assign(static_cast<size_t>(LOGO_WIDTH) * LOGO_HEIGHT, BACKGROUND);
  std::memset(p.palette, 0, sizeof p.palette);
  for (int i = 0; i < 8; ++i) {  // dark blue to black
    p.palette[BACKGROUND + i][0] = 0;
    p.palette[BACKGROUND + i][1] = static_cast<uint8_t>(8 + i * 2);
    p.palette[BACKGROUND + i][2] = static_cast<uint8_t>(110 - i * 12);
  }
  p.palette[SHADOW][0] = 0;
  p.palette[SHADOW][1] = 0;
  p.palette[SHADOW][2] = 30;
  for (int i = 0; i < 8; ++i) {  // yellow to orange to red
    p.palette[LETTERS + i][0] = 255;
    p.palette[LETTERS + i][1] = static_cast<uint8_t>(240 - i * 26);
    p.palette[LETTERS + i][2] = static_cast<uint8_t>(i < 2 ? 80 : 0);
  }
  const uint8_t stripes[3][3] = {{230, 20, 20}, {20, 200, 40}, {40, 90, 255}};
  for (int i = 0; i < 3; ++i) std::memcpy(p.palette[STRIPE_RED + i], stripes[i], 3);
  p.palette[CAPTION][0] = p.palette[CAPTION][1] = p.palette[CAPTION][2] = 235;
  p.palette[BORDER][0] = 255;
  p.palette[BORDER][1] = 247;
  p.palette[BORDER][2] = 8;

  for (int y = 0; y < LOGO_HEIGHT; ++y)
    for (int x = 0; x < LOGO_WIDTH; ++x) set(p, x, y, static_cast<uint8_t>(BACKGROUND + y * 8 / LOGO_HEIGHT));
  for (int x = 0; x < LOGO_WIDTH; ++x) {
    set(p, x, 0, BORDER);
    set(p, x, LOGO_HEIGHT - 1, BORDER);
  }
  for (int y = 0; y < LOGO_HEIGHT; ++y) {
    set(p, 0, y, BORDER);
    set(p, LOGO_WIDTH - 1, y, BORDER);
  }

  // The name in large letters with a shadow.
  text(p, "ARVELO", 9, 15, 6, 6, SHADOW, false);
  text(p, "ARVELO", 6, 12, 6, 6, LETTERS, true);
  // Three slanted colour stripes.
  for (int i = 0; i < 3; ++i)
    for (int y = 0; y < 6; ++y) {
      const int top = 66 + i * 10 + y;
      for (int x = 24 + (5 - y) + i * 8; x < 276 - y - (2 - i) * 8; ++x) set(p, x, top, static_cast<uint8_t>(STRIPE_RED + i));
    }
  // The machines it emulates.
  const char* caption = "CPC 464 664 6128";
  const int width = static_cast<int>(std::strlen(caption)) * 16;
  text(p, caption, (LOGO_WIDTH - width) / 2, 104, 2, 3, CAPTION, false);
  return p;
}
