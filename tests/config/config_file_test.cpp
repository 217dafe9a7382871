// Configuration file: reader, writers, in-place update, text keyword effects.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>

#include "config/config.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config_test_util.h"
#include "core/machine.h"

using cfgtest::file_text;
using cfgtest::write_file;

namespace {

class ConfigFile : public testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    free_rom_list();
    close_message_file();
  }
  void TearDown() override {
    reset_settings();
    free_rom_list();
  }

  // Reads a configuration text; returns the warning count (-1: not opened) and keeps
  // what was written.
  int read(const std::string& text, const std::string& name = "test.cfg") {
    set_config_file_name(write_file(name, text).c_str());
    return read_in_use();
  }
  int read_in_use() {
    testing::internal::CaptureStdout();
    config reader;
    int status = reader.read() ? reader.warnings : -1;
    output = testing::internal::GetCapturedStdout();
    return status;
  }

  std::string output;
};

std::string written_config() {
  std::ostringstream out;
  setcfg().write_config(out);
  return out.str();
}

// Several settings in one comparison; an unset text reads "(unset)".
std::vector<int> settings(std::initializer_list<kw::Id> ids) {
  std::vector<int> values;
  for (kw::Id id : ids) values.push_back(setting(id));
  return values;
}
std::vector<std::string> texts(std::initializer_list<kw::Id> ids) {
  std::vector<std::string> values;
  for (kw::Id id : ids) values.push_back(setting_text(id) ? setting_text(id) : "(unset)");
  return values;
}
using Values = std::vector<int>;
using Texts = std::vector<std::string>;

const RomEntry* rom_of_slot(int slot) {
  for (const RomEntry* e = rom_list(); e; e = e->next)
    if (e->slot == slot) return e;
  return nullptr;
}

}  // namespace

TEST_F(ConfigFile, NumericValuesAndBounds) {
  EXPECT_EQ(read("ram_size = 100\ncrtc_type = 2\nEMULATION_SPEED = 0\nVKBD_LANGUAGE=%11\n"), 0);
  EXPECT_EQ(settings({kw::RAM_SIZE, kw::CRTC_TYPE, kw::EMULATION_SPEED, kw::VKBD_LANGUAGE}),
            (Values{100, 2, 0, 3}));

  EXPECT_EQ(read("RAM_SIZE = 4224\nEMULATION_SPEED = 1\n"), 2);
  EXPECT_NE(output.find("Warning: (RAM_SIZE) out of bounds: not 64 <= 4224 <= 4160 at column 12, line 1\n"),
            std::string::npos) << output;
  EXPECT_NE(output.find("(EMULATION_SPEED) out of bounds: not 0 <= 1 <= 0"), std::string::npos);
  EXPECT_NE(output.find("CONFIG: 2 errors found.\n"), std::string::npos);
  EXPECT_EQ(setting(kw::RAM_SIZE), 100);

  // With the RAM_TYPE 1 expansion scheme RAM_SIZE ends at 576.
  EXPECT_EQ(read("RAM_TYPE = 1\nRAM_SIZE = 640\nRAM_SIZE = 576\n"), 1);
  EXPECT_NE(output.find("not 64 <= 640 <= 576"), std::string::npos);
  EXPECT_EQ(setting(kw::RAM_SIZE), 576);
  int min, max, step;
  setcfg s;
  ASSERT_EQ(s.get_bounds(kw::RAM_SIZE, min, max, step), 0);
  EXPECT_EQ(std::tie(min, max, step), std::make_tuple(64, 576, 64));
  EXPECT_EQ(s.get_bounds(kw::PRINTER, min, max, step), 1);
}

TEST_F(ConfigFile, StatementErrors) {
  EXPECT_EQ(read("RAM_SIZE 128\nCRTC_TYPE = two\nFOO = 1\n= 5\nCRTC_TYPE = 0\n"), 4);
  EXPECT_NE(output.find("Warning: '=' expected at column 10, line 1"), std::string::npos) << output;
  EXPECT_NE(output.find("Warning: (CRTC_TYPE) not a value at column 13, line 2"), std::string::npos);
  EXPECT_NE(output.find("Warning: unknown keyword FOO at column 1, line 3"), std::string::npos);
  EXPECT_NE(output.find("Warning: no keyword at column 1, line 4"), std::string::npos);
  EXPECT_EQ(settings({kw::RAM_SIZE, kw::CRTC_TYPE}), (Values{0, 0}));

  // Discarded keywords are checked but leave nothing behind.
  EXPECT_EQ(read("EMS_ENABLED = 1\nINTERRUPT_FREQUENCY = 300\nJOY0_CALIBRATE = 1,2,3,4\n"
                 "JOY1_CALIBRATE = 1,2 3\nJOY1_CALIBRATE = 1,2,x,4\n"),
            2);
  EXPECT_NE(output.find("(JOY1_CALIBRATE) ',' expected"), std::string::npos);
  EXPECT_NE(output.find("(JOY1_CALIBRATE) not a value"), std::string::npos);
  EXPECT_EQ(setting(kw::EMS_ENABLED), 0);
}

