// The windows of the start: the language of the first start, the layout of the virtual
// keyboard, and the splash window with the logo and the about text.
#include <SDL.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/startup.h"
#include "ui/logo.h"
#include "ui/select.h"
#include "ui/ui.h"
#include "ui/window.h"

namespace {

constexpr int CHOICE_LEFT = 19, CHOICE_TOP = 4, CHOICE_RIGHT = 79, CHOICE_BOTTOM = 22;
constexpr int BOX_LEFT = 34, BOX_RIGHT = 38;   // the digit's box, in screen columns
constexpr int CLICK_RIGHT = 60;                // clicks on the entry's name count too

struct Choice {
  char digit;
  const char* text;  // Latin-1
};

// A window of four numbered entries in boxes. Entry k (1..4) occupies rows 4 + 3k to
// 6 + 3k; a digit key or a click on an entry picks it. Returns the chosen entry (1..4).
class choicewindow : public framewindow {
 public:
  choicewindow(const char* prompt, const Choice* choices)
      : framewindow(CHOICE_LEFT, CHOICE_TOP, CHOICE_RIGHT, CHOICE_BOTTOM), prompt_(prompt), choices_(choices) {
    set_scheme(LIST_SCHEME);
    set_frame_scheme(FRAME_SCHEME);
  }
  void draw(int flag = 0) override {
    framewindow::draw(flag);
    put_text(3, 1, prompt_, LIST_SCHEME);
    for (int k = 1; k <= 4; ++k) {
      const int row = 3 * k;
      char entry[64];
      std::snprintf(entry, sizeof entry, "%c   %s", choices_[k - 1].digit, choices_[k - 1].text);
      put_text(BOX_LEFT - CHOICE_LEFT + 2, row + 1, entry, LIST_SCHEME);
      draw_frame(BOX_LEFT - CHOICE_LEFT, row, BOX_RIGHT - CHOICE_LEFT, row + 2, FRAME_SCHEME);
    }
    update_texture();
  }
  int run() {
    draw();
    for (;;) {
      const int key = wait_key(0);
      if (key == uikey::REDRAW) {
        draw();
        continue;
      }
      for (int k = 1; k <= 4; ++k)
        if (key == choices_[k - 1].digit) return k;
      if (key == uikey::CLICK) {
        const int column = last_click_column(), row = last_click_row();
        const int k = (row - CHOICE_TOP) / 3;
        if (row >= CHOICE_TOP && column >= BOX_LEFT && column <= CLICK_RIGHT && k >= 1 && k <= 4) return k;
      }
    }
  }

 private:
  const char* prompt_;
  const Choice* choices_;
};

class languagewindow : public choicewindow {
 public:
  languagewindow() : choicewindow("Select language:", LANGUAGES) {}
  static constexpr Choice LANGUAGES[4] = {
      {'1', "English"}, {'2', "Deutsch"}, {'3', "Fran\xE7" "ais"}, {'4', "Espagnol"}};
};

class virtualkbdlayoutwindow : public choicewindow {
 public:
  virtualkbdlayoutwindow() : choicewindow("Select virtual keyboard:", LAYOUTS) {}
  static constexpr Choice LAYOUTS[4] = {
      {'1', "English"}, {'3', "Fran\xE7" "ais"}, {'4', "Espagnol"}, {'5', "Dansk"}};
};

// The splash window: logo and about text until a key or a click.
class splashwindow : public framewindow {
 public:
  splashwindow() : framewindow(19, 4, 78, 31) {
    set_scheme(LIST_SCHEME);
    set_frame_scheme(FRAME_SCHEME);
  }
  ~splashwindow() override {
    if (logo_) SDL_DestroyTexture(logo_);
  }
  void draw(int flag = 0) override {
    framewindow::draw(flag);
    static const char* const about[] = {
        BANNER,
        "",
        "An emulator of the Amstrad CPC 464, 664 and 6128.",
        "Copyright (c) 2026 the Arvelo developers.",
        "Free software.",
        "The CPC ROM images remain the property of",
        "their rights holders.",
        "",
        "F1 help   F3 disc drives   F7 settings   F12 quit",
        "Click on the picture for the function menu.",
        "",
        "Press any key to start.",
    };
    int row = 10;
    for (const char* line : about) {
      const int column = (width() - static_cast<int>(std::strlen(line))) / 2;
      put_text(column, row++, line, LIST_SCHEME);
    }
    update_texture();
    ui_display.render(false);
  }
  void render(SDL_Renderer* renderer, const SDL_Rect* rect) override {
    framewindow::render(renderer, rect);
    if (!renderer) return;
    if (!logo_) logo_ = make_logo(renderer);
    if (!logo_) return;
    int x, y, w, h;
    cell_rect_to_screen(x1(), y1(), x2(), y2(), x, y, w, h);
    const double scale = static_cast<double>(w) / (width() * CELL_WIDTH);
    SDL_Rect at{x + static_cast<int>(22 * scale), y + static_cast<int>(12 * scale),
                static_cast<int>(LOGO_WIDTH * scale), static_cast<int>(LOGO_HEIGHT * scale)};
    SDL_RenderCopy(renderer, logo_, nullptr, &at);
  }

