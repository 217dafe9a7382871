#include "ui/select.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "ui/glyphs.h"

selectwin::selectwin(int left, int top, int right, int bottom, const char* title)
    : framewindow(left, top, right, bottom, title),
      left_(left),
      top_(top),
      right_(right),
      bottom_(bottom),
      visible_rows_(std::max(0, bottom - top - 2)),
      line_width_(std::clamp(right - left - 3, 0, SELECT_LINE_MAX)) {
  set_scheme(LIST_SCHEME);
  set_frame_scheme(FRAME_SCHEME);
}

const char* selectwin::line_text(char*, int, int) { return nullptr; }
int selectwin::line_value(int) { return -1; }
int selectwin::line_step(int) { return 1; }
void selectwin::set_line_value(int, int) {}
int selectwin::choose(int) { return selectbit::CHOSEN; }
int selectwin::help_key(int, const char*) { return selectbit::ROWS | selectbit::WINDOW; }
int selectwin::key_left(int index) {
  set_line_value(index, line_value(index) - line_step(index));
  return selectbit::ROWS;
}
int selectwin::key_right(int index) {
  set_line_value(index, line_value(index) + line_step(index));
  return selectbit::ROWS;
}
int selectwin::key_ctrl_left(int index) {
  set_line_value(index, line_value(index) - 10);
  return selectbit::ROWS;
}
int selectwin::key_ctrl_right(int index) {
  set_line_value(index, line_value(index) + 10);
  return selectbit::ROWS;
}

namespace {

std::string text_of(selectwin& w, int index) {
  char buffer[SELECT_LINE_MAX + 1] = {};
  const char* t = w.line_text(buffer, index, w.line_width());
  return t ? std::string(t) : std::string();
}

bool begins_with_nocase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// Keeps the current line on the page.
void follow(SelectState& s) {
  if (s.current < s.first) s.first = s.current;
  if (s.current >= s.first + s.rows) s.first = s.current - s.rows + 1;
  s.first = std::clamp(s.first, 0, std::max(0, s.count - s.rows));
}

void move_to_end(SelectState& s) {
  s.current = std::max(0, s.count - 1);
  s.first = std::max(0, s.count - s.rows);
}

// The footer's buttons: the two scroll marks, '<', '>', "ok" and the help text, as
// column ranges from the footer's first column.
struct FooterButton {
  int from, to, key;
};
std::vector<FooterButton> footer_buttons(const std::string& footer) {
  std::vector<FooterButton> buttons;
  static const int keys[] = {uikey::PAGE_UP, uikey::PAGE_DOWN, uikey::LEFT,
                             uikey::RIGHT,   uikey::RETURN,    uikey::F1};
  size_t at = 0;
  for (int key : keys) {
    const size_t open = footer.find('[', at);
    const size_t close = footer.find(']', open == std::string::npos ? at : open);
    if (open == std::string::npos || close == std::string::npos) break;
    buttons.push_back({static_cast<int>(open), static_cast<int>(close), key});
    at = close + 1;
  }
  return buttons;
}

constexpr int FOOTER_COLUMN = 2;

}  // namespace

int select_count(selectwin& w) {
  char buffer[SELECT_LINE_MAX + 1];
  int n = 0;
  while (n < 1000000 && w.line_text(buffer, n, w.line_width())) ++n;
  return n;
}

void select_start(SelectState& s, int index) {
  s.current = std::clamp(index, 0, std::max(0, s.count - 1));
  s.first = s.current;
  if (s.first + s.rows > s.count) {
    // The list ends within the page: the last page is shown.
    s.first = std::max(0, s.count - s.rows);
  }
  s.search.clear();
}

std::string select_footer(const SelectState& s) {
  char text[128];
  const char up = s.first > 0 ? static_cast<char>(0xF4) : ' ';
  const char down = s.first + s.rows < s.count ? static_cast<char>(0xF5) : ' ';
  std::snprintf(text, sizeof text, "[%c] [%c] [%c] [%c] [ok] [%s]", up, down, '<', '>',
                message_text(msg::HELP));
  return text;
}

