#include "ui/window.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/host.h"
#include "ui/glyphs.h"
#include "video/colours.h"

namespace {

constexpr uint16_t FIXED_COLOURS[8] = {0xF00D, 0xF781, 0x8410, 0x0000,
                                       0xF020, 0xFFFF, 0x0000, 0x2120};
// Colour codes of the schemes: clear font bits take T[scheme], set bits T[scheme + 1].
constexpr int SCHEME_COLOURS[9] = {32, 33, 34, 35, 36, 37, 38, 0, 0};

SDL_Renderer* no_renderer() { return nullptr; }
void default_geometry(int& centre_x, int& top, double& scale) {
  centre_x = 384;
  top = 0;
  scale = 1.0;
}
void render_plain(bool) { host.render_frame(); }
void no_layout() {}

struct WindowList {
  winbase* windows[WINDOW_LIST_MAX] = {};
  int count = 0;
  messagewindow* message = nullptr;
};
WindowList list;

struct OverlayRequest {
  int flag = 0;
  std::string text;
  std::string shown;  // text of the message window that exists
};
OverlayRequest overlay;

struct InputState {
  SDL_Keycode last_key = 0;
  Uint32 last_key_time = 0;
  int click_column = 0, click_row = 0;
};
InputState input;

void no_drop(const char*) {}
void no_click() {}

void render_picture(int dim) { ui_display.render(dim != 0); }

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

UiDisplayHooks ui_display = {no_renderer, default_geometry, render_plain, no_layout};
namespace {
void (*ui_drop_file)(const char*) = no_drop;
}  // namespace

ui_drop_file_fn set_ui_drop_file(ui_drop_file_fn hook) {
  ui_drop_file_fn previous = ui_drop_file;
  ui_drop_file = hook;
  return previous;
}

namespace {
void (*ui_click_notify)() = no_click;
}  // namespace

ui_click_notify_fn set_ui_click_notify(ui_click_notify_fn hook) {
  ui_click_notify_fn previous = ui_click_notify;
  ui_click_notify = hook;
  return previous;
}


uint16_t ui_colour(int code) {
  if (code >= 32 && code < 40) return FIXED_COLOURS[code - 32];
  return host_colour_of(code & 31);
}
int scheme_background(int scheme) { return SCHEME_COLOURS[scheme & 7]; }
int scheme_foreground(int scheme) { return SCHEME_COLOURS[(scheme & 7) + 1]; }

void cell_rect_to_screen(int x1, int y1, int x2, int y2, int& x, int& y, int& w, int& h) {
  int centre = 0, top = 0;
  double scale = 1.0;
  ui_display.geometry(centre, top, scale);
  x = centre + static_cast<int>(std::lround((x1 * CELL_WIDTH - UI_COLUMNS * CELL_WIDTH / 2) * scale));
  y = top + static_cast<int>(std::lround(y1 * CELL_HEIGHT * scale));
  w = static_cast<int>(std::lround((x2 - x1 + 1) * CELL_WIDTH * scale));
  h = static_cast<int>(std::lround((y2 - y1 + 1) * CELL_HEIGHT * scale));
}

void screen_to_cell(int x, int y, int& column, int& row) {
  int centre = 0, top = 0;
  double scale = 1.0;
  ui_display.geometry(centre, top, scale);
  if (scale <= 0) scale = 1.0;
  const int px = static_cast<int>(std::floor((x - centre) / scale)) + UI_COLUMNS * CELL_WIDTH / 2;
  const int py = static_cast<int>(std::floor((y - top) / scale));
  column = floor_div(px, CELL_WIDTH);
  row = floor_div(py, CELL_HEIGHT);
}

// ---- winbase ---------------------------------------------------------------------------------

winbase::winbase(int x1, int y1, int x2, int y2) : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {
  requested_[0] = x1;
  requested_[1] = y1;
  requested_[2] = x2;
  requested_[3] = y2;
  allocate();
}

winbase::~winbase() {
  close();
  release();
}

void winbase::allocate() {
  width_ = x2_ - x1_ + 1;
  height_ = y2_ - y1_ + 1;
  screen_[0] = x1_ * CELL_WIDTH;
  screen_[1] = y1_ * CELL_HEIGHT;
  screen_[2] = width_ * CELL_WIDTH;
  screen_[3] = height_ * CELL_HEIGHT;
  if (width_ < 1 || height_ < 1) {
    width_ = std::max(width_, 0);
    height_ = std::max(height_, 0);
    pitch_ = 0;
    return;
  }
  pitch_ = width_ * GLYPH_PIXELS;
  const size_t count = static_cast<size_t>(pitch_) * height_ * GLYPH_PIXELS;
  pixels_ = new uint16_t[count]();
  cells_ = new uint16_t[static_cast<size_t>(width_) * height_];
  std::fill(cells_, cells_ + static_cast<size_t>(width_) * height_, uint16_t{0xFFFF});
  if (SDL_Renderer* r = ui_display.renderer())
    texture_ = SDL_CreateTexture(r, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                 width_ * GLYPH_PIXELS, height_ * GLYPH_PIXELS);
}

void winbase::release() {
  if (texture_) SDL_DestroyTexture(texture_);
  texture_ = nullptr;
  delete[] pixels_;
  pixels_ = nullptr;
  delete[] cells_;
  cells_ = nullptr;
}

void winbase::set_area(int x1, int y1, int x2, int y2) {
  if (x1 == x1_ && y1 == y1_ && x2 == x2_ && y2 == y2_ && pixels_) return;
  const bool was_shown = shown_;
  if (was_shown) close();
  release();
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  allocate();
  if (was_shown) draw(0);
}

int winbase::set_scheme(int scheme) {
  const int old = scheme_;
  scheme_ = scheme;
  return old;
}

void winbase::set_cursor(int column, int row) {
  cursor_column_ = column;
  cursor_row_ = row;
}

void winbase::set_margin(int flag, int value) {
  margin_ = flag ? 1 : 0;
  margin_value_ = value;
}

void winbase::glyph_at(int column, int row, int code, int scheme, bool symbol) {
  if (!pixels_ || column < 0 || row < 0 || column >= width_ || row >= height_) return;
  uint8_t rows[8];
  if (symbol) ui_symbol(code, rows);
  else ui_glyph(code, rows);
  const uint16_t bg = ui_colour(scheme_background(scheme));
  const uint16_t fg = ui_colour(scheme_foreground(scheme));
  uint16_t* p = pixels_ + static_cast<size_t>(row) * GLYPH_PIXELS * pitch_ + column * GLYPH_PIXELS;
  for (int y = 0; y < GLYPH_PIXELS; ++y, p += pitch_)
    for (int x = 0; x < GLYPH_PIXELS; ++x) p[x] = (rows[y] & (0x80 >> x)) ? fg : bg;
  cells_[static_cast<size_t>(row) * width_ + column] =
      static_cast<uint16_t>((code & 255) | (scheme & 7) << 8);
}

int winbase::cell_code(int column, int row) const {
  if (!cells_ || column < 0 || row < 0 || column >= width_ || row >= height_) return -1;
  const uint16_t c = cells_[static_cast<size_t>(row) * width_ + column];
  return c == 0xFFFF ? -1 : c & 255;
}

int winbase::cell_scheme(int column, int row) const {
  if (!cells_ || column < 0 || row < 0 || column >= width_ || row >= height_) return -1;
  const uint16_t c = cells_[static_cast<size_t>(row) * width_ + column];
  return c == 0xFFFF ? -1 : (c >> 8) & 7;
}

void winbase::advance_line() {
  cursor_column_ = 0;
  const int last_row = height_ - 1 - margin_;
  if (cursor_row_ < last_row) ++cursor_row_;
}

void winbase::put_char(int code) {
  drawing_scheme_ = scheme_ & 7;
  const int right = width_ - margin_;  // first column past the text area
  glyph_at(cursor_column_ + margin_, cursor_row_, code, drawing_scheme_);
  ++cursor_column_;
  if (cursor_column_ + margin_ >= right) advance_line();
}

void winbase::print(const char* text) {
  if (!text) return;
  drawing_scheme_ = scheme_ & 7;
  const int right = width_ - margin_;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const int c = *p;
    if (c == 10 || c == 12 || c == 13) {
      // The rest of the line is blanked; a carriage return with its line feed ends
      // one line.
      for (int col = cursor_column_ + margin_; col < right; ++col)
        glyph_at(col, cursor_row_, ' ', drawing_scheme_);
      advance_line();
      if (c == 13 && p[1] == 10) ++p;
      continue;
    }
    glyph_at(cursor_column_ + margin_, cursor_row_, c, drawing_scheme_);
    ++cursor_column_;
    if (cursor_column_ + margin_ >= right) advance_line();
  }
  update_texture();
}

