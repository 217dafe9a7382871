// The display's arithmetic: window scale, picture placement, source rectangle,
// smoothing, badge glyphs, message countdown and the DPI-derived sizes.
#include <gtest/gtest.h>

#include <vector>

#include "video/display_layout.h"
#include "video/font8x8.h"

namespace {

TEST(DisplayWindow, ScaleTwoOnlyWhenBothBoundsExceedTwiceTheFrame) {
  // Exactly twice the frame (1536 × 1088) is not larger.
  const struct { int w, h; double scale; } bounds[] = {
      {1536, 1088, 1.0}, {1537, 1088, 1.0}, {1536, 1089, 1.0}, {1537, 1089, 2.0}, {3840, 2160, 2.0}};
  for (const auto& b : bounds) EXPECT_EQ(window_scale_for(b.w, b.h), b.scale) << b.w << " × " << b.h;
  EXPECT_EQ(window_width_for(1.0), 768);
  EXPECT_EQ(window_height_for(1.0), 542);
  EXPECT_EQ(window_width_for(2.0), 1536);
  EXPECT_EQ(window_height_for(2.0), 1084);
}

TEST(DisplayLayout, IntegerScalingSteps) {
  // The frame less 100 pixels (668 × 444) must fit for each whole step.
  const struct { int w, h; double scale; } outputs[] = {
      {333, 500, 0.25}, {500, 221, 0.25}, {334, 222, 0.5},   {667, 1000, 0.5},
      {668, 444, 1.0},  {1335, 888, 1.0}, {1336, 888, 2.0}, {2004, 1332, 3.0}};
  for (const auto& o : outputs) EXPECT_EQ(integer_scale_for(o.w, o.h), o.scale) << o.w << " × " << o.h;
}

// Picture and left, right and bottom bars for an output size; a bar given as {} must be
// empty.
TEST(DisplayLayout, PicturePlacementAndBars) {
  const struct {
    int w, h, integer;
    bool debugger;
    ScreenRect picture, bars[3];
  } cases[] = {
      // Integer scaling: centred, at the top.
      {1000, 700, 1, false, {116, 0, 768, 544},
       {{0, 0, 116, 700}, {884, 0, 116, 700}, {116, 544, 768, 156}}},
      // Taller (and wider) than the output: centred both ways, nothing to fill.
      {700, 450, 1, false, {-34, -47, 768, 544}, {}},
      // Below 334 × 222 the picture is a quarter of the frame.
      {320, 240, 1, false, {64, 0, 192, 136},
       {{0, 0, 64, 240}, {256, 0, 64, 240}, {64, 136, 192, 104}}},
      // Aspect fit, relatively taller than 768:544: full width at the top, a bar below.
      {800, 800, 0, false, {0, 0, 800, 566}, {{}, {}, {0, 566, 800, 234}}},
      // Relatively wider: full height, centred, bars left and right.
      {1000, 544, 0, false, {116, 0, 768, 544}, {{0, 0, 116, 544}, {884, 0, 116, 544}, {}}},
      // The exact frame size fills the output.
      {768, 544, 0, false, {0, 0, 768, 544}, {}},
      // The window of scale 1 (two rows less than the frame).
      {768, 542, 0, false, {1, 0, 765, 542}, {{0, 0, 1, 542}, {766, 0, 2, 542}, {}}},
      // Beside the debugger panel, which takes the right part of the output.
      {1408, 544, 0, true, {0, 0, 768, 544}, {{}, {}, {}}},
      // A degenerate output gives an empty picture rather than a negative one.
      {0, 0, 0, false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " × " << c.h << (c.integer ? " integer" : " fit"));
    const PictureLayout l = compute_picture_layout(c.w, c.h, c.integer, c.debugger);
    if (c.picture.empty()) EXPECT_TRUE(l.picture.empty());
    else EXPECT_EQ(l.picture, c.picture);
    for (int k = 0; k < 3; ++k) {
      if (c.bars[k].empty()) EXPECT_TRUE(l.bars[k].empty()) << "bar " << k;
      else EXPECT_EQ(l.bars[k], c.bars[k]) << "bar " << k;
    }
  }
  EXPECT_EQ(compute_picture_layout(320, 240, 1, false).scale, 0.25);
  EXPECT_EQ(width_beside_debugger(1408), 768);
}

TEST(DisplaySource, DisplayAreaWithInterlaceFieldOrTheWholeFrame) {
  const DisplayBounds b{40, 30, 238, 360};
  EXPECT_EQ(source_rect(false, b, false, 0), (ScreenRect{0, 0, 768, 544}));
  EXPECT_EQ(source_rect(false, b, true, 1), (ScreenRect{0, 1, 768, 544}));
  EXPECT_EQ(source_rect(true, b, false, 0), (ScreenRect{80, 30, 640, 201}));
  EXPECT_EQ(source_rect(true, b, true, 0), (ScreenRect{80, 60, 640, 402}));
  EXPECT_EQ(source_rect(true, b, true, 1), (ScreenRect{80, 61, 640, 402}));
  // Nothing displayed: no horizontal extent and no lines.
  const DisplayBounds none{100, 50, 50, 100};
  EXPECT_EQ(source_rect(true, none, false, 0), (ScreenRect{0, 0, 768, 272}));
  EXPECT_EQ(source_rect(true, none, true, 0), (ScreenRect{0, 0, 768, 544}));
  // Only one of the two missing.
  EXPECT_EQ(source_rect(true, DisplayBounds{10, 20, 300, 10}, false, 0), (ScreenRect{0, 20, 768, 273}));
  EXPECT_EQ(source_rect(true, DisplayBounds{10, 20, 27, 200}, false, 0), (ScreenRect{20, 0, 380, 272}));
}

uint16_t px(int r, int g, int b) { return static_cast<uint16_t>(r << 11 | g << 5 | b); }

TEST(DisplaySmoothing, WeightsTwoFiveTwoPerChannel) {
  const uint16_t in[5] = {px(31, 63, 31), px(0, 0, 0), px(31, 0, 9), px(9, 18, 27), px(1, 2, 3)};
  std::vector<uint16_t> out(5);
  smooth_line(in, out.data(), 5);
  // The ends are copied. Pixel 1: red (2 × 31 + 5 × 0 + 2 × 31) / 9 = 13, green
  // (2 × 63 + 0 + 0) / 9 = 14, blue (62 + 18) / 9 = 8; pixel 2: red (0 + 155 + 18) / 9 = 19,
  // green (0 + 0 + 36) / 9 = 4, blue (0 + 45 + 54) / 9 = 11; pixel 3: red (62 + 45 + 2) / 9
  // = 12, green (0 + 90 + 4) / 9 = 10, blue (18 + 135 + 6) / 9 = 17.
  EXPECT_EQ(out, (std::vector<uint16_t>{in[0], px(13, 14, 8), px(19, 4, 11), px(12, 10, 17), in[4]}));
  // No channel leaks into its neighbour, and an even colour stays as it is.
  std::vector<uint16_t> flat(768, px(17, 40, 5)), smooth(768);
  smooth_line(flat.data(), smooth.data(), 768);
  EXPECT_EQ(smooth, flat);
}

TEST(DisplaySmoothing, FrameConversionLinesAndScanLines) {
  std::vector<uint16_t> frame(FRAME_PIXELS);
  for (int y = 0; y < FRAME_HEIGHT; ++y)
    for (int x = 0; x < FRAME_WIDTH; ++x)
      frame[y * FRAME_WIDTH + x] = static_cast<uint16_t>((y & 1) ? 0xFFFF : (y * 7 + x * 3) & 0xF7DE);

  std::vector<uint16_t> half(FRAME_WIDTH * FRAME_HEIGHT / 2);
  convert_frame(frame.data(), half.data(), true, false);
  for (int line = 0; line < FRAME_HEIGHT / 2; line += 37)
    for (int x = 0; x < FRAME_WIDTH; x += 101)
      EXPECT_EQ(half[line * FRAME_WIDTH + x], frame[2 * line * FRAME_WIDTH + x]);

  // Full height: monitor lines on even rows, black scan lines between them, whatever
  // the frame buffer's odd rows hold.
  std::vector<uint16_t> full(FRAME_PIXELS, 0x1234);
  convert_frame(frame.data(), full.data(), false, true);
  std::vector<uint16_t> expect(FRAME_WIDTH);
  smooth_line(frame.data() + 10 * FRAME_WIDTH, expect.data(), FRAME_WIDTH);
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), full.begin() + 10 * FRAME_WIDTH));
  for (int x = 0; x < FRAME_WIDTH; ++x) ASSERT_EQ(full[11 * FRAME_WIDTH + x], 0);
  for (int x = 0; x < FRAME_WIDTH; ++x) ASSERT_EQ(full[543 * FRAME_WIDTH + x], 0);
}

