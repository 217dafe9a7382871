#include "video/artwork.h"

#include <cmath>
#include <cstring>

#include "video/font8x8.h"

namespace {

// ---- Drawing ---------------------------------------------------------------------------------

struct Canvas {
  int w, h;
  std::vector<uint32_t> px;
  Canvas(int width, int height, uint32_t fill) : w(width), h(height), px(size_t(width) * height, fill) {}

  void put(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < w && y < h) px[size_t(y) * w + x] = c;
  }
  void fill_rect(int x, int y, int rw, int rh, uint32_t c) {
    for (int j = y; j < y + rh; ++j)
      for (int i = x; i < x + rw; ++i) put(i, j, c);
  }
  // A filled rectangle with corners rounded to radius r.
  void round_rect(int x, int y, int rw, int rh, int r, uint32_t c) {
    for (int j = 0; j < rh; ++j)
      for (int i = 0; i < rw; ++i) {
        const int dx = i < r ? r - i : (i >= rw - r ? i - (rw - r - 1) : 0);
        const int dy = j < r ? r - j : (j >= rh - r ? j - (rh - r - 1) : 0);
        if (dx * dx + dy * dy <= r * r) put(x + i, y + j, c);
      }
  }
  void disc(double cx, double cy, double r, uint32_t c) {
    for (int j = int(cy - r) - 1; j <= int(cy + r) + 1; ++j)
      for (int i = int(cx - r) - 1; i <= int(cx + r) + 1; ++i)
        if ((i + 0.5 - cx) * (i + 0.5 - cx) + (j + 0.5 - cy) * (j + 0.5 - cy) <= r * r) put(i, j, c);
  }
  void ring(double cx, double cy, double r, double thickness, uint32_t c) {
    for (int j = int(cy - r) - 1; j <= int(cy + r) + 1; ++j)
      for (int i = int(cx - r) - 1; i <= int(cx + r) + 1; ++i) {
        const double d = std::sqrt((i + 0.5 - cx) * (i + 0.5 - cx) + (j + 0.5 - cy) * (j + 0.5 - cy));
        if (d <= r && d >= r - thickness) put(i, j, c);
      }
  }
  // A line of the given thickness with round ends.
  void line(double x0, double y0, double x1, double y1, double thickness, uint32_t c) {
    const double r = thickness / 2;
    const int xa = int(std::fmin(x0, x1) - r) - 1, xb = int(std::fmax(x0, x1) + r) + 1;
    const int ya = int(std::fmin(y0, y1) - r) - 1, yb = int(std::fmax(y0, y1) + r) + 1;
    const double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (int j = ya; j <= yb; ++j)
      for (int i = xa; i <= xb; ++i) {
        const double px_ = i + 0.5, py_ = j + 0.5;
        double t = len2 > 0 ? ((px_ - x0) * dx + (py_ - y0) * dy) / len2 : 0;
        t = t < 0 ? 0 : (t > 1 ? 1 : t);
        const double ex = x0 + t * dx - px_, ey = y0 + t * dy - py_;
        if (ex * ex + ey * ey <= r * r) put(i, j, c);
      }
  }
  void triangle(double ax, double ay, double bx, double by, double cx, double cy, uint32_t c) {
    const int xa = int(std::fmin(ax, std::fmin(bx, cx))), xb = int(std::fmax(ax, std::fmax(bx, cx))) + 1;
    const int ya = int(std::fmin(ay, std::fmin(by, cy))), yb = int(std::fmax(ay, std::fmax(by, cy))) + 1;
    auto edge = [](double x0, double y0, double x1, double y1, double x, double y) {
      return (x1 - x0) * (y - y0) - (y1 - y0) * (x - x0);
    };
    for (int j = ya; j <= yb; ++j)
      for (int i = xa; i <= xb; ++i) {
        const double x = i + 0.5, y = j + 0.5;
        const double e0 = edge(ax, ay, bx, by, x, y), e1 = edge(bx, by, cx, cy, x, y),
                     e2 = edge(cx, cy, ax, ay, x, y);
        if ((e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0)) put(i, j, c);
      }
  }
  void glyph(const uint8_t* rows, int x, int y, int sx, int sy, uint32_t c) {
    for (int gy = 0; gy < 8; ++gy)
      for (int gx = 0; gx < 8; ++gx)
        if ((rows[gy] >> (7 - gx)) & 1) fill_rect(x + gx * sx, y + gy * sy, sx, sy, c);
  }
  void text(const char* s, int x, int y, int sx, int sy, uint32_t c);
};

uint32_t grey(int g, int a = 255) { return abgr(g, g, g, a); }

