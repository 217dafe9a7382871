// Data file: keyboard tables and palettes.
#include <string>
#include <vector>

#include "config/data.h"
#include "config/settings.h"
#include "config_test_util.h"
#include "core/machine.h"
#include "video/colours.h"

using cfgtest::write_file;

namespace {

std::string list(const std::vector<int>& values) {
  std::string out;
  for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + std::to_string(values[i]);
  return out;
}

std::vector<int> palette_values(int base) {
  std::vector<int> v;
  for (int i = 0; i < 96; ++i) v.push_back(base + i);
  return v;
}

class DataFile : public testing::Test {
 protected:
  void SetUp() override { reset_settings(); }
  void TearDown() override { reset_settings(); }

  int read(const std::string& text) {
    set_data_file(write_file("test.dat", text).c_str());
    testing::internal::CaptureStdout();
    reader = std::make_unique<data>();
    const bool opened = reader->read();
    output = testing::internal::GetCapturedStdout();
    if (!opened) return -1;
    install_data_tables(reader->tables);
    return reader->warnings;
  }

  std::unique_ptr<data> reader;
  std::string output;
};

}  // namespace

TEST_F(DataFile, KeyTablesEndAtANegativeNumberOrAfter864AndBrokenOnesAreDropped) {
  std::vector<int> ten_groups;
  for (int g = 0; g < 10; ++g) ten_groups.insert(ten_groups.end(), {4 + g, g, 0x10 + g, 255});
  std::vector<int> full(900, 7);
  std::string text = "KEYTAB_UK = " + list(ten_groups) + ",-1\n" +
                     "keytab_dk =\n &10, %101, 0x1f, 9,\n -5\n" +
                     "KEYTAB_ORIG = " + list(full) + "\n";
  EXPECT_EQ(read(text), 1) << output;
  EXPECT_EQ(reader->tables.key_tables[0], ten_groups);
  EXPECT_EQ(reader->tables.key_tables[4], (std::vector<int>{16, 5, 31, 9}));
  // The 864th number ends the table; the ',' after it starts no statement.
  EXPECT_EQ(reader->tables.key_tables[5].size(), 864u);
  EXPECT_NE(output.find("Warning: no keyword"), std::string::npos);
  EXPECT_TRUE(reader->tables.key_tables[1].empty());
  EXPECT_NE(output.find("DATA: 1 errors found.\n"), std::string::npos);
  EXPECT_EQ(output.rfind("DATA: Using ", 0), 0u);

  // A broken table is dropped.
  EXPECT_EQ(read("KEYTAB_GR = 1,2,3 4\nKEYTAB_FR = 1,2,x,4,-1\nKEYTAB_SP = 4,5,6,7,-1\n"), 2);
  EXPECT_NE(output.find("Warning: (KEYTAB_GR) ',' expected at column 19, line 1"), std::string::npos) << output;
  EXPECT_NE(output.find("Warning: (KEYTAB_FR) not a value at column 17, line 2"), std::string::npos);
  EXPECT_TRUE(reader->tables.key_tables[1].empty());
  EXPECT_TRUE(reader->tables.key_tables[2].empty());
  EXPECT_EQ(reader->tables.key_tables[3], (std::vector<int>{4, 5, 6, 7}));
}

TEST_F(DataFile, PalettesAreAppliedByColourFlag) {
  std::vector<int> colour = palette_values(0);
  colour[0] = 256;     // only the low 8 bits count
  colour[1] = 0x1FF;
  std::vector<int> green = palette_values(100);
  set_setting(kw::COLOUR_SCREEN, 1);
  EXPECT_EQ(read("RGB_PAL_GREEN = " + list(green) + "\nRGB_PAL_COLOUR = " + list(colour) + "\n"), 0)
      << output;
  ASSERT_EQ(reader->tables.palettes[1].size(), 96u);
  EXPECT_EQ(reader->tables.palettes[1][0], 0);
  EXPECT_EQ(reader->tables.palettes[1][1], 255);
  EXPECT_EQ(reader->tables.palettes[0][95], 195);
  // The colour monitor's palette is the active one.
  EXPECT_EQ(palette_rgb(0)[0], 0);
  EXPECT_EQ(palette_rgb(0)[1], 255);
  EXPECT_EQ(palette_rgb(31)[2], 95);

  set_setting(kw::COLOUR_SCREEN, 0);
  EXPECT_EQ(read("RGB_PAL_GREEN = " + list(green) + "\n"), 0);
  EXPECT_EQ(palette_rgb(0)[0], 100);
  EXPECT_EQ(palette_rgb(31)[2], 195);
}

TEST_F(DataFile, ShortOrLongPalettesAreDropped) {
  set_setting(kw::COLOUR_SCREEN, 1);
  std::vector<int> base = palette_values(1);
  ASSERT_EQ(read("RGB_PAL_COLOUR = " + list(base) + "\n"), 0);
  std::vector<int> short95(base.begin(), base.begin() + 95);
  std::vector<int> other = palette_values(50);
  // 95 values and a new keyword: the keyword is no number.
  EXPECT_EQ(read("RGB_PAL_COLOUR = " + list(short95) + ",\nKEYTAB_UK = 1,2,3,4,-1\n"
                 "RGB_PAL_COLOUR = " + list(other) + " 5\n"
                 "RGB_PAL_COLOUR = " + list(other) + ",5\n"),
            3) << output;
  EXPECT_NE(output.find("(RGB_PAL_COLOUR) not a value at column 1, line 2"), std::string::npos) << output;
  // The rest of the keyword's line went with the broken palette.
  EXPECT_TRUE(reader->tables.key_tables[0].empty());
  // After the 96th value the statement ends: a stray number or ',' is no keyword, but
  // the palette before it is complete and applied.
  EXPECT_NE(output.find("Warning: no keyword at column 352, line 3"), std::string::npos);
  EXPECT_NE(output.find("Warning: no keyword at column 351, line 4"), std::string::npos);
  EXPECT_EQ(palette_rgb(0)[0], 50);
}

TEST_F(DataFile, StatementErrorsAndMissingFile) {
  EXPECT_EQ(read("KEYTAB_XX = 1\nKEYTAB_UK 1,2\n\"str\"\n"), 4) << output;
  EXPECT_NE(output.find("Warning: unknown keyword KEYTAB_XX at column 1, line 1"), std::string::npos);
  EXPECT_NE(output.find("Warning: '=' expected at column 11, line 2"), std::string::npos);

  set_data_file("/nonexistent/arvelo.dat");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  data missing;
  EXPECT_FALSE(missing.read());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent/arvelo.dat"), std::string::npos);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "DATA: Using /nonexistent/arvelo.dat\n");
}
