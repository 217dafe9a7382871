#include "video/host_display.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "core/startup.h"
#include "hardware/keyboard.h"
#include "media/fdc.h"
#include "media/tape_deck.h"
#include "ui/events.h"
#include "video/artwork.h"
#include "video/colours.h"
#include "video/host_display_loss.h"
#include "video/raster.h"
#include "video/screenshot.h"

namespace {

constexpr int HALF_HEIGHT = FRAME_HEIGHT / 2;

struct Display {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_RendererInfo info{};
  bool sdl_quit_registered = false;  // leave_sdl_at_exit is registered with atexit

  // Screen textures: one row per monitor line, or all frame rows with scan lines.
  SDL_Texture* half = nullptr;
  SDL_Texture* full = nullptr;
  SDL_Texture* current = nullptr;  // the one of the last frame (the dimming modulates it)
  SDL_Texture* badge = nullptr;
  SDL_Texture* small_icons[SMALL_ICONS] = {};
  SDL_Texture* large_icons[LARGE_ICONS] = {};
  SDL_Texture* keyboard = nullptr;           // the on-screen keyboard
  SDL_Texture* keyboard_pressed = nullptr;   // its inverted copy
  int keyboard_language = -1;
  SDL_Texture* touch[TOUCH_PICTURES] = {};

  double window_scale = 1.0;
  int output_width = 0, output_height = 0;
  PictureLayout layout;
  TouchLayout touch_rects;
  int mode = 0;  // bit 0 border crop, bit 1 full screen
  bool debugger_panel = false;
  double dpi_unit = 24;  // horizontal DPI / 4
  double interface_scale = 1;
  VkbdView vkbd;

