// Disc images in the drives: refusal of bad files, write protection of read-only files,
// over-long sectors, and the autostart search and typing text.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "disc_support.h"
#include "hardware/memory.h"

using namespace disc;

namespace {

// Sets or clears the immutable flag of a file (the super-user ignores permissions).
bool set_immutable(const std::string& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY);
  int flags = 0;
  bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

// A data-format image whose directory (track 0, C1..C4) holds the given 32-byte entries
// made from (user, 11 name characters, hidden, extent).
struct Entry {
  uint8_t user;
  const char* name11;
  bool hidden;
  uint8_t extent = 0;
};
Bytes image_with_directory(const std::vector<Entry>& entries) {
  Bytes image = build_image(false, 3, 1, data_format_track);
  std::fill_n(image.begin() + 512, 2048, 0xE5);
  for (size_t i = 0; i < entries.size(); i++) {
    uint8_t* e = image.data() + 512 + 32 * i;
    std::memset(e, 0, 32);
    e[0] = entries[i].user;
    std::memcpy(e + 1, entries[i].name11, 11);
    e[10] |= entries[i].hidden ? 0x80 : 0;
    e[12] = entries[i].extent;
  }
  return image;
}

// The system format: sectors 0x41..0x49.
TrackSpec system_track(int t, int s) {
  TrackSpec ts = data_format_track(t, s);
  for (auto& sp : ts.sectors) sp.r = static_cast<uint8_t>(sp.r - 0x80);
  return ts;
}

// The name autostart chooses on drive A, "(none)" when it chooses none.
std::string autostart_name() {
  const char* name = drive_autostart_name(0);
  return name ? name : "(none)";
}

}  // namespace

using DskTest = DiscTest;

TEST_F(DskTest, InsertRefusesFilesThatAreNotImages) {
  Bytes good = build_image(false, 10, 1, data_format_track);
  Bytes wrong = good;
  wrong[7] = 'X';
  for (const Bytes& bytes : {wrong, Bytes(good.begin(), good.begin() + 255)}) {
    drive_set_path(0, put_image("bad.dsk", bytes).c_str());
    EXPECT_FALSE(drive_insert(0));
    EXPECT_FALSE(drive_has_disc(0));
  }
  EXPECT_TRUE(disc_image_check_file((dir / "bad.dsk").c_str())) << "the signature of the short file is right";
  EXPECT_FALSE(disc_image_check_file(put_image("w.dsk", wrong).c_str()));
  EXPECT_FALSE(disc_image_check_file((dir / "missing.dsk").c_str()));
  drive_set_path(0, (dir / "missing.dsk").c_str());
  EXPECT_FALSE(drive_insert(0));
  EXPECT_FALSE(drive_eject(0)) << "nothing to eject";

  // A new disc is read under the head where it stands.
  insert(0, put_image("a.dsk", good));
  seek(0, 6);
  insert(0, put_image("b.dsk", build_image(true, 10, 1, data_format_track)));
  EXPECT_EQ(read_id(0).at(3), 6);
  EXPECT_EQ(read(0, 6, 0, 0xC2, 0xC2).data.at(9), pattern(6, 0, 0xC2, 9));
  insert(0, put_image("c.dsk", build_image(false, 3, 1, data_format_track)));
  EXPECT_EQ(read_id(0).at(1), 0x01) << "the head beyond the new disc's last track";
}

TEST_F(DskTest, ReadOnlyFileIsInsertedWriteProtected) {
  Bytes image = build_image(false, 1, 1, data_format_track);
  std::string path = put_image("ro.dsk", image);
  ::chmod(path.c_str(), 0444);
  struct Immutable {
    std::string path;
    bool on = false;
    ~Immutable() {
      if (on) set_immutable(path, false);
    }
  } guard{path};
  if (::geteuid() == 0 && !(guard.on = set_immutable(path, true)))
    GTEST_SKIP() << "cannot make a file unwritable for the super-user here";
  insert(0, path);
  command({0x04, 0x00});
  EXPECT_EQ(results(), (Bytes{0x70}));
  EXPECT_EQ(write(0, 0, 0, 0xC1, 0xC1, Bytes(512, 1)).result.at(1), 0x02);
  drive_eject(0);
  EXPECT_EQ(file_bytes(path), image);
}

// A sector longer than the controller's buffer, and one of 65535 bytes that runs past
// the file's end. (Images claiming more than their files hold, written to track by
// track, must keep their size: fuzz_dsk and fuzz_fdc.)
TEST_F(DskTest, LongSectorsAreCutToTheBuffer) {
  Bytes image = build_image(true, 2, 1, [](int, int) { return TrackSpec{{{1, 0, 9000}, {2, 0, 512}}}; });
  image[256 + 0x18 + 14] = 0xFF, image[256 + 0x18 + 15] = 0xFF;
  // The first 8 KB of a long sector are transferred; its full length places the next.
  insert(0, put_image("long.dsk", image));
  seek(0, 0);
  Transfer t = read(0, 0, 0, 1, 1);
  ASSERT_EQ(t.data.size(), 8192u);
  EXPECT_EQ(t.data[8191], pattern(0, 0, 1, 8191));
  EXPECT_EQ(read(0, 0, 0, 2, 2).data.at(0), pattern(0, 0, 2, 0));
  // Written, the sector that runs past the end leaves the file's size alone.
  write(0, 0, 0, 2, 2, Bytes(600, 0x5A));
  drive_eject(0);
  EXPECT_EQ(std::filesystem::file_size(dir / "long.dsk"), image.size());
}

