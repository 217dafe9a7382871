// The virtual SD image: the SD directory as a FAT32 card, checked with the Debian FAT
// tools (dosfstools, mtools), and the write-back of an image changed by them.
#include <sys/wait.h>
#include <utime.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "config/settings.h"
#include "hardware/memory.h"
#include "m4/m4_fixture.h"
#include "m4/vsd_image.h"
#include "z80/z80.h"

using namespace m4test;

namespace {

constexpr int SECTOR = 512;

// Runs a shell command; its exit status and what it printed (long names in UTF-8).
std::pair<int, std::string> shell(const std::string& command) {
  std::string out;
  std::FILE* p = ::popen(("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + command + " 2>&1").c_str(), "r");
  if (!p) return {-1, ""};
  std::array<char, 4096> buffer;
  while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), p)) out.append(buffer.data(), n);
  const int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// The files of the card with sizes that end inside, and on, sector boundaries.
const std::vector<std::pair<std::string, std::size_t>> FILES = {
    {"Long file name.text", 3000}, {"README.TXT", 512},   {"games/Space Game.bas", 1200},
    {"games/deeper/x.bin", 5},     {"empty.dat", 0},       {"a.b.c d+e", 700},
    {"Café menu.txt", 10},
};

class VirtualCard : public Board {
 protected:
  fs::path image;

  void SetUp() override {
    for (const char* tool : {"fsck.fat", "mdir", "mcopy"}) {
      if (shell(std::string("command -v ") + tool).first != 0) {
        if (testsupport::in_ci()) FAIL() << tool << " missing (scripts/install-deps.sh)";
        GTEST_SKIP() << tool << " not installed";
      }
    }
    Board::SetUp();
    image = base / "vsd.img";
    // Host files dated in the past: a change made now is seen as one.
    const struct utimbuf old = {1577880000, 1577880000};
    for (const auto& [name, size] : FILES) {
      write_file(sd / name, pattern(size, static_cast<int>(name.size())));
      ::utime((sd / name).c_str(), &old);
    }
  }
  void TearDown() override {
    set_setting(kw::M4_SDCARD_MODE, 0);
    Board::TearDown();
  }

  Bytes sectors(uint32_t first, int count) {
    send(0x4314, {static_cast<uint8_t>(first), static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first >> 16),
                  static_cast<uint8_t>(first >> 24), static_cast<uint8_t>(count)});
    if (status() != 0) return {};
    return Bytes(reply_area() + 4, reply_area() + 4 + count * SECTOR);
  }
  // A CPC reset: the processor runs from address 0 with the lower ROM on (one
  // instruction, then back).
  static void cpc_reset() {
    set_rom_state(2);
    z80_reg16(z80w::PC) = 0;
    stop_request_word |= stopbit::BREAK;
    z80_run();
    clear_stop_request();
  }
};

TEST_F(VirtualCard, FileImageIsFat32AndChangesGoBack) {
  start();  // mode 0: the image is a file beside the configuration
  EXPECT_FALSE(fs::exists(image));  // nothing is built before the first sector access
  const Bytes boot = sectors(0, 1);
  ASSERT_EQ(boot.size(), static_cast<std::size_t>(SECTOR));
  EXPECT_EQ(boot[510], 0x55);
  EXPECT_EQ(boot[511], 0xAA);
  EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 82), "CPCSD      ");
  ASSERT_TRUE(fs::exists(image));
  const Bytes written = read_file(image);
  EXPECT_EQ(boot, Bytes(written.begin(), written.begin() + SECTOR));
  // Short names are upper case in code page 850: "Café menu.txt" is "CAFÉME~1.TXT".
  const Bytes short_name{'C', 'A', 'F', 0x90, 'M', 'E', '~', '1', 'T', 'X', 'T'};
  EXPECT_NE(std::search(written.begin(), written.end(), short_name.begin(), short_name.end()), written.end());

  const auto [fsck_status, fsck_text] = shell("fsck.fat -n " + quoted(image));
  EXPECT_EQ(fsck_status, 0) << fsck_text;
  EXPECT_EQ(fsck_text.find("rror"), std::string::npos) << fsck_text;
  const auto [mdir_status, listing] = shell("mdir -i " + quoted(image) + " -/ ::");
  ASSERT_EQ(mdir_status, 0) << listing;
  EXPECT_NE(listing.find("Volume in drive : is CPCSD"), std::string::npos) << listing;
  for (const auto& [name, size] : FILES) {
    const std::string leaf = fs::path(name).filename().string();
    // mdir shows "BASE     EXT   size date time long name"; README.TXT has no long name.
    const std::size_t at = listing.find(leaf == "README.TXT" ? "README   TXT" : leaf);
    ASSERT_NE(at, std::string::npos) << name << " not listed:\n" << listing;
    const std::size_t from = listing.rfind('\n', at) + 1;  // the start of its line
    const std::string line = listing.substr(from, listing.find('\n', at) - from);
    EXPECT_NE(line.find(" " + std::to_string(size) + " "), std::string::npos) << line;
    const auto [copy_status, bytes] = shell("mcopy -n -i " + quoted(image) + " '::/" + name + "' -");
    EXPECT_EQ(copy_status, 0) << name;
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), pattern(size, static_cast<int>(name.size()))) << name;
  }

  // Change the card with mtools: a file replaced, a new one in a new folder, one deleted.
  write_text(base / "changed", "changed inside the image");
  EXPECT_EQ(shell("mcopy -o -i " + quoted(image) + " " + quoted(base / "changed") + " '::/games/Space Game.bas'").first, 0);
  EXPECT_EQ(shell("mmd -i " + quoted(image) + " '::/New folder'").first, 0);
  EXPECT_EQ(shell("mcopy -i " + quoted(image) + " " + quoted(base / "changed") + " '::/New folder/Brand new.txt'").first, 0);
  EXPECT_EQ(shell("mdel -i " + quoted(image) + " ::/README.TXT").first, 0);

  cpc_reset();  // the board is on: nothing goes back yet
  EXPECT_TRUE(vsd_file_open());
  EXPECT_FALSE(fs::exists(sd / "New folder"));
  set_setting(kw::M4_ENABLED, 0);
  testing::internal::CaptureStdout();
  cpc_reset();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(vsd_file_open());
  const Bytes changed = read_file(base / "changed");
  EXPECT_EQ(read_file(sd / "games" / "Space Game.bas"), changed);
  EXPECT_EQ(read_file(sd / "New folder" / "Brand new.txt"), changed);
  EXPECT_TRUE(fs::exists(sd / "README.TXT"));  // deleted in the image, kept on the host
  for (const auto& [name, size] : FILES) {
    if (name == "games/Space Game.bas") continue;
    EXPECT_EQ(read_file(sd / name), pattern(size, static_cast<int>(name.size()))) << name;
  }
}