TEST_F(ConfigFile, TextKeywordsAndTheirEffects) {
  ASSERT_EQ(setenv("HOME", "/home/tester", 1), 0);
  EXPECT_EQ(read("rom_path = ~/roms\nCRTC_TYPE = 0\n"), 1);
  EXPECT_NE(output.find("(ROM_PATH) string expected"), std::string::npos);
  EXPECT_EQ(setting_text(kw::ROM_PATH), nullptr);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 0);

  EXPECT_EQ(read("ROM_PATH = \"~/roms\"\nTAPE_PATH=\"tapes/\"\nTMP_PATH=\"\"\nM4_SD_PATH=\"sd//\"\n"
                 "PRINTER=\"\"\nDRIVE_B = \"~/b.dsk\"\nHELP_FILE=\"help\"\n"),
            0);
  EXPECT_EQ(texts({kw::ROM_PATH, kw::TAPE_PATH, kw::TMP_PATH, kw::M4_SD_PATH, kw::PRINTER,
                   kw::DRIVE_B, kw::HELP_FILE}),
            (Texts{"/home/tester/roms/", "tapes/", "", "sd/", "(unset)", "/home/tester/b.dsk",
                   "help"}));
  EXPECT_STREQ(drive_browse_dir(1), "/home/tester/b.dsk");
}

TEST_F(ConfigFile, DriveABrowseDirectory) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  set_setting_text(kw::DRIVE_A, (std::string(cwd) + "/discs/game.dsk").c_str());
  EXPECT_STREQ(setting_text(kw::DRIVE_A), (std::string(cwd) + "/discs/game.dsk").c_str());
  EXPECT_STREQ(drive_browse_dir(0), "./discs/game.dsk");
  set_setting_text(kw::DRIVE_A, "/data/games.ZIP/disc1.dsk");
  EXPECT_STREQ(drive_browse_dir(0), "/data/");
  set_setting_text(kw::DRIVE_A, "games.zip/x.dsk");
  EXPECT_STREQ(drive_browse_dir(0), "");
  set_setting_text(kw::DRIVE_A, nullptr);
  EXPECT_EQ(drive_browse_dir(0), nullptr);
  EXPECT_EQ(setting_text(kw::DRIVE_A), nullptr);
  // DRIVE_B's browse directory is the path itself, archive or not.
  set_setting_text(kw::DRIVE_B, "games.zip/x.dsk");
  EXPECT_STREQ(drive_browse_dir(1), "games.zip/x.dsk");
}

TEST_F(ConfigFile, RomBlocks) {
  EXPECT_EQ(read("ROM_BLOCK = 0, \"os.rom\", 1\nROM_BLOCK = 255,\"os.rom\",0\n"
                 "ROM_BLOCK = 0,\"basic.rom\",2\nROM_BLOCK = 7,\"d.rom\" 0\n"
                 "ROM_BLOCK = 7,d.rom,0\nROM_BLOCK = 300,\"x\",0\nROM_BLOCK = 6,\"x\",-1\n"),
            4);
  EXPECT_NE(output.find("(ROM_BLOCK) ',' expected"), std::string::npos) << output;
  EXPECT_NE(output.find("(ROM_BLOCK) string expected"), std::string::npos);
  EXPECT_NE(output.find("(ROM_BLOCK) out of bounds: not 0 <= 300 <= 255"), std::string::npos);
  EXPECT_EQ(rom_count(), 2);
  const RomEntry* basic = rom_of_slot(0);
  ASSERT_NE(basic, nullptr);
  EXPECT_EQ(std::tie(basic->file, basic->offset, basic->bank), std::make_tuple("basic.rom", 2, 0));
  ASSERT_NE(rom_of_slot(255), nullptr);
  EXPECT_EQ(rom_of_slot(7), nullptr);
}

