// The board's command port, its ROM, start-up and the ROM slot supply.
#include "m4/m4_fixture.h"

#include "z80/z80.h"

using namespace m4test;

namespace {

using M4Board = Board;

TEST_F(M4Board, PacketProtocolAndBoardReplies) {
  start();
  const std::string version = "\x1A\x26\x43M4 emulation\r\nESP none\r\n";
  const Bytes expected(version.begin(), version.end());
  EXPECT_EQ(send(0x4326), expected);

  // Codes outside the table leave the reply alone and empty the buffer: the next packet
  // is read from its first byte again.
  for (int code : {0x4300, 0x43FF, 0x4321}) {
    send(code, {1, 2, 3});
    EXPECT_EQ(reply(), expected) << std::hex << code;
    EXPECT_EQ(m4_board().command_length, 0u);
  }

  // A 2100-byte packet keeps its first 2047 bytes; the terminating zero is stored after them.
  for (int i = 0; i < 2100; ++i) port_out(0xFE00, static_cast<uint8_t>(i | 1));
  EXPECT_EQ(m4_board().command_length, 2047u);
  EXPECT_EQ(m4_board().command_buffer[2046], static_cast<uint8_t>(2046 | 1));
  port_out(0xFC00, 0);
  EXPECT_EQ(m4_board().command_buffer[2047], 0);

  // The message text comes back in parts: size = count + 2.
  send_text(0x4308, {}, {"/"});
  send(0x4313);
  EXPECT_EQ(send(0x4329, {0, 0, 1, 0}), (Bytes{3, 0x29, 0x43, '/'}));

  // The reset command resets the whole machine through the reset set-up attaches: the
  // processor starts again at address 0.
  z80_reg16(z80w::PC) = 0x1234;
  send(0x4322);
  EXPECT_EQ(z80_reg16(z80w::PC), 0);
}

TEST_F(M4Board, WritesIntoTheRomImage) {
  start();
  const uint8_t* rom = m4_board().rom_image;
  // 0x432D: text at 0xFF0A and its first two bytes at offset 0x14 of the configuration.
  send_text(0x432D, {}, {"AB"});
  EXPECT_EQ(rom[m4::ROM_TEXT], 'A');
  EXPECT_EQ(rom[CONFIG_ADDRESS - m4::ROM_BASE + m4::CONFIG_TEXT + 1], 'B');
  // 0x43FE: offset then data into the configuration area.
  send(0x43FE, {3, 0x11, 0x22});
  EXPECT_EQ(rom[CONFIG_ADDRESS - m4::ROM_BASE + 4], 0x22);
  // 0x43FD: address, count, target, data, with the address taken modulo 16 KB; a count
  // larger than the data writes only the data.
  send(0x43FD, {0x00, 0xE0, 9, 0, 0, 0x5A, 0x5B});
  EXPECT_EQ(Bytes(rom + 0x2000, rom + 0x2003), (Bytes{0x5A, 0x5B, 0x00}));
  // 0x43FC: copy within the image, addresses wrapping.
  send(0x43FC, {0x00, 0x30, 0, 0x00, 0x20, 0, 2, 0});
  EXPECT_EQ(Bytes(rom + 0x3000, rom + 0x3002), (Bytes{0x5A, 0x5B}));
  // The ROM slot shows the image to the CPC.
  select_upper_rom(m4_board().rom_slot);
  set_rom_state(0);
  EXPECT_EQ(hwtest::peek(0xE000), 0x5A);
}

// A ROM that cannot be read, a short one, or one with a byte of its name or of its reply
// area's address changed.
struct BadRom {
  const char* what;
  int size;        // bytes of the file, 0 for a directory in its place
  int at;          // offset changed (-1 none)
  uint8_t value;
  const char* message;
};

class M4Start : public Board, public ::testing::WithParamInterface<BadRom> {};

TEST_P(M4Start, ABadRomLeavesTheBoardOff) {
  const BadRom& p = GetParam();
  Bytes rom = board_rom();
  if (p.at >= 0) rom[p.at] = p.value;
  rom.resize(p.size);
  fs::remove(rom_dir / "M4.ROM");
  if (p.size) write_file(rom_dir / "M4.ROM", rom);
  else fs::create_directories(rom_dir / "M4.ROM");  // there, but no ROM to read
  testing::internal::CaptureStderr();
  EXPECT_EQ(m4_start(), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(p.message), std::string::npos);
  EXPECT_EQ(setting(kw::M4_ENABLED), 0);
  EXPECT_EQ(m4_board().rom_slot, -1);
  // &FE00 and &FC00 act as unused ports: nothing reaches the board.
  port_out(0xFE00, 5);
  EXPECT_EQ(m4_board().command_length, 0u);
}

// A reply area below the ROM, or one that would run past its end (2 KB from &FF00), is
// refused.
INSTANTIATE_TEST_SUITE_P(
    Roms, M4Start,
    ::testing::Values(BadRom{"unreadable", 0, -1, 0, "M4 ROM not found."},
                      BadRom{"short", 8000, -1, 0, "M4 ROM not valid."},
                      BadRom{"name", m4::ROM_SIZE, NAME_TABLE - m4::ROM_BASE + 7, 0, "M4 ROM not valid."},
                      BadRom{"reply_below", m4::ROM_SIZE, m4::AREA_REPLY + 1, 0x00, "M4 ROM not valid."},
                      BadRom{"reply_past_end", m4::ROM_SIZE, m4::AREA_REPLY + 1, 0xFF, "M4 ROM not valid."}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(M4Board, RomSlotsFromTheCard) {
  Bytes config(m4::ROM_CONFIG_SIZE, 0);
  config[m4::ROM_CONFIG_OWN_SLOT] = 6;
  const std::pair<int, uint8_t> states[] = {{3, 1}, {4, 2}, {5, 2}, {6, 1}};
  for (auto [slot, on] : states) config[m4::ROM_CONFIG_SLOTS + slot * m4::ROM_CONFIG_ENTRY] = on;
  Bytes slots(m4::ROM_SLOTS_SIZE, 0);
  for (int s = 0; s < m4::SLOT_COUNT; ++s) slots[s * m4::ROM_SIZE] = static_cast<uint8_t>(0x40 + s);
  write_file(sd / "m4" / "ROMCONFIG.BIN", config);
  write_file(sd / "m4" / "ROMSLOTS.BIN", slots);
  start();

  ASSERT_NE(m4_rom_for_slot(3), nullptr);
  EXPECT_EQ(m4_rom_for_slot(3)[0], 0x43);
  EXPECT_EQ(m4_rom_for_slot(4), nullptr);  // not yet kept
  EXPECT_EQ(m4_rom_for_slot(6), nullptr);  // the board's own slot
  EXPECT_EQ(m4_rom_for_slot(2), nullptr);  // off
  select_upper_rom(3);
  set_rom_state(0);
  EXPECT_EQ(hwtest::peek(0xC000), 0x43);

  // 0x4318 drops the temporary state of every slot but the one given; 0x432B keeps the
  // rest in the file.
  send(0x4318, {5, 0});
  send(0x432B);
  const Bytes saved = read_file(sd / "m4" / "ROMCONFIG.BIN");
  ASSERT_EQ(saved.size(), static_cast<size_t>(m4::ROM_CONFIG_SIZE));
  EXPECT_EQ(saved[m4::ROM_CONFIG_SLOTS + 4 * m4::ROM_CONFIG_ENTRY], 0);
  EXPECT_EQ(saved[m4::ROM_CONFIG_SLOTS + 5 * m4::ROM_CONFIG_ENTRY], 1);
  m4_reload_rom_config();
  EXPECT_NE(m4_rom_for_slot(5), nullptr);

  // With the board off the slots are the machine's own again.
  set_setting(kw::M4_ENABLED, 0);
  EXPECT_EQ(m4_rom_for_slot(3), nullptr);
}

TEST_F(M4Board, LowerRomOverrideAndNmiButton) {
  Bytes nmi(m4::ROM_SIZE, 0x77);
  write_file(sd / "NMIROM.BIN", nmi);
  start();
  set_rom_state(1 << 1);  // lower ROM on
  send(0x433D, {1});
  EXPECT_EQ(hwtest::peek(0x0000), m4_board().rom_image[0]);
  send(0x433D, {0});
  EXPECT_EQ(hwtest::peek(0x0000), hwtest::rom_marker(255));

  // The button makes the processor take an NMI, hands the machine's snapshot header to
  // the NMI ROM and shows that ROM at 0x0000 with the upper ROM off.
  send(0x4319);
  z80_reg16(z80w::PC) = 0x1234;
  z80_reg16(z80w::SP) = 0x8000;
  ASSERT_TRUE(m4_nmi_button());
  EXPECT_EQ(z80_reg16(z80w::PC), 0x0066);
  EXPECT_EQ(hwtest::peek(0x0000), 0x77);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m4_board().nmi_rom.data() + 0x100), 8), "MV - SNA");
  EXPECT_EQ(memory_view().rom_state, 2);
}

}  // namespace
