// The scrolling list: moves at the list's edges, type-ahead search, the footer marks
// and the hook operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/messages.h"
#include "ui/select.h"
#include "ui_test_support.h"

namespace {

class listwin : public selectwin {
 public:
  explicit listwin(std::vector<std::string> lines) : selectwin(1, 2, 40, 9, "list"), lines(std::move(lines)) {}
  const char* line_text(char* buffer, int index, int) override {
    if (index < 0 || index >= static_cast<int>(lines.size())) return nullptr;
    std::strcpy(buffer, lines[index].c_str());
    return buffer;
  }
  int choose(int index) override {
    chosen = index;
    return selectbit::CHOSEN;
  }
  std::vector<std::string> lines;
  int chosen = -1;
};

// A list with values on its lines (the kind of list the setup windows use).
class valuewin : public listwin {
 public:
  valuewin() : listwin({"one", "two"}) {}
  int line_value(int index) override { return values[index]; }
  int line_step(int) override { return 5; }
  void set_line_value(int index, int value) override { values[index] = value; }
  int values[2] = {20, 30};
};

SelectState state_for(selectwin& w, int index = 0) {
  SelectState s;
  s.count = select_count(w);
  s.rows = std::min(w.visible_rows(), s.count);
  select_start(s, index);
  return s;
}

// Where a list stands: its first shown line and its current line.
std::pair<int, int> place(const SelectState& s) { return {s.first, s.current}; }

std::vector<std::string> numbered(int n) {
  std::vector<std::string> v;
  for (int i = 0; i < n; ++i) v.push_back("line " + std::to_string(i));
  return v;
}

}  // namespace

TEST(SelectList, GeometryOfTheWindow) {
  listwin w({"a"});
  EXPECT_EQ(w.visible_rows(), 9 - 2 - 2);
  EXPECT_EQ(w.line_width(), 40 - 1 - 3);
  selectwin wide(0, 0, 200, 10);
  EXPECT_EQ(wide.line_width(), 96);
}

TEST(SelectList, TypeAheadFindsLinesInAnyCase) {
  listwin w({"..", "a.dsk", "b.dsk", "games.zip", "Gauntlet.dsk", "zzz"});
  SelectState s = state_for(w);
  select_key(w, s, 'G');
  EXPECT_EQ(s.current, 3);
  select_key(w, s, 'a');
  EXPECT_EQ(s.current, 3);  // "GA" still matches games.zip
  EXPECT_EQ(s.search, "GA");
  select_key(w, s, 'u');
  EXPECT_EQ(s.current, 4);
  select_key(w, s, 'x');  // no line begins with GAUX: the letter is not taken
  EXPECT_EQ(s.current, 4);
  EXPECT_EQ(s.search, "GAU");
  select_key(w, s, '\b');
  EXPECT_EQ(s.search, "GA");
  EXPECT_EQ(s.current, 4);
  select_key(w, s, uikey::DOWN);  // a move ends the search
  EXPECT_EQ(s.current, 5);
  EXPECT_TRUE(s.search.empty());
  // The search wraps round to the start of the list.
  select_key(w, s, 'b');
  EXPECT_EQ(s.current, 2);
  // With the default value hook, digits are ignored and do not search.
  listwin digits({"x", "1st", "2nd"});
  SelectState d = state_for(digits);
  EXPECT_EQ(select_key(digits, d, '1'), 0);
  EXPECT_EQ(d.current, 0);
  // The search stops at twenty characters.
  listwin long_line({"x", std::string(30, 'A')});
  SelectState l = state_for(long_line);
  for (int i = 0; i < 25; ++i) select_key(long_line, l, 'a');
  EXPECT_EQ(l.search.size(), static_cast<size_t>(SEARCH_MAX));
  EXPECT_EQ(l.current, 1);
}

