// The SD card's file and directory commands against a host directory.
#include <cstring>

#include "m4/m4_fixture.h"
#include "m4/sdcard.h"
#include "media/disc_support.h"

using namespace m4test;

namespace {

constexpr uint8_t READ = 0x00, WRITE = 0x02, ANY_SLOT = 0x80;

using Opened = std::pair<uint8_t, uint8_t>;  // an open's status and slot

class SdCard : public StartedBoard {
 protected:
  Opened open(uint8_t mode, const std::string& name) {
    const Bytes r = send_text(0x4301, {mode}, {name});
    return {r[3], r[4]};
  }
  Bytes read(uint8_t slot, int count) {
    const Bytes r = send(0x4302, {slot, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
    return Bytes(r.begin() + 4, r.end());
  }
  uint8_t write(uint8_t slot, const std::string& data) {
    Bytes p{slot};
    p.insert(p.end(), data.begin(), data.end());
    return send(0x4303, p)[3];
  }
};

TEST_F(SdCard, WriteReadCloseKeepsTheOldFileAsBak) {
  write_text(sd / "GAME.TXT", "old");
  uint8_t slot = 2;
  ASSERT_EQ(open(WRITE, "game.txt"), (Opened{0, slot}));
  EXPECT_EQ(write(slot, "new text"), 0);
  EXPECT_TRUE(fs::exists(sd / "GAME.$$$"));  // the old file stays until the close
  EXPECT_EQ(send(0x4304, {slot}), (Bytes{3, 0x04, 0x43, 0}));
  EXPECT_EQ(read_file(sd / "GAME.TXT"), Bytes({'n', 'e', 'w', ' ', 't', 'e', 'x', 't'}));
  EXPECT_EQ(read_file(sd / "GAME.BAK"), Bytes({'o', 'l', 'd'}));
  EXPECT_FALSE(fs::exists(sd / "GAME.$$$"));
  EXPECT_EQ(send(0x4304, {slot})[3], 0xFF);  // no longer open

  slot = 1;
  ASSERT_EQ(open(READ, "GAME.TXT"), (Opened{0, slot}));
  EXPECT_EQ(send(0x4311, {slot}), (Bytes{6, 0x11, 0x43, 8, 0, 0, 0}));
  EXPECT_EQ(read(slot, 3), Bytes({'n', 'e', 'w'}));
  EXPECT_EQ(send(0x430A, {slot}), (Bytes{5, 0x0A, 0x43, 3, 0, 0}));
  EXPECT_EQ(send(0x4307, {slot})[3], 0xFF);
  EXPECT_EQ(send(0x4305, {slot, 6, 0, 0, 0})[3], 0);
  EXPECT_EQ(send(0x4312, {slot, 10, 0}), (Bytes{7 + 2, 0x12, 0x43, 20, 2, 0, 8, 0, 'x', 't'}));
  EXPECT_EQ(send(0x4307, {slot})[3], 0);
  EXPECT_EQ(send(0x4302, {7, 1, 0})[3], 9);  // slot never opened
}

TEST_F(SdCard, HeaderDecidesTheExtensionAndSearchFindsIt) {
  // A file written without an extension gets the one its AMSDOS header asks for, and an
  // open without an extension finds it through ".BAS" and ".BIN".
  for (uint8_t type : {0, 2}) {
    Bytes file(200, 0);
    file[18] = type;
    int sum = 0;
    for (int i = 0; i < 67; ++i) sum += file[i];
    file[67] = static_cast<uint8_t>(sum);
    file[68] = static_cast<uint8_t>(sum >> 8);
    ASSERT_EQ(open(WRITE | ANY_SLOT, type ? "PROG2" : "PROG1"), (Opened{0, 3}));
    Bytes p{3, 200, 0};
    p.insert(p.end(), file.begin(), file.end());
    EXPECT_EQ(send(0x431B, p)[3], 0);
    send(0x4304, {3});
  }
  EXPECT_TRUE(fs::exists(sd / "PROG1.BAS"));
  EXPECT_TRUE(fs::exists(sd / "PROG2.BIN"));
  EXPECT_EQ(open(READ, "prog1").first, 0);
  EXPECT_EQ(open(READ, "prog2").first, 0);
  EXPECT_EQ(open(READ, "prog3"), (Opened{4, 0xFF}));

  // Slots 3-9 serve the any-slot opens; an eighth gets status 0x12.
  for (int i = 0; i < 7; ++i) EXPECT_EQ(open(READ | ANY_SLOT, "PROG1.BAS").second, 3 + i);
  EXPECT_EQ(open(READ | ANY_SLOT, "PROG1.BAS"), (Opened{0x12, 0}));
  m4_reset(ResetKind::POWER_ON);
  EXPECT_EQ(open(READ | ANY_SLOT, "PROG1.BAS").second, 3);
}

// A protected BASIC program as AMSDOS wrote it onto a disc (SAVE "PROT",P): its header,
// then records scrambled; the same program saved without P gives the plain bytes.
TEST_F(SdCard, ProtectedBasicIsUnscrambledAndStoredScrambled) {
  const Bytes plain_1{0x14, 0x00, 0x0A, 0x00, 0xBF, 0x20, 0x22, 0x48, 0x45, 0x4C, 0x4C, 0x4F};
  const Bytes stored_1{0xBF, 0x2C, 0xE7, 0xEA, 0xD3, 0x17, 0x1D, 0xA4, 0xDE, 0x93, 0x36, 0x43};
  const Bytes plain_2{0x45, 0x43, 0x4F, 0x52, 0x44, 0x53, 0x22, 0x00, 0x47, 0x00, 0x28, 0x00};
  const Bytes stored_2{0xEE, 0x6F, 0xA2, 0xB8, 0x28, 0x64, 0x1D, 0xEC, 0xDC, 0xDF, 0x52, 0x0C};
  Bytes header(128, 0);
  std::memcpy(&header[1], "PROT    BAS", 11);
  header[18] = 0x01;  // BASIC, protected
  header[21] = 0x70, header[22] = 0x01, header[24] = 0x5F, header[25] = 0x01, header[64] = 0x5F, header[65] = 0x01;
  int sum = 0;
  for (int i = 0; i < 67; ++i) sum += header[i];
  header[67] = static_cast<uint8_t>(sum), header[68] = static_cast<uint8_t>(sum >> 8);
  Bytes file = header;
  file.resize(128 + 256, 0);
  std::copy(stored_1.begin(), stored_1.end(), file.begin() + 128);
  std::copy(stored_2.begin(), stored_2.end(), file.begin() + 256);
  write_file(sd / "PROT.BAS", file);
  auto [status, slot] = open(READ, "prot");
  ASSERT_EQ(status, 0);
  Bytes got;
  for (int record = 0; record < 3; ++record) {
    const Bytes part = read(slot, 128);  // a reply's size byte counts no more than a record
    got.insert(got.end(), part.begin(), part.end());
  }
  ASSERT_EQ(got.size(), 384u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 128), header);
  EXPECT_EQ(Bytes(got.begin() + 128, got.begin() + 140), plain_1);
  EXPECT_EQ(Bytes(got.begin() + 256, got.begin() + 268), plain_2);

  // The CPC writing the plain program leaves the file as AMSDOS would have it.
  std::tie(status, slot) = open(WRITE, "COPY.BAS");
  ASSERT_EQ(status, 0);
  for (std::size_t at = 0; at < got.size(); at += 128)
    EXPECT_EQ(write(slot, std::string(got.begin() + at, got.begin() + at + 128)), 0);
  send(0x4304, {slot});
  const Bytes copy = read_file(sd / "COPY.BAS");
  ASSERT_EQ(copy.size(), got.size());
  EXPECT_EQ(Bytes(copy.begin() + 128, copy.begin() + 140), stored_1);
  EXPECT_EQ(Bytes(copy.begin() + 256, copy.begin() + 268), stored_2);
}

TEST_F(SdCard, ListingsShortAndLong) {
  send(0x4306, {0});  // an empty directory: only the code and a terminating zero
  EXPECT_EQ(Bytes(reply_area(), reply_area() + 4), (Bytes{2, 0x06, 0x43, 0}));

  write_text(sd / "Long file name.text", std::string(1500, 'x'));
  write_text(sd / "Long file two.text", "1");
  write_text(sd / "zz.bin", "");
  fs::create_directories(sd / "games");
  fs::permissions(sd / "zz.bin", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(listing(0), (std::vector<std::string>{">GAMES           ", "LONGFI~1.TEX   2K", "LONGFI~2.TEX   1K",
                                                   "ZZ      .BIN*  0K"}));
  EXPECT_EQ(listing(1), (std::vector<std::string>{">games", "Long file name.text    2K", "Long file two.text    1K",
                                                   "zz.bin*   0K"}));
  // Short names reach the files (a subdirectory's "." and "..": e2e.m4_open_rom).
  EXPECT_EQ(open(READ, "longfi~2.tex").first, 0);
  // The listing path narrows the listing with a pattern.
  send_text(0x4325, {}, {"/*.TEXT"});
  EXPECT_EQ(listing(1), (std::vector<std::string>{"Long file name.text    2K", "Long file two.text    1K"}));
}

TEST_F(SdCard, ShortNameGeneration) {
  std::vector<std::string> names{".", "..", "Short.txt", "Has space.c", "a.b.c", "tilde~x", "dir name"};
  std::vector<bool> dirs{true, true, false, false, false, false, true};
  EXPECT_EQ(m4::short_names(names, dirs), (std::vector<std::string>{".", "..", "SHORT.TXT", "HASSPA~1.C",
                                                                     "AB~1.C", "TILDE~~1", "DIRNAM~1"}));
  // The character after '~' runs from '1' through 79 values; those that differ only in
  // case from one made before ('a' to 'z') are passed over, so the 54th such name is
  // "TOOMANY.NMS".
  std::vector<std::string> many;
  for (int i = 0; i < 81; ++i) many.push_back("Longname" + std::to_string(i) + ".dat");
  const auto shorts = m4::short_names(many, std::vector<bool>(many.size(), false));
  EXPECT_EQ(shorts[0], "LONGNA~1.DAT");
  EXPECT_EQ(shorts[47], "LONGNA~`.DAT");
  EXPECT_EQ(shorts[48], "LONGNA~{.DAT");
  EXPECT_EQ(shorts[52], std::string("LONGNA~") + char('1' + 78) + ".DAT");
  EXPECT_EQ(shorts[53], "TOOMANY.NMS");
}

TEST_F(SdCard, NamesNeverLeaveTheCard) {
  write_text(base / "secret.txt", "outside");
  EXPECT_EQ(send_text(0x4308, {}, {"/../.."})[3], 0);
  EXPECT_EQ(send(0x4313), (Bytes{3, 0x13, 0x43, '/'}));
  for (const char* hostile : {"../secret.txt", "/../secret.txt", "A:../../secret.txt", "//..//secret.txt"}) {
    EXPECT_EQ(open(READ, hostile).first, 4) << hostile;
    auto [status, slot] = open(WRITE, hostile);
    ASSERT_EQ(status, 0) << hostile;
    write(slot, "in");
    send(0x4304, {slot});
    send_text(0x430E, {}, {hostile});
    send_text(0x4310, {}, {std::string(hostile) + "x"});
  }
  EXPECT_EQ(read_file(base / "secret.txt"), Bytes({'o', 'u', 't', 's', 'i', 'd', 'e'}));
  EXPECT_FALSE(fs::exists(base / "secret.txtx"));
  EXPECT_TRUE(fs::exists(sd / "SECRET.TXTX"));
}

TEST_F(SdCard, EraseRenameCopyAndDirectories) {
  EXPECT_EQ(send_text(0x430E, {}, {""}), (Bytes{21, 0x0E, 0x43, 4, 'I', 'n', 'v', 'a', 'l', 'i', 'd', ' ', 'a', 'r',
                                                 'g', 'u', 'm', 'e', 'n', 't', '.', 0}));
  EXPECT_EQ(send_text(0x4310, {}, {"Work"})[3], 0);
  EXPECT_TRUE(fs::is_directory(sd / "WORK"));
  EXPECT_EQ(send_text(0x4310, {}, {"work"})[3], 8);  // exists
  write_text(sd / "a.txt", "A");
  EXPECT_EQ(send_text(0x431C, {}, {"A.TXT", "work/b.txt"})[3], 0);
  EXPECT_EQ(send_text(0x430F, {}, {"/work/c.txt", "/work/b.txt"})[3], 0);
  EXPECT_EQ(read_file(sd / "WORK" / "C.TXT"), Bytes{'A'});
  EXPECT_EQ(send_text(0x430F, {}, {"x", "nothing"})[3], 4);
  write_text(sd / "WORK" / "d.txt", "D");
  EXPECT_EQ(send_text(0x430E, {}, {"work/*.TXT"})[3], 0);
  EXPECT_TRUE(fs::is_empty(sd / "WORK"));
  EXPECT_TRUE(fs::exists(sd / "a.txt"));

  // File information: size, the 8.3 name at 13 and the long name at 26.
  write_text(sd / "A long name.txt", "12345");
  const Bytes info = send_text(0x4316, {}, {"alongn~1.txt"});
  EXPECT_EQ(Bytes(info.begin() + 3, info.begin() + 5), (Bytes{0, 5}));  // status, size
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[13])), "ALONGN~1.TXT");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[26])), "A long name.txt");

  EXPECT_EQ(send_text(0x4308, {}, {""})[3], 5);
  EXPECT_EQ(send_text(0x4308, {}, {"a.txt"})[3], 0xFF);
  EXPECT_EQ(send_text(0x4308, {}, {"c:/WORK"})[3], 0);
  EXPECT_EQ(sdcard_current_dir(), "WORK");
  send(0x4309);
  EXPECT_NE(reply_text().find("K free\r\n"), std::string::npos);
}

