// Port decoder and Gate Array, driven by OUT and IN as the CPC software does.
#include <sstream>
#include <string>
#include <vector>

#include "core/host.h"
#include "hardware_fixture.h"
#include "video/gate_array.h"

using namespace hwtest;

using Ports = Hardware;

TEST_F(Ports, GateArrayFunctions) {
  ga_set_interrupt_state(30, true, -1);
  port_out(0x7F00, 0x8D);  // mode 1, both ROMs off, counter kept
  EXPECT_EQ(gate_array().mode, 1);
  EXPECT_EQ(memory_view().rom_state, 3);
  EXPECT_EQ(ga_interrupt_counter(), 30);
  EXPECT_TRUE(ga_interrupt_pending());
  port_out(0x7F00, 0x99);  // mode 1, lower ROM on, upper off, counter reset
  EXPECT_EQ(memory_view().rom_state, 2);
  EXPECT_EQ(ga_interrupt_counter(), 0);
  EXPECT_FALSE(ga_interrupt_pending());
  EXPECT_EQ(peek(0x0000), 0xEE);

  port_out(0x7F00, 0x03);  // pen 3, ink 11
  port_out(0x7F00, 0x4B);
  port_out(0x7F00, 0x1F);  // bit 4: the border, whatever the low bits
  port_out(0x7F00, 0x7F);  // ink bits above 5 are dropped
  port_out(0x7F00, 0xC2);
  EXPECT_BANKS(4, 5, 6, 7);
  // Ink 3 is 0B and the border 1F.
  std::ostringstream dump;
  ga_dump(dump);
  EXPECT_EQ(dump.str(),
            "GA  :  inknum = 10, multi = 99, mode = 1, ramconf = 02\n"
            "GA  :  inkval 0..16: 00 00 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 1F\n");
}

TEST_F(Ports, CrtcRegisterPortsPerType) {
  set_setting(kw::CRTC_TYPE, 0);
  port_out(0xBC00, 12);
  port_out(0xBD00, 0x30);
  EXPECT_EQ(port_in(0xBF00), 0x30);
  set_setting(kw::CRTC_TYPE, 1);
  EXPECT_EQ(port_in(0xBF00), 0x00);  // only 14 and 15 read back on type 1
  EXPECT_EQ(port_in(0xBD00), 0xFF);  // reading the write port writes 0xFF
  EXPECT_EQ(crtc_copy(12), 0xFF);
}

TEST_F(Ports, UpperRomLatchSelectsOnlyOnChange) {
  port_out(0xDF00, 7);
  EXPECT_EQ(memory_view().upper_rom_nr, 7);
  select_upper_rom(0);  // the banking moves on behind the latch's back
  port_out(0xDF00, 7);  // same value as the latch: no selection
  EXPECT_EQ(memory_view().upper_rom_nr, 0);
  port_out(0xDF00, 6);
  EXPECT_EQ(memory_view().upper_rom_nr, 6);
  std::ostringstream dump;
  upper_rom_dump(dump);
  EXPECT_EQ(dump.str(), "UROM:  upper_rom_nr = 06\n");
}

TEST_F(Ports, LineDecodedOutReachesEveryDeviceWithALowLine) {
  const uint8_t multi = gate_array().multi;
  port_out(0x0000, 0x89);
  EXPECT_EQ(crtc_selected(), 9);
  EXPECT_EQ(memory_view().upper_rom_nr, 0x89);
  EXPECT_EQ(printer_latch(), 0x89);
  EXPECT_EQ(ppi_byte(0), 0x89);
  EXPECT_EQ(paged_expansion_state().flag3, 1);   // the paged expansion's register saw it
  EXPECT_EQ(gate_array().multi, multi);  // A14 low, bits 7-6 00: no Gate Array

  port_out(0x7E00, 0x05);  // A15 low, A14 high: the Gate Array alone
  EXPECT_EQ(gate_array().pen, 5);
  port_out(0xBC00, 4);
  port_out(0x3D00, 0x21);  // A15 and A14 low, A9-A8 = 01: CRTC write only
  EXPECT_EQ(crtc_copy(4), 0x21);
  EXPECT_EQ(gate_array().pen, 5);
}

TEST_F(Ports, LineDecodedInLetsTheLaterDeviceWin) {
  set_setting(kw::CRTC_TYPE, 1);
  port_out(0xF782, 0x82);
  port_out(0xF600, 0x0F);
  EXPECT_EQ(port_in(0xF200), 0x0F);  // A11 low, A9-A8 = 10: port C
  const uint8_t status = fdc_read_status();
  ASSERT_NE(status, 0x0F);
  EXPECT_EQ(port_in(0xF27E), status);  // A10 low and 0x7E: the FDC replaces port C
  EXPECT_EQ(port_in(0xBA00), crtc_read_status());  // CRTC status, A11 high
  EXPECT_EQ(port_in(0xB200), 0x0F);                // status, then port C
  set_setting(kw::CRTC_TYPE, 0);
  EXPECT_EQ(port_in(0xBA00), 0xFF);  // no status port on type 0
  EXPECT_EQ(port_in(0xB100), ppi_port_b_input());
  EXPECT_EQ(port_in(0x7F00), 0xFF);
}

