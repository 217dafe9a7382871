// Connects the program's windows to the SDL display and installs them as host hooks.
#include <SDL.h>

#include "core/host.h"
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
  // Clicks on the picture arrive as touches, like taps on a touch screen.
  SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "1");
  // ---- Debugger monitor: its console is the "Debugger-Monitor" window ----
  debugwindow_install();
}