TEST_F(VirtualCard, OtherModesServeTheSameSectorsFromMemory) {
  start();  // mode 0, the file image
  ASSERT_FALSE(sectors(0, 1).empty());
  const Bytes file = read_file(image);
  fs::remove(image);
  set_setting(kw::M4_SDCARD_MODE, 1);
  start();
  // Boot sector, FSInfo, the first FAT sector, the root directory and the data after it:
  // three sectors a packet, as many as a reply holds.
  const uint32_t data_start = 32 + 2 * (file[36] | (file[37] << 8) | (file[38] << 16));
  for (uint32_t first : {0u, 3u, 30u, 32u, data_start, data_start + 3, data_start + 6, data_start + 9}) {
    EXPECT_EQ(sectors(first, 3), Bytes(file.begin() + first * SECTOR, file.begin() + (first + 3) * SECTOR)) << first;
  }
  EXPECT_FALSE(fs::exists(image));
  // A sector the CPC writes reads back; sectors past the card's end are refused.
  Bytes p{1, 0, 0, 0, 1};
  p.resize(5 + SECTOR, 0x5A);
  EXPECT_EQ(send(0x4315, p)[3], 0);
  EXPECT_EQ(sectors(1, 1), Bytes(SECTOR, 0x5A));
  const uint32_t total = file[32] | (file[33] << 8) | (file[34] << 16) | (file[35] << 24);
  EXPECT_TRUE(sectors(total - 1, 2).empty());
}

}  // namespace

// The write-back takes any image (the fuzz seed: a small card with long names): its
// files appear below the SD directory, but a host link in their place is never written
// through.
TEST(VirtualCardWriteBack, FilesAppearButHostLinksAreNotFollowed) {
  const fs::path base = testsupport::temp_dir("vsd-writeback");
  const fs::path image = fs::path(testsupport::source_dir()) / "fuzz/corpus/fuzz_m4_vsd/small_card.img";
  fs::create_directories(base / "sd");
  testing::internal::CaptureStdout();
  ASSERT_TRUE(vsd_write_back(image.string(), (base / "sd").string()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(read_file(base / "sd" / "Hello there.txt"), Bytes({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}));
  const Bytes x = read_file(base / "sd" / "A folder" / "X.BIN");
  ASSERT_EQ(x.size(), 600u);
  EXPECT_EQ(x[255], 255);

  fs::remove_all(base / "sd");
  fs::create_directories(base / "sd");
  fs::create_directories(base / "outside");
  write_text(base / "outside" / "secret", "kept");
  fs::create_directory_symlink(base / "outside", base / "sd" / "A folder");
  fs::create_symlink(base / "outside" / "secret", base / "sd" / "Hello there.txt");
  testing::internal::CaptureStdout();
  EXPECT_TRUE(vsd_write_back(image.string(), (base / "sd").string()));
  const std::string told = testing::internal::GetCapturedStdout();
  EXPECT_NE(told.find("Hello there.txt is not a plain file on the host"), std::string::npos) << told;
  EXPECT_NE(told.find("A folder is not a directory on the host"), std::string::npos) << told;
  // That nothing outside changes is fuzz_m4_vsd's check, run on this same image and links.

  write_text(base / "not an image", "text");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(vsd_write_back((base / "not an image").string(), (base / "sd").string()));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("is not a FAT32 image"), std::string::npos);
  fs::remove_all(base);
}
