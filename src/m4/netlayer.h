// The program's own socket layer on POSIX sockets. Its operations keep the names and
// meanings of the SDL_net interface the M4 board code is written against.
#pragma once

// Prepares the layer (reference counted): sockets must not raise SIGPIPE when a peer
// goes away, and the host must be able to create a TCP socket. 0 on success, -1 with
// the reason in SDLNet_GetError().
int SDLNet_Init();
void SDLNet_Quit();
const char* SDLNet_GetError();
void SDLNet_SetError(const char* format, ...) __attribute__((format(printf, 1, 2)));
