// Reading the screen back as text: glyphs drawn into video RAM in each mode with the
// CPC's pixel layout, decoded against the character set.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "video/screen_text.h"

namespace {

// A character set whose glyphs are all different: printable characters get a pattern
// from their code, glyph 32 is blank.
struct TestFont {
  uint8_t bytes[2048] = {};
  TestFont() {
    for (int c = 33; c < 256; ++c)
      for (int line = 0; line < 8; ++line)
        bytes[c * 8 + line] = static_cast<uint8_t>((c * (line + 3)) ^ (line << 4) ^ 0x81);
  }
};

// Byte value for the pens of one byte's pixels, by the CPC's bit layout: in mode 2 pixel
// p is bit 7 - p; in mode 1 its pen bits 0 and 1 are bits 7 - p and 3 - p; in mode 0 the
// left pixel's pen bits 0-3 are bits 7, 3, 5, 1 and the right pixel's bits 6, 2, 4, 0.
uint8_t encode(int mode, const int* pens) {
  static const int mode0[2][4] = {{7, 3, 5, 1}, {6, 2, 4, 0}};
  const int pixels = mode == 2 ? 8 : (mode == 1 ? 4 : 2);
  uint8_t b = 0;
  for (int p = 0; p < pixels; ++p)
    for (int k = 0; k < 8 / pixels; ++k) {
      const int at = mode == 2 ? 7 - p : (mode == 1 ? (k == 0 ? 7 - p : 3 - p) : mode0[p][k]);
      b |= static_cast<uint8_t>(((pens[p] >> k) & 1) << at);
    }
  return b;
}

class ScreenTextTest : public ::testing::Test {
 protected:
  uint8_t ram[4][16384] = {};
  const uint8_t* blocks[4] = {ram[0], ram[1], ram[2], ram[3]};
  TestFont font;

  // Draws character c at text cell (col, row) of the firmware's screen (0xC000, 80 bytes
  // per line), with the given ink and paper pens.
  void draw(int mode, int col, int row, int c, int ink, int paper, int start = 0x3000) {
    const int ppb = mode == 2 ? 8 : (mode == 1 ? 4 : 2);
    const int bytes = 8 / ppb;
    for (int line = 0; line < 8; ++line) {
      const uint8_t g = font.bytes[c * 8 + line];
      for (int k = 0; k < bytes; ++k) {
        int pens[8];
        for (int p = 0; p < ppb; ++p) pens[p] = (g >> (7 - (k * ppb + p))) & 1 ? ink : paper;
        const uint8_t b = encode(mode, pens);
        const int byte_index = col * bytes + k;
        const int ma = (start + row * 40 + byte_index / 2) & 0x3FFF;
        const int addr = ((ma & 0x3000) << 2) | (line << 11) | ((ma & 0x3FF) << 1) | (byte_index & 1);
        ram[addr >> 14][addr & 0x3FFF] = b;
      }
    }
  }

  void write(int mode, int col, int row, const char* text, int ink, int paper, int start = 0x3000) {
    for (int i = 0; text[i]; ++i) draw(mode, col + i, row, static_cast<unsigned char>(text[i]), ink, paper, start);
  }
};

TEST_F(ScreenTextTest, ReadsTextInEveryMode) {
  struct {
    int mode, ink, paper, columns;
  } cases[] = {{2, 1, 0, 80}, {1, 3, 1, 40}, {1, 0, 2, 40}, {0, 9, 4, 20}, {0, 15, 0, 20}};
  for (const auto& c : cases) {
    std::memset(ram, 0, sizeof ram);
    // The paper everywhere first, as CLS leaves it.
    for (int row = 0; row < 25; ++row)
      for (int col = 0; col < c.columns; ++col) draw(c.mode, col, row, ' ', c.ink, c.paper);
    write(c.mode, 1, 0, "Ready", c.ink, c.paper);
    write(c.mode, 0, 24, "Last row!", c.ink, c.paper);
    write(c.mode, c.columns - 3, 5, "END", c.ink, c.paper);
    auto lines = decode_screen(blocks, font.bytes, ScreenLayout{c.mode, 40, 25, 0x3000});
    std::vector<std::string> expected(25);  // blank rows read as empty lines
    expected[0] = " Ready";
    expected[5] = std::string(c.columns - 3, ' ') + "END";
    expected[24] = "Last row!";
    EXPECT_EQ(lines, expected) << "mode " << c.mode;
  }
}

TEST_F(ScreenTextTest, InverseCellsUnknownCellsAndAnotherDisplayStart) {
  write(1, 0, 0, "AB", 1, 0);
  draw(1, 2, 0, 'C', 0, 1);  // cursor-like inverse cell
  // A cell of three pens matches nothing.
  draw(1, 3, 0, 'D', 1, 0);
  ram[3][0x0006] = 0xFF;  // first line of cell 3: both pen bits set → pen 3
  EXPECT_EQ(decode_screen(blocks, font.bytes, ScreenLayout{1, 40, 1, 0x3000}),
            std::vector<std::string>{"ABC"});

  // A start address other than the firmware's: rows run on into the next 16 KB block.
  write(2, 0, 1, "wrapped", 1, 0, 0x1FF0);
  EXPECT_EQ(decode_screen(blocks, font.bytes, ScreenLayout{2, 40, 2, 0x1FF0}),
            (std::vector<std::string>{"", "wrapped"}));
}

// The character set wherever it lies in a ROM image; that the three operating system
// ROMs' own sets are found is e2e.boot's start-up banners read back as text.
TEST_F(ScreenTextTest, FindsTheCharacterSetInARom) {
  TestFont moved;
  std::vector<uint8_t> rom(16384, 0x55);
  std::memcpy(rom.data() + 0x1000, moved.bytes, 2048);
  EXPECT_EQ(find_rom_font(rom.data()), rom.data() + 0x1000);
  std::vector<uint8_t> none(16384, 0);
  EXPECT_EQ(find_rom_font(none.data()), nullptr);
  EXPECT_EQ(find_rom_font(nullptr), nullptr);
}

}  // namespace
