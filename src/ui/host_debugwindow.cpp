#include <SDL.h>

#include <algorithm>
#include <cmath>

#include "debugger/monitor.h"
#include "ui/debugwindow.h"
#include "video/display_layout.h"
#include "video/host_display.h"

namespace {

constexpr int TEXT_SCHEME = 5;    // black on white
constexpr int CURSOR_SCHEME = 2;  // black on grey
constexpr size_t MAX_ROWS = 2000; // rows kept for scrolling back
constexpr size_t MAX_INPUT = 250; // characters of one typed line

}  // namespace

// ---- debugwindow -------------------------------------------------------------------------------

debugwindow::debugwindow(int x1, int y1, int x2, int y2) : framewindow(x1, y1, x2, y2, "Debugger-Monitor") {
  set_scheme(TEXT_SCHEME);
}

void debugwindow::wrap_open_row() {
  const size_t width = static_cast<size_t>(std::max(text_width(), 1));
  while (open_.size() >= width) {
    done_.push_back(open_.substr(0, width));
    open_.erase(0, width);
  }
  while (done_.size() > MAX_ROWS) done_.pop_front();
}

void debugwindow::add_text(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '\n') {
      done_.push_back(open_);
      open_.clear();
    } else if (c == '\t') {
      open_.append(8 - open_.size() % 8, ' ');
    } else if (c != '\r') {
      open_.push_back(c);
    }
    wrap_open_row();
  }
  scroll_ = 0;
}

std::vector<std::string> debugwindow::rows() const {
  std::vector<std::string> all(done_.begin(), done_.end());
  all.push_back(open_);
  return all;
}

bool debugwindow::key(int code, std::string& line) {
  switch (code) {
    case uikey::RETURN:
      line = input_;
      if (!input_.empty() && (history_.empty() || history_.back() != input_)) history_.push_back(input_);
      history_pos_ = history_.size();
      add_text(input_.data(), input_.size());
      add_text("\n", 1);
      input_.clear();
      cursor_ = 0;
      return true;
    case uikey::BACKSPACE:
      if (cursor_ > 0) input_.erase(--cursor_, 1);
      break;
    case uikey::ESCAPE:
      input_.clear();
      cursor_ = 0;
      history_pos_ = history_.size();
      break;
    case uikey::LEFT: if (cursor_ > 0) --cursor_; break;
    case uikey::RIGHT: if (cursor_ < input_.size()) ++cursor_; break;
    case uikey::HOME: cursor_ = 0; break;
    case uikey::END: cursor_ = input_.size(); break;
    case uikey::UP:
      if (history_pos_ > 0) {
        input_ = history_[--history_pos_];
        cursor_ = input_.size();
      }
      break;
    case uikey::DOWN:
      if (history_pos_ < history_.size()) {
        ++history_pos_;
        input_ = history_pos_ < history_.size() ? history_[history_pos_] : std::string();
        cursor_ = input_.size();
      }
      break;
    case uikey::PAGE_UP:
      scroll_ = std::min<int>(scroll_ + std::max(height_ - 3, 1), static_cast<int>(done_.size()));
      break;
    case uikey::PAGE_DOWN:
      scroll_ = std::max(scroll_ - std::max(height_ - 3, 1), 0);
      break;
    default:
      if (code >= 32 && code < 256 && code != 127 && input_.size() < MAX_INPUT) {
        input_.insert(cursor_++, 1, static_cast<char>(code));
        scroll_ = 0;
      }
      break;
  }
  return false;
}

