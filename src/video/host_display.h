// The SDL display output: the window, its renderer and textures, the picture of every
// monitor frame with the overlays drawn over it, full screen and border crop, the
// badge, the on-screen message and screenshots.
#pragma once
#include <cstdint>

#include "video/display_layout.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

// Installs the SDL versions of the host hooks (frame rendering, event pump, message
// boxes, Shift state, sleeps, display preparation).
void host_install_sdl();

// ---- Life cycle --------------------------------------------------------------------------------
// Start-up: video subsystem, window scale, then display_create. 0 on success; 1 after
// a message on standard error.
int display_init();
// (Re)creates the renderer and every texture, keeping an existing window. 0 or 1.
int display_create();
// Frees the textures and the renderer.
void display_destroy();
// At exit: display_destroy and the window.
void display_shutdown();
// Before each set-up of the machine, and after it (settings known: textures of the
// chosen keyboard language, layout, joysticks).
void display_prepare_run();
void display_prepare_textures();

// ---- Per frame ---------------------------------------------------------------------------------
// Converts the frame buffer, draws picture and overlays and presents. Does nothing
// before the window and renderer exist.
void render_frame();
// Recomputes the layout after the output size changed.
void display_layout();

// ---- Display modes -----------------------------------------------------------------------------
// Display mode + 1 (0..3; bit 0 border crop, bit 1 desktop full screen).
void cycle_display_mode();
int display_mode();
// The window is 640 pixels wider while the debugger panel is shown.
void set_debugger_panel(bool on);
bool debugger_panel_shown();

// ---- Outputs ------------------------------------------------------------------------------------
// "screenshot.bmp" in the current directory, 8 bits per pixel. 0 or 1.
int save_screenshot();
// The on-screen message for seconds × 50 rendered frames.
void show_message(const char* text, int seconds);
// Up to three glyphs at the top left for `frames` rendered frames; an empty text or one
// starting with a blank hides the badge.
void show_badge(const char* text, int frames);
// Zeroes the frame buffer and fills the output black.
void clear_screen();
// SDL message box with the window as its parent (flags: SDL_MESSAGEBOX_...); without a
// parent inside the fatal-signal handler.
void show_message_box(uint32_t flags, const char* title, const char* text);

// ---- For the program's own windows -----------------------------------------------------------
SDL_Window* display_window();
SDL_Renderer* display_renderer();
// An RGB565 streaming texture (nullptr without a renderer or for an empty size).
SDL_Texture* create_window_texture(int width, int height);
// RGB565 of a colour code: 0..31 CPC hardware colours through the host colour table,
// 32..39 the windows' own colours; others 0.
uint16_t display_colour(int code);
// Called by render_frame after the picture and keyboard, before badge and message: the
// program's windows draw themselves there.
void set_window_painter(void (*paint)(SDL_Renderer*));
// Renders with the picture dimmed (colour modulation 128) when dim is set.
void render_frame_dimmed(bool dim);
// The picture's rectangle in the output (windows are placed relative to it).
ScreenRect picture_rect();
// User interface scale from the display's DPI.
double ui_scale();

// ---- On-screen keyboard and touch controls --------------------------------------------------
// State the event handling sets; the display draws from it.
// Frames over which the keyboard and the touch controls fade in when the keyboard is shown.
constexpr int VKBD_FADE_FRAMES = 25;
struct VkbdView {
  bool shown = false;
  ScreenRect rect;  // on the screen
  int alpha = 255;  // 30..255
  int touch_alpha = 0;  // 0 hides the touch controls
  int fade = 0;  // frames of fade-in still to draw
};
VkbdView& vkbd_view();
// The alphas the keyboard and the touch controls are drawn with in the current frame: the
// set alphas once the fade-in is over, rising towards them while it runs (the touch
// controls from 20).
int vkbd_draw_alpha(const VkbdView& v);
int touch_draw_alpha(const VkbdView& v);
// Rebuilds the keyboard textures for VKBD_LANGUAGE.
void rebuild_keyboard_textures();
// The touch controls' rectangles of the current layout.
const TouchLayout& touch_layout();

// ---- Mouse -------------------------------------------------------------------------------------
// Relative mouse mode on (the pointer is first warped to the window centre when it is
// outside the window) or off.
void capture_mouse(bool on);
