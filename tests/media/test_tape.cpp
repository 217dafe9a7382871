// Tape bypass: the traps read and write host files in TAPE_PATH with the firmware's
// register conventions.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "core/machine.h"
#include "media/tape.h"
#include "test_support.h"
#include "z80/z80.h"
#include "z80/z80_bus.h"

namespace fs = std::filesystem;

namespace {

using testsupport::file_bytes;

// A file header as the firmware writes it: name (8 + 3 characters), type, load address,
// length, entry, 24-bit length and the sum of bytes 0-66.
std::vector<uint8_t> header_for(const char* name11, uint8_t type, uint16_t load, uint16_t length,
                                uint16_t entry, uint32_t length24) {
  std::vector<uint8_t> h(128, 0);
  std::memcpy(h.data() + 1, name11, 11);
  h[18] = type;
  h[21] = load & 0xFF; h[22] = load >> 8;
  h[24] = length & 0xFF; h[25] = length >> 8;
  h[26] = entry & 0xFF; h[27] = entry >> 8;
  h[64] = length24 & 0xFF; h[65] = length24 >> 8 & 0xFF; h[66] = length24 >> 16 & 0xFF;
  uint16_t sum = 0;
  for (int i = 0; i <= 66; ++i) sum = static_cast<uint16_t>(sum + h[i]);
  h[67] = sum & 0xFF; h[68] = sum >> 8;
  return h;
}

class Tape : public testing::Test {
 protected:
  fs::path dir = testsupport::temp_dir("tape");
  std::vector<uint8_t> ram = std::vector<uint8_t>(65536, 0);
  uint8_t* saved_read[4];
  uint8_t* saved_write[4];
  int saved_model = hardware_model();

  void SetUp() override {
    for (int q = 0; q < 4; ++q) {
      saved_read[q] = read_bank[q];
      saved_write[q] = write_bank[q];
      read_bank[q] = write_bank[q] = ram.data() + q * 16384;
    }
    set_hardware_model(model::CPC6128);
    set_setting_text(kw::TAPE_PATH, (dir.string() + "/").c_str());
    tape_close();
  }
  void TearDown() override {
    tape_close();
    for (int q = 0; q < 4; ++q) {
      read_bank[q] = saved_read[q];
      write_bank[q] = saved_write[q];
    }
    set_hardware_model(saved_model);
    fs::remove_all(dir);
  }
  // The firmware passes the file name as B characters at HL.
  void name(const std::string& n) {
    std::memcpy(ram.data() + 0x9000, n.data(), n.size());
    z80_reg8(z80r::B) = static_cast<uint8_t>(n.size());
    z80_reg16(z80w::HL) = 0x9000;
  }
  void write(const std::string& file, const std::vector<uint8_t>& bytes) {
    testsupport::write_bytes(dir / file, bytes);
  }
  uint8_t F() { return z80_reg8(z80r::F); }
  // Characters read one by one until the trap reports the end of the file.
  std::string read_characters() {
    std::string read;
    for (tape_trap(0xFC80); F() & 1; tape_trap(0xFC80))
      read.push_back(static_cast<char>(z80_reg8(z80r::A)));
    return read;
  }
  std::vector<uint8_t> header_of(const std::string& file) {
    const auto bytes = file_bytes(dir / file);
    return {bytes.begin(), bytes.begin() + std::min<size_t>(128, bytes.size())};
  }
};

}  // namespace

TEST_F(Tape, OpenFindsTheNameWithBasExtensionAndCopiesTheHeader) {
  auto file = header_for("GAME    BAS", 0, 0x170, 3, 0, 3);
  file.insert(file.end(), {1, 2, 3});
  write("GAME.BAS", file);
  name("game");  // found without regard to case
  tape_trap(0xFC77);
  // Carry, then the header's address in HL, load address, length and type.
  EXPECT_EQ((std::vector<int>{F() & 1, z80_reg16(z80w::HL), z80_reg16(z80w::DE), z80_reg16(z80w::BC),
                              z80_reg8(z80r::A)}),
            (std::vector<int>{1, 0xB1A4, 0x170, 3, 0}));
  EXPECT_EQ(ram[0xB1A4 + 1], 'G');

  // Read it whole to 0x4000.
  z80_reg16(z80w::HL) = 0x4000;
  tape_trap(0xFC83);
  EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 0x4000, ram.begin() + 0x4004),
            (std::vector<uint8_t>{1, 2, 3, 0}));
  EXPECT_EQ(F(), 1);
  tape_trap(0xFC83);  // already read directly: a failure
  EXPECT_EQ(F(), 0);
}

TEST_F(Tape, MissingFileHeaderlessFileAndZeroLength) {
  name("NOTHERE");
  tape_trap(0xFC77);
  EXPECT_EQ(F(), 0x40);

  write("TEXT.TXT", {'H', 'i', '\r'});
  name("TEXT.TXT");
  tape_trap(0xFC77);
  EXPECT_EQ(F() & 1, 1);
  EXPECT_EQ(z80_reg8(z80r::A), 0x16);
  EXPECT_EQ(read_characters(), "Hi\r");
  // A character returned with 0x86 is read again.
  z80_reg8(z80r::A) = 'X';
  tape_trap(0xFC86);
  tape_trap(0xFC80);
  EXPECT_EQ(z80_reg8(z80r::A), 'X');

  // A length of 0 in the header means the rest of the file.
  auto file = header_for("DATA    BIN", 2, 0x4000, 0, 0x4000, 0);
  file.insert(file.end(), 10, 0xAA);
  write("DATA.BIN", file);
  name("DATA.BIN");
  tape_trap(0xFC77);
  EXPECT_EQ(read_characters(), std::string(10, '\xAA'));
}

