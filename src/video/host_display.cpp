#include "video/host_display.h"

#include <SDL.h>

#include <iostream>

#include "core/host.h"
#include "core/machine.h"
#include "video/raster.h"

namespace {

SDL_Window* window = nullptr;
SDL_Renderer* renderer = nullptr;
SDL_Texture* picture = nullptr;

void sdl_message_box(bool error, const char* title, const char* text) {
  SDL_ShowSimpleMessageBox(error ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION, title, text,
                           window);
}

bool sdl_shift_held() { return (SDL_GetModState() & KMOD_SHIFT) != 0; }

void sdl_delay(unsigned ms) { SDL_Delay(ms); }

void sdl_render_frame() {
  if (!renderer || !picture) return;
  // One monitor line on every second row of the frame buffer: the texture shows the
  // even rows, stretched to the window.
  SDL_UpdateTexture(picture, nullptr, frame_buffer, FRAME_WIDTH * 2 * 2);
  SDL_RenderClear(renderer);
  SDL_RenderCopy(renderer, picture, nullptr, nullptr);
  SDL_RenderPresent(renderer);
}

void sdl_poll_events() {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) stop_request_word = stopbit::QUIT;
  }
}

}  // namespace

void host_install_sdl() {
  host.show_message_box = sdl_message_box;
  host.shift_held = sdl_shift_held;
  host.delay_ms = sdl_delay;
  host.render_frame = sdl_render_frame;
  host.poll_events = sdl_poll_events;
  host.prepare_run = display_prepare_run;
  host.prepare_textures = display_prepare_textures;
}

int display_init() {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::cerr << "SDL_Init: " << SDL_GetError() << std::endl;
    return 1;
  }
  window = SDL_CreateWindow("Arvelo", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, FRAME_WIDTH,
                            FRAME_HEIGHT, SDL_WINDOW_RESIZABLE);
  if (!window) {
    std::cerr << "SDL_CreateWindow: " << SDL_GetError() << std::endl;
    return 1;
  }
  renderer = SDL_CreateRenderer(window, -1, 0);
  if (!renderer) {
    std::cerr << "SDL_CreateRenderer: " << SDL_GetError() << std::endl;
    return 1;
  }
  return 0;
}

void display_prepare_run() {}

void display_prepare_textures() {
  if (picture) SDL_DestroyTexture(picture);
  picture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                              FRAME_WIDTH, FRAME_HEIGHT / 2);
}

void display_shutdown() {
  if (picture) SDL_DestroyTexture(picture);
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  picture = nullptr;
  renderer = nullptr;
  window = nullptr;
}