// Letters of the national keyboards that the font does not have (Latin-1 codes).
struct ExtraGlyph {
  unsigned char code;
  uint8_t rows[8];
};
constexpr ExtraGlyph extra_glyphs[] = {
    {0xD1, {0x76, 0xDC, 0x00, 0xC6, 0xE6, 0xF6, 0xDE, 0xCE}},  // N with tilde
    {0xC5, {0x38, 0x28, 0x38, 0x6C, 0xC6, 0xFE, 0xC6, 0xC6}},  // A with ring
    {0xC6, {0x3F, 0x6C, 0xCC, 0xFE, 0xCC, 0xCC, 0xCF, 0x00}},  // AE
    {0xD8, {0x7D, 0xC6, 0xCE, 0xD6, 0xE6, 0xC6, 0xBC, 0x00}},  // O with stroke
};

const uint8_t* glyph_rows(unsigned char code) {
  for (const ExtraGlyph& g : extra_glyphs)
    if (g.code == code) return g.rows;
  return font8x8[code];
}

void Canvas::text(const char* s, int x, int y, int sx, int sy, uint32_t c) {
  for (; *s; ++s, x += 8 * sx) glyph(glyph_rows(static_cast<unsigned char>(*s)), x, y, sx, sy, c);
}

// ---- Keyboard geometry ------------------------------------------------------------------------

constexpr VkbdKey ROW0[] = {{4, 40}, {4, 8},  {4, 24}, {4, 23}, {4, 7},   {4, 22},
                            {4, 6},  {4, 21}, {4, 5},  {4, 20}, {4, 4},   {4, 19},
                            {4, 3},  {4, 2},  {4, 121}, {4, 33}, {4, 49}, {4, 48}};
constexpr VkbdKey ROW1[] = {{6, 72}, {4, 56}, {4, 55}, {4, 39}, {4, 38}, {4, 54},
                            {4, 53}, {4, 37}, {4, 52}, {4, 36}, {4, 51}, {4, 35},
                            {4, 18}, {6, 34}, {4, 66}, {4, 65}, {4, 64}};
constexpr VkbdKey ROW2[] = {{7, 104}, {4, 88}, {4, 71}, {4, 87}, {4, 86}, {4, 70},
                            {4, 69},  {4, 85}, {4, 84}, {4, 68}, {4, 83}, {4, 67},
                            {4, 50},  {5, 34}, {4, 81}, {4, 97}, {4, 80}};
constexpr VkbdKey ROW3[] = {{9, 82},  {4, 120}, {4, 119}, {4, 103}, {4, 118}, {4, 102},
                            {4, 101}, {4, 100}, {4, 116}, {4, 115}, {4, 99},  {4, 98},
                            {7, 82},  {4, 113}, {4, 0},   {4, 112}};
constexpr VkbdKey ROW4[] = {{9, 114}, {7, 17}, {32, 117}, {12, 96}, {4, 1}, {4, 32}, {4, 16}};

struct RowTable {
  const VkbdKey* keys;
  int count;
};
constexpr RowTable ROWS[VKBD_ROWS] = {{ROW0, 18}, {ROW1, 17}, {ROW2, 17}, {ROW3, 16}, {ROW4, 7}};

// ---- Key labels -------------------------------------------------------------------------------

struct Label {
  int code;
  const char* top;   // the SHIFT character printed above, or nullptr
  const char* main;  // the key's own character or name
};

