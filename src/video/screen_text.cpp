#include "video/screen_text.h"

#include <unordered_map>

#include "video/colours.h"
#include "video/gate_array.h"
#include "video/raster.h"

namespace {

bool glyph_blank(const uint8_t* g) {
  for (int i = 0; i < 8; ++i)
    if (g[i]) return false;
  return true;
}

uint64_t glyph_bits(const uint8_t* g) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 8 | g[i];
  return bits;
}

bool plausible_font(const uint8_t* f) {
  if (!glyph_blank(f + 32 * 8)) return false;
  std::unordered_map<uint64_t, int> seen;
  for (int c = 33; c < 127; ++c) {
    const uint8_t* g = f + c * 8;
    if (glyph_blank(g)) return false;
    if (!seen.emplace(glyph_bits(g), c).second) return false;
  }
  return true;
}

// Logical pixels per byte and their positions among the pen table's 8 entries.
int pixels_per_byte(int mode) { return mode == 2 ? 8 : (mode == 1 ? 4 : 2); }

}  // namespace

const uint8_t* find_rom_font(const uint8_t* rom, int size) {
  if (!rom || size < 2048) return nullptr;
  // The firmware keeps it at the end of the ROM; look there first.
  if (plausible_font(rom + size - 2048)) return rom + size - 2048;
  for (int off = 0; off + 2048 <= size; off += 8)
    if (plausible_font(rom + off)) return rom + off;
  return nullptr;
}

std::vector<std::string> decode_screen(const uint8_t* const ram[4], const uint8_t* font,
                                       const ScreenLayout& layout) {
  std::vector<std::string> lines;
  if (!font) return lines;
  build_colour_tables();  // the pen tables (built once)
  const int mode = layout.mode == 3 ? 0 : (layout.mode & 3);
  const int ppb = pixels_per_byte(mode);
  const int step = 8 / ppb;             // pen-table entries per logical pixel
  const int bytes_per_cell = 8 / ppb;   // 1, 2 or 4
  const int line_bytes = layout.columns * 2;
  const int cells = line_bytes / bytes_per_cell;

  // Pattern → character, printable characters first, then the rest of the set.
  std::unordered_map<uint64_t, char> glyphs;
  for (int c = 32; c < 127; ++c) glyphs.emplace(glyph_bits(font + c * 8), static_cast<char>(c));

  for (int row = 0; row < layout.rows; ++row) {
    std::string text;
    for (int cell = 0; cell < cells; ++cell) {
      int pens[8][8];
      for (int line = 0; line < 8; ++line) {
        for (int k = 0; k < bytes_per_cell; ++k) {
          int byte_index = cell * bytes_per_cell + k;
          int ma = (layout.start + row * layout.columns + byte_index / 2) & 0x3FFF;
          int addr = ((ma & 0x3000) << 2) | ((line & 7) << 11) | ((ma & 0x3FF) << 1) | (byte_index & 1);
          uint8_t b = ram[addr >> 14][addr & 0x3FFF];
          for (int p = 0; p < ppb; ++p) pens[line][k * ppb + p] = pen_tables[mode][b][p * step];
        }
      }
      // Two pens at most: one for the glyph's set pixels, one for the rest.
      const int paper = pens[0][0];
      int ink = -1;
      uint64_t bits = 0;
      bool ok = true;
      for (int line = 0; line < 8 && ok; ++line) {
        for (int x = 0; x < 8; ++x) {
          int pen = pens[line][x];
          bits <<= 1;
          if (pen == paper) continue;
          if (ink < 0) ink = pen;
          if (pen != ink) {
            ok = false;
            break;
          }
          bits |= 1;
        }
      }
      char ch = ' ';
      if (ok && ink >= 0) {
        auto it = glyphs.find(bits);
        if (it == glyphs.end()) it = glyphs.find(~bits);
        if (it != glyphs.end()) ch = it->second;
      }
      text += ch;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    lines.push_back(text);
  }
  return lines;
}

std::vector<std::string> screen_text(const uint8_t* lower_rom) {
  const uint8_t* font = find_rom_font(lower_rom);
  if (!font) return {};
  ScreenLayout layout{ga_screen_mode(), crtc_register(crtc_reg::HDISPLAYED),
                      crtc_register(crtc_reg::VDISPLAYED),
                      (crtc_register(crtc_reg::START_HIGH) << 8) | crtc_register(crtc_reg::START_LOW)};
  const uint8_t* ram[4] = {video_ram_block(0), video_ram_block(1), video_ram_block(2),
                           video_ram_block(3)};
  return decode_screen(ram, font, layout);
}
