// Losing the display. When the X server goes away under the program (a session ends, a
// remote display drops), the X client library calls its I/O error handler; its default
// one calls exit(), whose exit handlers talk to the dead connection again and never
// return. The program's handler reports the loss on the console and ends the process
// at once instead, with a non-zero status, running nothing that could touch the display.
#pragma once

// Installs the handler (after the video subsystem is up: the handler is the client
// library's one for every connection of the process, the error box's too).
void watch_display_connection();

// True once the connection was found lost (for exit handlers that would use it).
bool display_connection_lost();

// The fatal-signal handler's error box is drawn by a fresh copy of the program started
// with this option: a process of its own holds none of the display library's locks the
// signal may have interrupted, and when the display goes away under the box, the copy
// ends through the handler above and the handler's process ends with it.
inline constexpr const char* ERROR_BOX_OPTION = "--error-box-process";

// Shows the box through that copy and waits until it is closed; false when the copy could
// not be started. Uses only calls that are safe inside a signal handler.
bool show_box_in_own_process(const char* title, const char* text);

// The copy's whole work: the box on a connection of its own. Returns the exit status.
int run_error_box_process(const char* title, const char* text);
