// Host input through the event pump: a key typed as a character, files dropped on the
// window load like files chosen in the file selector (a disc image goes into drive A and
// starts, a tape image into the cassette deck; anything unknown or damaged is reported
// and changes nothing), and a connected game controller reaches the CPC's joystick rows.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "../test_support.h"
#include "config/settings.h"
#include "hardware/autotype.h"
#include "hardware/keyboard.h"
#include "media/dsk.h"
#include "media/tape_deck.h"
#include "ui/events.h"
#include "ui_test_support.h"

namespace {

using uitest::scan;

void drop(const std::string& path) {
  SDL_Event e = uitest::event(SDL_DROPFILE);
  e.drop.file = SDL_strdup(path.c_str());
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  poll_events();
}

void push_key(Uint32 type, SDL_Scancode sc, SDL_Keycode sym, Uint16 mod, Uint8 repeat = 0) {
  SDL_Event e = uitest::event(type);
  e.key.keysym.scancode = sc;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  e.key.repeat = repeat;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void push_text(const char* text) {
  SDL_Event e = uitest::event(SDL_TEXTINPUT);
  std::strcpy(e.text.text, text);
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

}  // namespace

TEST(CharacterTyping, AKeyIsHeldAsTheCharacterOfItsTextEvent) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  const int mode = setting(kw::KBD_TEXT_TYPING);
  set_setting(kw::KBD_TEXT_TYPING, 1);
  keyboard_reset(ResetKind::POWER_ON);
  type_clear();
  // A US Shift + ' gives ": the CPC gets SHIFT and 2, held while the key is, and the
  // host's key repeats (with their text) change nothing.
  const std::set<int> quote = {keys_for_char('"').first, CPC_KEY_SHIFT};
  push_key(SDL_KEYDOWN, SDL_SCANCODE_APOSTROPHE, '\'', KMOD_LSHIFT);
  push_text("\"");
  poll_events();
  EXPECT_EQ(scan(), quote);
  push_key(SDL_KEYDOWN, SDL_SCANCODE_APOSTROPHE, '\'', KMOD_LSHIFT, 1);
  push_text("\"");
  poll_events();
  EXPECT_EQ(scan(), quote);
  EXPECT_FALSE(keyboard_inputs().typing_active);
  push_key(SDL_KEYUP, SDL_SCANCODE_APOSTROPHE, '\'', KMOD_LSHIFT);
  poll_events();
  scan();
  EXPECT_EQ(scan(), std::set<int>{});
  // Text that no key press announced (a composed sequence) is typed like pasted text.
  push_text("ab");
  poll_events();
  EXPECT_TRUE(keyboard_inputs().typing_active);
  type_clear();
  set_setting(kw::KBD_TEXT_TYPING, mode);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST(DroppedFiles, ADiscImageGoesIntoDriveAAndStarts) {
  const std::string disc = testsupport::testdata_dir() + "/disks/boulderdash_cpc.dsk";
  REQUIRE_ASSET(disc);
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  const auto dir = testsupport::temp_dir("drop");
  std::filesystem::copy_file(disc, dir / "Game.DSK");
  std::filesystem::copy_file(disc, dir / "notes.txt");
  drive_eject(0);
  type_clear();
  const int autostart = setting(kw::DRIVE_A_AUTOSTART);
  set_setting(kw::DRIVE_A_AUTOSTART, 1);

  drop((dir / "notes.txt").string());
  EXPECT_FALSE(drive_has_disc(0));
  EXPECT_FALSE(keyboard_inputs().typing_active);

  drop((dir / "Game.DSK").string());
  EXPECT_TRUE(drive_has_disc(0));
  ASSERT_NE(drive_autostart_name(0), nullptr);
  EXPECT_TRUE(keyboard_inputs().typing_active);  // RUN" of the disc's program

  // A dropped name that is gone by the time it is handled.
  drive_eject(0);
  type_clear();
  drop((dir / "gone.dsk").string());
  EXPECT_FALSE(drive_has_disc(0));
  EXPECT_FALSE(keyboard_inputs().typing_active);

  type_clear();
  set_setting(kw::DRIVE_A_AUTOSTART, autostart);
  std::filesystem::remove_all(dir);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST(DroppedFiles, ATapeImageGoesIntoTheDeckAndADamagedOneIsRefused) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  const auto dir = testsupport::temp_dir("droptape");
  // A CDT with one pure tone block; a WAV file cut off inside its header.
  std::ofstream(dir / "Game.CDT", std::ios::binary).write("ZXTape!\x1A\x01\x14\x12\x10\x00\x04\x00", 15);
  std::ofstream(dir / "bad.wav", std::ios::binary).write("RIFF\x10\0\0\0WAVEfmt ", 16);
  tape_deck_eject();

  drop((dir / "Game.CDT").string());
  ASSERT_TRUE(tape_deck_loaded());
  EXPECT_EQ(tape_deck_signal().segments.size(), 4u);
  drop((dir / "bad.wav").string());
  EXPECT_EQ(tape_deck_status().name, (dir / "Game.CDT").string());

  tape_deck_eject();
  std::filesystem::remove_all(dir);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST(HostJoysticks, AControllerPluggedInLaterIsReadIntoTheJoystickRowUntilPulledOut) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_EVENTS), 0) << SDL_GetError();
  joystick_init();
  const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 2, 0);
  ASSERT_GE(index, 0) << SDL_GetError();
  if (index > 1) GTEST_SKIP() << "two host joysticks are already connected";
  const int row = index == 0 ? 9 : 6;
  poll_events();  // sees the controller arrive and opens it
  SDL_Joystick* j = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
  ASSERT_NE(j, nullptr) << "the controller plugged in after start-up was not opened";

  EXPECT_EQ(keyboard_row(row), 0xFF);  // centred, nothing pressed
  SDL_JoystickSetVirtualAxis(j, 0, -32768);
  SDL_JoystickSetVirtualAxis(j, 1, 32767);
  SDL_JoystickSetVirtualButton(j, 1, SDL_PRESSED);
  poll_events();
  EXPECT_EQ(keyboard_row(row), static_cast<uint8_t>(~(0x04 | 0x02 | 0x20)));  // left, down, fire 2
  SDL_JoystickSetVirtualAxis(j, 0, 0);
  SDL_JoystickSetVirtualAxis(j, 1, -32768);
  SDL_JoystickSetVirtualButton(j, 1, SDL_RELEASED);
  SDL_JoystickSetVirtualButton(j, 0, SDL_PRESSED);
  poll_events();
  EXPECT_EQ(keyboard_row(row), static_cast<uint8_t>(~(0x01 | 0x10)));  // up, fire 1

  // Pulled out while held up with fire pressed: the row lets go.
  SDL_JoystickDetachVirtual(index);
  poll_events();
  EXPECT_EQ(keyboard_row(row), 0xFF);
}