TEST(DisplayBadge, GlyphsDoubledInWidthAndBlankTextHides) {
  std::vector<uint32_t> p(BADGE_WIDTH * BADGE_HEIGHT);
  ASSERT_TRUE(pack_badge("3x", p.data()));
  for (int g = 0; g < 3; ++g) {
    const int code = g == 0 ? '3' : g == 1 ? 'x' : -1;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        const uint32_t v = p[y * BADGE_WIDTH + g * 16 + x];
        const bool set = code >= 0 && glyph_pixel(code, x / 2, y);
        ASSERT_EQ(v, set ? BADGE_SET : BADGE_CLEAR) << "glyph " << g << " x " << x << " y " << y;
      }
  }
  // Only three glyphs fit; glyph codes above 127 are font codes.
  ASSERT_TRUE(pack_badge("\xD4\xD6\xF6W", p.data()));
  EXPECT_EQ(p[3 * BADGE_WIDTH + 0], BADGE_SET);          // triangle 212, row 3 full
  EXPECT_EQ(p[3 * BADGE_WIDTH + 16 + 15], BADGE_SET);    // triangle 214, row 3 full
  EXPECT_EQ(p[0 * BADGE_WIDTH + 16 + 0], BADGE_CLEAR);   // its tip is on the right

  // Empty or blank text hides the badge and clears every pixel.
  p.assign(p.size(), 7);
  EXPECT_FALSE(pack_badge("", p.data()));
  EXPECT_FALSE(pack_badge(" x", p.data()));
  EXPECT_FALSE(pack_badge(nullptr, p.data()));
  for (uint32_t v : p) ASSERT_EQ(v, BADGE_CLEAR);
  // A blank after the first glyph is an empty cell (the REALTIME badge).
  EXPECT_TRUE(pack_badge("\xF6 ", p.data()));
  for (int y = 0; y < 8; ++y)
    for (int x = 16; x < 48; ++x) ASSERT_EQ(p[y * BADGE_WIDTH + x], BADGE_CLEAR);
}

