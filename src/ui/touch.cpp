#include "ui/touch.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "config/settings.h"
#include "hardware/keyboard.h"
#include "sound/fx.h"
#include "ui/ui.h"
#include "video/artwork.h"
#include "video/host_display.h"

namespace {

constexpr int FINGERS = 10;
constexpr float PAD_DEAD_ZONE = 0.03f;
constexpr Uint32 TAP_MS = 400;
constexpr int TAP_MOVE = 12;  // output pixels a tap may move

struct Finger {
  bool active = false;
  SDL_FingerID id = 0;
  int area = 0;
  int key = -1;  // on-screen key held, -1 none
  int x0 = 0, y0 = 0, x = 0, y = 0;
  float nx0 = 0, ny0 = 0;
  Uint32 t0 = 0;
  bool mouse = false;
};

struct TouchState {
  Finger fingers[FINGERS];
  int drag = -1;          // finger dragging the keyboard
  int pad = -1;           // finger on the pad
  bool second = false;    // a finger rests on the two-finger handle
  bool loaded = false;    // the layout file was read
};
TouchState touch;

void output_size(int& w, int& h) {
  w = h = 0;
  if (SDL_Renderer* r = display_renderer()) SDL_GetRendererOutputSize(r, &w, &h);
  if (w <= 0 || h <= 0) {
    w = 768;
    h = 542;
  }
}

// Pixels per quarter inch of the first display.
double dpi_unit() {
  float d = 0, h = 0, v = 0;
  if (SDL_GetDisplayDPI(0, &d, &h, &v) != 0 || h <= 0) h = 96;
  return h * 0.25;
}

bool inside(const ScreenRect& r, int x, int y) { return x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h; }

// The keyboard's handles: strips above its left end (drag) and its right end (two-finger).
void handles(ScreenRect& drag, ScreenRect& pinch) {
  const ScreenRect& k = vkbd_view().rect;
  const double s = static_cast<double>(k.w) / VKBD_WIDTH;
  const double unit = dpi_unit();
  const int thick = static_cast<int>(2 * unit), length = std::max(static_cast<int>(6 * unit), k.w / 6);
  drag = ScreenRect{k.x + static_cast<int>(10 * s), k.y - static_cast<int>(5 * s) - thick, length, thick};
  pinch = ScreenRect{k.x + k.w - static_cast<int>(10 * s) - length, drag.y, length, thick};
}

void set_key(int code, bool down) {
  if (code < 0) return;
  keyboard_cpc_key(code, down);
  if (down) fx_key_press();
  else fx_key_release();
}

int fire_bit(int area) { return area == AREA_FIRE1 ? 1 : area == AREA_FIRE2 ? 2 : area == AREA_FIRE3 ? 4 : 0; }

int find_finger(SDL_FingerID id) {
  for (int i = 0; i < FINGERS; ++i)
    if (touch.fingers[i].active && touch.fingers[i].id == id) return i;
  return -1;
}

void pad_directions(const Finger& f, float nx, float ny) {
  int d = 0;
  const float dx = nx - f.nx0, dy = ny - f.ny0;
  if (dx < -PAD_DEAD_ZONE) d |= 1;
  if (dx > PAD_DEAD_ZONE) d |= 2;
  if (dy < -PAD_DEAD_ZONE) d |= 4;
  if (dy > PAD_DEAD_ZONE) d |= 8;
  keyboard_set_directions(d);
}

void finger_down(const SDL_TouchFingerEvent& e) {
  int slot = -1;
  for (int i = 0; i < FINGERS; ++i)
    if (!touch.fingers[i].active) {
      slot = i;
      break;
    }
  if (slot < 0) return;  // beyond the tenth finger
  int w, h;
  output_size(w, h);
  Finger& f = touch.fingers[slot];
  f = Finger{};
  f.active = true;
  f.id = e.fingerId;
  f.mouse = e.touchId == SDL_MOUSE_TOUCHID;
  f.x0 = f.x = static_cast<int>(e.x * w);
  f.y0 = f.y = static_cast<int>(e.y * h);
  f.nx0 = e.x;
  f.ny0 = e.y;
  f.t0 = e.timestamp;
  f.area = hit_area(f.x, f.y);
  // A real touch screen makes the touch controls appear.
  if (!f.mouse && vkbd_view().touch_alpha <= 0) vkbd_view().touch_alpha = 128;
  switch (f.area) {
    case AREA_KEYBOARD: {
      const ScreenRect& k = vkbd_view().rect;
      f.key = vkbd_key_at(f.x - k.x, f.y - k.y, k.w, k.h);
      set_key(f.key, true);
      break;
    }
    case AREA_PAD:
    case AREA_PAD_JOYSTICK:
    case AREA_PAD_MOUSE:
      touch.pad = slot;
      break;
    case AREA_FIRE1:
    case AREA_FIRE2:
    case AREA_FIRE3:
      keyboard_set_fire(keyboard_fire() | fire_bit(f.area));
      break;
    case AREA_DRAG_HANDLE:
      touch.drag = slot;
      break;
    case AREA_PINCH_HANDLE:
      if (!touch.second) touch.second = true;
      else touch.drag = slot;
      break;
    default:
      break;
  }
}

void finger_motion(const SDL_TouchFingerEvent& e) {
  const int slot = find_finger(e.fingerId);
  if (slot < 0) return;
  int w, h;
  output_size(w, h);
  Finger& f = touch.fingers[slot];
  const int x = static_cast<int>(e.x * w), y = static_cast<int>(e.y * h);
  if (slot == touch.pad) pad_directions(f, e.x, e.y);
  if (slot == touch.drag) vkbd_drag(false, x - f.x, y - f.y);
  f.x = x;
  f.y = y;
}

void finger_up(const SDL_TouchFingerEvent& e) {
  const int slot = find_finger(e.fingerId);
  if (slot < 0) return;
  int w, h;
  output_size(w, h);
  Finger f = touch.fingers[slot];
  touch.fingers[slot].active = false;
  const int x = static_cast<int>(e.x * w), y = static_cast<int>(e.y * h);
  const bool tap = e.timestamp - f.t0 <= TAP_MS && std::abs(x - f.x0) <= TAP_MOVE && std::abs(y - f.y0) <= TAP_MOVE;
  if (f.key >= 0) set_key(f.key, false);
  keyboard_set_fire(keyboard_fire() & ~fire_bit(f.area));
  if (slot == touch.pad) {
    keyboard_set_directions(0);
    touch.pad = -1;
  }
  if (slot == touch.drag) {
    touch.drag = -1;
    if (tap) vkbd_show(!vkbd_shown());
    else vkbd_drag(true, x - f.x, y - f.y);
  }
  if (f.area == AREA_PINCH_HANDLE && touch.drag < 0) touch.second = false;
  if (f.area == AREA_PICTURE && std::abs(x - f.x0) <= TAP_MOVE && std::abs(y - f.y0) <= TAP_MOVE &&
      hit_area(x, y) == AREA_PICTURE) {
    // Clicks of an emulated mouse belong to the CPC.
    if (!(f.mouse && setting(kw::MOUSE_TYPE) != 0)) open_function_menu();
  }
}

int area_at(const VkbdView& v, int x, int y) {
  if (v.shown) {
    if (inside(v.rect, x, y)) return AREA_KEYBOARD;
    ScreenRect drag, pinch;
    handles(drag, pinch);
    if (inside(drag, x, y)) return AREA_DRAG_HANDLE;
    if (inside(pinch, x, y)) return AREA_PINCH_HANDLE;
  }
  if (v.touch_alpha > 0) {
    const TouchLayout& t = touch_layout();
    if (inside(t.pad, x, y)) {
      if (setting(kw::MOUSE_TYPE) != 0) return AREA_PAD_MOUSE;
      return setting(kw::JOY0_CURSOR_KEYS) == 2 ? AREA_PAD : AREA_PAD_JOYSTICK;
    }
    for (int i = 0; i < 3; ++i)
      if (inside(t.fire[i], x, y)) return AREA_FIRE1 + i;
  }
  return AREA_PICTURE;
}

}  // namespace

