// The window toolkit: text output into a window's cells and pixels, the accented
// letters, the window list, the cell geometry and the key codes of the modal wait.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ui/glyphs.h"
#include "ui/window.h"
#include "ui_test_support.h"

using uitest::cell_rows;
using uitest::glyph;
using uitest::row_text;
using uitest::symbol;

TEST(WindowText, WrapsAtTheRightEdgeAndNewlineBlanksTheRestOfTheLine) {
  framewindow w(0, 0, 9, 4);  // inside: columns 1..8, rows 1..3
  w.set_cursor(0, 1);
  w.print("12345678");
  EXPECT_EQ(row_text(w, 1, 1, 8), "12345678");
  EXPECT_EQ(w.cursor_column(), 0);
  EXPECT_EQ(w.cursor_row(), 2);
  EXPECT_EQ(w.cell_code(9, 1), -1);  // the frame column is not written
  w.print("X");
  EXPECT_EQ(w.cell_code(1, 2), 'X');

  // A newline blanks the rest of its line.
  w.set_cursor(0, 1);
  w.print("ab\nc");
  EXPECT_EQ(row_text(w, 1, 1, 8), "ab      ");
  EXPECT_EQ(w.cell_code(1, 2), 'c');
  // A carriage return with its line feed ends one line only.
  w.set_cursor(0, 1);
  w.print("x\r\ny");
  EXPECT_EQ(w.cell_code(1, 2), 'y');

  // Without a frame the whole width holds text.
  winbase plain(0, 0, 3, 1);
  plain.print("abcde");
  EXPECT_EQ(row_text(plain, 0, 0, 3), "abcd");
  EXPECT_EQ(plain.cell_code(0, 1), 'e');
}

TEST(WindowText, TextBeyondTheLastRowOverwritesIt) {
  framewindow w(0, 0, 5, 3);  // inside rows 1..2, four columns
  w.set_cursor(0, 1);
  w.print("1111222233");
  EXPECT_EQ(row_text(w, 2, 1, 4), "3322");
  EXPECT_EQ(w.cursor_row(), 2);
}

TEST(WindowText, PixelsFollowTheColourScheme) {
  winbase w(0, 0, 1, 0);
  EXPECT_EQ(ui_colour(32), 0xF00D);
  EXPECT_EQ(ui_colour(39), 0x2120);
  w.set_scheme(4);  // colour codes 36 and 37
  w.print("A");
  EXPECT_EQ(cell_rows(w, 0, 0, ui_colour(37)), glyph('A'));
  // Clear font bits take the background colour.
  EXPECT_EQ(w.pixels()[0], (glyph('A')[0] & 0x80) ? ui_colour(37) : ui_colour(36));
  EXPECT_EQ(w.cell_scheme(0, 0), 4);
}

TEST(Glyphs, AccentedLettersShowTheBaseLetterWithTheAccentAbove) {
  // Lower case: the letter keeps its rows, the mark sits above it.
  uitest::Rows base = glyph('e'), accented = glyph(0xE9);  // é
  int top = 0;
  while (!base[top]) ++top;
  ASSERT_GE(top, 2);
  for (int y = top; y < 8; ++y) EXPECT_EQ(accented[y], base[y]) << "row " << y;
  EXPECT_NE(accented[top - 1] | accented[top - 2], 0);
  EXPECT_NE(glyph(0xE8), accented);  // è: another mark on the same letter

  // Upper case: squeezed below the mark, still on its baseline.
  base = glyph('U');
  accented = glyph(0xDC);  // Ü
  EXPECT_NE(accented[0] | accented[1], 0);
  int bottom = 7;
  while (!base[bottom]) --bottom;
  EXPECT_EQ(accented[bottom], base[bottom]);
  EXPECT_EQ(accented_letter(0xDC).base, 'U');
  EXPECT_EQ(accented_letter(0xDC).accent, ACCENT_DIAERESIS);

  // The cedilla hangs below the c.
  base = glyph('c');
  bottom = 7;
  while (!base[bottom]) --bottom;
  ASSERT_LT(bottom, 7);
  EXPECT_NE(glyph(0xE7)[bottom + 1], 0);

  // Printed through a window, the composed glyph is what the cell shows.
  winbase w(0, 0, 0, 0);
  w.set_scheme(5);
  w.print("\xF1");  // ñ
  EXPECT_EQ(cell_rows(w, 0, 0, ui_colour(scheme_foreground(5))), glyph(0xF1));

  // In text, codes of the font's symbols above 0xC0 are Latin-1 letters: ñ is no arrow.
  EXPECT_NE(symbol(0xF1), glyph(0xF1));
  // The scroll marks of list footers exist as symbols, distinct from ô and õ.
  const uitest::Rows up = symbol(uiglyph::SCROLL_UP);
  EXPECT_NE(up[0] | up[1] | up[2], 0);
  EXPECT_NE(up, symbol(uiglyph::SCROLL_DOWN));
  EXPECT_NE(glyph(0xF4), up);
}

