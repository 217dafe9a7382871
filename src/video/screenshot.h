// Screenshots of the emulated screen as 8-bit indexed BMP files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "video/display_layout.h"

constexpr const char* SCREENSHOT_FILE = "screenshot.bmp";

// An 8-bit picture: one palette index per pixel, rows from the top.
struct IndexedPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;    // width * height
  std::vector<uint32_t> palette;  // 0x00RRGGBB, at most 256 entries
};

// The part of the frame buffer a screenshot shows: the display area of the previous
// frame as the border crop shows it, in frame rows (each monitor line two rows); the
// whole frame when the CRTC showed nothing. Always inside the frame buffer.
ScreenRect screenshot_area(const DisplayBounds& bounds);

// The frame buffer's pixels of `area` (clipped to the frame), each monitor line repeated
// on the row below as the monitor shows it. The palette holds the distinct RGB565
// colours in order of appearance; should there be more than 256, later ones take the
// nearest entry.
IndexedPicture indexed_frame_picture(const uint16_t* frame, ScreenRect area);

// Writes the picture as an uncompressed 8-bit BMP (BITMAPINFOHEADER, rows bottom-up,
// padded to 4 bytes). 0 on success; 1 with a message in `error` when the picture is
// empty or the file cannot be written.
int write_indexed_bmp(const std::string& path, const IndexedPicture& picture, std::string& error);
