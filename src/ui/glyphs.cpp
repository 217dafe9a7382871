#include "ui/glyphs.h"

#include <cstring>

#include "video/font8x8.h"

namespace {

// Latin-1 0xC0..0xFF: base letter and accent. Letters without a composition of their
// own (Æ, ×, ß, ...) have base 0 and are drawn from the extra glyphs below.
constexpr AccentedLetter LATIN1[64] = {
    {'A', ACCENT_GRAVE},     {'A', ACCENT_ACUTE},     {'A', ACCENT_CIRCUMFLEX}, {'A', ACCENT_TILDE},
    {'A', ACCENT_DIAERESIS}, {'A', ACCENT_RING},      {0, 0},                   {'C', ACCENT_CEDILLA},
    {'E', ACCENT_GRAVE},     {'E', ACCENT_ACUTE},     {'E', ACCENT_CIRCUMFLEX}, {'E', ACCENT_DIAERESIS},
    {'I', ACCENT_GRAVE},     {'I', ACCENT_ACUTE},     {'I', ACCENT_CIRCUMFLEX}, {'I', ACCENT_DIAERESIS},
    {'D', ACCENT_STROKE},    {'N', ACCENT_TILDE},     {'O', ACCENT_GRAVE},      {'O', ACCENT_ACUTE},
    {'O', ACCENT_CIRCUMFLEX}, {'O', ACCENT_TILDE},    {'O', ACCENT_DIAERESIS},  {0, 0},
    {'O', ACCENT_STROKE},    {'U', ACCENT_GRAVE},     {'U', ACCENT_ACUTE},      {'U', ACCENT_CIRCUMFLEX},
    {'U', ACCENT_DIAERESIS}, {'Y', ACCENT_ACUTE},     {0, 0},                   {0, 0},
    {'a', ACCENT_GRAVE},     {'a', ACCENT_ACUTE},     {'a', ACCENT_CIRCUMFLEX}, {'a', ACCENT_TILDE},
    {'a', ACCENT_DIAERESIS}, {'a', ACCENT_RING},      {0, 0},                   {'c', ACCENT_CEDILLA},
    {'e', ACCENT_GRAVE},     {'e', ACCENT_ACUTE},     {'e', ACCENT_CIRCUMFLEX}, {'e', ACCENT_DIAERESIS},
    {'i', ACCENT_GRAVE},     {'i', ACCENT_ACUTE},     {'i', ACCENT_CIRCUMFLEX}, {'i', ACCENT_DIAERESIS},
    {'d', ACCENT_STROKE},    {'n', ACCENT_TILDE},     {'o', ACCENT_GRAVE},      {'o', ACCENT_ACUTE},
    {'o', ACCENT_CIRCUMFLEX}, {'o', ACCENT_TILDE},    {'o', ACCENT_DIAERESIS},  {0, 0},
    {'o', ACCENT_STROKE},    {'u', ACCENT_GRAVE},     {'u', ACCENT_ACUTE},      {'u', ACCENT_CIRCUMFLEX},
    {'u', ACCENT_DIAERESIS}, {'y', ACCENT_ACUTE},     {0, 0},                   {'y', ACCENT_DIAERESIS},
};

// The two rows of each accent mark drawn above a letter.
constexpr uint8_t MARK[9][2] = {
    {0x00, 0x00},  // none
    {0x30, 0x18},  // grave
    {0x0C, 0x18},  // acute
    {0x18, 0x66},  // circumflex
    {0x32, 0x4C},  // tilde
    {0x66, 0x00},  // diaeresis
    {0x18, 0x18},  // ring
    {0x00, 0x00},  // cedilla (below the letter)
    {0x00, 0x00},  // stroke (across the letter)
};

struct ExtraGlyph {
  int code;
  uint8_t rows[8];
};
// Symbols the windows need that the display's font leaves blank.
constexpr ExtraGlyph SYMBOLS[] = {
    {0xF4, {0x18, 0x3C, 0x7E, 0xFF, 0x18, 0x18, 0x18, 0x00}},  // scroll mark: more above
    {0xF5, {0x18, 0x18, 0x18, 0xFF, 0x7E, 0x3C, 0x18, 0x00}},  // scroll mark: more below
};
// Latin-1 characters of text that are no composed letters.
constexpr ExtraGlyph LATIN1_EXTRA[] = {
    {0xAB, {0x00, 0x33, 0x66, 0xCC, 0x66, 0x33, 0x00, 0x00}},  // «
    {0xB0, {0x38, 0x6C, 0x38, 0x00, 0x00, 0x00, 0x00, 0x00}},  // °
    {0xBB, {0x00, 0xCC, 0x66, 0x33, 0x66, 0xCC, 0x00, 0x00}},  // »
    {0xC6, {0x3F, 0x6C, 0xCC, 0xFE, 0xCC, 0xCC, 0xCF, 0x00}},  // Æ
    {0xD7, {0x00, 0x66, 0x3C, 0x18, 0x3C, 0x66, 0x00, 0x00}},  // ×
    {0xDE, {0xF0, 0x60, 0x7C, 0x66, 0x7C, 0x60, 0xF0, 0x00}},  // Þ
    {0xDF, {0x3C, 0x66, 0x66, 0x6C, 0x66, 0x66, 0x6C, 0x60}},  // ß
    {0xE6, {0x00, 0x00, 0x7E, 0x1B, 0x7F, 0xD8, 0x7E, 0x00}},  // æ
    {0xF7, {0x00, 0x18, 0x00, 0x7E, 0x00, 0x18, 0x00, 0x00}},  // ÷
    {0xFE, {0x00, 0xE0, 0x60, 0x7C, 0x66, 0x7C, 0x60, 0xF0}},  // þ
};

bool blank(const uint8_t* rows) {
  for (int y = 0; y < 8; ++y)
    if (rows[y]) return false;
  return true;
}

void copy_font_glyph(int code, uint8_t rows[8]) { std::memcpy(rows, font8x8[code & 255], 8); }

// Puts the accent mark above the letter. A letter that starts in its top two rows is
// first squeezed down (rows dropped from its middle) to make room.
void compose(int base, int accent, uint8_t rows[8]) {
  copy_font_glyph(base, rows);
  if (base == 'i' || base == 'I') {
    // The dot of i (and the serif of I) gives way to the accent.
    if (base == 'i') {
      int y = 0;
      while (y < 8 && !rows[y]) ++y;
      while (y < 8 && rows[y]) rows[y++] = 0;
    }
  }
  if (accent == ACCENT_CEDILLA) {
    int bottom = 7;
    while (bottom > 0 && !rows[bottom]) --bottom;
    if (bottom == 7) {  // no free row below: lift the letter by one
      std::memmove(rows, rows + 1, 7);
      bottom = 6;
    }
    rows[bottom + 1] = static_cast<uint8_t>(rows[bottom + 1] | 0x18);
    if (bottom + 2 <= 7) rows[bottom + 2] |= 0x30;
    return;
  }
  if (accent == ACCENT_STROKE) {
    if (base == 'D' || base == 'd') {
      rows[4] = static_cast<uint8_t>(rows[4] | (base == 'D' ? 0xF0 : 0x3C));
      if (base == 'd') rows[1] |= 0x3E;
    } else {
      for (int y = 0; y < 8; ++y) rows[y] = static_cast<uint8_t>(rows[y] | (0x01 << y));
    }
    return;
  }
  int top = 0;
  while (top < 8 && !rows[top]) ++top;
  if (top >= 8) top = 2;
  if (top < 2) {
    // The letter keeps its baseline and is squeezed into the rows below the mark.
    int bottom = 7;
    while (bottom > top && !rows[bottom]) --bottom;
    if (bottom < 4) bottom = 7;
    uint8_t letter[8];
    int n = 0;
    for (int y = top; y <= bottom; ++y) letter[n++] = rows[y];
    const int room = bottom - 1;  // rows 2..bottom
    while (n > room) {
      // Of the two neighbouring rows that differ least, the one with fewer pixels goes
      // (never the first or the last row): repeated strokes go before cross bars.
      int best = 0, best_distance = 9;
      for (int y = 0; y + 1 < n; ++y) {
        const int d = __builtin_popcount(static_cast<unsigned>(letter[y] ^ letter[y + 1]));
        if (d < best_distance) {
          best_distance = d;
          best = y;
        }
      }
      int drop = __builtin_popcount(letter[best]) < __builtin_popcount(letter[best + 1]) ? best : best + 1;
      if (drop == 0) drop = 1;
      if (drop == n - 1) drop = n - 2;
      std::memmove(letter + drop, letter + drop + 1, static_cast<size_t>(n - drop - 1));
      --n;
    }
    std::memset(rows, 0, 8);
    const int start = bottom - n + 1;
    for (int y = 0; y < n; ++y) rows[start + y] = letter[y];
    top = 2;
  }
  rows[top - 2] = static_cast<uint8_t>(rows[top - 2] | MARK[accent][0]);
  rows[top - 1] = static_cast<uint8_t>(rows[top - 1] | MARK[accent][1]);
}

void flip_vertical(uint8_t rows[8]) {
  // Keeps the baseline: the glyph's used rows are mirrored within themselves.
  int top = 0, bottom = 7;
  while (top < 8 && !rows[top]) ++top;
  while (bottom > top && !rows[bottom]) --bottom;
  for (int a = top, b = bottom; a < b; ++a, --b) {
    const uint8_t t = rows[a];
    rows[a] = rows[b];
    rows[b] = t;
  }
}

uint8_t mirror(uint8_t v) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (v & (1 << i)) r = static_cast<uint8_t>(r | (0x80 >> i));
  return r;
}

}  // namespace

AccentedLetter accented_letter(int code) {
  if (code < 0xC0 || code > 0xFF) return {0, 0};
  return LATIN1[code - 0xC0];
}

void ui_symbol(int code, uint8_t rows[8]) {
  code &= 255;
  copy_font_glyph(code, rows);
  if (!blank(rows)) return;
  for (const ExtraGlyph& g : SYMBOLS)
    if (g.code == code) {
      std::memcpy(rows, g.rows, 8);
      return;
    }
}

void ui_glyph(int code, uint8_t rows[8]) {
  code &= 255;
  const AccentedLetter a = accented_letter(code);
  if (a.base) {
    compose(a.base, a.accent, rows);
    return;
  }
  if (code == 0xA1 || code == 0xBF) {  // ¡ and ¿: ! and ? turned upside down
    copy_font_glyph(code == 0xA1 ? '!' : '?', rows);
    flip_vertical(rows);
    if (code == 0xBF)
      for (int y = 0; y < 8; ++y) rows[y] = mirror(rows[y]);
    return;
  }
  for (const ExtraGlyph& g : LATIN1_EXTRA)
    if (g.code == code) {
      std::memcpy(rows, g.rows, 8);
      return;
    }
  ui_symbol(code, rows);
}