// A data-format image holding HELLO.BAS (two records in block 2) in its directory.
Bytes image_with_file() {
  return disc::build_image(false, 2, 1, disc::data_format_track, [](int t, int, int r, int j) -> uint8_t {
    if (t == 0 && r == 0xC1) {
      // User 0, the name, extent 0, two records, block 2.
      const char entry[] = "\0HELLO   BAS\0\0\0\2\2";
      return j >= 32 ? 0xE5 : j < 17 ? entry[j] : 0;
    }
    if (t == 0 && r >= 0xC2 && r <= 0xC4) return 0xE5;
    if (t == 0 && r == 0xC5) return static_cast<uint8_t>(j);
    return 0xAA;
  });
}

TEST_F(SdCard, DiscImageAsADirectory) {
  fs::create_directories(sd / "discs");
  write_file(sd / "discs" / "Game.dsk", image_with_file());
  send_text(0x4308, {}, {"DISCS"});
  EXPECT_EQ(send_text(0x4308, {}, {"game.dsk"})[3], 0);
  EXPECT_EQ(listing(0), std::vector<std::string>{"HELLO   .BAS   1K"});
  auto [status, slot] = open(READ, "hello");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(read(slot, 200).size(), 200u);
  const Bytes rest = read(slot, 200);
  ASSERT_EQ(rest.size(), 56u);
  EXPECT_EQ(rest[55], 255);
  EXPECT_EQ(send(0x4302, {slot, 1, 0})[3], 20);
  EXPECT_EQ(open(WRITE, "new.bas").first, 10);
  EXPECT_EQ(open(READ, "none.bas"), (Opened{4, 0xFF}));

  // Sectors by track and ID; a write goes into the image.
  EXPECT_EQ(send(0x430B, {0, 0xC5})[3], 0);
  EXPECT_EQ(reply_area()[4 + 7], 7);
  // A whole sector is more than the size byte counts: the bytes written are taken.
  Bytes p{1, 0xC3};
  p.resize(2 + 512, 0x3C);
  EXPECT_EQ(send(0x430C, p)[3], 0);
  send(0x430B, {1, 0xC3});
  EXPECT_EQ(Bytes(reply_area() + 4, reply_area() + 4 + 512), Bytes(512, 0x3C));
  EXPECT_EQ(testsupport::file_bytes(sd / "discs" / "Game.dsk").size(), image_with_file().size());
  testing::internal::CaptureStderr();
  EXPECT_EQ(send(0x430B, {9, 0xC1})[3], 0xFF);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("readsec EMU_ERROR"), std::string::npos);

  // Extraction puts the file beside the image under its 8.3 name.
  send_text(0x4330, {}, {"HELLO.BAS"});
  EXPECT_EQ(reply_text(4), "HELLO   .BAS\r\n");
  EXPECT_EQ(read_file(sd / "discs" / "HELLO.BAS").size(), 256u);
  EXPECT_EQ(send_text(0x4308, {}, {".."})[3], 0);
  EXPECT_EQ(sdcard_current_dir(), "discs");
}