TEST(SelectList, PagesAndEnds) {
  listwin w(numbered(12));  // five rows shown
  SelectState s = state_for(w);
  ASSERT_EQ(s.rows, 5);
  EXPECT_EQ(select_key(w, s, uikey::UP), 0);  // nothing above the first line
  EXPECT_EQ(select_key(w, s, uikey::PAGE_UP), 0);
  EXPECT_EQ(s.current, 0);
  EXPECT_EQ(select_key(w, s, uikey::PAGE_DOWN) & selectbit::ROWS, selectbit::ROWS);
  EXPECT_EQ(place(s), std::pair(5, 5));
  select_key(w, s, uikey::PAGE_DOWN);  // less than a page left: as End
  EXPECT_EQ(place(s), std::pair(7, 11));  // the last page is full
  EXPECT_EQ(select_key(w, s, uikey::PAGE_DOWN), 0);
  EXPECT_EQ(select_key(w, s, uikey::DOWN), 0);
  select_key(w, s, uikey::PAGE_UP);
  EXPECT_EQ(place(s), std::pair(2, 6));
  select_key(w, s, uikey::PAGE_UP);  // less than a page above: to the top
  EXPECT_EQ(place(s), std::pair(0, 0));
  select_key(w, s, uikey::END);
  EXPECT_EQ(s.current, 11);
  select_key(w, s, uikey::HOME);
  EXPECT_EQ(place(s), std::pair(0, 0));
  // Down at the bottom row scrolls by one.
  for (int i = 0; i < 5; ++i) select_key(w, s, uikey::DOWN);
  EXPECT_EQ(place(s), std::pair(1, 5));
  // Codes 0xFD and 0xFE scroll the view by one.
  select_key(w, s, 0xFD);
  EXPECT_EQ(s.first, 2);
  select_key(w, s, 0xFE);
  EXPECT_EQ(s.first, 1);
}

TEST(SelectList, StartingIndexNearTheEndShowsTheLastPage) {
  listwin w(numbered(12));
  SelectState s = state_for(w, 10);
  EXPECT_EQ(place(s), std::pair(7, 10));
  SelectState t = state_for(w, 3);
  EXPECT_EQ(t.first, 3);
  listwin short_list(numbered(3));
  SelectState u = state_for(short_list, 2);
  EXPECT_EQ(u.rows, 3);  // the shown rows shrink to the list
  EXPECT_EQ(u.first, 0);
}

TEST(SelectList, FooterShowsTheScrollMarks) {
  // The marks for more lines above and below (symbols 0xF4 and 0xF5), or blanks.
  auto footer = [](const char* up, const char* down) {
    return std::string("[") + up + "] [" + down + "] [<] [>] [ok] [" + message_text(msg::HELP) + "]";
  };
  listwin w(numbered(12));
  SelectState s = state_for(w);
  EXPECT_EQ(select_footer(s), footer(" ", "\xF5"));
  select_key(w, s, uikey::PAGE_DOWN);
  EXPECT_EQ(select_footer(s), footer("\xF4", "\xF5"));
  select_key(w, s, uikey::END);
  EXPECT_EQ(select_footer(s), footer("\xF4", " "));

  // Drawn, the mark is the font's symbol and not the Latin-1 letter ô.
  select_draw_rows(w, s);
  const int row = w.height() - 2, column = 2 + 1;
  EXPECT_EQ(w.cell_code(column, row), 0xF4);
  EXPECT_EQ(uitest::cell_rows(w, column, row, ui_colour(scheme_foreground(LIST_SCHEME))),
            uitest::symbol(0xF4));
}

TEST(SelectList, ChoosingCancellingAndTheValueHooks) {
  listwin w(numbered(3));
  SelectState s = state_for(w, 1);
  EXPECT_EQ(select_key(w, s, uikey::RETURN), selectbit::CHOSEN);
  EXPECT_EQ(w.chosen, 1);
  EXPECT_EQ(select_key(w, s, 0xC9), selectbit::CHOSEN);
  EXPECT_EQ(select_key(w, s, uikey::ESCAPE), selectbit::CANCEL);
  EXPECT_EQ(select_key(w, s, uikey::REDRAW), selectbit::WINDOW | selectbit::ROWS);

  valuewin v;
  SelectState t = state_for(v, 1);
  select_key(v, t, uikey::LEFT);
  EXPECT_EQ(v.values[1], 25);
  select_key(v, t, uikey::RIGHT);
  select_key(v, t, uikey::RIGHT);
  EXPECT_EQ(v.values[1], 35);
  select_key(v, t, uikey::CTRL_LEFT);
  EXPECT_EQ(v.values[1], 25);
  select_key(v, t, uikey::CTRL_RIGHT);
  EXPECT_EQ(v.values[1], 35);
  select_key(v, t, '7');  // lines with a value take digits
  EXPECT_EQ(v.values[1], 7);
}
