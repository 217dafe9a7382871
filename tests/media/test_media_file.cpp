// Media files: ZIP members through temporary copies, temporary numbers and cleaning,
// the case-insensitive retry and the archive-aware streams.
#include <utime.h>

#include <cstdlib>

#include <zip.h>

#include "disc_support.h"
#include "config/messages.h"
#include "media/media_file.h"
#include "ui/zip_builder.h"

using namespace disc;
namespace fs = std::filesystem;

namespace {
void make_zip(const fs::path& dir, const std::string& zip_name, const std::string& members) {
  std::string cmd = "cd '" + dir.string() + "' && zip -q -X '" + zip_name + "' " + members;
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}
// A listing as text: "name size" per file, "name/" per folder, separated by "; ".
std::string listed(const std::vector<ArchiveMember>& members) {
  std::string text;
  for (const ArchiveMember& m : members)
    text += (text.empty() ? "" : "; ") + m.name + (m.directory ? "/" : " " + std::to_string(m.size));
  return text;
}
bool temp_files_left(const fs::path& dir) {
  for (auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("TMP", 0) == 0) return true;
  return false;
}
}  // namespace

class MediaFileTest : public DiscTest {};

TEST_F(MediaFileTest, DiscInsideAZipArchive) {
  REQUIRE_ASSET(disks_dir() + "/boulderdash_cpc.dsk");
  const Bytes original = file_bytes(disks_dir() + "/boulderdash_cpc.dsk");
  fs::create_directories(dir / "src");
  write_bytes(dir / "src" / "boulder.dsk", original);
  const time_t stamp = 1000000000;  // an even second: ZIP dates have two-second steps
  utimbuf times{stamp, stamp};
  ::utime((dir / "src" / "boulder.dsk").c_str(), &times);
  make_zip(dir / "src", "games.zip", "boulder.dsk");
  const Bytes archive = file_bytes(dir / "src" / "games.zip");

  set_setting(kw::DRIVE_A_AUTOSTART, 1);
  insert(0, (dir / "src" / "games.zip").string() + "/boulder.dsk");
  const fs::path temp = media_temp_name(fdc_drive(0).image.temp_number);
  EXPECT_EQ(temp.parent_path(), dir);
  EXPECT_EQ(file_bytes(temp), original);
  EXPECT_EQ(fs::last_write_time(temp), fs::last_write_time(dir / "src" / "boulder.dsk"))
      << "the member keeps its date";
  EXPECT_STREQ(drive_autostart_name(0), "BOULDER .BAS");
  EXPECT_EQ(drive_block_size(0), 1024);
  // Writes reach the temporary copy only; eject removes it and keeps the changed disc
  // as a new image beside the archive, under a numbered name since boulder.dsk is taken.
  seek(0, 1);
  write(0, 1, 0, 0xC1, 0xC1, Bytes(512, 0x33));
  EXPECT_EQ(read(0, 1, 0, 0xC1, 0xC1).data, Bytes(512, 0x33));
  testing::internal::CaptureStdout();
  drive_eject(0);
  const fs::path kept = dir / "src" / "boulder-1.dsk";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(message_text(msg::DISC_SAVED_AS)) + " " + kept.string() + "\n");
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(file_bytes(dir / "src" / "games.zip"), archive);
  Bytes expected = original;
  const size_t track1_c1 = 256 + 0x1300 + 256;
  std::fill_n(expected.begin() + track1_c1, 512, 0x33);
  EXPECT_TRUE(file_bytes(kept) == expected);
  EXPECT_TRUE(file_bytes(dir / "src" / "boulder.dsk") == original) << "never overwritten";

  // A disc read but not written leaves nothing; another changed one, replaced by a new
  // disc, takes the next number.
  insert(0, (dir / "src" / "games.zip").string() + "/boulder.dsk");
  EXPECT_EQ(read(0, 1, 0, 0xC1, 0xC1).data.size(), 512u);
  drive_eject(0);
  EXPECT_FALSE(fs::exists(dir / "src" / "boulder-2.dsk"));
  insert(0, (dir / "src" / "games.zip").string() + "/boulder.dsk");
  EXPECT_EQ(write(0, 1, 0, 0xC2, 0xC2, Bytes(512, 0x44)).result.at(1), 0x80);
  testing::internal::CaptureStdout();
  insert(0, kept.string());
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(fs::exists(dir / "src" / "boulder-2.dsk"));
  EXPECT_TRUE(file_bytes(kept) == expected);
  EXPECT_EQ(file_bytes(dir / "src" / "games.zip"), archive);
}

// Temporary copies take differing numbers that wrap after 32000; broken archives and
// missing members fail without leaving one.
TEST_F(MediaFileTest, TemporaryNumbersWrapAndBrokenArchivesFailCleanly) {
  Bytes image = build_image(false, 1, 1, data_format_track);
  write_bytes(dir / "a.dsk", image);
  write_bytes(dir / "b.dsk", image);
  make_zip(dir, "two.zip", "a.dsk b.dsk");
  media_set_temp_counter(31999);
  insert(0, (dir / "two.zip/a.dsk").string());
  insert(1, (dir / "two.zip/b.dsk").string());
  EXPECT_TRUE(fs::exists(dir / "TMP32000.$$$"));
  EXPECT_TRUE(fs::exists(dir / "TMP00001.$$$"));
  drive_eject(0);
  drive_eject(1);
  EXPECT_FALSE(temp_files_left(dir));

  Bytes cut = file_bytes(dir / "two.zip");
  cut.resize(cut.size() / 2);
  write_bytes(dir / "cut.zip", cut);
  write_bytes(dir / "junk.zip", Bytes(3000, 0x50));
  for (const char* p : {"two.zip/none.dsk", "two.zip", "two.zip/", "junk.zip/a.dsk", "cut.zip/a.dsk",
                        "no.zip/a.dsk"}) {
    int number = 0;
    EXPECT_EQ(media_open((dir / p).c_str(), "rb", number), nullptr) << p;
    EXPECT_EQ(number, 0) << p;
    drive_set_path(0, (dir / p).c_str());
    EXPECT_FALSE(drive_insert(0)) << p;
  }
  EXPECT_FALSE(temp_files_left(dir));
}

