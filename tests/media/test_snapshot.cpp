// Snapshots: the SNA header's fields at their offsets, memory in configuration order,
// versions 1-3, the memory-size rules, and files that must be refused without touching
// the machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../hardware/hardware_fixture.h"
#include "config/messages.h"
#include "media/snapshot.h"
#include "test_support.h"
#include "video/gate_array.h"
#include "z80/z80.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

using testsupport::file_bytes;
using testsupport::write_bytes;

std::vector<std::string> shown;
void remember_shown(const char* text) { shown.emplace_back(text); }

class Snapshot : public hwtest::Hardware {
 protected:
  fs::path dir = testsupport::temp_dir("snapshot");
  int saved_model = hardware_model();

  void SetUp() override {
    hwtest::Hardware::SetUp();
    set_message_file((testsupport::bin_dir() + "/arvelo.msg").c_str());
    open_message_file();
    set_hardware_model(model::CPC6128);
    shown.clear();
    snapshot_set_message_hook(remember_shown);
  }
  void TearDown() override {
    snapshot_set_message_hook([](const char*) {});
    set_hardware_model(saved_model);
    fs::remove_all(dir);
    hwtest::Hardware::TearDown();
  }
  fs::path path(const std::string& name) { return dir / name; }

  // The machine's whole state as the snapshot writer sees it.
  Bytes state(int kb = 128) {
    EXPECT_EQ(snapshot_save(path("state.sna").c_str(), kb), 0);
    return file_bytes(path("state.sna"));
  }

  // A distinctive state in every unit a snapshot holds.
  void scramble() {
    for (int i = 0; i < z80r::BYTE_COUNT; ++i) z80_reg8(i) = static_cast<uint8_t>(0x31 + 7 * i);
    z80_reg8(z80r::IFF1) = IFF_SET;
    z80_reg8(z80r::IFF2) = 0;
    z80_reg8(z80r::IM) = 2;
    z80_reg8(z80r::IM_HIGH) = 0;
    for (int pen = 0; pen < 17; ++pen) {
      ga_write(static_cast<uint8_t>(pen == 16 ? 0x10 : pen));
      ga_write(static_cast<uint8_t>(0x40 | ((pen * 5 + 3) & 31)));
    }
    ga_write(0x05);                       // pen 5 selected
    ga_write(0x80 | 0x08 | 0x02);         // mode 2, upper ROM off
    ga_write(0xC0 | 0x06);                // RAM configuration 6
    for (int r = 0; r < 14; ++r) {
      crtc_select(r);
      crtc_write(static_cast<uint8_t>(r * 3 + 1));
    }
    crtc_select(9);
    upper_rom_port_write(7);
    ppi_write(3, 0x82);
    ppi_write(0, 0x5A);
    ppi_write(2, 0x34);
    const uint8_t psg[PSG_BLOCK_SIZE] = {11, 1, 2, 3, 4, 5, 6, 7, 0x38, 9, 10, 11, 12, 13, 14, 0xAA, 0x55};
    psg_load(psg);
    printer_set_latch(0x42);
    set_setting(kw::CRTC_TYPE, 2);
    fdc_write_motor(1);
    video_run(12345);
    for (int b = 0; b < 8; ++b) std::memset(bank_block(b), 0x10 + b, BANK_SIZE);
  }
};

