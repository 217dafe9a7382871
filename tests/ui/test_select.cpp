// The scrolling list: moves at the list's edges, type-ahead search, the footer marks
// and the hook operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/messages.h"
#include "ui/glyphs.h"
#include "ui/select.h"

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
}

TEST(SelectList, TypeAheadStopsAtTwentyCharacters) {
  const std::string long_name(30, 'A');
  listwin w({"x", long_name});
  SelectState s = state_for(w);
  for (int i = 0; i < 25; ++i) select_key(w, s, 'a');
  EXPECT_EQ(s.search.size(), static_cast<size_t>(SEARCH_MAX));
  EXPECT_EQ(s.current, 1);
}

TEST(SelectList, PagesAndEnds) {
  listwin w(numbered(12));  // five rows shown
  SelectState s = state_for(w);
  ASSERT_EQ(s.rows, 5);
  EXPECT_EQ(select_key(w, s, uikey::UP), 0);  // nothing above the first line
  EXPECT_EQ(select_key(w, s, uikey::PAGE_UP), 0);
  EXPECT_EQ(s.current, 0);
  EXPECT_EQ(select_key(w, s, uikey::PAGE_DOWN) & selectbit::ROWS, selectbit::ROWS);
  EXPECT_EQ(s.first, 5);
  EXPECT_EQ(s.current, 5);
  select_key(w, s, uikey::PAGE_DOWN);  // less than a page left: as End
  EXPECT_EQ(s.current, 11);
  EXPECT_EQ(s.first, 7);  // the last page is full
  EXPECT_EQ(select_key(w, s, uikey::PAGE_DOWN), 0);
  EXPECT_EQ(select_key(w, s, uikey::DOWN), 0);
  select_key(w, s, uikey::PAGE_UP);
  EXPECT_EQ(s.first, 2);
  EXPECT_EQ(s.current, 6);
  select_key(w, s, uikey::PAGE_UP);  // less than a page above: to the top
  EXPECT_EQ(s.first, 0);
  EXPECT_EQ(s.current, 0);
  select_key(w, s, uikey::END);
  EXPECT_EQ(s.current, 11);
  select_key(w, s, uikey::HOME);
  EXPECT_EQ(s.first, 0);
  EXPECT_EQ(s.current, 0);
  // Down at the bottom row scrolls by one.
  for (int i = 0; i < 5; ++i) select_key(w, s, uikey::DOWN);
  EXPECT_EQ(s.current, 5);
  EXPECT_EQ(s.first, 1);
  // Codes 0xFD and 0xFE scroll the view by one.
  select_key(w, s, 0xFD);
  EXPECT_EQ(s.first, 2);
  select_key(w, s, 0xFE);
  EXPECT_EQ(s.first, 1);
}

TEST(SelectList, StartingIndexNearTheEndShowsTheLastPage) {
  listwin w(numbered(12));
  SelectState s = state_for(w, 10);
  EXPECT_EQ(s.current, 10);
  EXPECT_EQ(s.first, 7);
  SelectState t = state_for(w, 3);
  EXPECT_EQ(t.first, 3);
  listwin short_list(numbered(3));
  SelectState u = state_for(short_list, 2);
  EXPECT_EQ(u.rows, 3);  // the shown rows shrink to the list
  EXPECT_EQ(u.first, 0);
}

TEST(SelectList, FooterShowsTheScrollMarks) {
  listwin w(numbered(12));
  SelectState s = state_for(w);
  std::string f = select_footer(s);
  EXPECT_EQ(f.substr(0, 8), std::string("[ ] [") + static_cast<char>(0xF5) + "] ");
  EXPECT_EQ(f, std::string("[ ] [\xF5] [<] [>] [ok] [") + message_text(msg::HELP) + "]");
  select_key(w, s, uikey::PAGE_DOWN);
  f = select_footer(s);
  EXPECT_EQ(static_cast<unsigned char>(f[1]), 0xF4);
  EXPECT_EQ(static_cast<unsigned char>(f[5]), 0xF5);
  select_key(w, s, uikey::END);
  f = select_footer(s);
  EXPECT_EQ(static_cast<unsigned char>(f[1]), 0xF4);
  EXPECT_EQ(f[5], ' ');

  // Drawn, the mark is the font's symbol and not the Latin-1 letter ô.
  select_draw_rows(w, s);
  const int row = w.height() - 2, column = 2 + 1;
  EXPECT_EQ(w.cell_code(column, row), 0xF4);
  uint8_t symbol[8];
  ui_symbol(0xF4, symbol);
  const uint16_t fg = ui_colour(scheme_foreground(LIST_SCHEME));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(w.pixels()[(row * 8 + y) * w.pitch() + column * 8 + x] == fg, ((symbol[y] >> (7 - x)) & 1) != 0)
          << x << "," << y;
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
