// Automatic typing as the CPC's keyboard scan sees it: which keys are down at each
// scan of the ten matrix rows.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "hardware/autotype.h"
#include "hardware/keyboard.h"
#include "ui_test_support.h"

namespace {

using Keys = std::set<int>;

using uitest::scan;

// Scans until typing ends (at most `limit` scans).
std::vector<Keys> scans_until_idle(int limit = 200) {
  std::vector<Keys> out;
  while (keyboard_inputs().typing_active && limit-- > 0) out.push_back(scan());
  return out;
}

// The keys pressed by the typing still to come, scan by scan, each scan's keys in code
// order.
std::vector<int> keys_pressed() {
  std::vector<int> pressed;
  for (const Keys& k : scans_until_idle())
    for (int key : k) pressed.push_back(key);
  return pressed;
}

class AutoType : public ::testing::Test {
 protected:
  void SetUp() override {
    type_clear();
    keyboard_reset(ResetKind::POWER_ON);
    keyboard_release_host_keys();
  }
  void TearDown() override { type_clear(); }
};

const Keys NONE{};
constexpr int A = 88, B = 102, SHIFT = CPC_KEY_SHIFT, RETURN = 34;

TEST_F(AutoType, DifferentLettersNeedOneReleasedScan) {
  type_text("ab");
  EXPECT_TRUE(keyboard_inputs().typing_active);
  EXPECT_EQ(scans_until_idle(), (std::vector<Keys>{NONE, {A}, NONE, {B}, NONE}));
  EXPECT_FALSE(keyboard_inputs().typing_active);
  EXPECT_EQ(scan(), NONE);
}

TEST_F(AutoType, SameKeyTwiceNeedsTwoReleasedScans) {
  type_text("aa");
  EXPECT_EQ(scans_until_idle(), (std::vector<Keys>{NONE, {A}, NONE, NONE, {A}, NONE}));
  // A capital after its small letter starts with the same key: also two scans.
  type_text("aA");
  EXPECT_EQ(scans_until_idle(), (std::vector<Keys>{NONE, {A}, NONE, NONE, {A, SHIFT}, NONE}));
}

// Pasted, a CR LF pair is one RETURN: e2e.display_window pastes one and compares the
// screen with the headless runner's.
TEST_F(AutoType, TypedCarriageReturnAndLineFeedAreTwoReturns) {
  type_text("\r\n");
  EXPECT_EQ(keys_pressed(), (std::vector<int>{RETURN, RETURN}));
}

TEST_F(AutoType, BitSevenClearedAndUntypableCharactersSkipped) {
  type_text("\xC1\x7F" "b");  // 0xC1 types 'A'; 127 has no key
  EXPECT_EQ(keys_pressed(), (std::vector<int>{SHIFT, A, B}));  // keys of one scan in code order
}

TEST_F(AutoType, TextAppendedWhileTypingContinuesTheBuffer) {
  type_text("a");
  EXPECT_EQ(scan(), NONE);
  EXPECT_EQ(scan(), Keys{A});
  type_text("b");  // no second leading blank
  EXPECT_EQ(scans_until_idle(), (std::vector<Keys>{NONE, {B}, NONE}));
  EXPECT_EQ(type_pending(), 0);
}

TEST_F(AutoType, ClearReleasesEverything) {
  type_text("xyz");
  EXPECT_EQ(scan(), NONE);
  EXPECT_FALSE(scan().empty());  // x held
  type_clear();
  EXPECT_FALSE(keyboard_inputs().typing_active);
  EXPECT_EQ(scan(), NONE);
}

TEST(AutoTypeKeys, CharacterTable) {
  // Every printable character types something; capitals are the small letter's key
  // with SHIFT.
  for (int c = 32; c < 127; ++c) EXPECT_NE(keys_for_char(c).first, CPC_NO_KEY) << c;
  for (int c = 'a'; c <= 'z'; ++c) {
    EXPECT_EQ(keys_for_char(c).second, CPC_NO_KEY);
    EXPECT_EQ(keys_for_char(c - 32).first, keys_for_char(c).first);
    EXPECT_EQ(keys_for_char(c - 32).second, CPC_KEY_SHIFT);
  }
  // The symbols above the digits 1..9 are SHIFT with that digit's key.
  const char* symbols = "!\"#$%&'()";
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(keys_for_char(symbols[i]).first, keys_for_char('1' + i).first);
    EXPECT_EQ(keys_for_char(symbols[i]).second, CPC_KEY_SHIFT);
  }
  EXPECT_EQ(keys_for_char(' ').first, 117);
  EXPECT_EQ(keys_for_char('\n').first, RETURN);
  EXPECT_EQ(keys_for_char('\r').first, RETURN);
  EXPECT_EQ(keys_for_char('`').first, keys_for_char('\\').first);
  EXPECT_EQ(keys_for_char('`').second, CPC_KEY_SHIFT);
  EXPECT_EQ(keys_for_char('~').second, CPC_KEY_CONTROL);
  EXPECT_EQ(keys_for_char(21).first, 96);  // ENTER with CONTROL
  EXPECT_EQ(keys_for_char(14).first, CPC_NO_KEY);
  EXPECT_EQ(keys_for_char(127).first, CPC_NO_KEY);
  EXPECT_EQ(keys_for_char(0).first, CPC_NO_KEY);
}

}  // namespace