void winbase::printf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  print(buffer);
}

void winbase::put_glyph(int column, int row, int code, int scheme) {
  glyph_at(column, row, code, scheme, true);
}

void winbase::put_text(int column, int row, const char* text, int scheme) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && column < width_; ++p)
    glyph_at(column++, row, *p, scheme);
}

void winbase::clear_cells(int x1, int y1, int x2, int y2, int scheme) {
  for (int row = y1; row <= y2; ++row)
    for (int col = x1; col <= x2; ++col) glyph_at(col, row, ' ', scheme);
}

void winbase::draw_frame(int x1, int y1, int x2, int y2, int scheme) {
  scheme &= 7;
  for (int col = x1 + 1; col < x2; ++col) {
    glyph_at(col, y1, 154, scheme, true);
    glyph_at(col, y2, 154, scheme, true);
  }
  for (int row = y1 + 1; row < y2; ++row) {
    glyph_at(x1, row, 149, scheme, true);
    glyph_at(x2, row, 149, scheme, true);
  }
  glyph_at(x1, y1, 150, scheme, true);
  glyph_at(x2, y1, 156, scheme, true);
  glyph_at(x1, y2, 147, scheme, true);
  glyph_at(x2, y2, 153, scheme, true);
}

void winbase::update_texture() {
  if (texture_ && pixels_) SDL_UpdateTexture(texture_, nullptr, pixels_, pitch_ * 2);
}

