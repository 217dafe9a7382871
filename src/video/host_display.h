// The SDL display output: window, renderer and the streaming texture of the picture.
#pragma once

// Installs the SDL versions of the host hooks (message boxes, Shift state, sleeps,
// frame rendering, event pump).
void host_install_sdl();
// Opens the video subsystem, the window and its renderer. 0 on success.
int display_init();
// Before each set-up of the machine.
void display_prepare_run();
// After a successful set-up: (re)creates the textures.
void display_prepare_textures();
void display_shutdown();
