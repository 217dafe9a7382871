#include "ui/menu_art.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "video/colours.h"
#include "video/font8x8.h"

namespace {

constexpr double PI = 3.14159265358979323846;

// A small drawing surface on one button.
struct Canvas {
  std::vector<uint16_t>& pixels;
  int origin_x;

  void dot(int x, int y, uint16_t c) {
    if (x < 0 || y < 0 || x >= MENU_BUTTON_SIZE || y >= MENU_HEIGHT) return;
    pixels[static_cast<size_t>(y) * MENU_WIDTH + origin_x + x] = c;
  }
  void rect(int x, int y, int w, int h, uint16_t c) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) dot(i, j, c);
  }
  // A line of the given thickness.
  void line(double x0, double y0, double x1, double y1, double thickness, uint16_t c) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, static_cast<int>(length * 2));
    const double r = thickness / 2;
    for (int s = 0; s <= steps; ++s) {
      const double x = x0 + (x1 - x0) * s / steps, y = y0 + (y1 - y0) * s / steps;
      for (int j = static_cast<int>(std::floor(y - r)); j <= static_cast<int>(std::ceil(y + r)); ++j)
        for (int i = static_cast<int>(std::floor(x - r)); i <= static_cast<int>(std::ceil(x + r)); ++i)
          if ((i + 0.5 - x) * (i + 0.5 - x) + (j + 0.5 - y) * (j + 0.5 - y) <= r * r + 0.25) dot(i, j, c);
    }
  }
  // A ring (or disc when inner is 0) between two radii; angles in degrees, 0 to the
  // right, counting clockwise on the screen.
  void ring(double cx, double cy, double outer, double inner, uint16_t c, double from = 0, double to = 360) {
    for (int j = static_cast<int>(cy - outer - 1); j <= static_cast<int>(cy + outer + 1); ++j)
      for (int i = static_cast<int>(cx - outer - 1); i <= static_cast<int>(cx + outer + 1); ++i) {
        const double dx = i + 0.5 - cx, dy = j + 0.5 - cy;
        const double d = std::hypot(dx, dy);
        if (d > outer || d < inner) continue;
        double a = std::atan2(dy, dx) * 180 / PI;
        if (a < 0) a += 360;
        if (from <= to ? (a >= from && a <= to) : (a >= from || a <= to)) dot(i, j, c);
      }
  }
  void triangle(double ax, double ay, double bx, double by, double cx, double cy, uint16_t c) {
    const int x0 = static_cast<int>(std::min({ax, bx, cx})), x1 = static_cast<int>(std::max({ax, bx, cx}));
    const int y0 = static_cast<int>(std::min({ay, by, cy})), y1 = static_cast<int>(std::max({ay, by, cy}));
    auto edge = [](double px, double py, double qx, double qy, double x, double y) {
      return (qx - px) * (y - py) - (qy - py) * (x - px);
    };
    for (int j = y0; j <= y1; ++j)
      for (int i = x0; i <= x1; ++i) {
        const double x = i + 0.5, y = j + 0.5;
        const double e0 = edge(ax, ay, bx, by, x, y), e1 = edge(bx, by, cx, cy, x, y), e2 = edge(cx, cy, ax, ay, x, y);
        if ((e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0)) dot(i, j, c);
      }
  }
  void text(const char* s, int x, int y, int scale, uint16_t c) {
    for (; *s; ++s, x += 8 * scale)
      for (int gy = 0; gy < 8; ++gy)
        for (int gx = 0; gx < 8; ++gx)
          if (glyph_pixel(static_cast<unsigned char>(*s), gx, gy)) rect(x + gx * scale, y + gy * scale, scale, scale, c);
  }
};

const uint16_t WHITE = rgb565(250, 250, 250);
const uint16_t EDGE = rgb565(200, 200, 210);
const uint16_t DARK = rgb565(20, 20, 28);

// Button faces by group of four keys, as on a PC keyboard.
uint16_t face_colour(int key) {
  if (key <= 4) return rgb565(40, 70, 150);
  if (key <= 8) return rgb565(30, 110, 70);
  return rgb565(140, 40, 50);
}

