// PPI ports, the sound generator bus and the keyboard matrix, through the PPI's ports.
#include <sstream>
#include <string>
#include <vector>

#include "hardware_fixture.h"

using namespace hwtest;

namespace {

constexpr int KEY_A = 4, KEY_B = 5, KEY_KP1 = 89;
constexpr int key(int row, int bit) { return row | (bit << 4); }

class Keyboard : public Hardware {
 protected:
  void SetUp() override {
    Hardware::SetUp();
    keyboard_release_host_keys();
    keyboard_host_modifiers(hostkey::MOD_NUM);
    joystick_host_state(0, 0, 0, 0, 0);
    joystick_host_state(1, 0, 0, 0, 0);
    // A: row 8 bit 5, shifted row 8 bit 0, AltGr row 3 bit 1. B: row 6 bit 6.
    // Keypad 1: row 1 bit 5, without Num Lock row 7 bit 2. Then a group left out.
    const std::vector<int> table = {KEY_A,   key(8, 5), key(8, 0), key(3, 1),
                                    KEY_B,   key(6, 6), key(6, 6), key(6, 6),
                                    KEY_KP1, (key(7, 2) << 20) | key(1, 5), 0, 0,
                                    40,      255,       255,       255};
    set_setting(kw::KBD_LANGUAGE, 2);
    load_key_table(2, table.data(), int(table.size()));
  }

  // A row as the first read of a new keyboard scan (after row 15, the highest, any
  // row read starts one), so that queued key changes have reached the matrix.
  static uint8_t row_of_new_scan(int row) {
    keyboard_row(15);
    return keyboard_row(row);
  }

  // Register 14 selected, bus read of keyboard row `row`, then port A read.
  uint8_t scan_row(int row) {
    port_out(0xF700, 0x82);
    port_out(0xF400, 14);
    port_out(0xF600, 0xC0);
    port_out(0xF600, uint8_t(0x40 | row));
    return port_in(0xF400);
  }
};

}  // namespace

TEST_F(Keyboard, JoysticksReadThroughRegister14) {
  joystick_host_state(0, 1, -20000, 0, 0);
  EXPECT_EQ(scan_row(9), 0xFB);
  joystick_host_state(0, 1, 20000, 20000, 3);  // right, down, both fire buttons
  EXPECT_EQ(scan_row(9), uint8_t(~(0x08 | 0x02 | 0x10 | 0x20)));
  joystick_host_state(0, 1, -16383, 16383, 0);  // inside the dead zone
  EXPECT_EQ(scan_row(9), 0xFF);
  joystick_host_state(1, 1, 0, -30000, 0);  // joystick 1 is row 6
  EXPECT_EQ(scan_row(6), 0xFE);
}

TEST_F(Keyboard, HostKeysThroughTheKeyTable) {
  EXPECT_EQ(key_table_size(), 3);
  keyboard_host_key(KEY_A, 1);
  EXPECT_EQ(row_of_new_scan(8), 0xDF);
  EXPECT_EQ(row_of_new_scan(2), 0xFF);
  keyboard_host_key(hostkey::LSHIFT, 1);
  EXPECT_EQ(row_of_new_scan(8), 0xFE);
  EXPECT_EQ(row_of_new_scan(2) & 0x20, 0);  // CPC SHIFT pressed
  keyboard_host_key(hostkey::LSHIFT, 0);
  keyboard_host_modifiers(hostkey::MOD_NUM | hostkey::MOD_RALT);
  EXPECT_EQ(row_of_new_scan(8), 0xFF);
  EXPECT_EQ(row_of_new_scan(3), 0xFD);
  keyboard_host_key(KEY_A, 0);
  row_of_new_scan(0);  // A's release has a scan to itself before the next press

  keyboard_host_key(KEY_KP1, 1);
  keyboard_host_modifiers(hostkey::MOD_NUM);
  EXPECT_EQ(row_of_new_scan(1), 0xDF);
  keyboard_host_modifiers(0);  // Num Lock off: the alternative mapping
  EXPECT_EQ(row_of_new_scan(1), 0xFF);
  EXPECT_EQ(row_of_new_scan(7), 0xFB);

  // A table for another language changes nothing; a scan code outside the host's
  // range is dropped; at most 216 entries are kept.
  const std::vector<int> other = {KEY_B, 1, 1, 1, -1};
  load_key_table(0, other.data(), int(other.size()));
  EXPECT_EQ(key_table_size(), 3);
  std::vector<int> big = {9999, 1, 1, 1};
  for (int i = 0; i < 300; ++i) big.insert(big.end(), {1 + i, key(i % 10, i % 8), 0, 0});
  load_key_table(2, big.data(), int(big.size()));
  EXPECT_EQ(key_table_size(), KEY_TABLE_MAX_ENTRIES);
  keyboard_release_host_keys();
  keyboard_host_key(217, 1);  // entry 216 (row 6) was not kept
  EXPECT_EQ(row_of_new_scan(6), 0xFF);
}

