// The program's own windows: the configuration rewrite of the keyboard layout choice,
// the function menu's columns, the snapshot sizes, the keyboard's layout file and
// placement, the setup list's lines, value keys and web-server line, and the first-start
// and cassette deck windows driven by queued events.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/messages.h"
#include "config/settings.h"
#include "hardware/hardware_fixture.h"
#include "media/tape_deck.h"
#include "scripted_input.h"
#include "test_support.h"
#include "ui/menu_art.h"
#include "ui/setup_windows.h"
#include "ui/touch.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

using testsupport::file_text;

TEST(KeyboardLayoutChoice, StatementGoesBeforeTheFirstSetting) {
  auto dir = testsupport::temp_dir("vkbd-cfg");
  const fs::path cfg = dir / "arvelo.cfg";
  std::ofstream(cfg) << "; Arvelo\n"
                        "; a comment without an equals sign\r\n"
                        "  vkbd_language = 3\n"
                        "CPC_TYPE = 2\n"
                        "LANGUAGE = 1\n";
  ASSERT_EQ(write_vkbd_language(cfg.c_str(), 4), 0);
  EXPECT_EQ(file_text(cfg),
            "; Arvelo\n"
            "; a comment without an equals sign\n"
            "VKBD_LANGUAGE = 4 ; layout of virtual keybord (0-4)\n"
            "CPC_TYPE = 2\n"
            "LANGUAGE = 1\n");
  EXPECT_FALSE(fs::exists(dir / "tmp$$$.cfg"));

  // A file without any setting gets the statement at its end.
  std::ofstream(cfg) << "; only comments\n";
  ASSERT_EQ(write_vkbd_language(cfg.c_str(), 0), 0);
  EXPECT_EQ(file_text(cfg), "; only comments\nVKBD_LANGUAGE = 0 ; layout of virtual keybord (0-4)\n");
  // A keyword that only begins like it is kept.
  std::ofstream(cfg) << "VKBD_LANGUAGEX = 1\n";
  ASSERT_EQ(write_vkbd_language(cfg.c_str(), 2), 0);
  EXPECT_EQ(file_text(cfg), "VKBD_LANGUAGE = 2 ; layout of virtual keybord (0-4)\nVKBD_LANGUAGEX = 1\n");
  fs::remove_all(dir);
}

TEST(KeyboardLayoutChoice, UnwritablePlaceLeavesTheFileAlone) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_vkbd_language("/nonexistent-dir/arvelo.cfg", 1), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error creating configuration file: /nonexistent-dir/tmp$$$.cfg"), std::string::npos);
}

TEST(FunctionMenu, ColumnsOfTheTwelveButtons) {
  // Text columns -8..87 span the bar's twelve 8-column buttons; 0 is no button.
  const std::pair<int, int> keys[] = {{-9, 0}, {-8, 1}, {-1, 1}, {0, 2}, {40, 7}, {87, 12}, {88, 0}};
  for (const auto& [column, key] : keys) EXPECT_EQ(menu_key_of_column(column), key) << column;
  // The bar's picture is compared with reference/ui_menu.png by e2e.ui_windows.
}

// The snapshot save window: file, then size. "All RAM" saves the machine's RAM as set
// up, also when the configuration names no RAM_SIZE.
TEST(Snapshots, SavedSizeFollowsTheChoice) {
  hwtest::build_machine(192);
  reset_settings();
  auto dir = testsupport::temp_dir("snapshot-size");
  {
    testsupport::InDir in(dir);
    std::ofstream("game.sna") << "";
    set_setting_text(kw::SNAPSHOT, (dir / "game.sna").c_str());
    const int sizes_kb[] = {64, 128, 192};
    for (int choice = 0; choice < 3; ++choice) {
      set_setting(kw::SNA_SIZE, choice);  // preselected in the size window
      EXPECT_EQ(ScriptedInput().key(SDLK_RETURN).key(SDLK_RETURN).run(snapshot_save_chosen), 0);
      EXPECT_EQ(fs::file_size(dir / "game.sna"), 256u + sizes_kb[choice] * 1024u) << "choice " << choice;
    }
  }
  fs::remove_all(dir);
  memory_free();
  free_rom_list();
}