TEST_F(Tape, SaveBinaryWritesTheHeader) {
  name("PIC.BIN");
  tape_trap(0xFC8C);
  ASSERT_EQ(F() & 1, 1);
  // The data come from the RAM beneath the upper ROM.
  std::vector<uint8_t> rom(16384, 0xEE);
  read_bank[3] = rom.data();
  for (int i = 0; i < 16; ++i) ram[0xC000 + i] = static_cast<uint8_t>(i);
  z80_reg8(z80r::A) = 2;
  z80_reg16(z80w::HL) = 0xC000;
  z80_reg16(z80w::DE) = 16;
  z80_reg16(z80w::BC) = 0xC004;
  tape_trap(0xFC98);
  tape_trap(0xFC8F);
  auto expected = header_for("PIC     BIN", 2, 0xC000, 16, 0xC004, 16);
  for (int i = 0; i < 16; ++i) expected.push_back(static_cast<uint8_t>(i));
  EXPECT_EQ(file_bytes(dir / "PIC.BIN"), expected);
}

TEST_F(Tape, CharacterOutputOfABinaryFileGetsItsLengthOnClose) {
  name("LIST.BAS");
  tape_trap(0xFC8C);
  const uint16_t header = z80_reg16(z80w::HL);
  ram[header + 18] = 0;  // BASIC program, as the firmware fills in
  ram[header + 21] = 0x70; ram[header + 22] = 0x01;
  for (int i = 0; i < 300; ++i) {
    z80_reg8(z80r::A) = static_cast<uint8_t>(i);
    tape_trap(0xFC95);
  }
  tape_trap(0xFC8F);
  EXPECT_EQ(file_bytes(dir / "LIST.BAS").size(), 128u + 300u);
  EXPECT_EQ(header_of("LIST.BAS"), header_for("LIST    BAS", 0, 0x170, 300, 0, 300));

  // And it loads back with that length.
  name("LIST.BAS");
  tape_trap(0xFC77);
  EXPECT_EQ(z80_reg16(z80w::BC), 300);
}

TEST_F(Tape, NamesCannotLeaveTheTapeDirectory) {
  name("../escape.bin");
  tape_trap(0xFC8C);
  EXPECT_EQ(F(), 0x40);
  EXPECT_FALSE(fs::exists(dir.parent_path() / "escape.bin"));
}

TEST_F(Tape, UnknownTrapStepsBackAndStopRequestsTape) {
  z80_reg16(z80w::PC) = 0x1234;
  tape_trap(0xFC11);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x1233);
  z80_reg16(z80w::PC) = 0x1234;
  tape_trap(0xF911);  // another second byte: reported only
  EXPECT_EQ(z80_reg16(z80w::PC), 0x1234);

  clear_stop_request();
  tape_trap(0xFCFC);
  EXPECT_TRUE(stop_request_word & stopbit::TAPE);
  clear_stop_request();
}

// CAT prints through the firmware's TXT OUTPUT: each trap "calls" 0xBB5A with one
// character and the trap as the return address, until the listing is complete.
// The listing is sorted by name and gives each file's type and length.
TEST_F(Tape, CatalogIsPrintedThroughTxtOutput) {
  write("GAME", header_for("GAME       ", 0, 0x170, 5, 0, 5));
  write("NOTES", {'x', 'y'});
  auto screen = header_for("SCREEN  BIN", 2, 0x4000, 2000, 0, 2000);
  screen.resize(128 + 2000);
  write("SCREEN.BIN", screen);
  const auto expected = tape_catalog(dir.string() + "/");
  EXPECT_EQ(expected, (std::vector<std::string>{"GAME             $ 5", "NOTES            * 2",
                                                "SCREEN.BIN       & 2000"}));

  z80_reg16(z80w::SP) = 0xC000;
  z80_reg16(z80w::DE) = 0x1234;
  std::string printed;
  for (int guard = 0; guard < 1000; ++guard) {
    z80_reg16(z80w::PC) = 0x2003;  // just after the trap at 0x2000
    tape_trap(0xFC9B);
    if (z80_reg16(z80w::PC) != 0xBB5A) break;
    ASSERT_EQ(z80_reg16(z80w::SP), 0xBFFE);
    ASSERT_EQ(ram[0xBFFE] | ram[0xBFFF] << 8, 0x2000);
    printed.push_back(static_cast<char>(z80_reg8(z80r::A)));
    z80_reg16(z80w::SP) = 0xC000;  // TXT OUTPUT returns
  }
  EXPECT_EQ(printed, expected[0] + "\r\n" + expected[1] + "\r\n" + expected[2] + "\r\n");
  EXPECT_EQ(F(), 1);
  EXPECT_EQ(z80_reg16(z80w::PC), 0x2003);  // the RET after the trap goes back to the caller
  EXPECT_EQ(z80_reg16(z80w::DE), 0x1234);
}
