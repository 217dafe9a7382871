// Pictures of the frame buffer as PNG or 24-bit BMP files,
// for the headless runner's screenshots and reference images.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// 8-bit RGB pixels, row by row from the top.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

// The frame buffer as the monitor shows it: 768 × 544, each monitor line (even row)
// repeated on the odd row below it.
RgbPicture frame_picture();

// RGB565 → 8-bit channels, low bits filled from the high ones.
void rgb565_to_rgb(uint16_t pixel, uint8_t* out);

// 0 on success; 1 with a message in `error` when the file cannot be written.
int write_png(const std::string& path, const RgbPicture& picture, std::string& error);
int write_bmp(const std::string& path, const RgbPicture& picture, std::string& error);
// By the name's extension (.png or .bmp, any case); another extension is an error.
int write_picture(const std::string& path, const RgbPicture& picture, std::string& error);

// The PNG file's bytes (8-bit RGB, written by libpng). False with a message in `error`.
bool encode_png(const RgbPicture& picture, std::vector<uint8_t>& file, std::string& error);
