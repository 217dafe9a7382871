#include <SDL.h>

#include <cstring>

#include "config/settings.h"
#include "core/machine.h"
#include "hardware/autotype.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "sound/audio.h"
#include "ui/events.h"
#include "ui/filesel.h"
#include "ui/touch.h"
#include "ui/ui.h"
#include "video/display_layout.h"
#include "video/font8x8.h"
#include "video/host_display.h"
#include "video/raster.h"
#include "z80/z80.h"

namespace {

constexpr Uint32 POINTER_HIDE_MS = 2000;

struct EventState {
  Uint32 last_motion = 0;          // SDL_GetTicks of the last mouse motion
  int horizontal_countdown = 0;    // frames until the touch pad's direction bits clear
  int vertical_countdown = 0;
  SDL_Joystick* joysticks[2] = {};
};
EventState events;

bool gui_held() { return (SDL_GetModState() & KMOD_GUI) != 0; }

void forget_keys() { keyboard_release_host_keys(); }

void key_down(const SDL_KeyboardEvent& k) {
  const int sc = k.keysym.scancode;
  if (!k.repeat) keyboard_host_key(sc, 1);
  // The modifiers as they were with this key (the current state may already be later).
  if (sc == SDL_SCANCODE_INSERT && (k.keysym.mod & KMOD_SHIFT)) {
    // Paste: the clipboard's text is typed.
    if (SDL_HasClipboardText()) {
      if (char* text = SDL_GetClipboardText()) {
        type_pasted(text);
        SDL_free(text);
      }
    }
  } else if (sc == SDL_SCANCODE_LGUI || sc == SDL_SCANCODE_RGUI) {
    capture_mouse(false);
    SDL_ShowCursor(SDL_ENABLE);
  }
}

void key_released(int sc) { keyboard_host_key(sc, 0); }

void hot_key(const SDL_Keysym& key) {
  const int sc = key.scancode;
  const bool shift = (key.mod & KMOD_SHIFT) != 0;
  switch (sc) {
    case SDL_SCANCODE_F1:
    case SDL_SCANCODE_F3:
    case SDL_SCANCODE_F5:
    case SDL_SCANCODE_F6:
      // The keys that open the program's windows.
      ui_function_key(sc - SDL_SCANCODE_F1 + 1, shift);
      break;
    case SDL_SCANCODE_F2:
      if (shift) hotkey_cycle_speed();
      else hotkey_toggle_realtime();
      break;
    case SDL_SCANCODE_F4:
      if (shift) setting(kw::JOY0_CURSOR_KEYS) = (setting(kw::JOY0_CURSOR_KEYS) + 1) % 3;
      else audio_toggle();
      break;
    case SDL_SCANCODE_F8:
      machine_reset(1);
      break;
    case SDL_SCANCODE_F9:
      hotkey_pause();
      break;
    case SDL_SCANCODE_F10:
      request_stop(stopbit::BREAK);
      break;
    case SDL_SCANCODE_F11:
      cycle_display_mode();
      if (display_mode() & DISPLAY_CROP_BORDER) show_badge("\xD4\xD6", 200);
      else show_badge("", 0);
      break;
    case SDL_SCANCODE_F12:
      stop_request_word = stopbit::QUIT;
      break;
    case SDL_SCANCODE_PRINTSCREEN:
      save_screenshot();
      break;
    case SDL_SCANCODE_PAGEDOWN:
      setting(kw::SCREEN_OFFSET) = step_screen_offset(setting(kw::SCREEN_OFFSET), 1);
      break;
    case SDL_SCANCODE_PAGEUP:
      setting(kw::SCREEN_OFFSET) = step_screen_offset(setting(kw::SCREEN_OFFSET), -1);
      break;
    case SDL_SCANCODE_LGUI:
    case SDL_SCANCODE_RGUI:
      capture_mouse(true);
      SDL_ShowCursor(SDL_DISABLE);
      break;
    default:
      break;
  }
}

void window_event(const SDL_WindowEvent& w) {
  switch (w.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      display_layout();
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      // Keys released while another window has the focus never reach us.
      forget_keys();
      break;
    default:
      break;
  }
}

void pointer_housekeeping() {
  if (setting(kw::MOUSE_TYPE) == 0) {
    if (SDL_GetTicks() - events.last_motion > POINTER_HIDE_MS || events.horizontal_countdown > 0 ||
        events.vertical_countdown > 0)
      SDL_ShowCursor(SDL_DISABLE);
  } else {
    SDL_CaptureMouse(SDL_TRUE);
  }
  if (events.horizontal_countdown > 0 && --events.horizontal_countdown == 0)
    keyboard_set_directions(keyboard_directions() & ~3);
  if (events.vertical_countdown > 0 && --events.vertical_countdown == 0)
    keyboard_set_directions(keyboard_directions() & ~12);
}

void read_joysticks() {
  for (int i = 0; i < 2; ++i) {
    SDL_Joystick* j = events.joysticks[i];
    if (!j) continue;
    const int buttons = (SDL_JoystickGetButton(j, 0) ? 1 : 0) | (SDL_JoystickGetButton(j, 1) ? 2 : 0);
    joystick_host_state(i, 1, SDL_JoystickGetAxis(j, 0), SDL_JoystickGetAxis(j, 1), buttons);
  }
}

}  // namespace