constexpr Label ENGLISH[] = {
    {40, nullptr, "ESC"}, {8, "!", "1"},  {24, "\"", "2"}, {23, "#", "3"},  {7, "$", "4"},
    {22, "%", "5"},       {6, "&", "6"},  {21, "'", "7"},  {5, "(", "8"},   {20, ")", "9"},
    {4, "_", "0"},        {19, "=", "-"}, {3, "\xA3", "^"}, {2, nullptr, "CLR"},
    {121, nullptr, "DEL"}, {33, nullptr, "f7"}, {49, nullptr, "f8"}, {48, nullptr, "f9"},
    {72, nullptr, "TAB"}, {56, nullptr, "Q"}, {55, nullptr, "W"}, {39, nullptr, "E"},
    {38, nullptr, "R"},   {54, nullptr, "T"}, {53, nullptr, "Y"}, {37, nullptr, "U"},
    {52, nullptr, "I"},   {36, nullptr, "O"}, {51, nullptr, "P"}, {35, "|", "@"},
    {18, "{", "["},       {34, nullptr, "RETURN"}, {66, nullptr, "f4"}, {65, nullptr, "f5"},
    {64, nullptr, "f6"},  {104, nullptr, "CAPS LOCK"}, {88, nullptr, "A"}, {71, nullptr, "S"},
    {87, nullptr, "D"},   {86, nullptr, "F"}, {70, nullptr, "G"}, {69, nullptr, "H"},
    {85, nullptr, "J"},   {84, nullptr, "K"}, {68, nullptr, "L"}, {83, "*", ":"},
    {67, "+", ";"},       {50, "}", "]"},     {81, nullptr, "f1"}, {97, nullptr, "f2"},
    {80, nullptr, "f3"},  {82, nullptr, "SHIFT"}, {120, nullptr, "Z"}, {119, nullptr, "X"},
    {103, nullptr, "C"},  {118, nullptr, "V"}, {102, nullptr, "B"}, {101, nullptr, "N"},
    {100, nullptr, "M"},  {116, "<", ","},    {115, ">", "."},    {99, "?", "/"},
    {98, "`", "\\"},      {113, nullptr, "f0"}, {0, nullptr, "\xF0"}, {112, nullptr, "f."},
    {114, nullptr, "CONTROL"}, {17, nullptr, "COPY"}, {117, nullptr, ""},
    {96, nullptr, "ENTER"}, {1, nullptr, "\xF2"}, {32, nullptr, "\xF1"}, {16, nullptr, "\xF3"},
};

// What the national keyboards print differently.
constexpr Label GERMAN[] = {{53, nullptr, "Z"}, {120, nullptr, "Y"}};
constexpr Label FRENCH[] = {{56, nullptr, "A"}, {88, nullptr, "Q"}, {55, nullptr, "Z"},
                            {120, nullptr, "W"}, {83, nullptr, "M"}, {100, "?", ","}};
constexpr Label SPANISH[] = {{83, nullptr, "\xD1"}};
constexpr Label DANISH[] = {{35, nullptr, "\xC5"}, {83, nullptr, "\xC6"}, {67, nullptr, "\xD8"}};

struct LabelSet {
  const Label* labels;
  int count;
};
constexpr LabelSet NATIONAL[VKBD_LANGUAGES] = {
    {nullptr, 0}, {GERMAN, 2}, {FRENCH, 6}, {SPANISH, 1}, {DANISH, 3}};

const Label* find_label(const Label* labels, int count, int code) {
  for (int i = 0; i < count; ++i)
    if (labels[i].code == code) return &labels[i];
  return nullptr;
}

const Label* label_for(int language, int code) {
  if (language > 0 && language < VKBD_LANGUAGES) {
    const LabelSet& set = NATIONAL[language];
    if (const Label* l = find_label(set.labels, set.count, code)) return l;
  }
  return find_label(ENGLISH, int(sizeof ENGLISH / sizeof ENGLISH[0]), code);
}

// Key colours in grey: the casing, character keys, the editing and shift keys, the
// keypad (function keys and ENTER).
constexpr int CASING = 150;
constexpr int CHARACTER_KEY = 40;
constexpr int EDIT_KEY = 80;
constexpr int KEYPAD_KEY = 115;
constexpr int LABEL = 250;
constexpr int GAP = 2;  // picture pixels between a key's rectangle and its face

bool is_keypad(int code) {
  switch (code) {
    case 33: case 49: case 48: case 66: case 65: case 64: case 81: case 97: case 80:
    case 113: case 112: case 96:
      return true;
    default:
      return false;
  }
}

bool is_edit(int code) {
  switch (code) {
    case 40: case 2: case 121: case 72: case 34: case 104: case 82: case 114: case 17:
    case 0: case 1: case 32: case 16:
      return true;
    default:
      return false;
  }
}

int face_grey(int code) {
  if (is_keypad(code)) return KEYPAD_KEY;
  if (is_edit(code)) return EDIT_KEY;
  return CHARACTER_KEY;
}

void draw_face(Canvas& c, int x, int y, int w, int h, int g) {
  c.round_rect(x, y, w, h, 4, grey(g + 45 > 255 ? 255 : g + 45));       // light top-left edge
  c.round_rect(x + 2, y + 2, w - 2, h - 2, 4, grey(g - 25 < 0 ? 0 : g - 25));  // shade
  c.round_rect(x + 2, y + 2, w - 4, h - 5, 3, grey(g));
}

void draw_label(Canvas& c, const Label& l, int x, int y, int w, int h) {
  const uint32_t ink = grey(LABEL);
  if (l.top) {
    // Two characters, the shifted one above, as printed on the CPC's keys.
    c.text(l.top, x + 8, y + 5, 2, 2, ink);
    c.text(l.main, x + 8, y + h - 24, 2, 2, ink);
    return;
  }
  const int len = int(std::strlen(l.main));
  if (len == 0) return;
  // Largest width scale that fits the face; always twice as tall.
  const int sx = (len * 16 <= w - 6) ? 2 : 1;
  const int tw = len * 8 * sx;
  c.text(l.main, x + (w - tw) / 2, y + (h - 16) / 2, sx, 2, ink);
}

}  // namespace