TEST(WindowList, ClosingAMiddleWindowKeepsTheOrderAndASeventeenthIsNotListed) {
  window_list_clear();
  winbase a(0, 0, 1, 1), b(2, 0, 3, 1), c(4, 0, 5, 1);
  a.show();
  b.show();
  c.show();
  ASSERT_EQ(window_list_count(), 3);
  b.close();
  EXPECT_FALSE(b.shown());
  ASSERT_EQ(window_list_count(), 2);
  EXPECT_EQ(window_list_at(0), &a);
  EXPECT_EQ(window_list_at(1), &c);
  b.show();  // appended at the end
  EXPECT_EQ(window_list_at(2), &b);
  {
    winbase d(0, 0, 0, 0);
    d.show();
    EXPECT_EQ(window_list_count(), 4);
  }  // the destructor takes it out
  EXPECT_EQ(window_list_count(), 3);

  // A seventeenth window is not listed.
  window_list_clear();
  std::vector<std::unique_ptr<winbase>> windows;
  for (int i = 0; i < WINDOW_LIST_MAX + 1; ++i) {
    windows.push_back(std::make_unique<winbase>(0, 0, 0, 0));
    windows.back()->show();
  }
  EXPECT_EQ(window_list_count(), WINDOW_LIST_MAX);
  EXPECT_FALSE(windows.back()->shown());
  for (int i = 0; i < WINDOW_LIST_MAX; ++i) EXPECT_EQ(window_list_at(i), windows[i].get());
  windows.clear();
  EXPECT_EQ(window_list_count(), 0);
}

// Cells to screen rectangles: 80 columns centred on a 768-pixel picture, 16 pixels a row,
// is e2e.ui_windows's (every window where its reference picture has it; the menu bar,
// columns -8..87 and rows 0..3, is all of reference/ui_menu.png's top 64 rows).
TEST(WindowGeometry, ScreenPointsToCells) {
  auto cell = [](int x, int y) {
    std::pair<int, int> c;  // column, row
    screen_to_cell(x, y, c.first, c.second);
    return c;
  };
  EXPECT_EQ(cell(64 + 8 * 10 + 7, 16 * 5 + 15), std::pair(10, 5));
  EXPECT_EQ(cell(63, 0), std::pair(-1, 0));  // left of the grid, not column 0
  EXPECT_EQ(cell(0, 0), std::pair(-8, 0));

  // An empty window has no buffer and draws nothing.
  winbase empty(5, 5, 4, 4);
  EXPECT_EQ(empty.pixels(), nullptr);
  empty.print("text");
  EXPECT_EQ(empty.cell_code(0, 0), -1);
}