void winbase::draw(int) {
  clear_cells(0, 0, width_ - 1, height_ - 1, scheme_);
  update_texture();
  show();
  // While dialogues are open the picture behind them stays dimmed.
  ui_display.render(list.count > 0);
}

void winbase::render(SDL_Renderer* renderer, const SDL_Rect* rect) {
  if (!texture_ || !renderer) return;
  if (rect) {
    SDL_RenderCopy(renderer, texture_, nullptr, rect);
    return;
  }
  SDL_Rect r;
  cell_rect_to_screen(x1_, y1_, x2_, y2_, r.x, r.y, r.w, r.h);
  SDL_RenderCopy(renderer, texture_, nullptr, &r);
}

void winbase::update_scale() {
  int centre = 0, top = 0;
  ui_display.geometry(centre, top, scale_);
}

void winbase::show() {
  if (!shown_) {
    // A window beyond the sixteenth is drawn into its buffer but not listed.
    if (list.count >= WINDOW_LIST_MAX) return;
    list.windows[list.count++] = this;
    shown_ = true;
  }
}

void winbase::close() {
  if (!shown_) return;
  shown_ = false;
  int j = 0;
  for (int i = 0; i < list.count; ++i)
    if (list.windows[i] != this) list.windows[j++] = list.windows[i];
  for (int i = j; i < list.count; ++i) list.windows[i] = nullptr;
  list.count = j;
  ui_display.render(list.count > 0);
}

// ---- framewindow, titlewindow, messagewindow ----------------------------------------------------

framewindow::framewindow(int x1, int y1, int x2, int y2, const char* title)
    : winbase(x1, y1, x2, y2), title_(title ? title : "") {
  set_margin(1, 1);
}

framewindow::~framewindow() = default;

void framewindow::set_title(const char* title) { title_ = title ? title : ""; }

void framewindow::draw(int) {
  clear_cells(0, 0, width_ - 1, height_ - 1, scheme_);
  const int fs = frame_scheme_ >= 0 ? frame_scheme_ : scheme_;
  draw_frame(0, 0, width_ - 1, height_ - 1, fs);
  if (!title_.empty() && width_ > 4) {
    std::string t = " " + title_ + " ";
    if (static_cast<int>(t.size()) > width_ - 2) t.resize(width_ - 2);
    put_text((width_ - static_cast<int>(t.size())) / 2, 0, t.c_str(), fs);
  }
  update_texture();
  show();
  // While dialogues are open the picture behind them stays dimmed.
  ui_display.render(list.count > 0);
}

void titlewindow::update_scale() { scale_ = 1.0; }

namespace {
// The message window's width in cells: the text (at most 76 characters) and a blank on
// either side.
int message_width(const char* text) {
  return static_cast<int>(std::min<size_t>(std::strlen(text ? text : ""), 76)) + 2;
}
}  // namespace