int select_key(selectwin& w, SelectState& s, int key) {
  const int before_first = s.first, before_current = s.current;
  int result = 0;
  bool searching = false;
  switch (key) {
    case uikey::UP:
      if (s.current > 0) --s.current;
      break;
    case uikey::DOWN:
      if (s.current < s.count - 1) ++s.current;
      break;
    case uikey::PAGE_UP:
      if (s.first >= s.rows) {
        s.first -= s.rows;
        s.current -= s.rows;
      } else {
        s.first = 0;
        s.current = 0;
      }
      break;
    case uikey::PAGE_DOWN:
      if (s.first + 2 * s.rows <= s.count) {
        s.first += s.rows;
        s.current = std::min(s.current + s.rows, s.count - 1);
      } else {
        move_to_end(s);
      }
      break;
    case uikey::HOME:
      s.first = 0;
      s.current = 0;
      break;
    case uikey::END:
      move_to_end(s);
      break;
    case 0xFD:
    case 1:
      if (s.first + s.rows < s.count) {
        ++s.first;
        s.current = std::max(s.current, s.first);
      }
      break;
    case 0xFE:
      if (s.first > 0) {
        --s.first;
        s.current = std::min(s.current, s.first + s.rows - 1);
      }
      break;
    case uikey::LEFT: result |= w.key_left(s.current); break;
    case uikey::RIGHT: result |= w.key_right(s.current); break;
    case uikey::CTRL_LEFT: result |= w.key_ctrl_left(s.current); break;
    case uikey::CTRL_RIGHT: result |= w.key_ctrl_right(s.current); break;
    case uikey::RETURN:
    case 10:
    case 0xC9:
      result |= w.choose(s.current);
      break;
    case uikey::ESCAPE:
      result |= selectbit::CANCEL;
      break;
    case uikey::F1: {
      const std::string t = text_of(w, s.current);
      result |= w.help_key(s.current, t.c_str());
      break;
    }
    case uikey::REDRAW:
      result |= selectbit::WINDOW | selectbit::ROWS;
      break;
    case uikey::BACKSPACE:
      if (!s.search.empty()) s.search.pop_back();
      searching = true;
      break;
    default:
      if (key >= '0' && key <= '9') {
        // Digits set the value of a line that has one.
        if (w.line_value(s.current) >= 0) {
          w.set_line_value(s.current, key - '0');
          result |= selectbit::ROWS;
        }
      } else if (key >= 32 && key < 256 && key != 127) {
        searching = true;
        std::string wanted = s.search;
        if (wanted.size() < SEARCH_MAX) wanted += static_cast<char>(std::toupper(key));
        for (int n = 0; n < s.count; ++n) {
          const int index = (s.current + n) % s.count;
          if (begins_with_nocase(text_of(w, index), wanted)) {
            s.current = index;
            s.search = wanted;
            break;
          }
        }
      }
      break;
  }
  s.current = std::clamp(s.current, 0, std::max(0, s.count - 1));
  follow(s);
  // The search text lives only while the current line still begins with it.
  if (!searching) s.search.clear();
  if (!s.search.empty() && !begins_with_nocase(text_of(w, s.current), s.search)) s.search.clear();
  if (s.first != before_first) result |= selectbit::ROWS;
  else if (s.current != before_current) result |= selectbit::MOVE;
  return result;
}