void debugwindow::draw(int) {
  clear_cells(0, 0, width_ - 1, height_ - 1, scheme_);
  const int fs = frame_scheme_ >= 0 ? frame_scheme_ : scheme_;
  draw_frame(0, 0, width_ - 1, height_ - 1, fs);
  if (width_ > 4) {
    std::string t = " " + title_ + " ";
    if (static_cast<int>(t.size()) > width_ - 2) t.resize(width_ - 2);
    put_text((width_ - static_cast<int>(t.size())) / 2, 0, t.c_str(), fs);
  }
  const int width = text_width();
  const int visible = height_ - 2;
  if (width > 0 && visible > 0) {
    // The open row continues with the typed line; both may take several rows.
    std::vector<std::string> all(done_.begin(), done_.end());
    const std::string last = open_ + input_ + " ";
    const size_t cursor_at = open_.size() + cursor_;
    const size_t first_last_row = all.size();
    for (size_t at = 0; at < last.size(); at += static_cast<size_t>(width))
      all.push_back(last.substr(at, static_cast<size_t>(width)));
    const int end = static_cast<int>(all.size()) - scroll_;
    const int begin = std::max(end - visible, 0);
    for (int r = begin; r < end; ++r) {
      const int row = 1 + r - begin;
      put_text(1, row, all[static_cast<size_t>(r)].c_str(), scheme_);
      if (static_cast<size_t>(r) >= first_last_row && scroll_ == 0) {
        const size_t offset = (static_cast<size_t>(r) - first_last_row) * static_cast<size_t>(width);
        if (cursor_at >= offset && cursor_at < offset + static_cast<size_t>(width))
          put_glyph(1 + static_cast<int>(cursor_at - offset), row, static_cast<unsigned char>(last[cursor_at]),
                    CURSOR_SCHEME);
      }
    }
  }
  update_texture();
  show();
  // The picture beside the monitor stays as bright as it is.
  ui_display.render(false);
}

// ---- The monitor's console -----------------------------------------------------------------------

namespace {

debugwindow* console_window = nullptr;

// The cells of the debugger panel right of the picture: from the panel's left edge to
// the right edge of the output, the whole height.
void panel_cells(int& x1, int& y1, int& x2, int& y2) {
  int output_width = FRAME_WIDTH + DEBUGGER_PANEL_WIDTH, output_height = FRAME_HEIGHT - 2;
  if (SDL_Renderer* r = ui_display.renderer()) SDL_GetRendererOutputSize(r, &output_width, &output_height);
  int centre = 0, top = 0;
  double scale = 1.0;
  ui_display.geometry(centre, top, scale);
  if (scale <= 0) scale = 1.0;
  const double cell_w = CELL_WIDTH * scale, cell_h = CELL_HEIGHT * scale;
  const int left = width_beside_debugger(output_width);
  x1 = static_cast<int>(std::ceil((left - centre) / cell_w)) + UI_COLUMNS / 2;
  x2 = static_cast<int>(std::floor((output_width - centre) / cell_w)) + UI_COLUMNS / 2 - 1;
  y1 = 0;
  y2 = static_cast<int>(std::floor((output_height - top) / cell_h)) - 1;
  // Never smaller than a usable console.
  x2 = std::max(x2, x1 + 39);
  y2 = std::max(y2, y1 + 9);
}

void console_open(const char* title) {
  set_debugger_panel(true);
  int x1, y1, x2, y2;
  panel_cells(x1, y1, x2, y2);
  delete console_window;
  console_window = new debugwindow(x1, y1, x2, y2);
  console_window->set_title(title);
  console_window->draw();
  SDL_StartTextInput();
}

void console_close() {
  delete console_window;  // closes it
  console_window = nullptr;
  set_debugger_panel(false);
}

void console_write(const char* text, size_t length) {
  if (!console_window) return;
  console_window->add_text(text, length);
  console_window->draw();
}

bool console_read_line(std::string& line) {
  if (!console_window) return false;
  console_window->draw();
  for (;;) {
    const int code = wait_key(0);
    if (code == uikey::REDRAW) {
      int x1, y1, x2, y2;
      panel_cells(x1, y1, x2, y2);
      console_window->set_area(x1, y1, x2, y2);
    } else if (console_window->key(code, line)) {
      console_window->draw();
      return true;
    }
    console_window->draw();
  }
}

// The key that left the monitor must not reach the emulated keyboard.
void console_settle(unsigned milliseconds) {
  SDL_Delay(milliseconds);
  flush_input();
  SDL_StopTextInput();
}

}  // namespace

void debugwindow_install() {
  const MonitorConsole console = {console_open, console_close, console_write, console_read_line, console_settle};
  monitor_set_console(&console);
}
