// The window toolkit: text windows drawn with the 8 × 8 font over the emulated picture,
// the list of shown windows the frame renderer draws after the picture, the message
// window over the running emulation, and the modal key wait of every dialogue.
//
// Windows sit on a grid of character cells 8 pixels wide and 16 high (at picture scale
// 1), 80 columns centred on the picture, row 0 at the picture's top. Each window keeps
// one 8 × 8 glyph per cell in its own RGB565 pixel buffer and texture; the texture is
// stretched to the cells on the screen.
#pragma once
#include <cstdint>
#include <string>

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Rect;
union SDL_Event;

constexpr int UI_COLUMNS = 80;
constexpr int CELL_WIDTH = 8;    // screen pixels per column at scale 1
constexpr int CELL_HEIGHT = 16;  // screen pixels per row at scale 1
constexpr int GLYPH_PIXELS = 8;  // texture pixels per cell, both ways
constexpr int WINDOW_LIST_MAX = 16;

// Codes returned by wait_key: characters below 0x100, 0x100 + PC scan code for the
// navigation keys, 0x200/0x201 for mouse clicks, 0x400 for a redraw request.
namespace uikey {
constexpr int BACKSPACE = 8, RETURN = 13, ESCAPE = 27;
constexpr int F1 = 0x13B, HOME = 0x147, UP = 0x148, PAGE_UP = 0x149, LEFT = 0x14B,
              RIGHT = 0x14D, END = 0x14F, DOWN = 0x150, PAGE_DOWN = 0x151,
              CTRL_LEFT = 0x173, CTRL_RIGHT = 0x174, BACK = 283;
constexpr int OTHER = 0x1FF;  // a key without a code of its own (F2, Insert, ...)
constexpr int CLICK = 0x200, CLICK_OTHER = 0x201;
constexpr int REDRAW = 0x400;
}  // namespace uikey

// Colour codes: 0..31 hardware colours through the host colour table, 32..39 fixed.
uint16_t ui_colour(int code);
// Background and foreground colour codes of a scheme (0..7).
int scheme_background(int scheme);
int scheme_foreground(int scheme);

// What the toolkit needs from the display output; the SDL display installs these
// (ui_install_host_hooks). The defaults suit a program without a window.
struct UiDisplayHooks {
  SDL_Renderer* (*renderer)();
  // The picture's horizontal centre and top in output pixels, and its scale (output
  // pixels per frame pixel).
  void (*geometry)(int& centre_x, int& top, double& scale);
  // Renders picture and windows; dim draws the picture darker (a dialogue waits).
  void (*render)(bool dim);
  // Layout recomputed after a window event.
  void (*layout)();
};
// A table of functions, not state: the SDL host fills it once at start; exported so the
// windows call through it without a lookup.
extern UiDisplayHooks ui_display;

// Screen rectangle of a cell rectangle, and the cell under a screen point (columns left
// of the 80-column grid are negative).
void cell_rect_to_screen(int x1, int y1, int x2, int y2, int& x, int& y, int& w, int& h);
void screen_to_cell(int x, int y, int& column, int& row);

class winbase {
 public:
  winbase(int x1, int y1, int x2, int y2);
  virtual ~winbase();
  winbase(const winbase&) = delete;
  winbase& operator=(const winbase&) = delete;

  virtual void set_area(int x1, int y1, int x2, int y2);
  // Clears the window (framewindow: and draws frame and title), shows it and renders.
  virtual void draw(int flag = 0);
  // Copies the texture to rect, or to the window's own screen rectangle.
  virtual void render(SDL_Renderer* renderer, const SDL_Rect* rect);
  virtual void update_scale();

  int set_scheme(int scheme);  // returns the old scheme
  int scheme() const { return scheme_; }
  // Column counts from the margin: on a framed window column 0 is the first inside.
  void set_cursor(int column, int row);
  void set_margin(int flag, int value);
  int cursor_column() const { return cursor_column_; }
  int cursor_row() const { return cursor_row_; }

  void print(const char* text);
  void print(const std::string& text) { print(text.c_str()); }
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void put_char(int code);
  // One symbol of the font at an absolute cell with the given scheme (no cursor move,
  // no Latin-1 composition: 244 is the scroll mark, not ô).
  void put_glyph(int column, int row, int code, int scheme);
  // Text at an absolute cell, cut at the window's edge.
  void put_text(int column, int row, const char* text, int scheme);
  void draw_frame(int x1, int y1, int x2, int y2, int scheme);
  // Fills a cell rectangle with blanks in a scheme.
  void clear_cells(int x1, int y1, int x2, int y2, int scheme);
  // Updates the texture from the pixel buffer.
  void update_texture();