messagewindow::messagewindow(const char* text)
    : winbase((UI_COLUMNS - message_width(text)) / 2, 1,
              (UI_COLUMNS - message_width(text)) / 2 + message_width(text) - 1, 1) {
  set_scheme(4);
  clear_cells(0, 0, width_ - 1, 0, scheme_);
  std::string t(text ? text : "");
  if (t.size() > 76) t.resize(76);
  put_text(1, 0, t.c_str(), scheme_);
  update_texture();
}

void messagewindow::update_scale() { winbase::update_scale(); }

void messagewindow::render(SDL_Renderer* renderer, const SDL_Rect* rect) {
  if (rect) {
    winbase::render(renderer, rect);
    return;
  }
  // Row 1 of the grid: 16 pixels below the top of the output.
  SDL_Rect r;
  cell_rect_to_screen(x1_, y1_, x2_, y2_, r.x, r.y, r.w, r.h);
  r.y = CELL_HEIGHT;
  winbase::render(renderer, &r);
}

// ---- Window list ---------------------------------------------------------------------------------

int window_list_count() { return list.count; }
winbase* window_list_at(int index) {
  return index >= 0 && index < list.count ? list.windows[index] : nullptr;
}
void window_list_clear() {
  for (int i = 0; i < list.count; ++i) list.windows[i] = nullptr;
  list.count = 0;
}

void ui_render_windows(SDL_Renderer* renderer) {
  for (int i = 0; i < list.count; ++i) list.windows[i]->render(renderer, nullptr);
  if (list.message) list.message->render(renderer, nullptr);
}

// ---- Overlay message ------------------------------------------------------------------------------

void set_overlay_message(int flag, const char* text) {
  overlay.flag = flag;
  overlay.text = text ? text : "";
}

void refresh_overlay(int dim) {
  bool changed = false;
  // A new text replaces the window that shows an older one.
  if (list.message && (!overlay.flag || overlay.shown != overlay.text)) {
    delete list.message;
    list.message = nullptr;
    changed = true;
  }
  if (overlay.flag && !list.message) {
    list.message = new messagewindow(overlay.text.c_str());
    overlay.shown = overlay.text;
    changed = true;
  }
  // While the machine runs, every new frame is presented with the windows and the
  // message drawn over it; presenting the same picture again at each frame end would
  // only halve the frame rate. Render here when the overlay changed, when dimming, or
  // while windows are open.
  if (changed || dim || list.count > 0) render_picture(dim);
}

const messagewindow* overlay_message_window() { return list.message; }

// ---- Input -----------------------------------------------------------------------------------------

int last_click_column() { return input.click_column; }
int last_click_row() { return input.click_row; }

void flush_input() {
  SDL_PumpEvents();
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_DROPFILE) SDL_free(e.drop.file);
  }
  SDL_FlushEvents(SDL_KEYDOWN, SDL_KEYUP);
}

