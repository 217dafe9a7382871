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
