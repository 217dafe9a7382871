// Printer port, paged RAM expansion and mouse, through the ports the CPC uses.
#include <filesystem>
#include <sstream>
#include <string>

#include "hardware_fixture.h"
#include "test_support.h"

using namespace hwtest;

namespace {

using Expansions = Hardware;  // its set-up clears the PRINTER setting again

using testsupport::file_text;

void print(std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) port_out(0xEF00, b);
}

}  // namespace

TEST_F(Expansions, PrinterTakesTheByteOnTheStrobesFallingEdge) {
  const auto dir = testsupport::temp_dir("printer");
  const auto file = dir / "printer.txt";
  set_setting_text(kw::PRINTER, file.c_str());
  ASSERT_TRUE(printer_reset(ResetKind::POWER_ON));
  print({0x41, 0xC1, 0x41, 0x42, 0x0D});  // one falling edge: "A"
  print({0x8D, 0x0D});                    // carriage return: printed and flushed
  EXPECT_EQ(file_text(file), "A\r");
  port_out(0xF700, 0x80);
  port_out(0xF600, 0x20);  // PPI port C bit 5 is the data's bit 7
  print({0xB1, 0x31, 0x8D, 0x0D});
  EXPECT_EQ(file_text(file), "A\r\xB1\x8D");
  std::ostringstream dump;
  printer_dump(dump);
  EXPECT_EQ(dump.str(), "PRN :  by = 0D (PC LPT1=0000)\n");

  ports_reset(ResetKind::POWER_ON);  // the file starts again
  EXPECT_EQ(file_text(file), "");
  const auto bad = dir / "missing" / "p.txt";
  set_setting_text(kw::PRINTER, bad.c_str());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(printer_reset(ResetKind::POWER_ON));
  EXPECT_NE(testing::internal::GetCapturedStdout().find(bad.string()), std::string::npos);
  print({0xC1, 0x41});  // output is lost, nothing breaks
  EXPECT_FALSE(std::filesystem::exists(bad));
  std::filesystem::remove_all(dir);
}

TEST_F(Expansions, PagedExpansionMapsItsGroupInto32KHalves) {
  set_setting(kw::RAM_TYPE, 1);
  build_machine(576);
  port_out(0xFBBD, 0x23);  // enabled, group 3: banks 16..19
  port_out(0x7F00, 0xE0);  // page on, upper half
  EXPECT_BANKS(0, 1, 18, 19);
  port_out(0x7F00, 0x20);  // a pen write with bit 5: page on, lower half
  EXPECT_BANKS(16, 17, 2, 3);
  port_out(0x7F00, 0x89);  // bit 5 clear: page off
  EXPECT_BANKS(0, 1, 2, 3);
  port_out(0xFBBD, 0x03);  // disabled: the Gate Array no longer pages
  port_out(0x7F00, 0xE0);
  EXPECT_BANKS(0, 1, 2, 3);

  build_machine(192);  // one extra group: the group number is masked to 0..1
  port_out(0xFBBD, 0x27);
  port_out(0x7F00, 0xE0);
  EXPECT_BANKS(0, 1, 10, 11);
  build_machine(64);  // no expansion RAM: the base RAM stays
  port_out(0xFBBD, 0x27);
  port_out(0x7F00, 0xE1);
  EXPECT_BANKS(0, 1, 2, 3);
}

TEST_F(Expansions, MousePortReportsMovementThenButtons) {
  set_setting(kw::MOUSE_TYPE, 3);
  mouse_add_motion(9, 0);
  EXPECT_EQ(port_in(0xFD10), 0x42);
  EXPECT_EQ(port_in(0xFD10), 0x00);
  EXPECT_EQ(mouse_state().h, 1);
  mouse_reset(ResetKind::POWER_ON);
  mouse_add_motion(0, 5);
  EXPECT_EQ(port_in(0xFD10), 0xBD);  // vertical, -10 (two per step) in 6 bits
  EXPECT_EQ(mouse_state().v, -3);
  mouse_reset(ResetKind::POWER_ON);
  mouse_set_buttons(1 | 4);
  EXPECT_EQ(port_in(0xFD10), 0xC3);
  EXPECT_EQ(port_in(0xFD10), 0x00);  // no change since the last answer
  mouse_set_buttons(2);
  EXPECT_EQ(port_in(0xFD10), 0xC4);
  EXPECT_EQ(port_in(0xFD00), 0xFF);  // bit 4 clear: not the mouse
  set_setting(kw::MOUSE_TYPE, 1);
  mouse_add_motion(40, 40);
  EXPECT_EQ(port_in(0xFD10), 0x00);
}

TEST_F(Expansions, MouseOnTheJoystickRow) {
  set_setting(kw::MOUSE_TYPE, 1);
  port_out(0xF700, 0x82);
  port_out(0xF600, 0x40);
  port_out(0xF600, 0x49);  // row 9 after another row: phase 5
  mouse_add_motion(2, -1);
  mouse_set_buttons(4);
  EXPECT_EQ(keyboard_row(9), uint8_t(~(0x08 | 0x01 | 0x20)));
  EXPECT_EQ(keyboard_row(9), uint8_t(~(0x08 | 0x20)));  // one step towards 0 each
  EXPECT_EQ(keyboard_row(9), uint8_t(~0x20));

  // Type 2: horizontal after row 0, 100 µs window; vertical after row 6, 80 µs.
  mouse_reset(ResetKind::POWER_ON);
  set_setting(kw::MOUSE_TYPE, 2);
  microsecond_counter = 1000;
  port_out(0xF600, 0x40);
  port_out(0xF600, 0x49);
  mouse_add_motion(0x25, 0x13);
  microsecond_counter = 1050;
  EXPECT_EQ(keyboard_row(9) & 0x0F, 0x0D);  // high nibble of -0x25, inverted
  EXPECT_EQ(mouse_state().h, 0x05);
  microsecond_counter = 1101;
  EXPECT_EQ(keyboard_row(9) & 0x0F, 0x0B);
  EXPECT_EQ(mouse_state().h, 0);
  port_out(0xF600, 0x46);
  port_out(0xF600, 0x49);
  microsecond_counter += 81;
  EXPECT_EQ(keyboard_row(9) & 0x0F, 0x0D);
  EXPECT_EQ(mouse_state().v, 0x10);

  // Row 0 after row 6: phase 0; type 2 replaces the row's other direction bits.
  keyboard_set_directions(1);
  port_out(0xF600, 0x46);
  port_out(0xF600, 0x40);
  mouse_add_motion(3 - mouse_state().h, 0);
  EXPECT_EQ(keyboard_row(9) & 0x0F, 0x0D);
}