TEST(VirtualKeyboard, StaysPartlyOnScreen) {
  int x = 100, y = 100;
  keep_on_screen(x, y, 400, 100, -1000, 0, 800, 600);
  EXPECT_EQ(x, 800 / 8 - 400);  // an eighth of the width still covered
  keep_on_screen(x, y, 400, 100, 5000, 5000, 800, 600);
  EXPECT_EQ(x, 800 - 800 / 8);
  EXPECT_EQ(y, 600 - 600 / 8);
  keep_on_screen(x, y, 400, 100, 0, -5000, 800, 600);
  EXPECT_EQ(y, 600 / 8 - 100);
}

TEST(VirtualKeyboard, LayoutFileRoundTripAndBadFiles) {
  const int values[12] = {10, 400, 963, 265, 10, 400, 963, 265, 200, 128, 1, 1};
  const std::string text = format_vkbd_layout(values);
  EXPECT_EQ(text, "10 400 963 265 10 400 963 265 200 128 1 1\n");
  int back[12] = {};
  ASSERT_TRUE(parse_vkbd_layout(text, back));
  EXPECT_EQ(0, std::memcmp(values, back, sizeof values));
  EXPECT_FALSE(parse_vkbd_layout("1 2 3", back));
  EXPECT_FALSE(parse_vkbd_layout("0 0 0 0 0 0 0 0 255 0 0 0", back));           // no size
  EXPECT_FALSE(parse_vkbd_layout("0 0 963 265 0 0 0 0 999 0 0 0", back));       // alpha
  EXPECT_FALSE(parse_vkbd_layout("0 0 99999999 265 0 0 0 0 99 0 0 0", back));  // width
}

TEST(FirstStart, LanguageAndLayoutWindowsTakeTheirKeys) {
  EXPECT_EQ(ScriptedInput().type("73").run(choose_language), 2);  // 7 is no entry
  // A click on row 11: entry (11 - 4) / 3 = 2.
  EXPECT_EQ(ScriptedInput().click(64 + 8 * 36, 16 * 11 + 4).run(choose_language), 1);
  // The keyboard layouts: '2' is no choice; '5' is Danish (4). The choice is written
  // into the configuration file in use.
  auto dir = testsupport::temp_dir("vkbd-choice");
  const fs::path cfg = dir / "user.cfg";
  std::ofstream(cfg) << "CPC_TYPE = 2\n";
  const std::string old_name = config_file_name();
  set_config_file_name(cfg.c_str());
  ScriptedInput().type("25").run(choose_vkbd_language);
  EXPECT_EQ(setting(kw::VKBD_LANGUAGE), 4);
  EXPECT_EQ(file_text(cfg), "VKBD_LANGUAGE = 4 ; layout of virtual keybord (0-4)\nCPC_TYPE = 2\n");
  set_config_file_name(old_name.c_str());
  fs::remove_all(dir);
}

TEST(TapeWindow, SwitchesFastLoadingAndWindsToTheChosenBlock) {
  TapeSignal signal;
  TapeBuilder b{signal};
  for (const char* name : {"first", "second", "third"}) {
    b.begin_block(name);
    b.pulse(700);
  }
  tape_deck_insert_signal(signal, "/nonexistent/t.cdt");
  tape_deck_set_fast_loading(true);
  {
    // The window opens on Play; four down is the fast-loading switch; then three more
    // down is the second block (the blocks follow the position line).
    ScriptedInput input;
    input.key(SDLK_DOWN).key(SDLK_DOWN).key(SDLK_DOWN).key(SDLK_DOWN).key(SDLK_RETURN);
    input.key(SDLK_DOWN).key(SDLK_DOWN).key(SDLK_DOWN).key(SDLK_RETURN).key(SDLK_ESCAPE);
    tape_window();
  }
  EXPECT_FALSE(tape_deck_fast_loading());
  EXPECT_EQ(tape_deck_status().block, 1u);
  EXPECT_EQ(tape_deck_status().position_ticks, 700u);
  tape_deck_set_fast_loading(true);
  tape_deck_eject();
}

