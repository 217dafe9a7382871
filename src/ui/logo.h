// The program's logo for the splash window: 300 × 145 pixels, 8 bits per pixel with
// its own palette, drawn by the program at start.
#pragma once
#include <cstdint>
#include <vector>

constexpr int LOGO_WIDTH = 300;
constexpr int LOGO_HEIGHT = 145;
constexpr int LOGO_COLOURS = 32;

struct LogoPicture {
  std::vector<uint8_t> pixels;      // LOGO_WIDTH × LOGO_HEIGHT palette indexes, rows from the top
  uint8_t palette[LOGO_COLOURS][3];  // red, green, blue
};

LogoPicture draw_logo();