TEST(WaitKey, EventsBecomeKeyCodes) {
  SDL_Event e = uitest::event(SDL_WINDOWEVENT);
  EXPECT_EQ(wait_key_event(e, 0), uikey::REDRAW);

  e = uitest::event(SDL_MOUSEWHEEL);
  const std::pair<int, int> wheel[] = {{-1, uikey::PAGE_DOWN}, {0, uikey::PAGE_DOWN}, {2, uikey::PAGE_UP}};
  for (const auto& [dy, key] : wheel) {
    e.wheel.y = dy;
    EXPECT_EQ(wait_key_event(e, 0), key) << dy;
  }

  e = uitest::event(SDL_KEYDOWN);
  const std::pair<SDL_Keycode, int> keys[] = {
      {SDLK_F1, 315},       {SDLK_HOME, 327}, {SDLK_UP, 328},   {SDLK_PAGEUP, 329},
      {SDLK_LEFT, 331},     {SDLK_RIGHT, 333}, {SDLK_END, 335}, {SDLK_DOWN, 336},
      {SDLK_PAGEDOWN, 337}, {SDLK_RETURN, 13}, {SDLK_ESCAPE, 27}, {SDLK_BACKSPACE, 8},
      {SDLK_AC_BACK, 283},  {SDLK_LALT, 0},    {SDLK_RGUI, 0},   {SDLK_F2, uikey::OTHER}};
  for (const auto& [sym, code] : keys) {
    e.key.keysym.sym = sym;
    EXPECT_EQ(wait_key_event(e, 0), code) << SDL_GetKeyName(sym);
  }
  e.key.keysym.sym = SDLK_LEFT;
  e.key.keysym.mod = KMOD_LCTRL;
  EXPECT_EQ(wait_key_event(e, 0), uikey::CTRL_LEFT);
  e.key.keysym.sym = SDLK_RIGHT;
  EXPECT_EQ(wait_key_event(e, 0), uikey::CTRL_RIGHT);

  // Text in UTF-8 becomes Latin-1: é is 0xE9; € has no Latin-1 code.
  e = uitest::event(SDL_TEXTINPUT);
  const std::pair<const char*, int> texts[] = {{"g", 'g'}, {"\xC3\xA9", 0xE9}, {"\xE2\x82\xAC", 0}};
  for (const auto& [text, code] : texts) {
    std::strcpy(e.text.text, text);
    EXPECT_EQ(wait_key_event(e, 0), code) << text;
  }

  e = uitest::event(SDL_MOUSEBUTTONDOWN);
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = 64 + 8 * 3 + 1;
  e.button.y = 16 * 2 + 1;
  EXPECT_EQ(wait_key_event(e, 0), uikey::CLICK);
  EXPECT_EQ(last_click_column(), 3);
  EXPECT_EQ(last_click_row(), 2);
  e.button.button = SDL_BUTTON_RIGHT;
  EXPECT_EQ(wait_key_event(e, 0), uikey::CLICK_OTHER);
  e.button.button = SDL_BUTTON_MIDDLE;
  EXPECT_EQ(wait_key_event(e, 0), uikey::CLICK_OTHER);
}

TEST(WaitKey, DroppedFilesGoToTheMediaLoader) {
  static std::string dropped;
  set_ui_drop_file([](const char* path) { dropped = path; });
  SDL_Event e = uitest::event(SDL_DROPFILE);
  e.drop.file = SDL_strdup("/tmp/game.dsk");
  EXPECT_EQ(wait_key_event(e, 0), 0);  // the wait goes on
  EXPECT_EQ(dropped, "/tmp/game.dsk");
  set_ui_drop_file([](const char*) {});
}

TEST(WaitKey, TheModalWaitReturnsQueuedEvents) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  flush_input();
  SDL_Event e = uitest::event(SDL_KEYDOWN);
  e.key.keysym.sym = SDLK_x;
  SDL_PushEvent(&e);
  flush_input();  // key events still queued are dropped
  e.key.keysym.sym = SDLK_END;
  SDL_PushEvent(&e);
  e = uitest::event(SDL_WINDOWEVENT);
  SDL_PushEvent(&e);
  EXPECT_EQ(wait_key(1), uikey::END);
  EXPECT_EQ(wait_key(1), uikey::REDRAW);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST(Overlay, MessageWindowFollowsTheRequest) {
  set_overlay_message(1, "Web server: file received");
  EXPECT_EQ(overlay_message_window(), nullptr);  // shown at the next refresh
  refresh_overlay(0);
  ASSERT_NE(overlay_message_window(), nullptr);
  EXPECT_EQ(overlay_message_window()->cell_code(1, 0), 'W');
  EXPECT_EQ(window_list_count(), 0);  // the message window is no listed window
  set_overlay_message(1, "Changed text");
  refresh_overlay(0);
  ASSERT_NE(overlay_message_window(), nullptr);
  EXPECT_EQ(overlay_message_window()->cell_code(1, 0), 'C');
  EXPECT_EQ(overlay_message_window()->width(), 14);
  set_overlay_message(0, nullptr);
  refresh_overlay(0);
  EXPECT_EQ(overlay_message_window(), nullptr);
  messagewindow m("hello");
  EXPECT_EQ(m.width(), 7);
  EXPECT_EQ(m.y1(), 1);
  EXPECT_EQ(m.cell_code(1, 0), 'h');
  EXPECT_EQ(m.x1(), (80 - 7) / 2);
}
