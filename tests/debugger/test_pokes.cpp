// The poke database reader and the poke itself, on a database written by each test and
// a memory of four 16 KB blocks standing in for the processor's write banks.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "debugger/pokes.h"
#include "test_support.h"
#include "z80/z80_bus.h"

namespace {

class PokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int q = 0; q < 4; ++q) {
      saved_[q] = write_bank[q];
      write_bank[q] = ram_[q].data();
      ram_[q].fill(0);
    }
    path_ = (testsupport::temp_dir("pokes") / "pokes.dat").string();
  }
  void TearDown() override {
    for (int q = 0; q < 4; ++q) write_bank[q] = saved_[q];
  }
  // The database written with this text, then opened.
  bool open(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    return db.open(path_.c_str());
  }
  uint8_t& at(unsigned address) { return ram_[address >> 14][address & 0x3FFF]; }

  // The window's work without the window: the entry's pokes applied in order.
  std::string apply_entry(int n, long asked = 0) {
    std::string text, printed;
    auto ask = [&](long& v) { v = asked; return true; };
    if (!db.entry_text(text, n)) return "no entry";
    apply_poke(text.c_str() + pokes::POKE_COLUMN, printed, ask);
    while (db.next_poke_text(text)) {
      printed += "|";
      apply_poke(text.c_str() + pokes::POKE_COLUMN, printed, ask);
    }
    return printed;
  }

  PokeDatabase db;
  std::array<std::array<uint8_t, 0x4000>, 4> ram_{};
  uint8_t* saved_[4] = {};
  std::string path_;
};

TEST_F(PokeTest, HeaderPokeMarksMismatchedCheckAndQuestionMarksNeverStar) {
  ASSERT_TRUE(open(
      "; a comment line with \"quotes\" is skipped\n"
      "no quotes: ignored\n"
      "\"0\",\"Game\",\"Infinite lives\",\"A\",\"4000\",\"C9\",\"00\"\n"
      "\"0\",\"Game\",\"Check unknown\",\"B\",\"4001\",\"12\",\"?\"\n"
      "\"0\",\"Game\",\"Value asked\",\"C\",\"C000\",\"?v\",\"3E\"\n"));
  at(0x4000) = 0x3E;
  at(0x4001) = 0x55;
  at(0xC000) = 0x3E;
  std::string text;
  ASSERT_TRUE(db.entry_text(text, 0));
  EXPECT_EQ(text, "Game                      Infinite lives            A 4000 C9 00");
  EXPECT_EQ(apply_entry(0), "4000 C9 (3E)*");
  EXPECT_EQ(at(0x4000), 0xC9);
  EXPECT_EQ(apply_entry(1), "4001 12 (55)");
  EXPECT_EQ(at(0x4001), 0x12);
  // The asked value is decimal; the check matches, so no star.
  EXPECT_EQ(apply_entry(2, 200), "C000 C8 (3E)");
  EXPECT_EQ(at(0xC000), 200);
  EXPECT_FALSE(db.entry_text(text, 3));
  EXPECT_EQ(text, "");
}

TEST_F(PokeTest, NumberedLinesEndAtABreakInTheNumberingAndBadPokesApplyNothing) {
  ASSERT_TRUE(open(
      "\"0\",\"Game\",\"Several\",\"\",\"4000\",\"01\",\"00\"\n"
      "\"1\",\"\",\"\",\"\",\"4001\",\"02\",\"00\"\n"
      "\"2\",\"\",\"\",\"\",\"4002\",\"03\",\"00\"\n"
      "\"4\",\"\",\"\",\"\",\"4004\",\"05\",\"00\"\n"
      "\"0\",\"Game\",\"Zero address\",\"\",\"0000\",\"AA\",\"00\"\n"
      "\"0\",\"Game\",\"Comment after\",\"X\";\"4005\",\"BB\",\"00\"\n"
      "\"0\",\"Game\",\"Not hex\",\"\",\"40G5\",\"BB\",\"00\"\n"
      "\"0\",\"Game\",\"No check\",\"\",\"4006\",\"BB\"\n"));
  EXPECT_EQ(apply_entry(0), "4000 01 (00)|4001 02 (00)|4002 03 (00)");
  EXPECT_EQ(at(0x4002), 3);
  EXPECT_EQ(at(0x4004), 0);
  // Address 0000 applies nothing (and the ROM-less byte 0 stays).
  EXPECT_EQ(apply_entry(1), "");
  EXPECT_EQ(at(0), 0);
  // A ';' behind the third field empties the rest of the line.
  std::string text;
  ASSERT_TRUE(db.entry_text(text, 2));
  EXPECT_EQ(text.substr(pokes::POKE_COLUMN), std::string(10, ' '));
  EXPECT_EQ(apply_entry(2), "");
  EXPECT_EQ(apply_entry(3), "");
  EXPECT_EQ(apply_entry(4), "");
  for (unsigned a = 0x4005; a <= 0x4006; ++a) EXPECT_EQ(at(a), 0) << a;
}

TEST_F(PokeTest, SeekingOnFromTheCachedEntryDoesNotRereadTheFile) {
  std::string db_text = "; header comment\n";
  for (int i = 0; i < 50; ++i) {
    // Over-long text columns are cut so the poke keeps its column.
    db_text += "\"0\",\"Program " + std::to_string(i) + std::string(30, 'x') +
               "\",\"poke\",\"\",\"4000\",\"01\",\"00\"\n\"1\",\"\",\"\",\"\",\"4001\",\"02\",\"00\"\n";
  }
  ASSERT_TRUE(open(db_text));
  std::string text;
  ASSERT_TRUE(db.entry_text(text, 40));
  EXPECT_EQ(text.substr(0, 11), "Program 40x");
  EXPECT_EQ(text.substr(pokes::POKE_COLUMN), "4000 01 00");
  long lines = db.lines_read();
  ASSERT_TRUE(db.entry_text(text, 41));
  EXPECT_EQ(text.substr(0, 11), "Program 41x");
  EXPECT_LE(db.lines_read() - lines, 4);
  // Going back starts again from the top, and still finds the right entry.
  ASSERT_TRUE(db.entry_text(text, 3));
  EXPECT_EQ(text.substr(0, 10), "Program 3x");
  EXPECT_EQ(db.seek_entry(60), 50);
  EXPECT_FALSE(db.entry_text(text, 50));
}

}  // namespace
