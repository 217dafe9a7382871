// The display's pictures, drawn by the program at start-up: the on-screen CPC keyboard
// (one picture per keyboard language), the mouse and joystick icons and the touch
// controls. Plain pixel arrays; the SDL display turns them into textures.
#pragma once
#include <cstdint>
#include <vector>

// Pixels of the 32-bit pictures are SDL_PIXELFORMAT_ABGR8888 values: A << 24 | B << 16 |
// G << 8 | R.
constexpr uint32_t abgr(int r, int g, int b, int a = 255) {
  return static_cast<uint32_t>(a & 255) << 24 | static_cast<uint32_t>(b & 255) << 16 |
         static_cast<uint32_t>(g & 255) << 8 | static_cast<uint32_t>(r & 255);
}

// ---- On-screen keyboard ------------------------------------------------------------------------
constexpr int VKBD_WIDTH = 963;
constexpr int VKBD_HEIGHT = 265;
constexpr int VKBD_ROWS = 5;
constexpr int VKBD_ROW_HEIGHT = 53;    // picture pixels per key row
constexpr double VKBD_UNIT = 13.35;    // picture pixels per width unit (a key is 4 units)
constexpr int VKBD_LEFT = 5;           // picture x of unit position 0.5
constexpr int VKBD_LANGUAGES = 5;      // 0 English, 1 German, 2 French, 3 Spanish, 4 Danish

// One key of a row: width in units and the CPC key code (bit * 16 + matrix row).
struct VkbdKey {
  int width;
  int code;
};
// The keys of row r (0 top) from left to right; count receives their number.
const VkbdKey* vkbd_row(int r, int& count);

struct PictureRect {
  int x, y, w, h;
};
// The picture rectangle of key `index` of row `row` (the drawn key face lies inside it).
PictureRect vkbd_key_rect(int row, int index);
// The key under a point relative to a keyboard shown at w × h screen pixels: its code, or
// -1 outside the keyboard or beyond the end of a row.
int vkbd_key_at(int x, int y, int w, int h);

// The keyboard picture in grey levels (VKBD_WIDTH × VKBD_HEIGHT, rows from the top) with
// the key labels of the language (0..4; others give English).
std::vector<uint8_t> keyboard_picture(int language);

// ---- Icons -----------------------------------------------------------------------------------
constexpr int SMALL_ICON_SIZE = 64;   // grey pictures: 0 mouse, 1 joystick
constexpr int LARGE_ICON_SIZE = 128;  // colour pictures: 0 mouse, 1 joystick, 2 cursor keys
constexpr int SMALL_ICONS = 2;
constexpr int LARGE_ICONS = 3;
std::vector<uint8_t> small_icon(int n);    // grey levels
std::vector<uint32_t> large_icon(int n);   // ABGR8888, transparent background

// ---- Touch controls --------------------------------------------------------------------------
// 0 the direction pad (160 × 222), 1 fire buttons 1 and 2 (128 × 210), 2 fire button 3
// (128 × 192). White and grey on a transparent background (the display tints them).
constexpr int TOUCH_PICTURES = 3;
constexpr int TOUCH_SIZES[TOUCH_PICTURES][2] = {{160, 222}, {128, 210}, {128, 192}};
std::vector<uint32_t> touch_picture(int n);