TEST_F(MediaFileTest, PlainPathsCleaningAndTheTemporaryDirectory) {
  fs::create_directories(dir / "Games");
  write_bytes(dir / "Games" / "Elite.DSK", Bytes{1, 2, 3});
  int number = 0;
  FILE* f = media_open((dir / "games" / "ELITE.dsk").c_str(), "rb", number);
  ASSERT_NE(f, nullptr) << "found without regard to case";
  EXPECT_EQ(std::fgetc(f), 1);
  std::fclose(f);

  // Cleaning removes only the program's own temporary names.
  const std::pair<const char*, bool> kept[] = {
      {"TMP00007.$$$", false}, {"TMP31999.$$$", false}, {"TMP1234.$$$", true}, {"TMP00007.txt", true}};
  for (auto [name, keep] : kept) write_bytes(dir / name, Bytes{0});
  media_clean_temp();
  for (auto [name, keep] : kept) EXPECT_EQ(fs::exists(dir / name), keep) << name;

  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  set_setting_text(kw::TMP_PATH, nullptr);
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(media_temp_dir(), "/var/tmp/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(media_temp_name(42), "/tmp/TMP00042.$$$");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);
}

TEST_F(MediaFileTest, ArchiveAwareStreams) {
  Bytes rom(32768);
  for (size_t i = 0; i < rom.size(); i++) rom[i] = static_cast<uint8_t>(i ^ (i >> 8));
  write_bytes(dir / "os.rom", rom);
  make_zip(dir, "roms.zip", "os.rom");
  const Bytes archive = file_bytes(dir / "roms.zip");
  {
    zip_ifs in((dir / "roms.zip/os.rom").c_str());
    ASSERT_TRUE(in);
    in.seekg(16384);
    Bytes upper(16384);
    in.read(reinterpret_cast<char*>(upper.data()), 16384);
    EXPECT_TRUE(upper == Bytes(rom.begin() + 16384, rom.end()));
    EXPECT_TRUE(fs::exists(in.host_name()));
  }
  EXPECT_FALSE(temp_files_left(dir)) << "closing removes the temporary copy";
  EXPECT_FALSE(zip_ifs((dir / "nothing.rom").c_str()));
  EXPECT_FALSE(zip_ifs((dir / "roms.zip/nothing.rom").c_str()));
  { zip_ofs((dir / "roms.zip/new.bin").c_str()) << "data"; }
  EXPECT_FALSE(temp_files_left(dir));
  EXPECT_EQ(file_bytes(dir / "roms.zip"), archive) << "an archive is never changed";
  { zip_ofs((dir / "plain.bin").c_str()) << "xyz"; }
  EXPECT_EQ(file_bytes(dir / "plain.bin"), (Bytes{'x', 'y', 'z'}));
}

// The file selector's listing: names, uncompressed sizes and folders of a real archive
// with a comment; names that cannot be listed are left out; a broken archive ends with
// the number of the message that reports it.
TEST_F(MediaFileTest, ArchiveListing) {
  const std::string made = (dir / "made.zip").string();
  int error = 0;
  zip_t* za = zip_open(made.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr);
  static const std::string data(5000, 'A');  // compresses well: the sizes differ
  ASSERT_GE(zip_file_add(za, "sub/big.sna", zip_source_buffer(za, data.data(), data.size(), 0), 0), 0);
  ASSERT_GE(zip_dir_add(za, "empty", 0), 0);
  zip_set_archive_comment(za, "made for a test", 15);
  ASSERT_EQ(zip_close(za), 0);
  std::vector<ArchiveMember> m;
  ASSERT_EQ(media_list_archive(made.c_str(), m, 100), ArchiveListing::OK);
  EXPECT_EQ(listed(m), "sub/big.sna 5000; empty/");

  ZipBuilder z;
  z.add(std::string(300, 'N'));
  z.add("/");
  z.add("docs\\", "");
  z.add("OK.SNA", "12345");
  std::string bytes = z.bytes();
  auto list = [&m](const std::string& archive, size_t max = 100) {
    m.clear();
    return media_list_archive_bytes(reinterpret_cast<const uint8_t*>(archive.data()), archive.size(), m, max);
  };
  ASSERT_EQ(list(bytes), ArchiveListing::OK);
  EXPECT_EQ(listed(m), "docs/; OK.SNA 5");
  EXPECT_EQ(list(bytes, 1), ArchiveListing::OK);
  EXPECT_EQ(listed(m), "docs/") << "the table size limits the members taken";

  m.clear();
  EXPECT_EQ(media_list_archive((dir / "none.zip").c_str(), m, 10), ArchiveListing::CANNOT_OPEN);
  EXPECT_EQ(list("PK"), ArchiveListing::NOT_AN_ARCHIVE);
  EXPECT_EQ(list(std::string(5000, 'x')), ArchiveListing::NOT_AN_ARCHIVE);
  uint32_t central = 0;
  bytes = z.bytes(&central);
  std::string bad = bytes;
  bad[central + 2] = 9;  // a wrong signature at the start of the central directory
  EXPECT_EQ(list(bad), ArchiveListing::NOT_AN_ARCHIVE);
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(list(z.bytes(nullptr, 65535)), ArchiveListing::BAD_ENTRY) << "more entries announced than present";
}
