// The glyphs the program's windows draw: the 8 × 8 font of the display, the Latin-1
// accented letters composed from a base letter and an accent mark, and the few symbols
// the windows need beyond the font (the footer's scroll marks 244 and 245, ß, Æ, ...).
#pragma once
#include <cstdint>

namespace uiglyph {
constexpr int SCROLL_UP = 0xF4;    // rows hidden above the list
constexpr int SCROLL_DOWN = 0xF5;  // rows hidden below the list
}  // namespace uiglyph

// Accent kinds of the composed letters.
enum AccentKind : int {
  ACCENT_NONE = 0,
  ACCENT_GRAVE,
  ACCENT_ACUTE,
  ACCENT_CIRCUMFLEX,
  ACCENT_TILDE,
  ACCENT_DIAERESIS,
  ACCENT_RING,
  ACCENT_CEDILLA,
  ACCENT_STROKE,
};

struct AccentedLetter {
  char base;  // 0 when the code is no composed letter
  int accent;
};
// The base letter and accent of a Latin-1 code (0xC0..0xFF); {0, 0} for other codes.
AccentedLetter accented_letter(int code);

// The eight rows of the glyph for a byte of Latin-1 text (bit 7 the leftmost pixel):
// accented letters are composed, other codes come from the font.
void ui_glyph(int code, uint8_t rows[8]);
// The font's own glyph for a code (the symbols of the CPC character set, e.g. the
// scroll marks 244 and 245, which Latin-1 text would show as ô and õ).
void ui_symbol(int code, uint8_t rows[8]);
