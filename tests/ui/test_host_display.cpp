// The SDL display drawn without a screen: SDL's dummy video driver gives a window whose
// software renderer can be read back, so what render_frame draws can be checked pixel by
// pixel.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "config/settings.h"
#include "core/host.h"
#include "hardware/hardware_fixture.h"
#include "hardware/keyboard.h"
#include "test_support.h"
#include "video/artwork.h"
#include "video/host_display.h"
#include "video/raster.h"

namespace {

struct Rgb {
  int r, g, b;
};

// RGB565 as 8-bit channels (the renderer's expansion may differ in the low bits).
Rgb expand(uint16_t p) {
  return Rgb{(p >> 11) * 255 / 31, ((p >> 5) & 63) * 255 / 63, (p & 31) * 255 / 31};
}
bool near(Rgb a, Rgb b) { return std::abs(a.r - b.r) <= 8 && std::abs(a.g - b.g) <= 8 && std::abs(a.b - b.b) <= 8; }

// Monitor line y in a colour of its own; odd rows black as the raster engine leaves them.
uint16_t line_colour(int y) { return static_cast<uint16_t>(((y * 5) & 31) << 11 | ((y * 3) & 63) << 5 | 16); }
void fill_lines() {
  clear_frame_buffer();
  for (int y = 0; y < FRAME_HEIGHT / 2; ++y)
    for (int x = 0; x < FRAME_WIDTH; ++x) frame_buffer[2 * y * FRAME_WIDTH + x] = line_colour(y);
}

class HostDisplay : public ::testing::Test {
 protected:
  // A fresh working directory for each test: no file of another run is read or left.
  std::filesystem::path dir = testsupport::temp_dir("hostdisplay");
  testsupport::InDir in_dir{dir};

  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    set_setting(kw::VIDEO_MODE, 0);
    set_setting(kw::REALTIME, 0);
    set_setting(kw::MOUSE_TYPE, 0);
    set_setting(kw::JOY0_CURSOR_KEYS, 0);
    set_setting(kw::VKBD_LANGUAGE, 0);
    set_setting(kw::JOYSTICK_SIZE, 2);
    ASSERT_EQ(display_init(), 0) << SDL_GetError();
    // The output exactly the frame's size: every frame row is one output row.
    SDL_SetWindowSize(display_window(), FRAME_WIDTH, FRAME_HEIGHT);
    display_layout();
    keyboard_release_vkbd();
  }

  void TearDown() override {
    std::filesystem::remove_all(dir);
    display_shutdown();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    keyboard_release_vkbd();
  }

  int width = 0, height = 0;
  std::vector<uint32_t> output;

  // Draws the frame and reads back what the renderer shows.
  void render_and_grab() {
    render_frame();
    ASSERT_EQ(SDL_GetRendererOutputSize(display_renderer(), &width, &height), 0);
    output.assign(size_t(width) * height, 0);
    ASSERT_EQ(SDL_RenderReadPixels(display_renderer(), nullptr, SDL_PIXELFORMAT_ARGB8888,
                                   output.data(), width * 4),
              0)
        << SDL_GetError();
  }
  Rgb at(int x, int y) const {
    const uint32_t p = output[size_t(y) * width + x];
    return Rgb{int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)};
  }
  // Whether the message box's dark background covers the picture of fill_lines somewhere
  // along the box's middle row.
  bool message_box_shown() const {
    const int cx = FRAME_WIDTH / 2, cy = FRAME_HEIGHT - 45;  // inside the 230 × 30 box
    bool covered = false;
    for (int x = cx - 100; x <= cx + 100; x += 10)
      covered |= !near(at(x, cy), expand(line_colour(cy / 2)));
    return covered;
  }
};

TEST_F(HostDisplay, ModeZeroShowsEachLineTwiceModeOneWithScanLines) {
  // Every seventh monitor line at three columns: the line's colour, and on the odd row
  // the line again (mode 0) or a black scan line (mode 1).
  auto check_lines = [&](bool scan_lines) {
    for (int y = 0; y < FRAME_HEIGHT / 2; y += 7)
      for (int x : {0, 383, 767}) {
        const Rgb line = expand(line_colour(y));
        ASSERT_TRUE(near(at(x, 2 * y), line)) << x << "," << y;
        ASSERT_TRUE(near(at(x, 2 * y + 1), scan_lines ? Rgb{0, 0, 0} : line)) << x << "," << y;
      }
  };
  fill_lines();
  render_and_grab();
  ASSERT_EQ(width, FRAME_WIDTH);
  ASSERT_EQ(height, FRAME_HEIGHT);
  check_lines(false);
  set_setting(kw::VIDEO_MODE, 1);
  display_layout();
  render_and_grab();
  check_lines(true);
}

