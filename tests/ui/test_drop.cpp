// Files dropped on the window while the machine runs load like files chosen in the file
// selector: a disc image goes into drive A and starts; anything unknown is reported and
// leaves the drive alone.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "../test_support.h"
#include "config/settings.h"
#include "hardware/autotype.h"
#include "hardware/keyboard.h"
#include "media/dsk.h"
#include "ui/events.h"

namespace {

void drop(const std::string& path) {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = SDL_DROPFILE;
  e.drop.file = SDL_strdup(path.c_str());
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  poll_events();
}

}  // namespace

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
  setting(kw::DRIVE_A_AUTOSTART) = 1;

  drop((dir / "notes.txt").string());
  EXPECT_FALSE(drive_has_disc(0));
  EXPECT_FALSE(keyboard_inputs.typing_active);

  drop((dir / "Game.DSK").string());
  EXPECT_TRUE(drive_has_disc(0));
  ASSERT_NE(drive_autostart_name(0), nullptr);
  EXPECT_TRUE(keyboard_inputs.typing_active);  // RUN" of the disc's program

  // A dropped name that is gone by the time it is handled.
  drive_eject(0);
  type_clear();
  drop((dir / "gone.dsk").string());
  EXPECT_FALSE(drive_has_disc(0));
  EXPECT_FALSE(keyboard_inputs.typing_active);

  type_clear();
  setting(kw::DRIVE_A_AUTOSTART) = autostart;
  std::filesystem::remove_all(dir);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}