  uint32_t badge_pixels[BADGE_WIDTH * BADGE_HEIGHT] = {};
  int badge_frames = 0;
  OnScreenMessage message;
  bool imgui_ready = false;
  void (*paint_windows)(SDL_Renderer*) = nullptr;
  bool dim = false;
};
Display display;

// The converted picture of the REALTIME mode (smoothed lines).
uint16_t converted[FRAME_PIXELS];

void report(const char* what) { std::cerr << what << SDL_GetError() << std::endl; }

SDL_Texture* make_texture(uint32_t format, int access, int w, int h) {
  SDL_Texture* t = SDL_CreateTexture(display.renderer, format, access, w, h);
  if (!t) report("Couldn't create texture: ");
  return t;
}

void destroy(SDL_Texture*& t) {
  if (t) SDL_DestroyTexture(t);
  t = nullptr;
}

// A static texture from ABGR8888 pixels, blended.
SDL_Texture* picture_texture(const std::vector<uint32_t>& px, int w, int h) {
  SDL_Texture* t = make_texture(SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
  if (!t) return nullptr;
  SDL_UpdateTexture(t, nullptr, px.data(), w * 4);
  SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
  return t;
}

void create_icon_textures() {
  for (int i = 0; i < SMALL_ICONS; ++i) {
    // Grey pictures as RGB565, added to the picture (black stays invisible).
    const std::vector<uint8_t> g = small_icon(i);
    std::vector<uint16_t> px(g.size());
    for (size_t k = 0; k < g.size(); ++k) px[k] = rgb565(g[k], g[k], g[k]);
    SDL_Texture* t = make_texture(SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STATIC, SMALL_ICON_SIZE,
                                  SMALL_ICON_SIZE);
    if (t) {
      SDL_UpdateTexture(t, nullptr, px.data(), SMALL_ICON_SIZE * 2);
      SDL_SetTextureBlendMode(t, SDL_BLENDMODE_ADD);
    }
    display.small_icons[i] = t;
  }
  for (int i = 0; i < LARGE_ICONS; ++i)
    display.large_icons[i] = picture_texture(large_icon(i), LARGE_ICON_SIZE, LARGE_ICON_SIZE);
  for (int i = 0; i < TOUCH_PICTURES; ++i) {
    display.touch[i] = picture_texture(touch_picture(i), TOUCH_SIZES[i][0], TOUCH_SIZES[i][1]);
    if (display.touch[i]) SDL_SetTextureColorMod(display.touch[i], 255, 255, 0);  // yellow
  }
}

int keyboard_language_setting() {
  const int l = setting(kw::VKBD_LANGUAGE);
  return (l >= 0 && l < VKBD_LANGUAGES) ? l : 0;
}

void create_keyboard_textures() {
  destroy(display.keyboard);
  destroy(display.keyboard_pressed);
  const int language = keyboard_language_setting();
  const std::vector<uint8_t> g = keyboard_picture(language);
  std::vector<uint32_t> normal(g.size()), inverted(g.size());
  for (size_t i = 0; i < g.size(); ++i) {
    normal[i] = abgr(g[i], g[i], g[i]);
    inverted[i] = abgr(255 - g[i], 255 - g[i], 255 - g[i]);
  }
  display.keyboard = picture_texture(normal, VKBD_WIDTH, VKBD_HEIGHT);
  display.keyboard_pressed = picture_texture(inverted, VKBD_WIDTH, VKBD_HEIGHT);
  display.keyboard_language = language;
}

void destroy_textures() {
  destroy(display.half);
  destroy(display.full);
  display.current = nullptr;
  destroy(display.badge);
  for (auto& t : display.small_icons) destroy(t);
  for (auto& t : display.large_icons) destroy(t);
  destroy(display.keyboard);
  destroy(display.keyboard_pressed);
  for (auto& t : display.touch) destroy(t);
}

void fill_black(const ScreenRect& r) {
  if (r.empty()) return;
  SDL_Rect s{r.x, r.y, r.w, r.h};
  SDL_RenderFillRect(display.renderer, &s);
}

SDL_Rect sdl_rect(const ScreenRect& r) { return SDL_Rect{r.x, r.y, r.w, r.h}; }

// ---- Frame steps ----------------------------------------------------------------------------

void upload_picture() {
  const bool half = setting(kw::VIDEO_MODE) == 0;
  SDL_Texture* t = half ? display.half : display.full;
  if (!t) return;
  if (setting(kw::REALTIME)) {
    convert_frame(frame_buffer, converted, half, true);
    SDL_UpdateTexture(t, nullptr, converted, FRAME_WIDTH * 2);
  } else {
    // The even rows straight from the frame buffer, or all rows with the black odd ones.
    SDL_UpdateTexture(t, nullptr, frame_buffer, FRAME_WIDTH * 2 * (half ? 2 : 1));
  }
  display.current = t;
}

void draw_picture() {
  if (!display.current) return;
  const ScreenRect src = source_rect(display.mode & DISPLAY_CROP_BORDER, previous_display_bounds(),
                                     display.current == display.full, interlace_field());
  const SDL_Rect s = sdl_rect(src), d = sdl_rect(display.layout.picture);
  const Uint8 m = display.dim ? 128 : 255;
  SDL_SetTextureColorMod(display.current, m, m, m);
  SDL_RenderCopy(display.renderer, display.current, &s, &d);
  if (display.dim) SDL_SetTextureColorMod(display.current, 255, 255, 255);
  if (!display.debugger_panel) {
    SDL_SetRenderDrawColor(display.renderer, 0, 0, 0, 255);
    for (const ScreenRect& bar : display.layout.bars) fill_black(bar);
  }
}

// The input modes: the small mouse icon while the mouse is captured for the emulated
// mouse; while a GUI key is held, the large pictures of the modes in effect (what the
// key's release captures: mouse, mouse on the joystick port, cursor keys as joystick).
void draw_icons() {
  const ScreenRect& p = display.layout.picture;
  const int mouse_type = setting(kw::MOUSE_TYPE);
  if (mouse_type != 0 && SDL_GetRelativeMouseMode() && display.small_icons[0]) {
    SDL_Rect r{p.x + p.w - SMALL_ICON_SIZE - 8, p.y + 8, SMALL_ICON_SIZE, SMALL_ICON_SIZE};
    SDL_SetTextureAlphaMod(display.small_icons[0], 160);
    SDL_RenderCopy(display.renderer, display.small_icons[0], nullptr, &r);
  }
  if (setting(kw::JOY0_CURSOR_KEYS) == 1 && display.small_icons[1]) {
    SDL_Rect r{p.x + p.w - 2 * SMALL_ICON_SIZE - 16, p.y + 8, SMALL_ICON_SIZE, SMALL_ICON_SIZE};
    SDL_SetTextureAlphaMod(display.small_icons[1], 160);
    SDL_RenderCopy(display.renderer, display.small_icons[1], nullptr, &r);
  }
  if (!(SDL_GetModState() & KMOD_GUI)) return;
  int shown[LARGE_ICONS], count = 0;
  if (mouse_type == 3) shown[count++] = 0;
  if (mouse_type == 1 || mouse_type == 2) shown[count++] = 1;
  if (setting(kw::JOY0_CURSOR_KEYS) != 0) shown[count++] = 2;
  const int gap = 16, total = count * LARGE_ICON_SIZE + (count - 1) * gap;
  for (int i = 0; i < count; ++i) {
    SDL_Texture* t = display.large_icons[shown[i]];
    if (!t) continue;
    SDL_Rect r{p.x + (p.w - total) / 2 + i * (LARGE_ICON_SIZE + gap), p.y + (p.h - LARGE_ICON_SIZE) / 2,
               LARGE_ICON_SIZE, LARGE_ICON_SIZE};
    SDL_RenderCopy(display.renderer, t, nullptr, &r);
  }
}

bool overlaps(const ScreenRect& a, const ScreenRect& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

void draw_keyboard_and_touch_controls() {
  const VkbdView& v = display.vkbd;
  if (v.shown && display.keyboard && !v.rect.empty()) {
    const SDL_Rect kr = sdl_rect(v.rect);
    const Uint8 alpha = static_cast<Uint8>(vkbd_draw_alpha(v));
    SDL_SetTextureAlphaMod(display.keyboard, alpha);
    if (display.keyboard_pressed) SDL_SetTextureAlphaMod(display.keyboard_pressed, alpha);
    SDL_RenderCopy(display.renderer, display.keyboard, nullptr, &kr);
    // Keys held on the on-screen keyboard show inverted.
    const double s = static_cast<double>(v.rect.w) / VKBD_WIDTH;
    for (int row = 0; row < VKBD_ROWS; ++row) {
      int count = 0;
      const VkbdKey* keys = vkbd_row(row, count);
      for (int i = 0; i < count; ++i) {
        const int code = keys[i].code;
        if (!display.keyboard_pressed || !(keyboard_inputs().vkbd[code & 15] & (1 << ((code >> 4) & 7))))
          continue;
        const PictureRect k = vkbd_key_rect(row, i);
        const SDL_Rect src{k.x, k.y, k.w, k.h};
        const SDL_Rect dst{v.rect.x + static_cast<int>(k.x * s), v.rect.y + static_cast<int>(k.y * s),
                           static_cast<int>(k.w * s + 0.5), static_cast<int>(k.h * s + 0.5)};
        SDL_RenderCopy(display.renderer, display.keyboard_pressed, &src, &dst);
      }
    }
    // The drive light while a disc drive's motor runs.
    if (fdc_motor_state()) {
      SDL_SetRenderDrawBlendMode(display.renderer, SDL_BLENDMODE_BLEND);
      SDL_SetRenderDrawColor(display.renderer, 255, 0, 0, alpha);
      const SDL_Rect light{v.rect.x + v.rect.w - static_cast<int>(20 * s),
                           v.rect.y - static_cast<int>(10 * s), static_cast<int>(10 * s),
                           static_cast<int>(5 * s)};
      SDL_RenderFillRect(display.renderer, &light);
    }
    // Its counterpart for the cassette: green while the tape plays into a running motor.
    if (tape_deck_active()) {
      SDL_SetRenderDrawBlendMode(display.renderer, SDL_BLENDMODE_BLEND);
      SDL_SetRenderDrawColor(display.renderer, 0, 220, 0, alpha);
      const SDL_Rect light{v.rect.x + v.rect.w - static_cast<int>(35 * s),
                           v.rect.y - static_cast<int>(10 * s), static_cast<int>(10 * s),
                           static_cast<int>(5 * s)};
      SDL_RenderFillRect(display.renderer, &light);
    }
  }
  if (v.touch_alpha <= 0) return;
  const TouchLayout& t = display.touch_rects;
  const ScreenRect pair{t.fire[0].x, t.fire[0].y, t.fire[0].w, t.fire[0].h + t.fire[1].h};
  const ScreenRect places[TOUCH_PICTURES] = {t.pad, pair, t.fire[2]};
  for (int i = 0; i < TOUCH_PICTURES; ++i) {
    if (!display.touch[i] || places[i].empty()) continue;
    if (v.shown && overlaps(places[i], v.rect)) continue;
    SDL_SetTextureAlphaMod(display.touch[i], static_cast<Uint8>(touch_draw_alpha(v)));
    const SDL_Rect r = sdl_rect(places[i]);
    SDL_RenderCopy(display.renderer, display.touch[i], nullptr, &r);
  }
}

void draw_keyboard_and_touch() {
  draw_keyboard_and_touch_controls();
  // One step of the fade-in per drawn frame.
  if (display.vkbd.fade > 0) --display.vkbd.fade;
}

void draw_badge() {
  if (display.badge_frames <= 0 || !display.badge) return;
  const SDL_Rect r{30, 30, 100, 50};
  SDL_RenderCopy(display.renderer, display.badge, nullptr, &r);
  --display.badge_frames;
}

// ---- On-screen message (Dear ImGui) ---------------------------------------------------------

ImVec4 colour(int r, int g, int b, int a) { return ImVec4(r / 255.f, g / 255.f, b / 255.f, a / 255.f); }

void apply_style() {
  ImVec4* c = ImGui::GetStyle().Colors;
  c[ImGuiCol_Text] = colour(190, 190, 190, 255);
  c[ImGuiCol_WindowBg] = colour(30, 33, 40, 215);
  c[ImGuiCol_TitleBg] = c[ImGuiCol_TitleBgActive] = c[ImGuiCol_TitleBgCollapsed] =
      colour(181, 45, 69, 220);
  c[ImGuiCol_Border] = colour(51, 55, 67, 255);
  c[ImGuiCol_Button] = colour(181, 45, 69, 255);
  c[ImGuiCol_ButtonHovered] = colour(190, 50, 70, 255);
  c[ImGuiCol_ButtonActive] = colour(195, 55, 75, 255);
  c[ImGuiCol_FrameBg] = colour(51, 55, 67, 255);          // toggles, properties, charts
  c[ImGuiCol_FrameBgHovered] = colour(45, 60, 60, 255);
  c[ImGuiCol_FrameBgActive] = colour(51, 55, 67, 225);    // text being edited
  c[ImGuiCol_CheckMark] = colour(181, 45, 69, 255);
  c[ImGuiCol_Header] = colour(51, 55, 67, 255);           // selectable
  c[ImGuiCol_HeaderHovered] = colour(190, 50, 70, 255);
  c[ImGuiCol_HeaderActive] = colour(181, 45, 69, 255);
  c[ImGuiCol_SliderGrab] = colour(181, 45, 69, 255);
  c[ImGuiCol_SliderGrabActive] = colour(191, 55, 79, 255);
  c[ImGuiCol_PopupBg] = colour(51, 55, 67, 255);          // combo boxes
  c[ImGuiCol_PlotLines] = c[ImGuiCol_PlotHistogram] = colour(170, 40, 60, 255);
  c[ImGuiCol_PlotLinesHovered] = c[ImGuiCol_PlotHistogramHovered] = colour(255, 0, 0, 255);
  c[ImGuiCol_ScrollbarBg] = colour(30, 33, 40, 255);
  c[ImGuiCol_ScrollbarGrab] = colour(64, 84, 95, 255);
  c[ImGuiCol_ScrollbarGrabHovered] = colour(70, 90, 100, 255);
  c[ImGuiCol_ScrollbarGrabActive] = colour(75, 95, 105, 255);
  c[ImGuiCol_Tab] = colour(181, 45, 69, 220);
  c[ImGuiCol_TabHovered] = colour(190, 50, 70, 255);
  c[ImGuiCol_TabActive] = colour(195, 55, 75, 255);
}

void init_imgui() {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // nothing to remember between runs
  io.LogFilename = nullptr;
  // The pointer belongs to the emulation: the library must not show or change it.
  io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
  ImGui_ImplSDL2_InitForSDLRenderer(display.window);
  ImGui_ImplSDLRenderer_Init(display.renderer);
  apply_style();
  ImGui::GetStyle().AntiAliasedLines = true;
  ImGui::GetStyle().AntiAliasedFill = true;
  display.imgui_ready = true;
}

void draw_message() {
  if (!display.message.active()) return;
  if (!display.imgui_ready) init_imgui();
  ImGui_ImplSDLRenderer_NewFrame();
  ImGui_ImplSDL2_NewFrame();
  ImGui::NewFrame();
  // A box of at least 230 × 30 pixels, 30 above the bottom, grown to hold a longer text.
  const ImVec2 size = ImGui::GetIO().DisplaySize;
  const ImVec2 text = ImGui::CalcTextSize(display.message.text.c_str());
  const ImVec2 padding = ImGui::GetStyle().WindowPadding;
  const float w = std::max(230.0f, text.x + 2 * padding.x);
  const float h = std::max(30.0f, text.y + 2 * padding.y);
  ImGui::SetNextWindowPos(ImVec2((size.x - w) / 2, size.y - 30 - h));
  ImGui::SetNextWindowSize(ImVec2(w, h));
  ImGui::Begin("message", nullptr,
               ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoInputs |
                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing |
                   ImGuiWindowFlags_NoNav);
  ImGui::TextUnformatted(display.message.text.c_str());
  ImGui::End();
  ImGui::Render();
  ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
  display.message.count_frame();
}

void shutdown_imgui() {
  if (!display.imgui_ready) return;
  ImGui_ImplSDLRenderer_Shutdown();
  ImGui_ImplSDL2_Shutdown();
  ImGui::DestroyContext();
  display.imgui_ready = false;
}

// ---- Host hooks ---------------------------------------------------------------------------------

void sdl_message_box(bool error, const char* title, const char* text) {
  show_message_box(error ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION, title, text);
}
bool sdl_shift_held() { return (SDL_GetModState() & KMOD_SHIFT) != 0; }
void sdl_delay(unsigned ms) { SDL_Delay(ms); }
// A notice goes on the screen and, for the record, to the console.
void sdl_notice(const char* text, int seconds) {
  std::cout << text << std::endl;
  show_message(text, seconds);
}

// An exit() anywhere (a window closed by the desktop, a failed start) still leaves SDL in
// order, but never on a lost display: closing that again is what used to hang.
void leave_sdl_at_exit() {
  if (!display_connection_lost()) SDL_Quit();
}

}  // namespace

void host_install_sdl() {
  host.show_message_box = sdl_message_box;
  host.shift_held = sdl_shift_held;
  host.delay_ms = sdl_delay;
  host.render_frame = render_frame;
  host.poll_events = poll_events;
  host.prepare_run = display_prepare_run;
  host.prepare_textures = display_prepare_textures;
  host.show_notice = sdl_notice;
}

// ---- Life cycle ------------------------------------------------------------------------------------

int display_init() {
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    report("Couldn't initialize SDL: ");
    return 1;
  }
  watch_display_connection();
  if (!display.sdl_quit_registered) {
    std::atexit(leave_sdl_at_exit);
    display.sdl_quit_registered = true;
  }
  SDL_SetHint("SDL_IOS_ORIENTATIONS", "Portrait PortraitUpsideDown LandscapeLeft LandscapeRight");
  SDL_Rect usable{0, 0, 0, 0};
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0) display.window_scale = window_scale_for(usable.w, usable.h);
  return display_create();
}

