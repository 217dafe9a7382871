// The scrolling list window of every selection dialogue (file selector, help, setup,
// poke database): keys, mouse clicks, type-ahead search and the hook operations that
// the derived lists override.
#pragma once
#include <string>

#include "ui/window.h"

// Result bits of the hooks and keys.
namespace selectbit {
constexpr int MOVE = 0x01;     // move the highlight
constexpr int ROWS = 0x02;     // redraw all list rows and the footer
constexpr int WINDOW = 0x04;   // redraw the whole window
constexpr int CHOSEN = 0x40;   // an entry was chosen
constexpr int CANCEL = 0x80;   // cancelled
}  // namespace selectbit

// Colour schemes of the lists.
constexpr int LIST_SCHEME = 5;       // black on white
constexpr int HIGHLIGHT_SCHEME = 4;  // white on red
constexpr int FRAME_SCHEME = 4;

constexpr int SELECT_LINE_MAX = 96;
constexpr int SEARCH_MAX = 20;

class selectwin : public framewindow {
 public:
  selectwin(int left, int top, int right, int bottom, const char* title = nullptr);

  // Text of line `index` (written into buffer, which holds SELECT_LINE_MAX + 1 bytes,
  // or another text returned); nullptr ends the list.
  virtual const char* line_text(char* buffer, int index, int width);
  virtual int line_value(int index);
  virtual int line_step(int index);
  virtual void set_line_value(int index, int value);
  virtual int choose(int index);
  virtual int help_key(int index, const char* text);
  virtual int key_left(int index);
  virtual int key_right(int index);
  virtual int key_ctrl_left(int index);
  virtual int key_ctrl_right(int index);

  int left() const { return left_; }
  int top() const { return top_; }
  int right() const { return right_; }
  int bottom() const { return bottom_; }
  int visible_rows() const { return visible_rows_; }
  int line_width() const { return line_width_; }

 protected:
  int left_, top_, right_, bottom_;
  int visible_rows_;
  int line_width_;
  int extra_ = 0;
};

// The position in a list while select runs.
struct SelectState {
  int count = 0;    // lines in the list
  int rows = 0;     // rows shown
  int first = 0;    // index of the top row
  int current = 0;  // highlighted index
  std::string search;
};

// Counts the window's lines (slot 6 until it returns none).
int select_count(selectwin& w);
// Places the window on the starting index: it becomes the top row unless the list ends
// within the page below it.
void select_start(SelectState& s, int index);
// One key (wait_key's codes) applied to the state; returns the result bits.
int select_key(selectwin& w, SelectState& s, int key);
// The footer text for a state ("[x] [x] [<] [>] [ok] [Help]").
std::string select_footer(const SelectState& s);
// Draws the list rows and the footer.
void select_draw_rows(selectwin& w, const SelectState& s);

// Runs the list until an entry is chosen (0, the index stored) or the list is
// cancelled (1).
int select(selectwin& w, int& index, int line_count_hint = 0);