TEST_F(ConfigFile, ConditionalSections) {
  set_setting(kw::CPC_TYPE, 0);
  const char* text =
      "#IFCPC 2\n"
      "RAM_SIZE = 256\n"
      "#ifcpc 1\n"               // a nested section in a dropped part needs no #ENDIF
      "RAM_TYPE = 1\n"
      "\"unterminated string\n"  // dropped text raises no warnings
      "-&\n"
      "#ENDIF\n"
      "CRTC_TYPE = 2\n"
      "#IFCPC 0\n"
      "  #IFCPC 0\n"
      "    BREAK_MASK = 3\n"
      "  #ENDIF\n"
      "#ENDIF\n";
  EXPECT_EQ(read(text), 0) << output;
  EXPECT_EQ(settings({kw::RAM_SIZE, kw::RAM_TYPE, kw::CRTC_TYPE, kw::BREAK_MASK}),
            (Values{0, 0, 2, 3}));

  EXPECT_EQ(read("#ENDIF\n#IFCPC 0\nCRTC_TYPE = 0\n"), 2);
  EXPECT_NE(output.find("Warning: unexpected '#ENDIF' at column 1, line 1"), std::string::npos);
  EXPECT_NE(output.find("Warning: '#ENDIF' missing"), std::string::npos);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 0);

  // A section that runs to the end of the file drops everything after it.
  EXPECT_EQ(read("#IFCPC 5\nCRTC_TYPE = 1\n"), 0);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 0);
  EXPECT_EQ(read("#IFCPC x\nCRTC_TYPE = 1\n#ENDIF\n"), 1);
  EXPECT_NE(output.find("(#IFCPC) not a value"), std::string::npos);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 1);  // x counts as type 0, the requested one
}

TEST_F(ConfigFile, BadInputIsWarnedAbout) {
  // After 32 warnings the reader stops.
  std::string text;
  for (int i = 0; i < 40; ++i) text += "? garbage\n";
  text += "CRTC_TYPE = 0\n";
  EXPECT_EQ(read(text), 32);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 1);

  set_setting(kw::CPC_TYPE, 6);
  std::string nested;
  for (int i = 0; i < 20000; ++i) nested += "#IFCPC 6\n";
  nested += "CRTC_TYPE = 2";  // no final line feed
  EXPECT_EQ(read(nested), 1);
  EXPECT_NE(output.find("'#ENDIF' missing"), std::string::npos);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 2);

  // An over-long string is cut to 4095 characters; the rest of the line is more tokens.
  EXPECT_EQ(read("HELP_FILE = \"" + std::string(5000, 'p') + "\"\nCRTC_TYPE = 0\n"), 1);
  ASSERT_NE(setting_text(kw::HELP_FILE), nullptr);
  EXPECT_LE(std::string(setting_text(kw::HELP_FILE)).size(), 4095u);
  EXPECT_EQ(setting(kw::CRTC_TYPE), 0);
}

TEST_F(ConfigFile, CommentsOnlyAndMissingFiles) {
  EXPECT_EQ(read("; just a comment\n\n   \t; another = 5\n"), 0);
  EXPECT_EQ(output.find("Warning"), std::string::npos);
  // A directory opens as a stream but holds no text: refused the same way as a missing file.
  const std::pair<std::string, std::string> unreadable[] = {
      {"/nonexistent/dir/none.cfg", "/nonexistent/dir/none.cfg"},
      {testsupport::temp_dir("config-dir").string(), "Is a directory"}};
  for (const auto& [name, reason] : unreadable) {
    set_config_file_name(name.c_str());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(config().read());
    EXPECT_NE(testing::internal::GetCapturedStderr().find(reason), std::string::npos) << name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CONFIG: Using " + name + "\n");
  }
}