void poll_events() {
  keyboard_inputs.refresh = 1;
  pointer_housekeeping();
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_QUIT:
        stop_request_word = stopbit::QUIT;
        break;
      case SDL_WINDOWEVENT:
        window_event(e.window);
        break;
      case SDL_DROPFILE:
        if (e.drop.file) {
          ui_load_media(e.drop.file);
          SDL_free(e.drop.file);
        }
        break;
      case SDL_KEYDOWN:
        key_down(e.key);
        break;
      case SDL_KEYUP:
        key_released(e.key.keysym.scancode);
        hot_key(e.key.keysym);
        break;
      case SDL_MOUSEMOTION:
        if (!gui_held()) {
          mouse_add_motion(e.motion.xrel, e.motion.yrel);
          if (setting(kw::MOUSE_TYPE) == 0) {
            SDL_ShowCursor(SDL_ENABLE);
            events.last_motion = SDL_GetTicks();
          }
        }
        break;
      case SDL_FINGERDOWN:
      case SDL_FINGERMOTION:
      case SDL_FINGERUP:
      case SDL_MOUSEWHEEL:
        ui_touch_event(e);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (ui_touch_event(e)) break;
        if (setting(kw::MOUSE_TYPE) != 0 && !gui_held())
          mouse_set_buttons(static_cast<int>(SDL_GetMouseState(nullptr, nullptr) & 7));
        break;
      default:
        break;
    }
  }
  keyboard_host_modifiers(static_cast<int>(SDL_GetModState()));
  read_joysticks();
}

void joystick_init() {
  SDL_SetHint("SDL_ACCELEROMETER_AS_JOYSTICK", "0");
  if (!SDL_WasInit(SDL_INIT_JOYSTICK)) SDL_InitSubSystem(SDL_INIT_JOYSTICK);
  SDL_StopTextInput();
  const int count = SDL_NumJoysticks();
  for (int i = 0; i < 2; ++i)
    if (!events.joysticks[i] && count > i) events.joysticks[i] = SDL_JoystickOpen(i);
  keyboard_set_directions(0);
  keyboard_set_fire(0);
  if (setting(kw::MOUSE_TYPE) != 0) capture_mouse(true);
}

void hotkey_toggle_realtime() {
  clear_screen();
  setting(kw::REALTIME) = setting(kw::REALTIME) ? 0 : 1;
  video_apply_timing_settings();
  if (setting(kw::REALTIME)) show_badge("\xF6 ", 150);
  else show_badge("\xF6\xF6", 1000);
}

void hotkey_cycle_speed() {
  static const char* const names[3] = {"1x", "3x", "24x"};
  const int mode = (z80.speed_mode + 1) % 3;
  z80_set_speed_mode(mode);
  show_badge(names[mode], 150);
}

void hotkey_pause() {
  audio_stop();
  show_badge("||", 10);
  render_frame();
  SDL_ShowCursor(SDL_ENABLE);
  // Wait for a mouse button to be pressed and released again.
  bool pressed = false, done = false;
  SDL_Event e;
  while (!done && SDL_WaitEvent(&e)) {
    switch (e.type) {
      case SDL_MOUSEBUTTONDOWN:
        pressed = true;
        break;
      case SDL_MOUSEBUTTONUP:
        done = pressed;
        break;
      case SDL_QUIT:
        // Closing the window ends the pause and the program.
        stop_request_word = stopbit::QUIT;
        done = true;
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) display_layout();
        render_frame();
        break;
      default:
        break;
    }
  }
  forget_keys();
  show_badge("\xF6 ", 50);
  audio_resume();
}