// ---- Keyboard ----------------------------------------------------------------------------------

const VkbdKey* vkbd_row(int r, int& count) {
  if (r < 0 || r >= VKBD_ROWS) {
    count = 0;
    return nullptr;
  }
  count = ROWS[r].count;
  return ROWS[r].keys;
}

PictureRect vkbd_key_rect(int row, int index) {
  int count = 0;
  const VkbdKey* keys = vkbd_row(row, count);
  if (!keys || index < 0 || index >= count) return PictureRect{0, 0, 0, 0};
  int start = 0;
  for (int i = 0; i < index; ++i) start += keys[i].width;
  const int end = start + keys[index].width;
  // Unit position p lies at picture x = VKBD_LEFT + (p - 0.5) * unit (see vkbd_key_at).
  int x0 = int(std::lround(VKBD_LEFT + (start - 0.5) * VKBD_UNIT));
  int x1 = int(std::lround(VKBD_LEFT + (end - 0.5) * VKBD_UNIT));
  if (x0 < 0) x0 = 0;
  if (x1 > VKBD_WIDTH) x1 = VKBD_WIDTH;
  return PictureRect{x0, row * VKBD_ROW_HEIGHT, x1 - x0, VKBD_ROW_HEIGHT};
}

int vkbd_key_at(int x, int y, int w, int h) {
  if (w <= 0 || h <= 0 || x < 0 || y < 0 || x > w || y > h) return -1;
  const int row_height = w * VKBD_ROW_HEIGHT / VKBD_WIDTH;
  if (row_height <= 0) return -1;
  const int row = y / row_height;
  int count = 0;
  const VkbdKey* keys = vkbd_row(row, count);
  if (!keys) return -1;
  const double position = (x - 5) / (w * VKBD_UNIT / VKBD_WIDTH) + 0.5;
  int sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += keys[i].width;
    if (sum > position) return keys[i].code;
  }
  return -1;
}

