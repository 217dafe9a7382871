// The event pump while the emulation runs: host keyboard, mouse and joysticks into the
// emulated machine, the hot keys, clipboard paste and dropped files.
#pragma once

// Handles every pending SDL event (called at each frame end and during long waits).
void poll_events();

// At every machine set-up: opens the host joysticks (once), stops text input, clears
// the on-screen joystick state and captures the mouse when MOUSE_TYPE is set.
void joystick_init();

// The hot key actions, callable from the function menu as well.
void hotkey_toggle_realtime();
void hotkey_cycle_speed();
void hotkey_pause();
// Shift+F9: KBD_TEXT_TYPING on or off (keys as the characters the host layout gives
// them, or by their place in the key table), said in the on-screen message.
void hotkey_toggle_text_typing();