// The real-time picture's smoothing, (2 left + 5 centre + 2 right) / 9 per channel, is
// e2e.display_window's: its window, REALTIME on, is compared with the headless runner's
// picture smoothed so (pictures.py window).

TEST_F(HostDisplay, BadgeForItsFramesOnly) {
  clear_frame_buffer();
  show_badge("\xD4", 2);  // a triangle pointing right: its middle row is full
  for (int frame = 0; frame < 3; ++frame) {
    render_and_grab();
    // Badge rectangle (30, 30, 100, 50): glyph row 3 lies at y 48..55, its pixels 0..7
    // at x 30..63.
    const bool shown = frame < 2;
    EXPECT_EQ(near(at(32, 52), Rgb{255, 255, 255}), shown) << "frame " << frame;
    EXPECT_EQ(near(at(60, 52), Rgb{255, 255, 255}), shown) << "frame " << frame;
    EXPECT_TRUE(near(at(60, 32), Rgb{0, 0, 0})) << "frame " << frame;   // tip: row 0 is short
    EXPECT_TRUE(near(at(100, 52), Rgb{0, 0, 0})) << "frame " << frame;  // no second glyph
  }
  show_badge(" ", 100);  // a blank hides it at once
  render_and_grab();
  EXPECT_TRUE(near(at(32, 52), Rgb{0, 0, 0}));
}

TEST_F(HostDisplay, MessageBoxFor50FramesPerSecond) {
  fill_lines();
  show_message("Hello", 1);
  render_and_grab();
  EXPECT_TRUE(message_box_shown());
  const int cx = FRAME_WIDTH / 2, cy = FRAME_HEIGHT - 45;
  EXPECT_TRUE(near(at(cx - 130, cy), expand(line_colour(cy / 2))));  // left of the box
  EXPECT_TRUE(near(at(cx, FRAME_HEIGHT - 20), expand(line_colour((FRAME_HEIGHT - 20) / 2))));
  for (int frame = 1; frame < 49; ++frame) render_frame();
  render_and_grab();
  EXPECT_TRUE(message_box_shown()) << "frame 49";
  render_and_grab();
  EXPECT_FALSE(message_box_shown()) << "frame 50";
}

// A notice of the machine (here: the large memory expansion switched on by an OUT) is
// the window's on-screen message, and a line on the console as well.
TEST_F(HostDisplay, MachineNoticeIsTheOnScreenMessage) {
  hwtest::build_machine(4160, {255, 0});
  host_install_sdl();
  fill_lines();
  testing::internal::CaptureStdout();
  port_out(0x7BC4, 0xC4);
  const std::string out = testing::internal::GetCapturedStdout();
  render_and_grab();
  EXPECT_TRUE(message_box_shown());
  EXPECT_NE(out.find("Pelko Memory Extension active!\n"), std::string::npos) << out;
  host_install_headless();
  memory_free();
  free_rom_list();
}

TEST_F(HostDisplay, HeldOnScreenKeysShowInverted) {
  clear_frame_buffer();
  VkbdView& v = vkbd_view();
  v.shown = true;
  v.rect = ScreenRect{0, 100, VKBD_WIDTH / 2, VKBD_HEIGHT / 2};
  // A point on the face of the Q key (row 1, second key), left of its label, and the
  // same on the W key next to it, on the screen.
  auto centre = [&](int index) {
    const PictureRect k = vkbd_key_rect(1, index);
    return std::pair<int, int>{v.rect.x + (k.x + 10) * v.rect.w / VKBD_WIDTH,
                               v.rect.y + (k.y + 26) * v.rect.w / VKBD_WIDTH};
  };
  const auto q = centre(1), w = centre(2);
  render_and_grab();
  const Rgb q_up = at(q.first, q.second), w_up = at(w.first, w.second);
  keyboard_set_vkbd_key(8 | 3 << 4, true);  // Q: row 8, bit 3
  render_and_grab();
  const Rgb q_down = at(q.first, q.second), w_down = at(w.first, w.second);
  EXPECT_TRUE(near(q_down, Rgb{255 - q_up.r, 255 - q_up.g, 255 - q_up.b}))
      << q_up.r << " " << q_down.r;
  EXPECT_TRUE(near(w_down, w_up));
  v = VkbdView{};
}

// Print Screen's 8-bit BMP and F11's cycle of display modes are e2e.display_window's.
TEST_F(HostDisplay, ClearScreenBlanksTheFrame) {
  fill_lines();
  clear_screen();
  for (int i = 0; i < FRAME_PIXELS; ++i) ASSERT_EQ(frame_buffer[i], 0);
}

}  // namespace