TEST_F(Snapshot, SavedHeaderHoldsEveryFieldAtItsOffsetAndZerosElsewhere) {
  scramble();
  const Bytes f = state(128);
  ASSERT_EQ(f.size(), 256u + 128 * 1024);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "MV - SNA");
  // {offset, value}: version, F, I, IFF1, IFF2, PC, IM, H', pen, pen 16's colour, mode
  // and ROM bits, RAM configuration, CRTC register, R13, upper ROM, PPI A, C, control,
  // PSG register, PSG R7, memory size, model, motor, printer latch, CRTC type.
  const std::pair<int, int> fields[] = {
      {0x10, 3}, {0x11, z80_reg8(z80r::F)}, {0x1A, z80_reg8(z80r::I)}, {0x1B, 1}, {0x1C, 0},
      {0x23, z80_reg16(z80w::PC) & 0xFF}, {0x24, z80_reg16(z80w::PC) >> 8}, {0x25, 2},
      {0x2D, z80_reg8(z80r::H2)}, {0x2E, 5}, {0x2F + 16, (16 * 5 + 3) & 31}, {0x40, 0x8A},
      {0x41, 6}, {0x42, 9}, {0x43 + 13, 13 * 3 + 1}, {0x55, 7}, {0x56, 0x5A}, {0x58, 0x34},
      {0x59, 0x82}, {0x5A, 11}, {0x5B + 7, 0x38}, {0x6B, 128}, {0x6C, 0}, {0x6D, model::CPC6128},
      {0x9C, 1}, {0xA1, 0x42}, {0xA4, 2}};
  for (auto [at, value] : fields) EXPECT_EQ(f[at], value) << "offset " << std::hex << at;
  uint64_t us = 0;
  for (int i = 7; i >= 0; --i) us = us << 8 | f[0xB7 + i];
  EXPECT_EQ(us, microsecond_counter);
  for (auto [from, to] : {std::pair{0x09, 0x0F}, {0x6E, 0x9B}, {0x9F, 0xA0}, {0xA2, 0xA3},
                          {0xA5, 0xA8}, {0xAA, 0xAA}, {0xB1, 0xB1}, {0xC7, 0xFF}})
    for (int i = from; i <= to; ++i) EXPECT_EQ(f[i], 0) << "offset " << std::hex << i;
  // Memory: configuration 0 (banks 0-3), then configuration 2 (banks 4-7).
  for (int b = 0; b < 8; ++b) EXPECT_EQ(f[0x100 + b * BANK_SIZE + 77], 0x10 + b) << "bank " << b;
}

// Loaded from the configured path, the snapshot brings back the saved machine; the
// snapshot directory alone loads nothing.
TEST_F(Snapshot, LoadBringsBackTheSavedMachine) {
  scramble();
  const Bytes before = state();
  write_bytes(path("s.sna"), before);
  SetUp();  // a freshly reset machine
  ASSERT_NE(state(), before);
  snapshot_set_path(dir.c_str());
  EXPECT_EQ(snapshot_load_configured(), 0);
  EXPECT_NE(state(), before);
  snapshot_set_path(path("s.sna").c_str());
  EXPECT_STREQ(setting_text(kw::SNAPSHOT), path("s.sna").c_str());
  ASSERT_EQ(snapshot_load_configured(), 0);
  EXPECT_EQ(crtc_type(), 2);
  EXPECT_EQ(memory_view().ram_config, 6);
  EXPECT_EQ(state(), before);  // registers, memory and the microsecond counter
  snapshot_set_path(path("gone.sna").c_str());
  testing::internal::CaptureStdout();
  EXPECT_NE(snapshot_load_configured(), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(message_text(msg::SNAPSHOT_CANNOT_OPEN)), std::string::npos) << out;
  snapshot_set_path(nullptr);
}

TEST_F(Snapshot, LargerMemoryLayoutsUseConfigurationsEightKPlusTwo) {
  hwtest::build_machine(256);
  for (int b = 0; b < 16; ++b) std::memset(bank_block(b), 0x20 + b, BANK_SIZE);
  for (int kb : {64, 128, 256}) {
    const Bytes f = state(kb);
    ASSERT_EQ(f.size(), 256u + kb * 1024u);
    // 0-3, then configuration 2 (4-7), then configuration 10 (8-11), configuration 18 (12-15).
    for (int b = 0; b < kb / 16; ++b) EXPECT_EQ(f[0x100 + b * BANK_SIZE], 0x20 + b);
  }
  // A larger size than the configuration has: message 229, 64 KB saved.
  EXPECT_EQ(state(512).size(), 256u + 64 * 1024);
  EXPECT_EQ(shown, std::vector<std::string>{message_text(msg::SNAPSHOT_SAVE_SIZE_TOO_LARGE)});
}

