// The program's own windows as the rest of the host sees them: the function keys that
// open windows, the function menu, the first-start windows and the splash window.
#pragma once
#include <string>

// Installs the windows as host hooks (first-start language, virtual keyboard layout,
// splash, overlay refresh) and connects the toolkit to the SDL display. Called once by
// the program after the SDL host is installed.
void ui_install_host_hooks();

// A function key released while the emulation runs (1..12). Performs the keys that
// open windows (F1 help, Shift+F1 M4 snapshot, F3 disc drives, F5/F6 snapshots) with
// the pause and input flush after them; returns false for the keys it does not handle.
bool ui_function_key(int fkey, bool shift);

// The function menu bar: runs it until a key or a click; a click on a button performs
// that function key (pushed as its key release for the next event poll).
void open_function_menu();

// ---- Windows -------------------------------------------------------------------------------
// The help window at a topic (empty: the index).
void help_window(const char* topic);
// Disc drive window (F3).
void disc_drive_window();
// The cassette deck (Shift+F3, and from the drive window): the tape's blocks, the
// position, PLAY, STOP, rewind, eject, a new blank tape and fast loading.
void tape_window();
// Snapshot load and save through the file selector; save asks for the size (SNA_SIZE).
// 0 on success, 1 when cancelled or failed.
int snapshot_load_chosen();
int snapshot_save_chosen();
// The size window: 0 64 KB, 1 128 KB, 2 all the machine's RAM; -1 when cancelled.
int choose_snapshot_size(int current);
// Snapshot size in KB of an SNA_SIZE choice (2: the RAM the machine was set up with).
int snapshot_size_kb(int choice);

// First start: the language (0..3), the virtual keyboard layout, the splash window.
int choose_language();
void choose_vkbd_language();
void show_splash();

// Writes the configuration file with a VKBD_LANGUAGE line for value before its first
// statement (older VKBD_LANGUAGE lines dropped), through a temporary file beside it.
// 0, or 1 after "Error creating configuration file: " and the temporary name.
int write_vkbd_language(const char* config_file, int value);