namespace {

// One code point of Latin-1 from a UTF-8 text of one character; -1 otherwise.
int latin1_of(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  if (p[0] && !p[1]) return p[0] < 0x80 ? p[0] : -1;
  if ((p[0] & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80 && !p[2]) {
    const int c = (p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    return c <= 0xFF ? c : -1;
  }
  return -1;
}

// The code of a key press; 0 when the wait goes on.
int key_code(const SDL_KeyboardEvent& k) {
  const SDL_Keycode sym = k.keysym.sym;
  const bool ctrl = (k.keysym.mod & KMOD_CTRL) != 0;
  switch (sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_ESCAPE:
    case SDLK_BACKSPACE:
      if (k.repeat) SDL_FlushEvent(SDL_KEYDOWN);
      return sym == SDLK_KP_ENTER ? uikey::RETURN : static_cast<int>(sym);
    case SDLK_F1: return uikey::F1;
    case SDLK_HOME: return uikey::HOME;
    case SDLK_UP: return uikey::UP;
    case SDLK_PAGEUP: return uikey::PAGE_UP;
    case SDLK_LEFT: return ctrl ? uikey::CTRL_LEFT : uikey::LEFT;
    case SDLK_RIGHT: return ctrl ? uikey::CTRL_RIGHT : uikey::RIGHT;
    case SDLK_END: return uikey::END;
    case SDLK_DOWN: return uikey::DOWN;
    case SDLK_PAGEDOWN: return uikey::PAGE_DOWN;
    case SDLK_AC_BACK: return uikey::BACK;
    case SDLK_LALT:
    case SDLK_RALT:
    case SDLK_LGUI:
    case SDLK_RGUI:
      return 0;
    default: break;
  }
  // Modifier keys alone are no key press.
  if (sym == SDLK_LSHIFT || sym == SDLK_RSHIFT || sym == SDLK_LCTRL || sym == SDLK_RCTRL ||
      sym == SDLK_CAPSLOCK || sym == SDLK_NUMLOCKCLEAR || sym == SDLK_MODE)
    return 0;
  if (SDL_IsTextInputActive() && sym >= 32 && sym < 256) return 0;  // comes as text
  if (sym == 0) return 0;
  return sym < 256 ? static_cast<int>(sym) : uikey::OTHER;
}

}  // namespace

int wait_key_event(const SDL_Event& e, int dim) {
  switch (e.type) {
    case SDL_DROPFILE:
      ui_drop_file(e.drop.file);
      SDL_free(e.drop.file);
      return 0;
    case SDL_WINDOWEVENT:
      ui_display.layout();
      render_picture(dim);
      return uikey::REDRAW;
    case SDL_QUIT:
      std::exit(0);
    case SDL_MULTIGESTURE:
      SDL_StartTextInput();
      return 0;
    case SDL_TEXTINPUT: {
      const int c = latin1_of(e.text.text);
      if (c > 0) return c;
      if (e.text.timestamp == input.last_key_time && input.last_key > 0 && input.last_key < 256)
        return static_cast<int>(input.last_key);
      return 0;
    }
    case SDL_KEYDOWN:
      input.last_key = e.key.keysym.sym;
      input.last_key_time = e.key.timestamp;
      return key_code(e.key);
    case SDL_MOUSEBUTTONDOWN:
      screen_to_cell(e.button.x, e.button.y, input.click_column, input.click_row);
      ui_click_notify();
      return uikey::CLICK + (e.button.button >> 1 ? 1 : 0);
    case SDL_MOUSEWHEEL:
      return e.wheel.y < 1 ? uikey::PAGE_DOWN : uikey::PAGE_UP;
    default:
      return 0;
  }
}

int wait_key(int dim) {
  render_picture(dim);
  for (;;) {
    refresh_overlay(dim);
    SDL_Event e;
    if (!SDL_WaitEventTimeout(&e, 500)) continue;
    const int code = wait_key_event(e, dim);
    if (code) return code;
  }
}

// ---- Small dialogues ----------------------------------------------------------------------------------

void ui_show_message(const char* text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += *p;
    }
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  int longest = 10;
  for (const std::string& l : lines) longest = std::max<int>(longest, static_cast<int>(l.size()));
  longest = std::min(longest, UI_COLUMNS - 4);
  const int rows = std::min<int>(static_cast<int>(lines.size()), 20);
  const int x1 = (UI_COLUMNS - longest - 4) / 2;
  const int y1 = 10 - rows / 2;
  framewindow w(x1, y1, x1 + longest + 3, y1 + rows + 1);
  w.set_scheme(5);
  w.set_frame_scheme(4);
  w.draw();
  for (int i = 0; i < rows; ++i) {
    std::string l = lines[i];
    if (static_cast<int>(l.size()) > longest) l.resize(longest);
    w.put_text(2, i + 1, l.c_str(), 5);
  }
  w.update_texture();
  for (;;) {
    const int key = wait_key(1);
    if (key == uikey::REDRAW) continue;
    break;
  }
  w.close();
}

int ui_input_line(winbase& window, int column, int row, int max_length, std::string& text) {
  const bool was_active = SDL_IsTextInputActive();
  SDL_StartTextInput();
  int result = 1;
  for (;;) {
    std::string shown = text + "_";
    shown.resize(static_cast<size_t>(max_length) + 1, ' ');
    window.put_text(column, row, shown.c_str(), 4);
    window.update_texture();
    const int key = wait_key(1);
    if (key == uikey::RETURN || key == 10) {
      result = text.empty() ? 1 : 0;
      if (!text.empty()) break;
      continue;
    }
    if (key == uikey::ESCAPE) break;
    if (key == uikey::BACKSPACE) {
      if (!text.empty()) text.pop_back();
      continue;
    }
    // Characters a file name can hold.
    if (key >= 32 && key < 256 && key != '/' && key != 127 &&
        static_cast<int>(text.size()) < max_length)
      text += static_cast<char>(key);
  }
  if (!was_active) SDL_StopTextInput();
  return result;
}
