// The CPC screen read back as text: each character cell of video RAM is matched
// against the character set of the operating system ROM, in screen modes 0, 1 and 2.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Where the 256-glyph character set (8 bytes per glyph) lies in a 16 KB lower ROM image:
// the 2 KB table whose blank is glyph 32 and whose printable glyphs 33..126 are all
// distinct and not blank. nullptr when there is none.
const uint8_t* find_rom_font(const uint8_t* rom, int size = 16384);

struct ScreenLayout {
  int mode;       // 0, 1 or 2 (3 reads as 0)
  int columns;    // CRTC characters per line (R1)
  int rows;       // character rows (R6)
  int start;      // display start address (R12 << 8 | R13)
};

// Decodes the screen held in the four 16 KB blocks of the base RAM. One string per
// character row; cells that match no glyph, and blank cells, are blanks; trailing blanks
// are dropped. Inverse cells (the cursor) match as their glyph.
std::vector<std::string> decode_screen(const uint8_t* const ram[4], const uint8_t* font,
                                       const ScreenLayout& layout);

// The running machine's screen: CRTC registers, the mode in effect, the base RAM and the
// font of the given lower ROM image (the caller names it: the bank table lies above the
// video unit). Empty when there is no lower ROM or no font in it.
std::vector<std::string> screen_text(const uint8_t* lower_rom);