TEST_F(Ports, RegisterPortAlternatesSelectAndStore) {
  port_out(0xEE00, 5);
  port_out(0xEE00, 0x77);
  EXPECT_EQ(port_in(0xEE00), 5);  // at select: the index
  testing::internal::CaptureStdout();
  port_out(0xEE00, 0x80);  // out of range: index kept, flip-flop moves on
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "kc_port::put: register 80 out of range!\n");
  EXPECT_EQ(port_in(0xEE00), 0x77);  // at store: the byte
  port_out(0xEE00, 0x99);
  EXPECT_EQ(register_port_value(5), 0x99);
}

TEST_F(Ports, UnassignedFExxAccessRaisesThePortStop) {
  port_out(0xFE01, 0x12);
  EXPECT_TRUE(stop_request_word & stopbit::PORT_ACCESS);
  EXPECT_EQ(port_break_record().port, 0xFE01);
  EXPECT_EQ(port_break_record().value, 0x12);
  EXPECT_EQ(port_break_record().kind, 2);
  testing::internal::CaptureStdout();
  ports_report_undecoded();
  EXPECT_NE(testing::internal::GetCapturedStdout().find("FE01"), std::string::npos);

  clear_stop_request();
  EXPECT_EQ(port_in(0xFE40), 0xFF);
  EXPECT_EQ(port_break_record().kind, 1);
  EXPECT_TRUE(stop_request_word & stopbit::PORT_ACCESS);

  clear_stop_request();
  port_out(0xFEE8, 1);
  EXPECT_EQ(port_in(0xFEEA), 0xFF);
  set_setting(kw::M4_ENABLED, 1);
  port_out(0xFE00, 1);  // the M4 board's data port
  EXPECT_EQ(stop_request_word, 0u);
  set_setting(kw::M4_ENABLED, 0);
  port_out(0xFE00, 1);
  EXPECT_TRUE(stop_request_word & stopbit::PORT_ACCESS);
}

TEST_F(Ports, LargeExpansionTakesConfigurationBitsFromTheAddress) {
  static std::vector<std::string> notices;
  host.show_notice = [](const char* text, int) { notices.push_back(text); };
  build_machine(4096, {255, 0});
  port_out(0x7BC4, 0xC4);
  EXPECT_EQ(memory_view().ram_config, 0x104);
  EXPECT_BANKS(0, 4 * 32 + 4, 2, 3);
  port_out(0x7AC4, 0xC5);  // A10-A8 = 010: configuration 0x145
  EXPECT_EQ(memory_view().ram_config, 0x145);
  EXPECT_EQ(notices, std::vector<std::string>{"Pelko Memory Extension active!"});  // once per run

  build_machine(576);  // up to 576 KB: an ordinary Gate Array write
  port_out(0x7BC4, 0xC4);
  EXPECT_EQ(gate_array().ram_config, 4);
  host_install_headless();
}

TEST_F(Ports, GateArraySnapshotRoundTrip) {
  for (uint8_t v : {0x02, 0x4C, 0x10, 0x55, 0x8E, 0xC7}) port_out(0x7F00, v);
  std::stringstream block;
  ASSERT_EQ(ga_save(block), 0);
  std::string saved = block.str();
  ASSERT_EQ(saved.size(), size_t(GA_BLOCK_SIZE));
  EXPECT_EQ(saved.substr(18), "\x8E\x07");

  ports_reset(ResetKind::POWER_ON);
  ga_set_interrupt_state(20, false, -1);
  saved[0] = 40;                        // pen above 16 loads as 16
  saved[1] = char(0xE3);                // inks are masked to 5 bits
  saved[18] = char(0x99);               // counter reset, lower ROM on, upper off, mode 1
  std::stringstream in(saved);
  ASSERT_EQ(ga_load(in), 0);
  std::ostringstream dump;
  ga_dump(dump);
  EXPECT_EQ(dump.str(),
            "GA  :  inknum = 10, multi = 99, mode = 1, ramconf = 07\n"
            "GA  :  inkval 0..16: 03 00 0C 00 00 00 00 00 00 00 00 00 00 00 00 00 15\n");
  EXPECT_EQ(ga_interrupt_counter(), 0);
  EXPECT_EQ(memory_view().rom_state, 2);
  EXPECT_BANKS(0, 7, 2, 3);
  std::stringstream short_block(saved.substr(0, 10));
  EXPECT_EQ(ga_load(short_block), 1);
}