 private:
  static SDL_Texture* make_logo(SDL_Renderer* renderer) {
    const LogoPicture logo = draw_logo();
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, LOGO_WIDTH, LOGO_HEIGHT, 8, SDL_PIXELFORMAT_INDEX8);
    if (!s) return nullptr;
    SDL_Color colours[LOGO_COLOURS];
    for (int i = 0; i < LOGO_COLOURS; ++i)
      colours[i] = SDL_Color{logo.palette[i][0], logo.palette[i][1], logo.palette[i][2], 255};
    SDL_SetPaletteColors(s->format->palette, colours, 0, LOGO_COLOURS);
    SDL_LockSurface(s);
    for (int y = 0; y < LOGO_HEIGHT; ++y)
      std::memcpy(static_cast<uint8_t*>(s->pixels) + y * s->pitch, &logo.pixels[static_cast<size_t>(y) * LOGO_WIDTH],
                  LOGO_WIDTH);
    SDL_UnlockSurface(s);
    SDL_Texture* t = SDL_CreateTextureFromSurface(renderer, s);
    SDL_FreeSurface(s);
    return t;
  }
  SDL_Texture* logo_ = nullptr;
};

bool is_vkbd_line(const std::string& line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  static const char keyword[] = "VKBD_LANGUAGE";
  for (size_t k = 0; keyword[k]; ++k, ++i)
    if (i >= line.size() || std::toupper(static_cast<unsigned char>(line[i])) != keyword[k]) return false;
  return i == line.size() || !(std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '_');
}

}  // namespace

// Hook for the display: rebuilds the keyboard pictures after the layout changed.
void (*ui_rebuild_keyboard)() = nullptr;

int choose_language() {
  languagewindow w;
  const int entry = w.run();
  w.close();
  return entry - 1;
}

int write_vkbd_language(const char* config_file, int value) {
  const std::string config = config_file ? config_file : "";
  const size_t slash = config.rfind('/');
  // The temporary file lies beside the configuration file, so that the final rename
  // stays within one file system.
  const std::string temp = (slash == std::string::npos ? std::string() : config.substr(0, slash + 1)) + "tmp$$$.cfg";
  std::ifstream in(config, std::ios::binary);
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << "Error creating configuration file: " << temp << std::endl;
    return 1;
  }
  const std::string statement =
      "VKBD_LANGUAGE = " + std::to_string(value) + " ; layout of virtual keybord (0-4)";
  bool inserted = false;
  std::string line;
  while (in && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (is_vkbd_line(line)) continue;  // replaced by the new statement
    if (!inserted && line.find('=') != std::string::npos) {
      out << statement << "\n";
      inserted = true;
    }
    out << line << "\n";
  }
  if (!inserted) out << statement << "\n";
  out.close();
  if (!out || std::rename(temp.c_str(), config.c_str()) != 0) {
    std::remove(temp.c_str());
    std::cerr << "Error creating configuration file: " << config << std::endl;
    return 1;
  }
  return 0;
}

void choose_vkbd_language() {
  virtualkbdlayoutwindow w;
  const int entry = w.run();
  w.close();
  const int value = virtualkbdlayoutwindow::LAYOUTS[entry - 1].digit - '1';
  set_setting(kw::VKBD_LANGUAGE, value);
  if (ui_rebuild_keyboard) ui_rebuild_keyboard();
  write_vkbd_language(config_file_name(), value);
}

void show_splash() {
  splashwindow w;
  w.draw();
  while (wait_key(0) == uikey::REDRAW) w.draw();
  w.close();
}
