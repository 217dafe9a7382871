// Host colours and pen tables of the raster engine.
//
// The host colour table maps each of the CPC's 32 hardware colours to an RGB565 pixel
// value; it is built from the active palette (the data file's RGB_PAL_COLOUR or
// RGB_PAL_GREEN, chosen by COLOUR_SCREEN). The pen tables turn one video byte into the
// pen numbers of the 8 frame-buffer pixels it produces, one table per screen mode.
#pragma once
#include <cstdint>

constexpr int HW_COLOURS = 32;
// Hardware colour number of black; its host value is the blanking black.
constexpr int HW_BLACK = 20;

// RGB565 of hardware colour 0..31. Exported as a variable, like the pen tables below,
// because the raster step reads both for every pixel; only this unit writes them.
extern uint16_t host_colour[HW_COLOURS];

// pen_tables[mode][byte][i]: pen of pixel i (0..7) produced by video byte `byte`.
extern uint16_t pen_tables[4][256][8];

// The active palette's (red, green, blue) of hardware colour n (0..31), each 0..255. The
// standard CPC colour monitor palette until the data file supplies one.
const uint8_t* palette_rgb(int n);

inline uint16_t rgb565(int r, int g, int b) {
  return static_cast<uint16_t>(((r & 0xFF) >> 3) << 11 | ((g & 0xFF) >> 2) << 5 | ((b & 0xFF) >> 3));
}

// A palette from the data file: kind 1 colour, 0 green monitor. Only the one whose
// kind equals COLOUR_SCREEN is kept; it becomes the active palette and the host colour
// table is rebuilt. values96 holds red, green, blue of colours 0..31 (low 8 bits count).
void set_palette(int kind, const int* values96);

// Builds the pen tables (once) and the host colour table from the active palette.
// Called at start-up and whenever the run loop is entered.
void build_colour_tables();

// Host pixel value of hardware colour n (0..31); other values give 0.
uint16_t host_colour_of(int n);
