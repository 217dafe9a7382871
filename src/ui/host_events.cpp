#include <SDL.h>

#include <cstring>
#include <string>

#include "config/messages.h"
#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "hardware/autotype.h"
#include "hardware/expansions.h"
#include "hardware/keyboard.h"
#include "m4/webserver.h"
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

// Character typing: a key that gives a character is held on the CPC as that character
// (the SDL_TEXTINPUT event that follows its SDL_KEYDOWN says which); other keys, and
// every key in positional mode, go through the key table.
struct TextTyping {
  int awaiting = -1;             // the key whose character comes next
  bool after_repeat = false;     // a key repeat came last: its text is dropped
  bool by_text[SDL_NUM_SCANCODES] = {};  // keys held as characters
};

struct EventState {
  Uint32 last_motion = 0;          // SDL_GetTicks of the last mouse motion
  int horizontal_countdown = 0;    // frames until the touch pad's direction bits clear
  int vertical_countdown = 0;
  SDL_Joystick* joysticks[2] = {};
  TextTyping text;
};
EventState events;

bool text_typing() { return setting(kw::KBD_TEXT_TYPING) != 0; }

// A printable character without Ctrl, left Alt or a GUI key held: cursor, keypad and
// function keys (SDL marks them as scan-code keys), Return, Backspace, Tab, Escape and
// Delete keep their place in the key table, and so do Ctrl combinations (CONTROL with
// a key on the CPC).
bool types_character(const SDL_Keysym& k) {
  if (!text_typing() || (k.mod & (KMOD_CTRL | KMOD_LALT | KMOD_GUI))) return false;
  return !(k.sym & SDLK_SCANCODE_MASK) && k.sym >= ' ' && k.sym != SDLK_DELETE;
}

// Text input follows the mode (the program's windows start and stop it too).
void sync_text_input() {
  if (text_typing() != static_cast<bool>(SDL_IsTextInputActive())) {
    if (text_typing()) SDL_StartTextInput();
    else SDL_StopTextInput();
  }
}

// The characters of a text event: one ASCII character is the awaited key's; anything
// else (a composed sequence, text without a key) is typed like pasted text.
void text_input(const char* text) {
  const bool repeat = events.text.after_repeat;
  const int key = events.text.awaiting;
  events.text.awaiting = -1;
  events.text.after_repeat = false;
  if (repeat || !text_typing() || !text[0]) return;
  if (key >= 0 && text[1] == 0 && static_cast<unsigned char>(text[0]) < 0x80) {
    keyboard_text_key(key, text[0]);
    return;
  }
  std::string ascii;
  for (const char* p = text; *p; ++p)
    if (static_cast<unsigned char>(*p) < 0x80) ascii += *p;
  if (!ascii.empty()) type_text(ascii.c_str());
}

bool gui_held() { return (SDL_GetModState() & KMOD_GUI) != 0; }

void forget_keys() {
  keyboard_release_host_keys();
  events.text = TextTyping{};
}