std::vector<uint8_t> keyboard_picture(int language) {
  Canvas c(VKBD_WIDTH, VKBD_HEIGHT, grey(CASING));
  c.fill_rect(0, 0, VKBD_WIDTH, 2, grey(CASING + 40));
  c.fill_rect(0, VKBD_HEIGHT - 2, VKBD_WIDTH, 2, grey(CASING - 60));
  for (int r = 0; r < VKBD_ROWS; ++r) {
    int count = 0;
    const VkbdKey* keys = vkbd_row(r, count);
    for (int i = 0; i < count; ++i) {
      const PictureRect k = vkbd_key_rect(r, i);
      const int code = keys[i].code;
      int x = k.x + GAP, y = k.y + GAP, w = k.w - 2 * GAP, h = k.h - 2 * GAP;
      // RETURN spans two rows: its lower part reaches up into the upper one.
      bool lower_return = false;
      if (code == 34 && r == 2) {
        y -= 2 * GAP + 6;
        h += 2 * GAP + 6;
        lower_return = true;
      }
      draw_face(c, x, y, w, h, face_grey(code));
      if (lower_return) {
        // No edge where the two parts meet.
        c.fill_rect(x + 2, y, w - 4, 2 * GAP + 8, grey(face_grey(code)));
        continue;
      }
      if (const Label* l = label_for(language, code)) draw_label(c, *l, x, y, w, h);
    }
  }
  std::vector<uint8_t> out(c.px.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(c.px[i] & 255);
  return out;
}

// ---- Icons ------------------------------------------------------------------------------------

namespace {

void draw_mouse(Canvas& c, double s, uint32_t body, uint32_t edge, uint32_t button, uint32_t cable) {
  const double t = 3 * s;
  c.line(32 * s, 12 * s, 32 * s, 3 * s, t, cable);
  c.round_rect(int(17 * s), int(12 * s), int(30 * s), int(46 * s), int(13 * s), edge);
  c.round_rect(int(17 * s + t), int(12 * s + t), int(30 * s - 2 * t), int(46 * s - 2 * t),
               int(13 * s - t), body);
  // The left button lit, the button seams.
  c.round_rect(int(17 * s + t), int(12 * s + t), int(15 * s - 1.5 * t), int(14 * s), int(10 * s), button);
  c.fill_rect(int(17 * s + t), int(26 * s), int(30 * s - 2 * t), int(t * 0.7 + 1), edge);
  c.fill_rect(int(32 * s - t / 3), int(12 * s), int(t * 0.7 + 1), int(14 * s), edge);
}

void draw_joystick(Canvas& c, double s, uint32_t base, uint32_t stick, uint32_t ball, uint32_t fire) {
  c.round_rect(int(10 * s), int(42 * s), int(44 * s), int(14 * s), int(5 * s), base);
  c.line(32 * s, 44 * s, 36 * s, 16 * s, 5 * s, stick);
  c.disc(36 * s, 14 * s, 8 * s, ball);
  c.disc(19 * s, 40 * s, 4 * s, fire);
}

void draw_arrow_keys(Canvas& c, uint32_t key, uint32_t arrow) {
  const int k = 36, g = 4;
  const int cx = 64 - k / 2;
  const int positions[4][2] = {{cx, 64 - k - g - k / 2}, {cx - k - g, 64 - k / 2 + 4},
                               {cx, 64 - k / 2 + 4},     {cx + k + g, 64 - k / 2 + 4}};
  const int arrows[4] = {glyph::ARROW_UP, glyph::ARROW_LEFT, glyph::ARROW_DOWN, glyph::ARROW_RIGHT};
  for (int i = 0; i < 4; ++i) {
    c.round_rect(positions[i][0], positions[i][1], k, k, 6, key);
    c.glyph(font8x8[arrows[i]], positions[i][0] + 6, positions[i][1] + 6, 3, 3, arrow);
  }
}

}  // namespace

std::vector<uint8_t> small_icon(int n) {
  Canvas c(SMALL_ICON_SIZE, SMALL_ICON_SIZE, grey(0));
  if (n == 0) draw_mouse(c, 1.0, grey(70), grey(230), grey(150), grey(200));
  else draw_joystick(c, 1.0, grey(150), grey(200), grey(255), grey(230));
  std::vector<uint8_t> out(c.px.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(c.px[i] & 255);
  return out;
}

std::vector<uint32_t> large_icon(int n) {
  Canvas c(LARGE_ICON_SIZE, LARGE_ICON_SIZE, abgr(0, 0, 0, 0));
  if (n == 0) {
    draw_mouse(c, 2.0, abgr(225, 225, 215), abgr(40, 40, 48), abgr(230, 60, 50), abgr(60, 60, 70));
  } else if (n == 1) {
    draw_joystick(c, 2.0, abgr(35, 35, 40), abgr(170, 170, 180), abgr(220, 30, 40), abgr(250, 200, 0));
  } else {
    draw_arrow_keys(c, abgr(50, 90, 190), abgr(255, 255, 255));
  }
  return c.px;
}

// ---- Touch controls ----------------------------------------------------------------------------

std::vector<uint32_t> touch_picture(int n) {
  if (n < 0 || n >= TOUCH_PICTURES) return {};
  const int w = TOUCH_SIZES[n][0], h = TOUCH_SIZES[n][1];
  Canvas c(w, h, abgr(0, 0, 0, 0));
  const uint32_t fill = abgr(255, 255, 255, 70), edge = abgr(255, 255, 255, 230);
  const uint32_t mark = abgr(255, 255, 255, 255);
  if (n == 0) {
    // The pad: a rounded frame with a cross of four arrows.
    c.round_rect(4, 4, w - 8, h - 8, 24, edge);
    c.round_rect(9, 9, w - 18, h - 18, 20, fill);
    const double cx = w / 2.0, cy = h / 2.0, a = 22, d = 62;
    c.triangle(cx, cy - d - a, cx - a, cy - d + 4, cx + a, cy - d + 4, mark);
    c.triangle(cx, cy + d + a, cx - a, cy + d - 4, cx + a, cy + d - 4, mark);
    c.triangle(cx - d + 12 - a, cy, cx - d + 16, cy - a, cx - d + 16, cy + a, mark);
    c.triangle(cx + d - 12 + a, cy, cx + d - 16, cy - a, cx + d - 16, cy + a, mark);
    c.ring(cx, cy, 18, 4, edge);
  } else {
    const int buttons = n == 1 ? 2 : 1;
    const char* names[2] = {n == 1 ? "1" : "3", "2"};
    for (int b = 0; b < buttons; ++b) {
      const double cx = w / 2.0, cy = h * (2 * b + 1) / (2.0 * buttons), r = w / 2.0 - 6;
      c.disc(cx, cy, r, fill);
      c.ring(cx, cy, r, 5, edge);
      c.text(names[b], int(cx - 16), int(cy - 16), 4, 4, mark);
    }
  }
  return c.px;
}