TEST_F(DskTest, AutostartChoosesAmongDirectoryEntries) {
  set_setting(kw::DRIVE_A_AUTOSTART, 1);
  const std::vector<std::pair<std::vector<Entry>, const char*>> cases = {
      {{{0, "HIDE    BIN", true}, {0, "GAME    BAS", false}}, "GAME    .BAS"},
      {{{0, "LOADER  BIN", false}, {0, "MENU    BAS", false}}, "MENU    .BAS"},
      {{{0, "-INTRO  BIN", false}, {0, "MENU    BAS", false}}, "-INTRO  .BIN"},
      {{{0, "FIRST   BIN", false}, {0, "SECRET  BIN", true}}, "FIRST   .BIN"},
      {{{1, "USER1   BAS", false}, {0, "PART2   BAS", false, 1}, {0, "README  TXT", false},
        {0, "        BAS", false}, {0, "RUNME      ", false}},
       "RUNME   .   "},
      {{{0xE5, "DELETED BAS", false}}, "(none)"},
  };
  for (size_t i = 0; i < cases.size(); i++) {
    insert(0, put_image("d" + std::to_string(i) + ".dsk", image_with_directory(cases[i].first)));
    EXPECT_EQ(autostart_name(), cases[i].second) << i;
  }
  // A system disc: a boot sector starts CP/M; an empty one leaves it to the directory
  // on track 2.
  Bytes image = build_image(false, 3, 1, system_track);
  insert(0, put_image("cpm.dsk", image));
  EXPECT_EQ(autostart_name(), "|CPM");
  std::fill_n(image.begin() + 512, 4, 0xE5);
  const size_t directory = 256 + 2 * (256 + 9 * 512) + 256;
  std::fill_n(image.begin() + directory, 2048, 0xE5);
  std::memset(image.data() + directory, 0, 32);
  std::memcpy(image.data() + directory + 1, "SYSGAME BAS", 11);
  insert(0, put_image("sys.dsk", image));
  EXPECT_EQ(autostart_name(), "SYSGAME .BAS");
  set_setting(kw::DRIVE_A_AUTOSTART, 0);
  EXPECT_EQ(autostart_name(), "(none)") << "autostart switched off";
}

TEST_F(DskTest, AutostartText) {
  EXPECT_EQ(dsk_autostart_text("BOULDER .BAS", false), "run\"BOULDER .BAS\n");
  EXPECT_EQ(dsk_autostart_text("BOULDER .BAS", true), "|disc:run\"BOULDER .BAS\n");
  EXPECT_EQ(dsk_autostart_text("|CPM", false), "|CPM\n");
  // The prefix follows three bytes of the memory the processor sees.
  std::vector<uint8_t> ram(65536, 0);
  uint8_t* saved[4];
  for (int i = 0; i < 4; i++) saved[i] = read_bank[i], read_bank[i] = ram.data() + i * 16384;
  // {&A866, &BC79, &BC78, prefix needed}
  const std::tuple<uint8_t, uint8_t, uint8_t, bool> cases[] = {
      {1, 2, 3, false}, {1, 1, 3, true}, {1, 2, 0xA4, true}, {1, 0xFF, 0xFF, true}};
  for (auto [a866, bc79, bc78, needed] : cases) {
    ram[0xA866] = a866, ram[0xBC79] = bc79, ram[0xBC78] = bc78;
    EXPECT_EQ(dsk_autostart_needs_prefix(), needed) << int(bc79) << " " << int(bc78);
  }
  for (int i = 0; i < 4; i++) read_bank[i] = saved[i];
}

// A disc browsed without a drive (the file selector, an image entered as a directory):
// sectors by track, side and ID, and the AMSDOS directory of each format.
TEST_F(DskTest, ImageReadsSectorsAndDirectoryWithoutADrive) {
  DiscImage image;
  ASSERT_TRUE(disc_image_open(image, put_image("p.dsk", build_image(true, 4, 2, data_format_track)).c_str(), false));
  EXPECT_TRUE(image.extended);
  uint8_t buffer[DISC_DIRECTORY_SIZE];
  ASSERT_EQ(disc_image_read_sector(image, 3, 1, 0xC7, buffer, 512), 512);
  EXPECT_EQ(buffer[511], pattern(3, 1, 0xC7, 511));
  EXPECT_EQ(disc_image_read_sector(image, 3, 0, 0xD0, buffer, 512), -1);
  EXPECT_EQ(disc_image_read_sector(image, 4, 0, 0xC1, buffer, 512), -1) << "beyond the last track";
  ASSERT_TRUE(disc_image_read_directory(image, buffer));
  EXPECT_EQ(buffer[1536 + 5], pattern(0, 0, 0xC4, 5)) << "data format: track 0, C1..C4";
  disc_image_close(image);
  EXPECT_FALSE(disc_image_is_open(image));

  const std::string system = put_image("s.dsk", build_image(false, 3, 1, system_track));
  ASSERT_TRUE(disc_image_open(image, system.c_str(), false));
  ASSERT_TRUE(disc_image_read_directory(image, buffer));
  EXPECT_EQ(buffer[7], pattern(2, 0, 0x41, 7)) << "system format: track 2, 41..44";
  disc_image_close(image);
  EXPECT_FALSE(disc_image_open(image, put_image("bad.dsk", Bytes(300, 0x41)).c_str(), true));
  EXPECT_FALSE(disc_image_is_open(image));
}
