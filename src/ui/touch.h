// Touch controls and the on-screen keyboard's handling: fingers (and the mouse, whose
// clicks SDL delivers as touches too) on the keyboard, the direction pad, the fire
// buttons, the keyboard's handles and the picture.
#pragma once
#include <string>

union SDL_Event;

// Area codes of a screen point.
enum TouchArea : int {
  AREA_FADING = 0,     // a control fading in (the touch ends the fade)
  AREA_PICTURE = 1,
  AREA_KEYBOARD = 2,
  AREA_DRAG_HANDLE = 3,
  AREA_PAD = 4,
  AREA_PAD_JOYSTICK = 5,
  AREA_PINCH_HANDLE = 6,
  AREA_PAD_MOUSE = 7,
  AREA_FIRE1 = 8,
  AREA_FIRE2 = 9,
  AREA_FIRE3 = 10,
};

// The area under a point in output pixels.
int hit_area(int x, int y);

// Finger events (SDL_FINGERDOWN, SDL_FINGERMOTION, SDL_FINGERUP), the mouse wheel while
// the keyboard is dragged, and the right mouse button, which shows and hides the
// keyboard when no mouse is emulated. True when the event was taken.
bool ui_touch_event(const SDL_Event& event);

// The on-screen keyboard.
void vkbd_show(bool on);
bool vkbd_shown();
// Moves the keyboard (output pixels), keeping an eighth of the window on each axis;
// end stores the layout.
void vkbd_drag(bool end, int dx, int dy);
void vkbd_zoom(double factor);
void vkbd_alpha(double delta);

// The layout file "arvelo.vkbd": twelve integers (keyboard rectangle, a second
// rectangle, keyboard alpha, touch alpha, display mode, shown flag).
constexpr const char* VKBD_LAYOUT_FILE = "arvelo.vkbd";
int save_vkbd_layout();
int load_vkbd_layout();

// Moves a rectangle by (dx, dy) inside an output of w × h so that at least an eighth of
// the output's width and height stays covered.
void keep_on_screen(int& x, int& y, int rw, int rh, int dx, int dy, int w, int h);
// The twelve values of the layout file, and their parsing (false for a bad file).
std::string format_vkbd_layout(const int values[12]);
bool parse_vkbd_layout(const std::string& text, int values[12]);
