// The debugger monitor's window: a scrolling text console with a typed command line.
// Its use as the monitor's console in the program window (typed lines read, answers
// shown, Q ending the program) is e2e.monitor_window's claim.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/debugwindow.h"
#include "ui/window.h"
#include "ui_test_support.h"

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

  w.set_title("Monitor console");  // a title given later, as the monitor console does
  w.draw();
  // The last four rows are shown, the open row with the cursor after the prompt.
  EXPECT_EQ(row_text(w, 1), "0123456789");
  EXPECT_EQ(row_text(w, 2), "abc       ");
  EXPECT_EQ(row_text(w, 3), "last      ");
  EXPECT_EQ(row_text(w, 4), "prompt>   ");
  EXPECT_NE(w.cell_scheme(9, 4), w.cell_scheme(8, 4));  // the cursor cell
  EXPECT_EQ(w.cell_code(2, 0), 'M');  // the title in the frame, cut to its width

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