void icon(Canvas& c, int key) {
  const double cx = 32, cy = 38;
  switch (key) {
    case 1:  // help
      c.text("?", 20, 20, 3, WHITE);
      break;
    case 2:  // speed: a dial with its needle
      c.ring(cx, cy + 6, 18, 14, WHITE, 180, 360);
      c.line(cx, cy + 6, cx + 11, cy - 6, 3, WHITE);
      c.ring(cx, cy + 6, 3, 0, WHITE);
      break;
    case 3:  // disc drive: a 3-inch disc with its shutter
      c.rect(14, 20, 36, 36, WHITE);
      c.rect(22, 20, 20, 11, DARK);
      c.rect(36, 22, 4, 7, WHITE);
      c.ring(cx, 44, 7, 3, DARK);
      break;
    case 4:  // sound: loudspeaker with waves
      c.rect(14, 32, 8, 12, WHITE);
      c.triangle(20, 38, 32, 24, 32, 52, WHITE);
      c.ring(32, 38, 10, 8, WHITE, 300, 60);
      c.ring(32, 38, 17, 15, WHITE, 300, 60);
      break;
    case 5:  // load a snapshot: arrow down into a tray
    case 6:  // save a snapshot: arrow up out of the tray
      c.rect(14, 48, 36, 4, WHITE);
      c.rect(14, 40, 4, 10, WHITE);
      c.rect(46, 40, 4, 10, WHITE);
      if (key == 5) {
        c.rect(29, 18, 6, 14, WHITE);
        c.triangle(21, 31, 43, 31, 32, 44, WHITE);
      } else {
        c.rect(29, 30, 6, 14, WHITE);
        c.triangle(21, 31, 43, 31, 32, 18, WHITE);
      }
      break;
    case 7:  // settings: a cog wheel
      for (int t = 0; t < 8; ++t) {
        const double a = t * PI / 4;
        c.line(cx + std::cos(a) * 10, cy + std::sin(a) * 10, cx + std::cos(a) * 17, cy + std::sin(a) * 17, 5, WHITE);
      }
      c.ring(cx, cy, 13, 5, WHITE);
      break;
    case 8:  // reset: a circular arrow
      c.ring(cx, cy, 15, 11, WHITE, 330, 270);
      c.triangle(cx + 2, cy - 20, cx + 2, cy - 6, cx + 11, cy - 13, WHITE);
      break;
    case 9:  // pause
      c.rect(20, 22, 8, 30, WHITE);
      c.rect(36, 22, 8, 30, WHITE);
      break;
    case 10:  // debugger: a monitor showing a prompt
      c.rect(12, 20, 40, 30, WHITE);
      c.rect(15, 23, 34, 24, DARK);
      c.text(">", 17, 27, 1, WHITE);
      c.rect(26, 33, 10, 2, WHITE);
      c.rect(28, 50, 8, 4, WHITE);
      break;
    case 11:  // display mode: a screen with arrows to its corners
      c.rect(12, 22, 40, 28, WHITE);
      c.rect(15, 25, 34, 22, DARK);
      c.triangle(17, 27, 25, 27, 17, 35, WHITE);
      c.triangle(47, 45, 39, 45, 47, 37, WHITE);
      break;
    case 12:  // quit: the power symbol
      c.ring(cx, cy + 2, 16, 12, WHITE, 300, 240);
      c.line(cx, cy - 18, cx, cy, 4, WHITE);
      break;
    default:
      break;
  }
}

}  // namespace

std::vector<uint16_t> draw_menu_bar() {
  std::vector<uint16_t> pixels(static_cast<size_t>(MENU_WIDTH) * MENU_HEIGHT, DARK);
  for (int key = 1; key <= MENU_BUTTONS; ++key) {
    Canvas c{pixels, (key - 1) * MENU_BUTTON_SIZE};
    const uint16_t face = face_colour(key);
    // A raised key: rounded face with a lighter edge.
    c.rect(3, 2, 58, 60, EDGE);
    c.rect(2, 3, 60, 58, EDGE);
    c.rect(4, 4, 56, 56, face);
    char name[4];
    std::snprintf(name, sizeof name, "F%d", key);
    c.text(name, 6, 6, 1, WHITE);
    icon(c, key);
  }
  return pixels;
}

int menu_key_of_column(int column) {
  const int x = column + 8;
  if (x < 0 || x > 95) return 0;
  return x / 8 + 1;
}
