#include "video/colours.h"

#include "config/settings.h"
#include "video/raster.h"

uint16_t host_colour[HW_COLOURS];
uint16_t pen_tables[4][256][8];

// The colour monitor's 27 colours by hardware number (levels 0, 50 % and 100 %).
namespace {
uint8_t active_palette[HW_COLOURS][3] = {
    {128, 128, 128}, {128, 128, 128}, {0, 255, 128},   {255, 255, 128},
    {0, 0, 128},     {255, 0, 128},   {0, 128, 128},   {255, 128, 128},
    {255, 0, 128},   {255, 255, 128}, {255, 255, 0},   {255, 255, 255},
    {255, 0, 0},     {255, 0, 255},   {255, 128, 0},   {255, 128, 255},
    {0, 0, 128},     {0, 255, 128},   {0, 255, 0},     {0, 255, 255},
    {0, 0, 0},       {0, 0, 255},     {0, 128, 0},     {0, 128, 255},
    {128, 0, 128},   {128, 255, 128}, {128, 255, 0},   {128, 255, 255},
    {128, 0, 0},     {128, 0, 255},   {128, 128, 0},   {128, 128, 255},
};

bool pen_tables_built = false;

int bit(int value, int n) { return (value >> n) & 1; }

void build_pen_tables() {
  for (int b = 0; b < 256; ++b) {
    // Mode 2: one pixel per bit, most significant first.
    for (int i = 0; i < 8; ++i) pen_tables[2][b][i] = static_cast<uint16_t>(bit(b, 7 - i));
    // Mode 1: four pixels, each twice as wide.
    for (int p = 0; p < 4; ++p) {
      uint16_t pen = static_cast<uint16_t>(bit(b, 7 - p) | bit(b, 3 - p) << 1);
      pen_tables[1][b][2 * p] = pen;
      pen_tables[1][b][2 * p + 1] = pen;
    }
    // Mode 0: two pixels, four times as wide, with the CPC's interleaved bit order.
    uint16_t left = static_cast<uint16_t>(bit(b, 7) | bit(b, 3) << 1 | bit(b, 5) << 2 | bit(b, 1) << 3);
    uint16_t right = static_cast<uint16_t>(bit(b, 6) | bit(b, 2) << 1 | bit(b, 4) << 2 | bit(b, 0) << 3);
    // Mode 3: like mode 0 with pens 0..3 only.
    uint16_t left3 = static_cast<uint16_t>(bit(b, 7) | bit(b, 3) << 1);
    uint16_t right3 = static_cast<uint16_t>(bit(b, 6) | bit(b, 2) << 1);
    for (int i = 0; i < 4; ++i) {
      pen_tables[0][b][i] = left;
      pen_tables[0][b][4 + i] = right;
      pen_tables[3][b][i] = left3;
      pen_tables[3][b][4 + i] = right3;
    }
  }
  pen_tables_built = true;
}

void build_host_colours() {
  for (int i = 0; i < HW_COLOURS; ++i)
    host_colour[i] = rgb565(active_palette[i][0], active_palette[i][1], active_palette[i][2]);
}
}  // namespace

void set_palette(int kind, const int* values96) {
  if (!values96 || kind != setting(kw::COLOUR_SCREEN)) return;
  for (int i = 0; i < HW_COLOURS; ++i)
    for (int c = 0; c < 3; ++c) active_palette[i][c] = static_cast<uint8_t>(values96[3 * i + c] & 0xFF);
  build_host_colours();
  video_refresh_palette();
}

void build_colour_tables() {
  if (!pen_tables_built) build_pen_tables();
  build_host_colours();
  video_refresh_palette();
}

const uint8_t* palette_rgb(int n) { return active_palette[n & (HW_COLOURS - 1)]; }

uint16_t host_colour_of(int n) { return (n >= 0 && n < HW_COLOURS) ? host_colour[n] : 0; }