TEST(DisplayMessage, LastsSecondsTimesFiftyRenderedFrames) {
  OnScreenMessage m;
  m.show("Disc inserted", 2);
  EXPECT_TRUE(m.active());
  for (int i = 0; i < 99; ++i) m.count_frame();
  EXPECT_TRUE(m.active());
  EXPECT_EQ(m.text, "Disc inserted");
  m.count_frame();
  EXPECT_FALSE(m.active());
  EXPECT_TRUE(m.text.empty());
  m.count_frame();  // no further effect
  EXPECT_EQ(m.frames, 0);
  m.show("x", 0);
  EXPECT_FALSE(m.active());
}

TEST(DisplayDpi, InterfaceScaleFromDiagonalDpi) {
  // x = dpi / 156. From 1 up: the whole part when its fraction is below 0.2, else x
  // itself. Below 1: one over the even part of 1 / x (an even part of 0 gives 1).
  const struct { double x, scale; } cases[] = {{1, 1},       {1.1, 1},          {1.5, 1.5},
                                               {2, 2},       {0.5, 0.5},        {1 / 3.0, 0.5},
                                               {1 / 4.5, 0.25}, {1 / 1.5, 1}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ui_scale_for(156 * c.x), c.scale) << "x = " << c.x;
}

TEST(DisplayDpi, TouchSizeAndPlacement) {
  EXPECT_EQ(touch_size_for(96, 2, 1280), 96);   // 2 × 2 × 24
  EXPECT_EQ(touch_size_for(96, 1, 1280), 48);
  EXPECT_EQ(touch_size_for(96, 2, 300), 60);    // four would not fit: a fifth of the width
  const TouchLayout t = compute_touch_layout(1280, 1024, 160, 0);
  EXPECT_EQ(t.pad, (ScreenRect{20, 1024 - 20 - 222, 160, 222}));
  // Fire 1 above fire 2 at the right margin, fire 3 to their left.
  EXPECT_EQ(t.fire[0], (ScreenRect{1280 - 20 - 128, 1024 - 20 - 210, 128, 105}));
  EXPECT_EQ(t.fire[1], (ScreenRect{1280 - 20 - 128, 1024 - 20 - 105, 128, 105}));
  EXPECT_EQ(t.fire[2], (ScreenRect{1280 - 2 * (20 + 128), 1024 - 20 - 192, 128, 192}));
  // With a mouse the pad is a quarter of the size at the bottom edge.
  const TouchLayout m = compute_touch_layout(1280, 1024, 160, 1);
  EXPECT_EQ(m.pad, (ScreenRect{20, 1024 - 55, 40, 55}));
}

TEST(DisplayHotKeys, ScreenOffsetStaysWithinZeroToFifteen) {
  EXPECT_EQ(step_screen_offset(0, -1), 0);
  EXPECT_EQ(step_screen_offset(15, 1), 15);
  EXPECT_EQ(step_screen_offset(0, 1), 1);
  EXPECT_EQ(step_screen_offset(15, -1), 14);
}

}  // namespace