TEST_F(ConfigFile, WriteThenReadGivesTheSameSettings) {
  // The initial settings read back without warnings; unset keywords are left out.
  set_config_file_name(write_file("roundtrip.cfg", "").c_str());
  testing::internal::CaptureStdout();
  ASSERT_EQ(write_config_file(), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_in_use(), 0) << output;
  EXPECT_EQ(settings({kw::VKBD_LANGUAGE, kw::RAM_SIZE}), (Values{-1, 0}));
  EXPECT_EQ(written_config().find("VKBD_LANGUAGE"), std::string::npos);
  EXPECT_EQ(written_config().find("RAM_SIZE"), std::string::npos);

  // A value that differs from the initial one for every saved keyword.
  const std::pair<kw::Id, int> numbers[] = {
      {kw::AMSDOS_DISABLED, 1}, {kw::AMSDOS_SPEEDUP, 1}, {kw::BREAK_MASK, 5}, {kw::COLOUR_SCREEN, 0},
      {kw::COMPANY_NAME, 3}, {kw::CPC_TYPE, 1}, {kw::CRTC_TYPE, 2}, {kw::DRIVE_A_AUTOSTART, 1},
      {kw::DRIVE_A_SIDE, 1}, {kw::DRIVE_A_WRITEPROT, 1}, {kw::DRIVE_B_AUTOSTART, 1},
      {kw::DRIVE_B_SIDE, 1}, {kw::DRIVE_B_WRITEPROT, 1}, {kw::INTERRUPT_RESUME, 0},
      {kw::JOY0_CURSOR_KEYS, 2}, {kw::JOYSTICK_SIZE, 1}, {kw::KBD_LANGUAGE, 4}, {kw::LANGUAGE, 3},
      {kw::M4_ENABLED, 0}, {kw::MOUSE_ENABLED, 0}, {kw::MOUSE_TYPE, 3}, {kw::PPI_50HZ, 0},
      {kw::PPI_EXP_SIGNAL, 0}, {kw::RAM_SIZE, 512}, {kw::RAM_TYPE, 1}, {kw::REALTIME, 1},
      {kw::SB_SAMPLE_RATE, 2}, {kw::SCREEN_OFFSET, 15}, {kw::M4_SDCARD_MODE, 1},
      {kw::SHOW_CONFIG, 0}, {kw::SOUND_ENABLED, 0}, {kw::SOUND_FX_ENABLED, 1},
      {kw::TAPE_BYPASS, 0}, {kw::VIDEO_MODE, 1}, {kw::VKBD_LANGUAGE, 4}, {kw::VSYNC_POSITION, 3},
      {kw::SNA_SIZE, 2}, {kw::KBD_TEXT_TYPING, 0},
  };
  const std::pair<kw::Id, const char*> texts[] = {
      {kw::DATA_FILE, "my data.dat"}, {kw::DRIVE_A, "/discs/a;b.dsk"}, {kw::DRIVE_B, "/discs/b.dsk"},
      {kw::HELP_FILE, "help.txt"}, {kw::POKE_DATABASE, "pokes.txt"}, {kw::PRINTER, "printer.txt"},
      {kw::ROM_PATH, "/roms/"}, {kw::SNAPSHOT, "snap.sna"}, {kw::TAPE_PATH, "/tapes/"},
      {kw::TMP_PATH, "/tmp/x/"}, {kw::M4_SD_PATH, "/sd"},
  };
  for (auto [id, v] : numbers) set_setting(id, v);
  for (auto [id, v] : texts) set_setting_text(id, v);
  add_rom(7, "amsdos.rom", 0);
  add_rom(255, "cpc6128.rom", 0);
  add_rom(0, "cpc6128.rom", 1);

  std::string expected = written_config();
  testing::internal::CaptureStdout();
  ASSERT_EQ(write_config_file(), 0);
  testing::internal::GetCapturedStdout();
  std::string file = file_text(config_file_name());
  EXPECT_EQ(file.rfind("; MSG: Cannot read message 221  ", 0), 0u) << file;
  EXPECT_NE(file.find(expected), std::string::npos);
  EXPECT_EQ(file.substr(file.size() - 6), "; end\n");
  // ROM_BLOCK lines come in slot order.
  EXPECT_NE(expected.find("ROM_BLOCK = 0,\"cpc6128.rom\",1\nROM_BLOCK = 7,\"amsdos.rom\",0\n"
                          "ROM_BLOCK = 255,\"cpc6128.rom\",0\nROM_PATH = \"/roms/\"\n"),
            std::string::npos) << expected;

  reset_settings();
  free_rom_list();
  EXPECT_EQ(read_in_use(), 0) << output;
  for (auto [id, v] : numbers) EXPECT_EQ(setting(id), v) << config_keyword_names[id];
  for (auto [id, v] : texts) EXPECT_STREQ(setting_text(id), v) << config_keyword_names[id];
  EXPECT_EQ(rom_count(), 3);
  EXPECT_EQ(written_config(), expected);

  // A 60 Hz machine (PPI_50HZ 0, as read) keeps VSYNC_POSITION within its shorter
  // frame, whichever of the two is set last.
  set_setting(kw::VSYNC_POSITION, 5);
  EXPECT_EQ(setting(kw::VSYNC_POSITION), 4);
  set_setting(kw::PPI_50HZ, 1);
  set_setting(kw::VSYNC_POSITION, 5);
  EXPECT_EQ(setting(kw::VSYNC_POSITION), 5);
  set_setting(kw::PPI_50HZ, 0);
  EXPECT_EQ(setting(kw::VSYNC_POSITION), 4);
}