int hit_area(int x, int y) {
  VkbdView& v = vkbd_view();
  const int area = area_at(v, x, y);
  // A touch on a control that is still fading in only completes the fade, so that a key
  // appearing under a finger is not pressed by it.
  if (v.fade > 0 && area != AREA_PICTURE) {
    v.fade = 0;
    return AREA_FADING;
  }
  return area;
}

bool ui_touch_event(const SDL_Event& e) {
  switch (e.type) {
    case SDL_FINGERDOWN: finger_down(e.tfinger); return true;
    case SDL_FINGERMOTION: finger_motion(e.tfinger); return true;
    case SDL_FINGERUP: finger_up(e.tfinger); return true;
    case SDL_MOUSEBUTTONDOWN:
      // Without mouse emulation the right button shows and hides the keyboard.
      if (e.button.button == SDL_BUTTON_RIGHT && setting(kw::MOUSE_TYPE) == 0) {
        vkbd_show(!vkbd_shown());
        return true;
      }
      return false;
    case SDL_MOUSEWHEEL:
      if (touch.drag >= 0) {
        vkbd_zoom(e.wheel.y / 100.0);
        return true;
      }
      if (touch.second) {
        vkbd_alpha(e.wheel.y / 100.0);
        return true;
      }
      return false;
    default:
      return false;
  }
}

