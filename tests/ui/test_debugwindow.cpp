// The debugger monitor's window: a scrolling text console with a typed command line.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/machine.h"
#include "debugger/monitor.h"
#include "ui/debugwindow.h"
#include "ui/window.h"
#include "ui_test_support.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace {

// A row's text inside the frame.
std::string row_text(const winbase& w, int row) {
  return uitest::row_text(w, row, 1, w.width() - 2);
}

void type(debugwindow& w, const std::string& text) {
  std::string line;
  for (char c : text) w.key(static_cast<unsigned char>(c), line);
}

}  // namespace

TEST(DebugWindow, TextWrapsAndScrollsUp) {
  debugwindow w(0, 0, 11, 5);  // 10 columns, 4 rows of text
  ASSERT_EQ(w.text_width(), 10);
  const std::string text = "line1\nA\tB\n0123456789abc\nlast\nprompt> ";
  w.add_text(text.data(), text.size());
  EXPECT_EQ(w.rows(),
            (std::vector<std::string>{"line1", "A       B", "0123456789", "abc", "last", "prompt> "}));

  w.draw();
  // The last four rows are shown, the open row with the cursor after the prompt.
  EXPECT_EQ(row_text(w, 1), "0123456789");
  EXPECT_EQ(row_text(w, 2), "abc       ");
  EXPECT_EQ(row_text(w, 3), "last      ");
  EXPECT_EQ(row_text(w, 4), "prompt>   ");
  EXPECT_NE(w.cell_scheme(9, 4), w.cell_scheme(8, 4));  // the cursor cell
  EXPECT_EQ(w.cell_code(2, 0), 'D');  // the title in the frame, cut to its width

  // Page Up shows earlier rows; typing returns to the end.
  std::string line;
  w.key(uikey::PAGE_UP, line);
  w.draw();
  EXPECT_EQ(row_text(w, 1), "line1     ");
  type(w, "x");
  w.draw();
  EXPECT_EQ(row_text(w, 4), "prompt> x ");
}

TEST(DebugWindow, LineEditingAndHistory) {
  debugwindow w(0, 0, 41, 10);
  std::string line;
  type(w, "D 400");
  EXPECT_FALSE(w.key(uikey::BACKSPACE, line));
  type(w, "1");
  w.key(uikey::HOME, line);
  w.key(uikey::RIGHT, line);
  type(w, "X");
  w.key(uikey::LEFT, line);
  w.key(uikey::BACKSPACE, line);  // nothing before the cursor is "D": deleted
  EXPECT_EQ(w.input(), "X 401");
  w.key(uikey::END, line);
  type(w, "0");
  ASSERT_TRUE(w.key(uikey::RETURN, line));
  EXPECT_EQ(line, "X 4010");
  EXPECT_EQ(w.input(), "");
  EXPECT_EQ(w.rows().front(), "X 4010");  // the typed line stays in the text

  type(w, "R");
  ASSERT_TRUE(w.key(uikey::RETURN, line));
  ASSERT_TRUE(w.key(uikey::RETURN, line));  // an empty line is a line too
  EXPECT_EQ(line, "");
  // Up goes back through the typed lines, Down forward to an empty line.
  w.key(uikey::UP, line);
  EXPECT_EQ(w.input(), "R");
  w.key(uikey::UP, line);
  EXPECT_EQ(w.input(), "X 4010");
  w.key(uikey::UP, line);
  EXPECT_EQ(w.input(), "X 4010");
  w.key(uikey::DOWN, line);
  EXPECT_EQ(w.input(), "R");
  w.key(uikey::DOWN, line);
  EXPECT_EQ(w.input(), "");
  type(w, "abc");
  w.key(uikey::ESCAPE, line);
  EXPECT_EQ(w.input(), "");
  // Keys without a character are ignored.
  w.key(uikey::F1, line);
  w.key(uikey::CLICK, line);
  EXPECT_EQ(w.input(), "");
}

// The window as the monitor's console: typed keys arrive as SDL events.
TEST(DebugWindow, MonitorReadsTypedLines) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  static uint8_t memory[65536];
  uint8_t* saved_read[4];
  uint8_t* saved_write[4];
  std::memcpy(saved_read, read_bank, sizeof saved_read);
  std::memcpy(saved_write, write_bank, sizeof saved_write);
  for (int q = 0; q < 4; ++q) read_bank[q] = write_bank[q] = memory + q * 0x4000;

  auto push_text = [](const std::string& text) {
    for (char c : text) {
      SDL_Event e = uitest::event(SDL_TEXTINPUT);
      e.text.text[0] = c;
      SDL_PushEvent(&e);
    }
    SDL_Event e = uitest::event(SDL_KEYDOWN);
    e.key.keysym.sym = SDLK_RETURN;
    SDL_PushEvent(&e);
  };
  push_text("I 4000 12 34");
  push_text("");
  push_text("Q");

  debugwindow_install();
  clear_stop_request();
  monitor_run();
  monitor_set_console(nullptr);

  EXPECT_EQ(memory[0x4000], 0x12);
  EXPECT_EQ(memory[0x4001], 0x34);
  EXPECT_TRUE(stop_request_word & stopbit::QUIT);
  EXPECT_FALSE(stop_request_word & 0x20000);
  clear_stop_request();
  std::memcpy(read_bank, saved_read, sizeof saved_read);
  std::memcpy(write_bank, saved_write, sizeof saved_write);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}