// A snapshot with its memory in chunks: MEM0 run-length encoded, MEM1 stored, and a
// chunk of another kind between them.
Bytes chunked_snapshot() {
  Bytes sna(0x100, 0);
  std::memcpy(sna.data(), "MV - SNA", 8);
  sna[0x10] = 3;
  auto chunk = [&](const char* name, const Bytes& data) {
    sna.insert(sna.end(), name, name + 4);
    for (int i = 0; i < 4; ++i) sna.push_back(static_cast<uint8_t>(data.size() >> (8 * i)));
    sna.insert(sna.end(), data.begin(), data.end());
  };
  chunk("MEM0", {0x01, 0xE5, 0x03, 0x42, 0xE5, 0x00, 0x07});
  chunk("CPCA", {1, 2, 3});
  chunk("MEM1", Bytes(65536, 0x99));
  return sna;
}

TEST_F(SdCard, SnapshotChunksBecomeAPlainSnapshot) {
  write_file(sd / "GAME.SNA", chunked_snapshot());
  auto [status, slot] = open(READ, "game.sna");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(send(0x4317, {slot})[3], 0);
  const Bytes plain = read_file(sd / "m4" / "TMP.BIN");
  ASSERT_EQ(plain.size(), 0x100u + 2 * 65536);
  EXPECT_EQ(plain[0x6B], 128);
  EXPECT_EQ(Bytes(plain.begin() + 0x100, plain.begin() + 0x107), (Bytes{1, 0x42, 0x42, 0x42, 0xE5, 7, 0}));
  EXPECT_EQ(plain[0x100 + 65536], 0x99);
  // The slot goes on reading the new file after its header.
  EXPECT_EQ(read(slot, 2), (Bytes{1, 0x42}));
}

}  // namespace