TEST_F(ConfigFile, UpdateInPlaceKeepsLayout) {
  set_setting(kw::CPC_TYPE, 2);
  const std::string original =
      "; my configuration\n"
      "\n"
      "RAM_SIZE = 128 ; my memory\n"
      "crtc_type=1;no blank\n"
      "  SOUND_ENABLED\t= 1\n"
      "ROM_PATH = \"/old/roms/\"\n"
      "ROM_BLOCK = 0,\"old.rom\",0\n"
      "PRINTER = \"a;b\" ; comment\n"
      "; RAM_TYPE = 0\n"
      "#IFCPC 0\n"
      "RAM_SIZE = 64\n"
      "#ENDIF\n"
      "#IFCPC 2\n"
      "TAPE_BYPASS = 1\n"
      "#ENDIF\n"
      "UNKNOWN_KEY = 4";
  set_config_file_name(write_file("update.cfg", original).c_str());
  ASSERT_EQ(read_in_use(), 1) << output;
  const std::pair<kw::Id, int> changes[] = {
      {kw::RAM_SIZE, 256}, {kw::CRTC_TYPE, 0}, {kw::SOUND_ENABLED, 0}, {kw::TAPE_BYPASS, 0}};
  for (auto [id, v] : changes) set_setting(id, v);
  set_setting_text(kw::PRINTER, "out.txt");
  set_setting_text(kw::ROM_PATH, "/new/roms/");
  ASSERT_EQ(update_config_file(), 0);

  std::string updated = file_text(config_file_name());
  // The lines of changed keywords take their new values and keep their comments; every
  // other line stays as it was, the one without a line feed gets one.
  const std::pair<const char*, const char*> changed_lines[] = {
      {"RAM_SIZE = 128 ;", "RAM_SIZE= 256 ;"}, {"crtc_type=1;", "crtc_type= 0;"},
      {"SOUND_ENABLED\t= 1", "SOUND_ENABLED= 0"}, {"TAPE_BYPASS = 1", "TAPE_BYPASS= 0"},
      {"PRINTER = \"a;b\"", "PRINTER= \"out.txt\""}};
  std::string expected_start = original + "\nAMSDOS_DISABLED = 0\n";
  for (auto [was, is] : changed_lines)
    expected_start.replace(expected_start.find(was), std::strlen(was), is);
  EXPECT_EQ(updated.substr(0, expected_start.size()), expected_start) << updated;
  // Keywords without a line are appended once; the never-changed ones are not.
  EXPECT_NE(updated.find("\nRAM_TYPE = 0\n"), std::string::npos);
  EXPECT_EQ(updated.find("ROM_PATH = \"/new"), std::string::npos);
  EXPECT_EQ(updated.find("CRTC_TYPE ="), std::string::npos);

  // Reading the updated file gives the settings that were saved.
  reset_settings();
  free_rom_list();
  set_setting(kw::CPC_TYPE, 2);
  EXPECT_EQ(read_in_use(), 1) << output;
  for (auto [id, v] : changes) EXPECT_EQ(setting(id), v) << config_keyword_names[id];
  EXPECT_EQ(texts({kw::PRINTER, kw::ROM_PATH}), (Texts{"out.txt", "/old/roms/"}));
}

TEST_F(ConfigFile, WritersReportUnwritableFiles) {
  static int waited;
  waited = 0;
  set_config_wait_key([] { ++waited; });
  set_config_file_name("/nonexistent/dir/out.cfg");
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_config_file(), 1);
  EXPECT_EQ(update_config_file(), 1);
  std::string out = testing::internal::GetCapturedStdout();
  set_config_wait_key(nullptr);
  EXPECT_NE(out.find("MSG: Cannot read message 217  /nonexistent/dir/out.cfg\n"), std::string::npos) << out;
  EXPECT_EQ(waited, 1);
}