int display_create() {
  destroy_textures();
  if (display.renderer) {
    shutdown_imgui();
    SDL_DestroyRenderer(display.renderer);
    display.renderer = nullptr;
  }
  if (!display.window) {
    display.window = SDL_CreateWindow("Arvelo", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                      window_width_for(display.window_scale),
                                      window_height_for(display.window_scale),
                                      SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (!display.window) {
      report("Couldn't set video mode: ");
      return 1;
    }
  }
  display.renderer = SDL_CreateRenderer(display.window, -1, 0);
  if (!display.renderer) {
    report("Couldn't create renderer: ");
    std::cerr << "Retrying..." << std::endl;
    if (SDL_GLContext old = SDL_GL_GetCurrentContext()) SDL_GL_DeleteContext(old);
    SDL_GL_CreateContext(display.window);
    display.renderer = SDL_CreateRenderer(display.window, -1, 0);
    if (!display.renderer) {
      report("Failed: ");
      return 1;
    }
  }
  SDL_GetRendererInfo(display.renderer, &display.info);

  display.half = make_texture(SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, FRAME_WIDTH, HALF_HEIGHT);
  display.full = make_texture(SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, FRAME_WIDTH, FRAME_HEIGHT);
  display.badge = make_texture(SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, BADGE_WIDTH, BADGE_HEIGHT);
  if (display.badge) SDL_SetTextureBlendMode(display.badge, SDL_BLENDMODE_BLEND);
  pack_badge("", display.badge_pixels);
  if (display.badge) SDL_UpdateTexture(display.badge, nullptr, display.badge_pixels, BADGE_WIDTH * 4);
  create_icon_textures();
  create_keyboard_textures();

  clear_frame_buffer();
  display_layout();
  clear_screen();
  render_frame();
  clear_screen();
  return 0;
}

void display_destroy() {
  destroy_textures();
  shutdown_imgui();
  if (display.renderer) SDL_DestroyRenderer(display.renderer);
  display.renderer = nullptr;
}

void display_shutdown() {
  display_destroy();
  if (display.window) SDL_DestroyWindow(display.window);
  // Back to the state before display_init (the window painter stays installed).
  const bool registered = display.sdl_quit_registered;
  void (*paint)(SDL_Renderer*) = display.paint_windows;
  display = Display{};
  display.sdl_quit_registered = registered;
  display.paint_windows = paint;
}

void display_prepare_run() { display.badge_frames = 0; }

void display_prepare_textures() {
  build_colour_tables();
  if (display.renderer && display.keyboard_language != keyboard_language_setting())
    create_keyboard_textures();
  display_layout();
  joystick_init();
}

// ---- Per frame ----------------------------------------------------------------------------------

void render_frame() {
  if (!display.window || !display.renderer) return;
  upload_picture();
  draw_picture();
  draw_icons();
  draw_keyboard_and_touch();
  if (display.paint_windows) display.paint_windows(display.renderer);
  draw_badge();
  draw_message();
  SDL_RenderPresent(display.renderer);
  SDL_SetRenderDrawBlendMode(display.renderer, SDL_BLENDMODE_NONE);
}

void render_frame_dimmed(bool dim) {
  display.dim = dim;
  render_frame();
  display.dim = false;
}

void display_layout() {
  if (!display.renderer) return;
  int w = 0, h = 0;
  if (SDL_GetRendererOutputSize(display.renderer, &w, &h) != 0) return;
  const bool changed = (w != display.output_width || h != display.output_height);
  if (changed && display.output_width != 0 && (display.mode & DISPLAY_CROP_BORDER))
    show_badge("\xD4\xD6", 200);
  display.output_width = w;
  display.output_height = h;
  display.layout = compute_picture_layout(w, h, setting(kw::VIDEO_MODE), display.debugger_panel);

  float ddpi = 0, hdpi = 0, vdpi = 0;
  if (SDL_GetDisplayDPI(0, &ddpi, &hdpi, &vdpi) != 0 || hdpi <= 0) {
    hdpi = 96;
    ddpi = 96;
  }
  display.dpi_unit = hdpi * 0.25;
  display.interface_scale = ui_scale_for(ddpi);
  display.touch_rects = compute_touch_layout(
      w, h, touch_size_for(hdpi, setting(kw::JOYSTICK_SIZE), w), setting(kw::MOUSE_TYPE));

  // The on-screen keyboard keeps its place (kept within reach when the output shrank); a
  // first one goes across the bottom of the picture at the picture's width.
  VkbdView& v = display.vkbd;
  if (v.rect.empty()) {
    const ScreenRect& p = display.layout.picture;
    const int kw_ = p.w < w ? p.w : w;
    v.rect = ScreenRect{p.x, 0, kw_, kw_ * VKBD_HEIGHT / VKBD_WIDTH};
    const int bottom = (p.y + p.h < h ? p.y + p.h : h);
    v.rect.y = bottom - v.rect.h;
  } else if (changed) {
    if (v.rect.x > w - w / 8) v.rect.x = w - w / 8;
    if (v.rect.x + v.rect.w < w / 8) v.rect.x = w / 8 - v.rect.w;
    if (v.rect.y > h - h / 8) v.rect.y = h - h / 8;
    if (v.rect.y + v.rect.h < h / 8) v.rect.y = h / 8 - v.rect.h;
  }
}

// ---- Display modes ------------------------------------------------------------------------------

void cycle_display_mode() {
  display.mode = next_display_mode(display.mode);
  if (display.window)
    SDL_SetWindowFullscreen(display.window, (display.mode & DISPLAY_FULL_SCREEN) ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  if (display.renderer) {
    for (int i = 0; i < 2; ++i) {
      SDL_SetRenderDrawColor(display.renderer, 0, 0, 0, 255);
      SDL_RenderClear(display.renderer);
      SDL_RenderPresent(display.renderer);
    }
  }
  display_layout();
}

int display_mode() { return display.mode; }

void set_debugger_panel(bool on) {
  if (on == display.debugger_panel) return;
  display.debugger_panel = on;
  if (display.window && !(display.mode & DISPLAY_FULL_SCREEN)) {
    int w = 0, h = 0;
    SDL_GetWindowSize(display.window, &w, &h);
    SDL_SetWindowSize(display.window, w + (on ? DEBUGGER_PANEL_WIDTH : -DEBUGGER_PANEL_WIDTH), h);
  }
  display.vkbd.shown = false;
  display_layout();
}

bool debugger_panel_shown() { return display.debugger_panel; }

// ---- Outputs --------------------------------------------------------------------------------------

int save_screenshot() {
  const IndexedPicture pic = indexed_frame_picture(frame_buffer, screenshot_area(previous_display_bounds()));
  std::string error;
  if (write_indexed_bmp(SCREENSHOT_FILE, pic, error) != 0) {
    std::cerr << error << std::endl;
    return 1;
  }
  return 0;
}

void show_message(const char* text, int seconds) { display.message.show(text, seconds); }

void show_badge(const char* text, int frames) {
  if (!pack_badge(text, display.badge_pixels)) {
    display.badge_frames = 0;
    return;
  }
  if (display.badge) SDL_UpdateTexture(display.badge, nullptr, display.badge_pixels, BADGE_WIDTH * 4);
  display.badge_frames = frames;
}

void clear_screen() {
  clear_frame_buffer();
  if (!display.renderer) return;
  SDL_SetRenderDrawColor(display.renderer, 0, 0, 0, 255);
  SDL_RenderClear(display.renderer);
}

void show_message_box(uint32_t flags, const char* title, const char* text) {
  // Inside the fatal-signal handler the display library may hold locks the signal
  // interrupted, and drawing through it could wait forever: the box then comes from a
  // process of its own.
  if (abrupt_exit_status() == FATAL_SIGNAL_STATUS) {
    if (!show_box_in_own_process(title, text)) std::cerr << "The error box could not be shown." << std::endl;
    return;
  }
  SDL_ShowSimpleMessageBox(flags, title, text, display.window);
}

// ---- For the program's own windows ----------------------------------------------------------------

SDL_Window* display_window() { return display.window; }
SDL_Renderer* display_renderer() { return display.renderer; }

SDL_Texture* create_window_texture(int width, int height) {
  if (!display.renderer || width <= 0 || height <= 0) return nullptr;
  return make_texture(SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, width, height);
}

uint16_t display_colour(int code) {
  static constexpr uint16_t own[8] = {0xF00D, 0xF781, 0x8410, 0x0000, 0xF020, 0xFFFF, 0x0000, 0x2120};
  if (code >= 0 && code < HW_COLOURS) return host_colour[code];
  if (code >= 32 && code < 40) return own[code - 32];
  return 0;
}

void set_window_painter(void (*paint)(SDL_Renderer*)) { display.paint_windows = paint; }
ScreenRect picture_rect() { return display.layout.picture; }
double ui_scale() { return display.interface_scale; }

VkbdView& vkbd_view() { return display.vkbd; }

namespace {

// An alpha on its way from `from` to `to` while the fade-in runs, `to` once it is over.
int fading_alpha(int from, int to, int fade) {
  if (fade <= 0) return to;
  return from + (to - from) * (VKBD_FADE_FRAMES - std::min(fade, VKBD_FADE_FRAMES)) / VKBD_FADE_FRAMES;
}

}  // namespace

int vkbd_draw_alpha(const VkbdView& v) { return fading_alpha(0, v.alpha, v.fade); }

int touch_draw_alpha(const VkbdView& v) {
  constexpr int START = 20;
  return v.touch_alpha <= START ? v.touch_alpha : fading_alpha(START, v.touch_alpha, v.fade);
}

void rebuild_keyboard_textures() {
  if (display.renderer) create_keyboard_textures();
}

const TouchLayout& touch_layout() { return display.touch_rects; }

// ---- Mouse -----------------------------------------------------------------------------------------

void capture_mouse(bool on) {
  if (on && display.window) {
    int x = 0, y = 0, wx = 0, wy = 0, w = 0, h = 0;
    SDL_GetGlobalMouseState(&x, &y);
    SDL_GetWindowPosition(display.window, &wx, &wy);
    SDL_GetWindowSize(display.window, &w, &h);
    if (x < wx || y < wy || x >= wx + w || y >= wy + h) SDL_WarpMouseInWindow(display.window, w / 2, h / 2);
  }
  SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE);
}