void key_down(const SDL_KeyboardEvent& k) {
  const int sc = k.keysym.scancode;
  events.text.after_repeat = k.repeat != 0;
  if (!k.repeat && sc >= 0 && sc < SDL_NUM_SCANCODES) {
    events.text.by_text[sc] = types_character(k.keysym);
    if (events.text.by_text[sc]) events.text.awaiting = sc;
    else keyboard_host_key(sc, 1);
  }
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

void key_released(int sc) {
  if (sc < 0 || sc >= SDL_NUM_SCANCODES) return;
  if (events.text.by_text[sc]) keyboard_text_key(sc, -1);
  else keyboard_host_key(sc, 0);
  events.text.by_text[sc] = false;
}

void hot_key(const SDL_Keysym& key) {
  const int sc = key.scancode;
  const bool shift = (key.mod & KMOD_SHIFT) != 0;
  switch (sc) {
    case SDL_SCANCODE_F1:
    case SDL_SCANCODE_F3:
    case SDL_SCANCODE_F5:
    case SDL_SCANCODE_F6:
    case SDL_SCANCODE_F7:
      // The keys that open the program's windows.
      ui_function_key(sc - SDL_SCANCODE_F1 + 1, shift);
      break;
    case SDL_SCANCODE_F2:
      if (shift) hotkey_cycle_speed();
      else hotkey_toggle_realtime();
      break;
    case SDL_SCANCODE_F4:
      if (shift) set_setting(kw::JOY0_CURSOR_KEYS, (setting(kw::JOY0_CURSOR_KEYS) + 1) % 3);
      else audio_toggle();
      break;
    case SDL_SCANCODE_F8:
      machine_reset(ResetKind::POWER_ON);
      break;
    case SDL_SCANCODE_F9:
      if (shift) hotkey_toggle_text_typing();
      else hotkey_pause();
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
      set_setting(kw::SCREEN_OFFSET, step_screen_offset(setting(kw::SCREEN_OFFSET), 1));
      break;
    case SDL_SCANCODE_PAGEUP:
      set_setting(kw::SCREEN_OFFSET, step_screen_offset(setting(kw::SCREEN_OFFSET), -1));
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

// A joystick plugged in while the emulator runs takes the first free row (SDL also
// announces the joysticks already open at start-up: those are left as they are).
void joystick_added(int device_index) {
  const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device_index);
  for (SDL_Joystick* j : events.joysticks)
    if (j && SDL_JoystickInstanceID(j) == id) return;
  for (SDL_Joystick*& j : events.joysticks) {
    if (!j) {
      j = SDL_JoystickOpen(device_index);
      return;
    }
  }
}

// A joystick pulled out frees its row and lets go of whatever it held, so that a
// direction pushed at that moment does not stay pressed on the CPC.
void joystick_removed(SDL_JoystickID id) {
  for (int i = 0; i < 2; ++i) {
    SDL_Joystick*& j = events.joysticks[i];
    if (!j || SDL_JoystickInstanceID(j) != id) continue;
    SDL_JoystickClose(j);
    j = nullptr;
    joystick_host_state(i, 0, 0, 0, 0);
  }
}

void read_joysticks() {
  for (int i = 0; i < 2; ++i) {
    SDL_Joystick* j = events.joysticks[i];
    if (!j) continue;
    const int buttons = (SDL_JoystickGetButton(j, 0) ? 1 : 0) | (SDL_JoystickGetButton(j, 1) ? 2 : 0);
    joystick_host_state(i, 1, SDL_JoystickGetAxis(j, 0), SDL_JoystickGetAxis(j, 1), buttons);
  }
}

// Files fetched or sent through the M4 board's web server are announced on screen.
void announce_web_activity() {
  std::string text;
  if (web_server_take_activity(&text)) notify_user(text.c_str());
}

}  // namespace

void poll_events() {
  keyboard_request_refresh();
  announce_web_activity();
  pointer_housekeeping();
  sync_text_input();
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_QUIT:
        stop_request_word = stopbit::QUIT;
        break;
      case SDL_WINDOWEVENT:
        window_event(e.window);
        break;
      case SDL_JOYDEVICEADDED:
        joystick_added(e.jdevice.which);
        break;
      case SDL_JOYDEVICEREMOVED:
        joystick_removed(e.jdevice.which);
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
      case SDL_TEXTINPUT:
        text_input(e.text.text);
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
  set_setting(kw::REALTIME, setting(kw::REALTIME) ? 0 : 1);
  video_apply_timing_settings();
  if (setting(kw::REALTIME)) show_badge("\xF6 ", 150);
  else show_badge("\xF6\xF6", 1000);
}

void hotkey_toggle_text_typing() {
  set_setting(kw::KBD_TEXT_TYPING, text_typing() ? 0 : 1);
  sync_text_input();
  show_message(message_text(text_typing() ? msg::KEYS_TYPE_CHARACTERS : msg::KEYS_BY_POSITION), 3);
}

void hotkey_cycle_speed() {
  static const char* const names[3] = {"1x", "3x", "24x"};
  const int mode = (z80_state().speed_mode + 1) % 3;
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
