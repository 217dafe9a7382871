// Connects the program's windows to the SDL display and installs them as host hooks.
#include <SDL.h>

#include <atomic>
#include <cstring>

#include "core/host.h"
#include "m4/httpget.h"
#include "media/snapshot.h"
#include "ui/debugwindow.h"
#include "ui/filesel.h"
#include "ui/ui.h"
#include "ui/window.h"
#include "video/host_display.h"

extern void (*ui_rebuild_keyboard)();

namespace {

void picture_geometry(int& centre_x, int& top, double& scale) {
  const ScreenRect p = picture_rect();
  if (p.empty()) {
    centre_x = 384;
    top = 0;
    scale = 1.0;
    return;
  }
  centre_x = p.x + p.w / 2;
  top = p.y;
  scale = static_cast<double>(p.w) / 768.0;
}

void overlay_refresh() { refresh_overlay(0); }

void drop_file(const char* path) { ui_load_media(path); }

// While an M4 board command waits for its transfer, the title shows in a window and the
// display stays alive: events are taken and the picture redrawn every 10 ms.
void network_wait_window(const char* title, const std::atomic<bool>& done) {
  constexpr Uint32 WAIT_STEP_MS = 10;
  const int length = static_cast<int>(std::strlen(title));
  const int x1 = (UI_COLUMNS - length - 4) / 2;
  framewindow w(x1, 9, x1 + length + 3, 11);
  w.set_scheme(5);
  w.set_frame_scheme(4);
  w.draw();
  w.put_text(2, 1, title, 5);
  w.update_texture();
  while (!done) {
    SDL_PumpEvents();
    ui_display.render(true);
    SDL_Delay(WAIT_STEP_MS);
  }
  w.close();
}

}  // namespace

void ui_install_host_hooks() {
  ui_display.renderer = display_renderer;
  ui_display.geometry = picture_geometry;
  ui_display.render = render_frame_dimmed;
  ui_display.layout = display_layout;
  set_window_painter(ui_render_windows);
  ui_rebuild_keyboard = rebuild_keyboard_textures;
  set_ui_drop_file(drop_file);

  host.choose_language = choose_language;
  host.choose_vkbd_layout = choose_vkbd_language;
  host.show_splash = show_splash;
  host.refresh_overlay = overlay_refresh;
  // Messages the snapshot unit shows go into a window.
  snapshot_set_message_hook(ui_show_message);
  m4::set_wait_window(network_wait_window);
  // Clicks on the picture arrive as touches, like taps on a touch screen.
  SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "1");
  // ---- Debugger monitor: its console is the "Debugger-Monitor" window ----
  debugwindow_install();
}