void select_draw_rows(selectwin& w, const SelectState& s) {
  const int inner_right = w.width() - 2;
  for (int r = 0; r < w.visible_rows(); ++r) {
    const int index = s.first + r;
    const int scheme = (index == s.current && r < s.rows) ? HIGHLIGHT_SCHEME : LIST_SCHEME;
    w.clear_cells(1, r + 1, inner_right, r + 1, scheme);
    if (r >= s.rows || index >= s.count) continue;
    std::string t = text_of(w, index);
    if (static_cast<int>(t.size()) > w.line_width()) t.resize(w.line_width());
    w.put_text(FOOTER_COLUMN, r + 1, t.c_str(), scheme);
  }
  const int footer_row = w.height() - 2;
  if (footer_row > w.visible_rows()) {
    w.clear_cells(1, footer_row, inner_right, footer_row, LIST_SCHEME);
    std::string footer = select_footer(s);
    if (static_cast<int>(footer.size()) > inner_right - 1) footer.resize(inner_right - 1);
    w.put_text(FOOTER_COLUMN, footer_row, footer.c_str(), LIST_SCHEME);
    // The scroll marks are symbols of the font, not Latin-1 letters.
    for (size_t i = 0; i < footer.size(); ++i) {
      const int c = static_cast<unsigned char>(footer[i]);
      if (c == uiglyph::SCROLL_UP || c == uiglyph::SCROLL_DOWN)
        w.put_glyph(FOOTER_COLUMN + static_cast<int>(i), footer_row, c, LIST_SCHEME);
    }
  }
  w.update_texture();
}

namespace {

// What a mouse click on the window does: a key code, a row to choose, or nothing.
int click_key(selectwin& w, SelectState& s, int code, bool& choose_row) {
  choose_row = false;
  const int column = last_click_column() - w.x1();
  const int row = last_click_row() - w.y1();
  if (row >= 1 && row <= s.rows && code == uikey::CLICK) {
    const int index = s.first + row - 1;
    if (index >= s.count) return 0;
    s.current = index;
    s.search.clear();
    if (text_of(w, index).rfind('_', 0) == 0) return -1;  // shown, not chosen
    choose_row = true;
    return uikey::RETURN;
  }
  if (row == w.height() - 2) {
    const std::string footer = select_footer(s);
    for (const FooterButton& b : footer_buttons(footer))
      if (column >= FOOTER_COLUMN + b.from && column <= FOOTER_COLUMN + b.to) return b.key;
  }
  return 0;
}

}  // namespace

int select(selectwin& w, int& index, int line_count_hint) {
  (void)line_count_hint;
  SelectState s;
  s.count = select_count(w);
  s.rows = std::min(w.visible_rows(), s.count);
  select_start(s, index);
  SDL_StartTextInput();
  int pending = selectbit::WINDOW | selectbit::ROWS;
  int result = 0;
  for (;;) {
    if (pending & selectbit::WINDOW) w.draw();
    if (pending & (selectbit::WINDOW | selectbit::ROWS | selectbit::MOVE)) select_draw_rows(w, s);
    if (result & (selectbit::CHOSEN | selectbit::CANCEL)) break;
    int key = wait_key(1);
    if (key == uikey::CLICK || key == uikey::CLICK_OTHER) {
      if (setting(kw::MOUSE_ENABLED) != 1) {
        pending = 0;
        continue;
      }
      bool choose_row = false;
      const int before = s.current;
      key = click_key(w, s, key, choose_row);
      if (key <= 0) {
        pending = s.current != before ? selectbit::MOVE : 0;
        continue;
      }
    }
    result = select_key(w, s, key);
    pending = result & (selectbit::WINDOW | selectbit::ROWS | selectbit::MOVE);
    if (result & (selectbit::CHOSEN | selectbit::CANCEL)) {
      // The list may have changed under the chosen entry (a new name, ...).
      s.count = select_count(w);
      s.rows = std::min(w.visible_rows(), s.count);
      follow(s);
    }
    if (pending & selectbit::WINDOW) {
      s.count = select_count(w);
      s.rows = std::min(w.visible_rows(), s.count);
      follow(s);
    }
  }
  index = s.current;
  SDL_StopTextInput();
  return (result & selectbit::CANCEL) ? 1 : 0;
}