TEST(Setup, ListOrderBoundsStepsAndTemplateName) {
  reset_settings();
  set_setting(kw::RAM_SIZE, 128);
  set_setting(kw::PPI_50HZ, 1);
  setup_w w(5, 6, 75, 19);
  const auto& items = w.items();
  ASSERT_EQ(items.size(), 40u);
  // Titles and settings labelled by keyword id + 1 (the first page's lines are
  // e2e.setup_window's reference/setup_setup.png), then the actions.
  EXPECT_EQ(items[32].message, kw::SHOW_CONFIG + 1);
  const int actions[] = {74, 76, 77, 78, 79, 80, 82};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(items[33 + i].message, actions[i]) << i;
  int ram = -1, ppi = -1;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].keyword == kw::RAM_SIZE) ram = static_cast<int>(i);
    if (items[i].keyword == kw::PPI_50HZ) ppi = static_cast<int>(i);
  }
  ASSERT_GE(ram, 0);
  ASSERT_GE(ppi, 0);
  // RAM_SIZE steps by 64; Ctrl+Right adds 10 and rounds down to a multiple of 64.
  w.key_right(ram);
  EXPECT_EQ(w.line_value(ram), 192);
  w.key_left(ram);
  w.key_left(ram);
  EXPECT_EQ(w.line_value(ram), 64);
  w.key_right(ram);
  w.key_ctrl_right(ram);
  EXPECT_EQ(w.line_value(ram), 128);
  w.set_line_value(ram, 1 << 20);
  EXPECT_EQ(w.line_value(ram) % 64, 0);
  EXPECT_LE(w.line_value(ram), 4096 * 16);
  // Bounds hold; titles and actions have no value to change.
  w.key_right(ppi);
  EXPECT_EQ(w.line_value(ppi), 1);
  w.key_right(0);
  EXPECT_EQ(w.line_value(0), -1);
  // That the values reach the settings only when the window is left by its last line
  // (not by Esc), and how its lines look, is e2e.setup_window's.
  char buffer[SELECT_LINE_MAX + 1];
  EXPECT_EQ(w.line_text(buffer, 40, w.line_width()), nullptr);

  EXPECT_TRUE(is_template_config("/home/u/.arvelo/ARVELO0.cfg"));
  EXPECT_TRUE(is_template_config("arvelo0.cfg"));
  EXPECT_FALSE(is_template_config("/arvelo0.cfg/mine.cfg"));
  EXPECT_FALSE(is_template_config("my_arvelo0.cfg"));
  reset_settings();
}

namespace {
struct FakeWebServer {
  bool running = false;
  std::string areas;
  int stops = 0;
} fake_web;
}  // namespace

TEST(Setup, WebServerLineStartsWithTheFourAreasAndStops) {
  reset_settings();
  set_setting_text(kw::DRIVE_A, "/discs/");
  set_setting_text(kw::M4_SD_PATH, "/sd");
  set_setting_text(kw::TAPE_PATH, "/tapes/");
  set_setting_text(kw::ROM_PATH, "/roms/");
  fake_web = {};
  set_setup_web_server({[] { return fake_web.running; },
                        [](const char* a, const char* sd, const char* t, const char* r) {
                          fake_web.areas = std::string(a ? a : "-") + "|" + sd + "|" + t + "|" + r;
                          return fake_web.running = true;
                        },
                        [] { fake_web.running = false; ++fake_web.stops; }});
  constexpr int WEB_LINE = 33;  // the first action line
  EXPECT_EQ(setup_w(5, 6, 75, 19).items()[WEB_LINE].message, msg::START_WEB_SERVER);
  setup_toggle_web_server();
  EXPECT_EQ(fake_web.areas, "/discs/|/sd|/tapes/|/roms/");
  EXPECT_EQ(setup_w(5, 6, 75, 19).items()[WEB_LINE].message, msg::STOP_WEB_SERVER);
  setup_toggle_web_server();
  EXPECT_EQ(fake_web.stops, 1);
  EXPECT_EQ(setup_web_server_message(), msg::START_WEB_SERVER);
  set_setup_web_server({});
  reset_settings();
}