TEST_F(Snapshot, VersionOneAndTwoLeaveTypeDiscCrtcTypeAndCountersAlone) {
  scramble();
  Bytes f = state();
  for (int version : {1, 2}) {
    SetUp();
    set_setting(kw::CRTC_TYPE, 1);
    video_run(777);
    const uint64_t us = microsecond_counter;
    set_hardware_model(model::CPC464);
    f[0x10] = static_cast<uint8_t>(version);
    for (int i = 0x6E; i <= 0x74; ++i) f[i] = 0xC3;  // v2's interrupt state: no effect
    write_bytes(path("v.sna"), f);
    testing::internal::CaptureStdout();
    ASSERT_EQ(snapshot_load(path("v.sna").c_str()), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(microsecond_counter, us);
    EXPECT_EQ(setting(kw::CRTC_TYPE), 1);
    EXPECT_EQ(fdc_motor_state(), 0);
    EXPECT_EQ(z80_reg16(z80w::PC), f[0x23] | f[0x24] << 8);
    EXPECT_EQ(bank_block(5)[100], 0x15);
    EXPECT_EQ(hardware_model(), model::CPC464);
    // Version 2 names the type it was made on (another type than this machine: 228).
    const bool v2 = version == 2;
    const std::string type_line =
        v2 ? "128K-Snapshot v2 " + std::string(message_text(232)) : "K-Snapshot";
    EXPECT_EQ(out.find(type_line) != std::string::npos, v2) << out;
    EXPECT_EQ(shown, v2 ? std::vector<std::string>{message_text(msg::SNAPSHOT_OTHER_MODEL)}
                        : std::vector<std::string>{});
  }
}

TEST_F(Snapshot, LargerSnapshotThanConfiguredLoadsItsFirst64K) {
  scramble();
  const Bytes f = state(128);
  write_bytes(path("big.sna"), f);
  hwtest::build_machine(64);
  testing::internal::CaptureStdout();
  ASSERT_EQ(snapshot_load(path("big.sna").c_str()), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(std::string(message_text(msg::SNAPSHOT_LARGER_THAN_RAM)) + " 128KB"), std::string::npos);
  EXPECT_EQ(shown, std::vector<std::string>{message_text(msg::SNAPSHOT_FIRST_64K_LOADED)});
  for (int b = 0; b < 4; ++b) EXPECT_EQ(bank_block(b)[9], 0x10 + b);

  // Only 64 KB would be taken, but a file that ends before its declared 128 KB is cut
  // short all the same: refused as too short, the machine untouched.
  write_bytes(path("cut.sna"), Bytes(f.begin(), f.end() - 1));
  const Bytes before = state(64);
  testing::internal::CaptureStdout();
  EXPECT_NE(snapshot_load(path("cut.sna").c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(message_text(238)) + " 128KB\n");
  EXPECT_EQ(state(64), before);
}

// Every refused file leaves the machine exactly as it was, with its message.
TEST_F(Snapshot, BadFilesAreRefusedWithoutTouchingTheMachine) {
  scramble();
  const Bytes good = state(128);
  struct Case {
    const char* what;
    long message;
    bool is_shown;
    Bytes file;
  };
  auto with = [&](int offset, std::initializer_list<uint8_t> bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + offset);
    return b;
  };
  const std::vector<Case> cases = {
      {"signature", 223, true, with(0, {'M', 'V', ' ', '-', ' ', 'S', 'N', 'B'})},
      {"ninth byte", 223, true, with(8, {1})},
      {"empty file", 223, true, Bytes{}},
      {"header cut short", 223, true, Bytes(good.begin(), good.begin() + 200)},
      {"version 0", 224, false, with(0x10, {0})},
      {"version 4", 224, false, with(0x10, {4})},
      {"size 0", 225, false, with(0x6B, {0, 0})},
      {"size 100", 225, false, with(0x6B, {100, 0})},
      {"size 65535", 225, false, with(0x6B, {0xFF, 0xFF})},
      {"memory cut short", 238, false, Bytes(good.begin(), good.end() - 1)},
      {"absurd size", 238, false, with(0x6B, {0xC0, 0xFF})},  // a size, but not in the file
  };
  for (const Case& c : cases) {
    write_bytes(path("bad.sna"), c.file);
    shown.clear();
    testing::internal::CaptureStdout();
    EXPECT_NE(snapshot_load(path("bad.sna").c_str()), 0) << c.what;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string text = message_text(c.message);
    if (c.is_shown) EXPECT_EQ(shown, std::vector<std::string>{text}) << c.what;
    else EXPECT_EQ(out.find(text), 0u) << c.what << ": " << out;
    EXPECT_EQ(state(128), good) << c.what;
  }
  for (const fs::path& p : {path("missing.sna"), dir}) {
    testing::internal::CaptureStdout();
    EXPECT_NE(snapshot_load(p.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(message_text(msg::SNAPSHOT_CANNOT_OPEN)) + " " + p.string() + "\n");
  }
  EXPECT_EQ(state(128), good);
  testing::internal::CaptureStdout();
  EXPECT_EQ(snapshot_save((dir / "no" / "such.sna").c_str(), 64), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find(message_text(msg::SNAPSHOT_CANNOT_OPEN)), 0u);
}

}  // namespace
