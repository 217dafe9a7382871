// The program's 8 × 8 character font, shared by the display's badge, the on-screen
// keyboard picture and the text windows.
//
// 256 glyphs in the CPC character set layout: printable ASCII at 32..126, block
// graphics (2 × 2 quarters) at 128..143, box-drawing pieces at 144..159, the pound sign
// at 163, filled triangles at 212 and 214, arrows at 240..243 and a play mark at 246.
// One byte per glyph row, top row first, bit 7 the leftmost pixel. Codes without a
// glyph of their own are blank.
#pragma once
#include <cstdint>

constexpr int FONT_GLYPHS = 256;
constexpr int GLYPH_SIZE = 8;

extern const uint8_t (&font8x8)[FONT_GLYPHS][GLYPH_SIZE];

// Glyph codes the program uses by number.
namespace glyph {
constexpr int VERTICAL_BAR = 124;
constexpr int BOX_VERTICAL = 149, BOX_HORIZONTAL = 154;
constexpr int BOX_TOP_LEFT = 150, BOX_TOP_RIGHT = 156, BOX_BOTTOM_LEFT = 147,
              BOX_BOTTOM_RIGHT = 153;
constexpr int POUND = 163;
constexpr int TRIANGLE_RIGHT = 212, TRIANGLE_LEFT = 214;
constexpr int ARROW_UP = 240, ARROW_DOWN = 241, ARROW_LEFT = 242, ARROW_RIGHT = 243;
constexpr int PLAY = 246;
}  // namespace glyph

// True when pixel (x, y) of glyph `code` is set (x, y in 0..7).
inline bool glyph_pixel(int code, int x, int y) {
  return (font8x8[code & 255][y & 7] >> (7 - (x & 7))) & 1;
}