TEST_F(Keyboard, OverlaysTypingAndOnScreenJoystick) {
  keyboard_host_key(KEY_B, 1);
  keyboard_set_typing_active(true);  // typing holds the matrix as it is
  static int steps;
  steps = 0;
  set_keyboard_type_step([] {
    ++steps;
    keyboard_set_typing_key(0 | 2 << 4, true);
  });
  // Each scan (rows read upwards; a lower row starts the next) is one typing step.
  EXPECT_EQ(keyboard_row(6), 0xFF);
  EXPECT_EQ(keyboard_row(0), 0xFB);
  EXPECT_EQ(keyboard_row(9), 0xFF);
  EXPECT_EQ(steps, 2);
  for (int row = 0; row < 10; ++row) keyboard_row(row);
  EXPECT_EQ(steps, 3);
  keyboard_set_typing_active(false);
  set_keyboard_type_step(nullptr);
  keyboard_clear_typing();
  keyboard_set_vkbd_key(6, true);
  EXPECT_EQ(row_of_new_scan(6), 0xBE);

  // On-screen joystick (1 left, 2 right, 4 up, 8 down; fire 1, 2, 4) on row 9.
  keyboard_set_directions(1 | 4);
  keyboard_set_fire(1);
  EXPECT_EQ(row_of_new_scan(9), uint8_t(~(0x04 | 0x01 | 0x10)));
  // JOY0_CURSOR_KEYS 2: the CPC's cursor keys and COPY instead.
  set_setting(kw::JOY0_CURSOR_KEYS, 2);
  EXPECT_EQ(row_of_new_scan(9), 0xFF);
  EXPECT_EQ(row_of_new_scan(0), 0xFE);
  EXPECT_EQ(row_of_new_scan(1), uint8_t(~0x03));
  // JOY0_CURSOR_KEYS 1: host cursor keys, left Alt and left Ctrl are joystick 0.
  set_setting(kw::JOY0_CURSOR_KEYS, 1);
  keyboard_set_directions(0);
  keyboard_set_fire(0);
  // The releases have a scan to themselves, and up, just let go, stays up a scan more.
  EXPECT_EQ(row_of_new_scan(9), 0xFF);
  EXPECT_EQ(row_of_new_scan(9), 0xFF);
  keyboard_host_key(hostkey::UP, 1);
  keyboard_host_key(hostkey::LCTRL, 1);
  EXPECT_EQ(row_of_new_scan(9), uint8_t(~(0x01 | 0x20)));
}

TEST_F(Keyboard, PsgBusSelectWriteRead) {
  port_out(0xF700, 0x82);
  port_out(0xF400, 7);
  port_out(0xF600, 0xC0);  // select
  port_out(0xF600, 0x00);  // inactive: the next port A byte is only latched
  port_out(0xF400, 0x38);
  EXPECT_EQ(psg_selected(), 7);
  port_out(0xF600, 0x80);  // write
  EXPECT_EQ(psg_read(7), 0x38);
  port_out(0xF400, 0x11);  // bus still at write: straight into the register
  EXPECT_EQ(psg_read(7), 0x11);
  port_out(0xF600, 0x00);
  port_out(0xF400, 0x00);
  port_out(0xF600, 0x40);  // read
  EXPECT_EQ(ppi_byte(0), 0x11);
  port_out(0xF700, 0x92);  // port A input: port C's bus functions do nothing
  port_out(0xF400, 0x03);
  port_out(0xF600, 0xC0);
  EXPECT_EQ(psg_selected(), 7);
  EXPECT_EQ(port_in(0xF400), 0x11);
}

TEST_F(Keyboard, PortBAndModeWrites) {
  set_setting(kw::CRTC_TYPE, 1);
  port_out(0xF700, 0x80);  // all outputs
  port_out(0xF500, 0x54);
  EXPECT_EQ(port_in(0xF500), 0x54);
  port_out(0xF600, 0x3C);
  port_out(0xF700, 0x82);  // mode write: port C 0, port B input
  EXPECT_EQ(port_in(0xF600), 0x00);
  port_out(0xF500, 0xAA);  // ignored
  port_out(0xF700, 0x80);
  EXPECT_EQ(port_in(0xF500), 0x54);
  set_setting(kw::CRTC_TYPE, 3);  // type 3 always reads the status lines
  EXPECT_EQ(port_in(0xF500), ppi_port_b_input());

  set_setting(kw::COMPANY_NAME, 7);
  set_setting(kw::PPI_50HZ, 1);
  set_setting(kw::PPI_EXP_SIGNAL, 0);
  keyboard_reset(ResetKind::APPLY_SETTINGS);
  ASSERT_FALSE(vsync_active());
  EXPECT_EQ(port_in(0xF500), 0x1E);
  std::ostringstream dump;
  ppi_dump(dump);
  EXPECT_EQ(dump.str(), "PPI :  portA = 00, portB = 1E, portC = 00, portCtl = 80\n");
}

TEST_F(Keyboard, PpiSnapshotRoundTrip) {
  port_out(0xF700, 0x82);
  port_out(0xF400, 0x5A);
  port_out(0xF600, 0x2F);
  std::stringstream block;
  ASSERT_EQ(ppi_save(block), 0);
  EXPECT_EQ(block.str(), std::string("\x5A\x3E\x2F\x82", 4));
  keyboard_reset(ResetKind::POWER_ON);
  std::stringstream in(std::string("\x5A\xC3\x2F\x82", 4));  // port B: bits 5-1 only
  ASSERT_EQ(ppi_load(in), 0);
  uint8_t now[PPI_BLOCK_SIZE];
  ppi_save(now);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(now), 4), std::string("\x5A\x02\x2F\x82", 4));
  std::stringstream short_block(std::string(3, '\0'));
  EXPECT_EQ(ppi_load(short_block), 1);
}