  void show();   // appended to the window list when not yet there
  void close();  // taken out of the window list, picture rendered again
  bool shown() const { return shown_; }

  int x1() const { return x1_; }
  int y1() const { return y1_; }
  int x2() const { return x2_; }
  int y2() const { return y2_; }
  int width() const { return width_; }
  int height() const { return height_; }
  bool has_margin() const { return margin_ != 0; }
  // Pixel buffer: width × 8 by height × 8 RGB565 (nullptr for an empty window).
  const uint16_t* pixels() const { return pixels_; }
  int pitch() const { return pitch_; }
  // The glyph code last put at a cell (-1 outside), for the mouse and for tests.
  int cell_code(int column, int row) const;
  int cell_scheme(int column, int row) const;

 protected:
  void glyph_at(int column, int row, int code, int scheme, bool symbol = false);
  void advance_line();

  int x1_, y1_, x2_, y2_;
  int requested_[4];
  int width_ = 0, height_ = 0;
  int scheme_ = 1;
  int drawing_scheme_ = 1;
  int margin_ = 0;
  int margin_value_ = 0;
  int cursor_column_ = 0, cursor_row_ = 0;
  bool shown_ = false;
  int screen_[4] = {0, 0, 0, 0};
  SDL_Texture* texture_ = nullptr;
  uint16_t* pixels_ = nullptr;
  int pitch_ = 0;
  double scale_ = 1.0;
  // Code and scheme of every cell (for reading the window back).
  uint16_t* cells_ = nullptr;

 private:
  void allocate();
  void release();
};

class framewindow : public winbase {
 public:
  framewindow(int x1, int y1, int x2, int y2, const char* title = nullptr);
  ~framewindow() override;
  void set_title(const char* title);
  const std::string& title() const { return title_; }
  void draw(int flag = 0) override;
  // Scheme of the frame and title (the window's own scheme when negative).
  void set_frame_scheme(int scheme) { frame_scheme_ = scheme; }

 protected:
  std::string title_;
  int frame_scheme_ = -1;
};

class titlewindow : public framewindow {
 public:
  using framewindow::framewindow;
  void update_scale() override;
};

class messagewindow : public winbase {
 public:
  explicit messagewindow(const char* text);
  void update_scale() override;
  void render(SDL_Renderer* renderer, const SDL_Rect* rect) override;
};

// ---- Window list ------------------------------------------------------------------------
int window_list_count();
winbase* window_list_at(int index);
// Empties the list (the display does it at start-up).
void window_list_clear();
// Draws every listed window, then the message window; the frame renderer calls it after
// the picture and before presenting.
void ui_render_windows(SDL_Renderer* renderer);

// ---- Input ---------------------------------------------------------------------------------
// Waits for a key, a click or a redraw request; dim draws the picture darker meanwhile.
int wait_key(int dim);
// One event of that wait: its code, or 0 when the wait goes on.
int wait_key_event(const SDL_Event& event, int dim);
// The cell of the last mouse click wait_key returned.
int last_click_column();
int last_click_row();
void flush_input();
// Where wait_key hands dropped files (the media loader of the file selector).
// Installs the function (the previous one is returned, so that a test can put it back).
using ui_drop_file_fn = void (*)(const char* path);
ui_drop_file_fn set_ui_drop_file(ui_drop_file_fn hook);
// Called for a mouse click before wait_key returns it (the function menu's touch state).
// Installs the function (the previous one is returned, so that a test can put it back).
using ui_click_notify_fn = void (*)();
ui_click_notify_fn set_ui_click_notify(ui_click_notify_fn hook);

// ---- Message over the running emulation --------------------------------------------------------
void refresh_overlay(int dim);
void set_overlay_message(int flag, const char* text);
// The message window while one is shown (nullptr otherwise).
const messagewindow* overlay_message_window();

// ---- Small dialogues ----------------------------------------------------------------------------
// A framed window with the text (lines split at '\n'), waiting for a key or a click.
void ui_show_message(const char* text);
// Reads up to max_length characters at a window cell; 0 with text set, 1 on Esc.
int ui_input_line(winbase& window, int column, int row, int max_length, std::string& text);
