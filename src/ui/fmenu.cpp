// The function menu bar and the function keys that open windows.
#include <SDL.h>

#include <iostream>

#include "config/settings.h"
#include "core/host.h"
#include "m4/m4.h"
#include "sound/psg.h"
#include "ui/help_window.h"
#include "ui/menu_art.h"
#include "ui/setup_windows.h"
#include "ui/ui.h"
#include "ui/window.h"
#include "video/host_display.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

constexpr int BAR_FIRST_COLUMN = -8;  // the bar is 96 columns (768 pixels) wide
constexpr int BAR_ROWS = 4;
constexpr Uint32 PAUSE_AFTER_WINDOW_MS = 200;

// The menu bar over the picture: a window of four rows whose picture is the bar's art.
class fmenuwindow : public winbase {
 public:
  fmenuwindow() : winbase(BAR_FIRST_COLUMN, 0, BAR_FIRST_COLUMN + MENU_WIDTH / CELL_WIDTH - 1, BAR_ROWS - 1) {
    if (SDL_Renderer* r = ui_display.renderer()) {
      picture_ = SDL_CreateTexture(r, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STATIC, MENU_WIDTH, MENU_HEIGHT);
      if (picture_) {
        const std::vector<uint16_t> pixels = draw_menu_bar();
        SDL_UpdateTexture(picture_, nullptr, pixels.data(), MENU_WIDTH * 2);
      }
    }
  }
  ~fmenuwindow() override {
    close();
    if (picture_) SDL_DestroyTexture(picture_);
  }
  void draw(int = 0) override {
    show();
    ui_display.render(true);
  }
  void render(SDL_Renderer* renderer, const SDL_Rect* rect) override {
    if (!renderer || !picture_) return;
    SDL_Rect r;
    if (rect) r = *rect;
    else cell_rect_to_screen(x1(), y1(), x2(), y2(), r.x, r.y, r.w, r.h);
    SDL_RenderCopy(renderer, picture_, nullptr, &r);
  }

 private:
  SDL_Texture* picture_ = nullptr;
};

void push_key_release(int fkey) {
  SDL_Event e{};
  e.type = SDL_KEYUP;
  e.key.type = SDL_KEYUP;
  e.key.state = SDL_RELEASED;
  e.key.timestamp = SDL_GetTicks();
  e.key.keysym.scancode = static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + fkey - 1);
  e.key.keysym.sym = SDLK_F1 + fkey - 1;
  SDL_PushEvent(&e);
}

// After a window: the key that opened it and anything typed meanwhile are forgotten,
// and the picture is cleared until the next frame.
void after_window() {
  SDL_Delay(PAUSE_AFTER_WINDOW_MS);
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_KEYDOWN, SDL_KEYUP);
  clear_frame_buffer();
  ui_display.render(false);
}

// After the setup window: the settings may have changed the palette, the picture's layout,
// the keyboard language, the sound output and the mouse type.
void after_setup() {
  host.prepare_textures();
  // The device is opened again for a new sample rate; it stays silent when sound is off.
  host.audio_close();
  host.audio_open();
  capture_mouse(setting(kw::MOUSE_TYPE) != 0);
}

}  // namespace

void open_function_menu() {
  audio_mute();
  SDL_ShowCursor(SDL_ENABLE);
  {
    fmenuwindow bar;
    bar.draw();
    for (;;) {
      const int key = wait_key(1);
      if (key == uikey::REDRAW) {
        std::cout << "RESIZED IN MAIN MENU" << std::endl;
        continue;
      }
      if (key < uikey::CLICK) break;
      if (key == uikey::CLICK || key == uikey::CLICK_OTHER) {
        const int fkey = menu_key_of_column(last_click_column());
        const int row = last_click_row();
        if (row >= 0 && row < BAR_ROWS && fkey >= 1) push_key_release(fkey);
        break;
      }
    }
  }
  SDL_ShowCursor(SDL_DISABLE);
  audio_unmute();
  ui_display.render(false);
}

bool ui_function_key(int fkey, bool shift) {
  switch (fkey) {
    case 1:
      // Shift+F1 is the M4 board's NMI button: the board takes the machine's snapshot.
      if (shift) return setting(kw::M4_ENABLED) && m4_nmi_button();
      help_window(nullptr);
      break;
    case 3:
      if (shift) tape_window();
      else disc_drive_window();
      break;
    case 5:
      if (snapshot_load_chosen() != 0) z80_dump_registers(std::cout);
      break;
    case 6:
      if (snapshot_save_chosen() != 0) z80_dump_registers(std::cout);
      break;
    case 7:
      if (shift) return false;
      open_setup();
      after_setup();
      break;
    default:
      return false;
  }
  after_window();
  return true;
}
