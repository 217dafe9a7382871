// The seam between the emulated machine and the host it runs on.
//
// The machine never calls SDL. Whatever it needs from the host at frame end or when
// idle goes through these hooks. The `arvelo` program installs the SDL host; the
// headless runner and the unit tests keep the headless defaults, which draw nothing,
// play nothing and never block (drive delays pass in emulated time only).
#pragma once
#include <cstdint>

struct HostHooks {
  // A new frame of the emulated monitor is complete in the frame buffer.
  void (*render_frame)();
  // Frame-end work: handle input events and hot keys.
  void (*poll_events)();
  // Redraw the program's own windows over the picture.
  void (*refresh_overlay)();
  // Hands the emulated start time (µs) of a frame to the audio side.
  void (*audio_mark_frame)(uint64_t frame_start_us);
  // Audio device: open returns 0 on success; close frees it.
  int (*audio_open)();
  void (*audio_close)();
  // Sleep (milliseconds): the real-time throttle and the drive delays. Null on a host
  // that does not run in real time, which then never sleeps.
  void (*delay_ms)(unsigned ms);
  // A message box with the given title and text; error selects the error icon.
  void (*show_message_box)(bool error, const char* title, const char* text);
  // True while either Shift key is held.
  bool (*shift_held)();
  // Display preparation before each set-up and after a successful one.
  void (*prepare_run)();
  void (*prepare_textures)();
  // First start: the language the user picks (0 English, 1 German, 2 French, 3 Spanish).
  int (*choose_language)();
  // At a start whose configuration has no virtual keyboard layout (VKBD_LANGUAGE < 0).
  void (*choose_vkbd_layout)();
  // The splash window, until the user presses a key.
  void (*show_splash)();
  // A notice for the user (see notify_user), shown for the given seconds.
  void (*show_notice)(const char* text, int seconds);
};

// A table of functions, not state: the host installs its functions at start (tests and
// the headless runner put in their own); the machine calls through it at frame end.
extern HostHooks host;

// Restores the headless defaults (used by arvelo-run and the tests).
void host_install_headless();

// A real sleep, for a headless host that runs in real time (arvelo-run --realtime).
void host_sleep_ms(unsigned ms);

// Tells the user something worth knowing that is no error: a memory expansion switched
// on, a disc taken from an archive, a server started. The window shows it as its
// on-screen message and writes it to the console; the headless host prints it.
constexpr int NOTICE_SECONDS = 5;
void notify_user(const char* text, int seconds = NOTICE_SECONDS);
