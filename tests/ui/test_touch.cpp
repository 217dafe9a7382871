// Touches and clicks: keys of the on-screen keyboard pressed into the CPC's keyboard
// rows, the keyboard's handles, and a tap on the picture that opens the function menu,
// whose buttons hand their function key to the next event poll.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>

#include "hardware/keyboard.h"
#include "scripted_input.h"
#include "ui/touch.h"
#include "ui/ui.h"
#include "ui_test_support.h"
#include "video/artwork.h"
#include "video/host_display.h"

namespace {

// Without a renderer the touch handling takes the window as 768 × 542 pixels.
constexpr float OUT_W = 768, OUT_H = 542;

SDL_Event finger(Uint32 type, int x, int y, Uint32 time, SDL_FingerID id = 1) {
  SDL_Event e = uitest::event(type);
  e.tfinger.type = type;
  e.tfinger.touchId = 7;  // a touch screen, not the mouse
  e.tfinger.fingerId = id;
  e.tfinger.x = x / OUT_W;
  e.tfinger.y = y / OUT_H;
  e.tfinger.timestamp = time;
  return e;
}

// Whether the CPC sees the key down at its next keyboard scan (row 15, the highest,
// then the key's row: the second read starts a scan).
bool key_down(int code) {
  keyboard_row(15);
  return !(keyboard_row(code & 15) & (1 << ((code >> 4) & 7)));
}

class Touch : public testing::Test {
 protected:
  void SetUp() override {
    VkbdView& v = vkbd_view();
    saved_ = v;
    v.shown = true;
    v.rect = ScreenRect{0, 300, 768, 768 * VKBD_HEIGHT / VKBD_WIDTH};
    v.touch_alpha = 0;
    keyboard_reset(ResetKind::POWER_ON);
  }
  void TearDown() override { vkbd_view() = saved_; }
  VkbdView saved_;
};

}  // namespace

TEST_F(Touch, KeysOfTheOnScreenKeyboard) {
  const ScreenRect& k = vkbd_view().rect;
  // The middle of row 2, well inside a key.
  const int x = 300, y = k.y + k.h * 5 / 10;
  const int code = vkbd_key_at(x - k.x, y - k.y, k.w, k.h);
  ASSERT_GE(code, 0);
  EXPECT_EQ(hit_area(x, y), AREA_KEYBOARD);
  ui_touch_event(finger(SDL_FINGERDOWN, x, y, 1000));
  EXPECT_TRUE(key_down(code));
  // A second finger on another key holds both.
  const int x2 = 100, y2 = k.y + k.h / 10;
  const int code2 = vkbd_key_at(x2 - k.x, y2 - k.y, k.w, k.h);
  ASSERT_NE(code2, code);
  ui_touch_event(finger(SDL_FINGERDOWN, x2, y2, 1010, 2));
  EXPECT_TRUE(key_down(code) && key_down(code2));
  ui_touch_event(finger(SDL_FINGERUP, x, y, 1100));
  EXPECT_FALSE(key_down(code));
  EXPECT_TRUE(key_down(code2));
  // Hiding the keyboard lets go of keys still held.
  vkbd_show(false);
  EXPECT_FALSE(key_down(code2));
  ui_touch_event(finger(SDL_FINGERUP, x2, y2, 1200, 2));
  EXPECT_EQ(hit_area(x, y), AREA_PICTURE);
}

TEST_F(Touch, AKeyboardFadingInIsNotTypedOnByTheTouchThatEndsTheFade) {
  VkbdView& v = vkbd_view();
  const ScreenRect rect = v.rect;
  vkbd_show(true);
  v.rect = rect;
  v.alpha = 200;
  // The first frame of the fade is nearly transparent, half-way is half the alpha.
  EXPECT_LT(vkbd_draw_alpha(v), 20);
  EXPECT_EQ(touch_draw_alpha(v), 20);
  v.fade = VKBD_FADE_FRAMES / 2 + 1;
  EXPECT_NEAR(vkbd_draw_alpha(v), 100, 10);
  EXPECT_GT(touch_draw_alpha(v), 20);
  EXPECT_LT(touch_draw_alpha(v), 128);

  const int x = 300, y = rect.y + rect.h / 2;
  const int code = vkbd_key_at(x - rect.x, y - rect.y, rect.w, rect.h);
  ASSERT_GE(code, 0);
  ui_touch_event(finger(SDL_FINGERDOWN, x, y, 1000));
  EXPECT_FALSE(key_down(code));
  EXPECT_EQ(v.fade, 0);
  EXPECT_EQ(vkbd_draw_alpha(v), 200);
  EXPECT_EQ(touch_draw_alpha(v), 128);
  ui_touch_event(finger(SDL_FINGERUP, x, y, 1050));
  // Once shown, the same touch types.
  ui_touch_event(finger(SDL_FINGERDOWN, x, y, 1100));
  EXPECT_TRUE(key_down(code));
  ui_touch_event(finger(SDL_FINGERUP, x, y, 1150));
  EXPECT_FALSE(key_down(code));
}

TEST_F(Touch, DragHandleMovesAndATapHidesTheKeyboard) {
  const ScreenRect start = vkbd_view().rect;
  // The drag handle lies just above the keyboard's left end.
  const int hx = start.x + 40, hy = start.y - 10;
  ASSERT_EQ(hit_area(hx, hy), AREA_DRAG_HANDLE);
  ui_touch_event(finger(SDL_FINGERDOWN, hx, hy, 2000));
  ui_touch_event(finger(SDL_FINGERMOTION, hx, hy - 100, 2100));
  EXPECT_EQ(vkbd_view().rect.y, start.y - 100);
  EXPECT_EQ(vkbd_view().rect.x, start.x);
  ui_touch_event(finger(SDL_FINGERUP, hx, hy - 100, 2900));
  EXPECT_TRUE(vkbd_shown());
  EXPECT_EQ(vkbd_view().touch_alpha, 200);  // the end of a drag shows the touch controls
  std::remove(VKBD_LAYOUT_FILE);

  const ScreenRect moved = vkbd_view().rect;
  ui_touch_event(finger(SDL_FINGERDOWN, moved.x + 40, moved.y - 10, 3000));
  ui_touch_event(finger(SDL_FINGERUP, moved.x + 40, moved.y - 10, 3050));
  EXPECT_FALSE(vkbd_shown());  // a short tap on the handle
}

TEST_F(Touch, ZoomAndTransparency) {
  vkbd_zoom(-0.5);
  EXPECT_EQ(vkbd_view().rect.w, 384);
  EXPECT_EQ(vkbd_view().rect.h, 384 * VKBD_HEIGHT / VKBD_WIDTH);
  vkbd_view().alpha = 255;
  vkbd_alpha(-0.05);
  EXPECT_EQ(vkbd_view().alpha, 142);  // 255 - 0.05 × 10 × 225
  vkbd_alpha(-1.0);
  EXPECT_EQ(vkbd_view().alpha, 30);
  vkbd_alpha(2.0);
  EXPECT_EQ(vkbd_view().alpha, 255);
}

// A tap on the picture opens the menu and a button performs its key: e2e.ui_windows
// clicks the picture (a click is a touch of the mouse), sees reference/ui_menu.png and
// then, after a click on the F1 button, the help window.
TEST_F(Touch, AnyKeyClosesTheMenuWithoutAnAction) {
  ScriptedInput keys;
  keys.type("a");
  open_function_menu();
  SDL_Event e;
  EXPECT_EQ(SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_KEYUP, SDL_KEYUP), 0);
}