void vkbd_show(bool on) {
  VkbdView& v = vkbd_view();
  if (on && !touch.loaded) {
    touch.loaded = true;
    load_vkbd_layout();
  }
  v.shown = on;
  v.touch_alpha = 128;
  if (on) {
    v.fade = VKBD_FADE_FRAMES;
  } else {
    v.fade = 0;
    // Keys held on a keyboard that goes away are let go.
    for (Finger& f : touch.fingers)
      if (f.active && f.key >= 0) {
        set_key(f.key, false);
        f.key = -1;
      }
  }
}

bool vkbd_shown() { return vkbd_view().shown; }

void keep_on_screen(int& x, int& y, int rw, int rh, int dx, int dy, int w, int h) {
  const int min_x = w / 8 - rw, max_x = w - w / 8;
  const int min_y = h / 8 - rh, max_y = h - h / 8;
  x = std::clamp(x + dx, std::min(min_x, max_x), std::max(min_x, max_x));
  y = std::clamp(y + dy, std::min(min_y, max_y), std::max(min_y, max_y));
}

void vkbd_drag(bool end, int dx, int dy) {
  VkbdView& v = vkbd_view();
  int w, h;
  output_size(w, h);
  keep_on_screen(v.rect.x, v.rect.y, v.rect.w, v.rect.h, dx, dy, w, h);
  if (end) {
    v.touch_alpha = 200;
    save_vkbd_layout();
  }
}

void vkbd_zoom(double factor) {
  VkbdView& v = vkbd_view();
  const int width = std::clamp(static_cast<int>((factor + 1) * v.rect.w), VKBD_WIDTH / 4, VKBD_WIDTH * 4);
  v.rect.w = width;
  v.rect.h = width * VKBD_HEIGHT / VKBD_WIDTH;
}

void vkbd_alpha(double delta) {
  VkbdView& v = vkbd_view();
  v.alpha = std::clamp(static_cast<int>(v.alpha + delta * 10 * 225), 30, 255);
}

std::string format_vkbd_layout(const int values[12]) {
  std::ostringstream out;
  for (int i = 0; i < 12; ++i) out << values[i] << (i == 11 ? "\n" : " ");
  return out.str();
}

bool parse_vkbd_layout(const std::string& text, int values[12]) {
  std::istringstream in(text);
  int v[12];
  for (int& x : v)
    if (!(in >> x)) return false;
  const bool sane = v[2] > 0 && v[3] > 0 && v[2] <= 16 * VKBD_WIDTH && v[3] <= 16 * VKBD_HEIGHT &&
                    v[8] >= 0 && v[8] <= 255 && v[9] >= 0 && v[9] <= 255;
  if (!sane) return false;
  std::copy(v, v + 12, values);
  return true;
}

int save_vkbd_layout() {
  const VkbdView& v = vkbd_view();
  const int values[12] = {v.rect.x, v.rect.y, v.rect.w, v.rect.h, v.rect.x, v.rect.y, v.rect.w,
                          v.rect.h, v.alpha,  v.touch_alpha, display_mode(), v.shown ? 1 : 0};
  std::ofstream out(VKBD_LAYOUT_FILE, std::ios::trunc);
  out << format_vkbd_layout(values);
  return out ? 0 : 1;
}

int load_vkbd_layout() {
  std::ifstream in(VKBD_LAYOUT_FILE);
  if (!in) return 1;
  std::stringstream text;
  text << in.rdbuf();
  int values[12];
  if (!parse_vkbd_layout(text.str(), values)) return 1;
  VkbdView& v = vkbd_view();
  int w, h;
  output_size(w, h);
  v.rect = ScreenRect{values[0], values[1], values[2], values[3]};
  keep_on_screen(v.rect.x, v.rect.y, v.rect.w, v.rect.h, 0, 0, w, h);
  v.alpha = std::clamp(values[8], 30, 255);
  return 0;
}
