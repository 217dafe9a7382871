// The font and the display's pictures: glyph set, on-screen keyboard geometry and
// labels, icons and touch controls.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "video/artwork.h"
#include "video/font8x8.h"

namespace {

bool glyph_empty(int c) {
  for (int y = 0; y < 8; ++y)
    if (font8x8[c][y]) return false;
  return true;
}

TEST(Font, PrintableAsciiAllDrawnAndDistinct) {
  EXPECT_TRUE(glyph_empty(' '));
  std::set<std::vector<uint8_t>> seen;
  for (int c = 33; c <= 126; ++c) {
    EXPECT_FALSE(glyph_empty(c)) << "glyph " << c;
    std::vector<uint8_t> rows(font8x8[c], font8x8[c] + 8);
    EXPECT_TRUE(seen.insert(rows).second) << "glyph " << c << " repeats an earlier one";
  }
  for (int c : {glyph::POUND, glyph::TRIANGLE_RIGHT, glyph::TRIANGLE_LEFT, glyph::ARROW_UP,
                glyph::ARROW_DOWN, glyph::ARROW_LEFT, glyph::ARROW_RIGHT, glyph::PLAY})
    EXPECT_FALSE(glyph_empty(c)) << "glyph " << c;
  // Capital letters stand on the base line (row 6) and leave row 7 to descenders.
  for (int c = 'A'; c <= 'Z'; ++c) {
    EXPECT_NE(font8x8[c][6], 0) << char(c);
    EXPECT_EQ(font8x8[c][7], 0) << char(c);
  }
  EXPECT_NE(font8x8[int{'g'}][7], 0);
  EXPECT_NE(font8x8[int{'y'}][7], 0);
}

TEST(Font, BoxPiecesJoinAtTheCellEdges) {
  // Lines run through the middle two columns and rows, so neighbouring cells join.
  for (int y = 0; y < 8; ++y) EXPECT_EQ(font8x8[glyph::BOX_VERTICAL][y], 0x18);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(font8x8[glyph::BOX_HORIZONTAL][y], (y == 3 || y == 4) ? 0xFF : 0);
  struct Corner {
    int code;
    bool up, right, down, left;
  };
  const Corner corners[] = {{glyph::BOX_TOP_LEFT, false, true, true, false},
                            {glyph::BOX_TOP_RIGHT, false, false, true, true},
                            {glyph::BOX_BOTTOM_LEFT, true, true, false, false},
                            {glyph::BOX_BOTTOM_RIGHT, true, false, false, true}};
  for (const Corner& k : corners) {
    EXPECT_EQ(glyph_pixel(k.code, 3, 0) && glyph_pixel(k.code, 4, 0), k.up) << k.code;
    EXPECT_EQ(glyph_pixel(k.code, 3, 7) && glyph_pixel(k.code, 4, 7), k.down) << k.code;
    EXPECT_EQ(glyph_pixel(k.code, 7, 3) && glyph_pixel(k.code, 7, 4), k.right) << k.code;
    EXPECT_EQ(glyph_pixel(k.code, 0, 3) && glyph_pixel(k.code, 0, 4), k.left) << k.code;
    // Rounded: the outer angle of the meeting point is cut.
    const int ox = k.right ? 3 : 4, oy = k.down ? 3 : 4;
    EXPECT_FALSE(glyph_pixel(k.code, ox, oy)) << k.code;
  }
}

// Calls f(row, key index, key) for every key of the on-screen keyboard.
template <typename F>
void for_each_key(F f) {
  for (int r = 0; r < VKBD_ROWS; ++r) {
    int count = 0;
    const VkbdKey* keys = vkbd_row(r, count);
    for (int i = 0; i < count; ++i) f(r, i, keys[i]);
  }
}

TEST(Vkbd, RowsSpanTheWholePicture) {
  std::set<int> codes;
  for (int r = 0; r < VKBD_ROWS; ++r) {
    int count = 0;
    const VkbdKey* keys = vkbd_row(r, count);
    int units = 0;
    for (int i = 0; i < count; ++i) {
      units += keys[i].width;
      codes.insert(keys[i].code);
    }
    EXPECT_EQ(units, 72) << "row " << r;
    const PictureRect last = vkbd_key_rect(r, count - 1);
    EXPECT_LE(last.x + last.w, VKBD_WIDTH);
    EXPECT_GE(last.x + last.w, VKBD_WIDTH - 6);
  }
  // The 72 keys of matrix rows 0-8 and DEL (RETURN and SHIFT appear twice).
  EXPECT_EQ(codes.size(), 73u);
  for (int row = 0; row <= 8; ++row)
    for (int bit = 0; bit < 8; ++bit) EXPECT_EQ(codes.count(bit * 16 + row), 1u) << bit * 16 + row;
}

TEST(Vkbd, KeyUnderThePointMatchesTheDrawnKey) {
  for (int w : {VKBD_WIDTH, 481, 1926}) {
    const int h = w * VKBD_HEIGHT / VKBD_WIDTH;
    for_each_key([&](int r, int i, const VkbdKey& key) {
      const PictureRect k = vkbd_key_rect(r, i);
      const int cx = (k.x + k.w / 2) * w / VKBD_WIDTH, cy = (k.y + k.h / 2) * w / VKBD_WIDTH;
      EXPECT_EQ(vkbd_key_at(cx, cy, w, h), key.code) << "width " << w << " row " << r << " key " << i;
    });
    EXPECT_EQ(vkbd_key_at(-1, 10, w, h), -1);
    EXPECT_EQ(vkbd_key_at(10, h + 1, w, h), -1);
  }
  // Left part of the space bar and the top-left key.
  EXPECT_EQ(vkbd_key_at(300, 240, VKBD_WIDTH, VKBD_HEIGHT), 117);
  EXPECT_EQ(vkbd_key_at(2, 2, VKBD_WIDTH, VKBD_HEIGHT), 40);
}

// Pixels of label grey inside a key's rectangle.
int label_pixels(const std::vector<uint8_t>& pic, const PictureRect& k) {
  int n = 0;
  for (int y = k.y; y < k.y + k.h; ++y)
    for (int x = k.x; x < k.x + k.w; ++x) n += pic[y * VKBD_WIDTH + x] >= 240;
  return n;
}

TEST(Vkbd, EveryKeyButSpaceCarriesALegibleLabel) {
  for (int language = 0; language < VKBD_LANGUAGES; ++language) {
    const std::vector<uint8_t> pic = keyboard_picture(language);
    ASSERT_EQ(pic.size(), size_t(VKBD_WIDTH) * VKBD_HEIGHT);
    for_each_key([&](int r, int i, const VkbdKey& key) {
      const int n = label_pixels(pic, vkbd_key_rect(r, i));
      if (key.code == 117 || (key.code == 34 && r == 2)) {
        EXPECT_EQ(n, 0);  // space bar, lower half of RETURN
      } else {
        // At least a small glyph drawn twice as tall (a dot key: 2 × 2 × 2 pixels).
        EXPECT_GE(n, 16) << "language " << language << " key " << key.code;
      }
    });
  }
}

TEST(Vkbd, NationalPicturesDifferOnlyOnTheirKeys) {
  const std::vector<uint8_t> english = keyboard_picture(0);
  struct Case {
    int language;
    std::set<int> keys;
  };
  const Case cases[] = {{1, {53, 120}}, {2, {56, 88, 55, 120, 83, 100}}, {3, {83}}, {4, {35, 83, 67}}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> pic = keyboard_picture(c.language);
    for_each_key([&](int r, int i, const VkbdKey& key) {
      const PictureRect k = vkbd_key_rect(r, i);
      int differ = 0;
      for (int y = k.y; y < k.y + k.h; ++y)
        for (int x = k.x; x < k.x + k.w; ++x) differ += pic[y * VKBD_WIDTH + x] != english[y * VKBD_WIDTH + x];
      EXPECT_EQ(differ > 0, c.keys.count(key.code) == 1) << "language " << c.language << " key " << key.code;
    });
  }
  // An unknown language is drawn as English.
  EXPECT_EQ(keyboard_picture(9), english);
}

}  // namespace
