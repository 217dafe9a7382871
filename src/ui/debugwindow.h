// The "Debugger-Monitor" window: the debugger monitor's text console on the debugger
// panel beside the picture. Text written to it scrolls up; the command line is typed
// into its last row with editing and a history of the lines typed in this session.
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "ui/window.h"

class debugwindow : public framewindow {
 public:
  debugwindow(int x1, int y1, int x2, int y2);

  // Frame, title, the last rows of the text and the line being typed with its cursor.
  void draw(int flag = 0) override;

  // Appends text: '\n' ends a line, a tab goes to the next multiple of eight columns,
  // a line longer than the window continues on the next row.
  void add_text(const char* text, size_t length);

  // One key of the line editing (wait_key codes): characters are inserted at the
  // cursor, Backspace deletes before it, Left/Right/Home/End move it, Up/Down go through
  // the history, Escape clears the line, Page Up/Down scroll the text back and forth.
  // Returns true at Return with the typed line in `line` (it is added to the history
  // and to the text).
  bool key(int code, std::string& line);

  // Text rows, the open (unfinished) row last; for the tests.
  std::vector<std::string> rows() const;
  const std::string& input() const { return input_; }
  int text_width() const { return width_ - 2; }

 private:
  void wrap_open_row();

  std::deque<std::string> done_;  // finished rows, oldest first
  std::string open_;              // the row being written (the prompt)
  std::string input_;             // the line being typed
  size_t cursor_ = 0;             // in input_
  std::vector<std::string> history_;
  size_t history_pos_ = 0;        // history_.size(): the new line
  int scroll_ = 0;                // rows scrolled back
};

// Installs the window as the debugger monitor's console (the SDL program calls it once
// after the display exists). The window opens on the debugger panel, which widens the
// program window while the monitor runs.
void debugwindow_install();
