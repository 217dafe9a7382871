// Helpers shared by the window and input tests: zeroed SDL events, a window's cells as
// text and as font rows, and the CPC keys down at one keyboard scan.
#pragma once
#include <SDL.h>

#include <array>
#include <cstring>
#include <set>
#include <string>

#include "hardware/keyboard.h"
#include "ui/glyphs.h"
#include "ui/window.h"

namespace uitest {

using Rows = std::array<uint8_t, 8>;

// A zeroed SDL event of one type.
inline SDL_Event event(Uint32 type) {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  return e;
}

// A character's font rows as text shows it (accents composed), and the font's symbol.
inline Rows glyph(int code) {
  Rows r;
  ui_glyph(code, r.data());
  return r;
}
inline Rows symbol(int code) {
  Rows r;
  ui_symbol(code, r.data());
  return r;
}

// The 8 × 8 pixels of a cell as font rows (1 where the foreground colour is).
inline Rows cell_rows(const winbase& w, int column, int row, uint16_t fg) {
  Rows out{};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (w.pixels()[(row * 8 + y) * w.pitch() + column * 8 + x] == fg) out[y] |= 0x80 >> x;
  return out;
}

// The codes of cells from..to of a row as text ('?' for a cell outside the window).
inline std::string row_text(const winbase& w, int row, int from, int to) {
  std::string s;
  for (int c = from; c <= to; ++c) {
    const int code = w.cell_code(c, row);
    s += code < 0 ? '?' : static_cast<char>(code);
  }
  return s;
}

// One keyboard scan as the firmware does it: rows 0 to 9 (reading row 0 steps any
// typing). The keys read as pressed, as bit * 16 + row.
inline std::set<int> scan() {
  std::set<int> down;
  for (int row = 0; row < 10; ++row) {
    const uint8_t v = keyboard_row(row);
    for (int bit = 0; bit < 8; ++bit)
      if (!(v & (1 << bit))) down.insert(bit * 16 + row);
  }
  return down;
}

}  // namespace uitest
