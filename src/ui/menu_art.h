// The picture of the function menu bar: twelve buttons of 64 × 64 pixels side by side,
// each with its key name and an icon of its action, drawn by the program.
#pragma once
#include <cstdint>
#include <vector>

constexpr int MENU_BUTTONS = 12;
constexpr int MENU_BUTTON_SIZE = 64;
constexpr int MENU_WIDTH = MENU_BUTTONS * MENU_BUTTON_SIZE;  // 768
constexpr int MENU_HEIGHT = MENU_BUTTON_SIZE;

// RGB565 pixels, MENU_WIDTH × MENU_HEIGHT, rows from the top.
std::vector<uint16_t> draw_menu_bar();

// The function key (1..12) of a cell column of the bar, whose first column is -8 on the
// 80-column grid; 0 outside the bar.
int menu_key_of_column(int column);
