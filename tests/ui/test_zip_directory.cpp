// The file selector's reader of ZIP central directories: real archives, archives with
// comments, and truncated or hostile ones, which end the listing with their message.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "ui/zip_directory.h"
#include "zip_builder.h"

namespace fs = std::filesystem;

namespace {

int read_bytes(const std::string& bytes, std::vector<ZipMember>& out, size_t max = 1000) {
  auto read_at = [&bytes](uint64_t offset, uint8_t* buffer, size_t count) {
    if (offset > bytes.size() || count > bytes.size() - offset) return false;
    std::memcpy(buffer, bytes.data() + offset, count);
    return true;
  };
  return zipdir_read(bytes.size(), read_at, out, max);
}

}  // namespace

TEST(ZipDirectory, ListsNamesSizesAndFolders) {
  ZipBuilder z;
  z.add("GAME.DSK", std::string(1234, 'x'));
  z.add("docs/");
  z.add("docs\\readme.txt", "hello");
  z.comment = std::string(1000, 'c');  // the end record is found behind a comment
  std::vector<ZipMember> m;
  ASSERT_EQ(read_bytes(z.bytes(), m), ZIPDIR_OK);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].name, "GAME.DSK");
  EXPECT_EQ(m[0].size, 1234);
  EXPECT_FALSE(m[0].directory);
  EXPECT_EQ(m[1].name, "docs");
  EXPECT_TRUE(m[1].directory);
  EXPECT_EQ(m[2].name, "docs\\readme.txt");
  EXPECT_EQ(m[2].size, 5);
}

TEST(ZipDirectory, ReadsAnArchiveMadeByLibzip) {
  auto dir = testsupport::temp_dir("zipdir-libzip");
  const std::string path = (dir / "made.zip").string();
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr);
  static const std::string data(5000, 'A');  // compresses well: sizes differ
  zip_source_t* src = zip_source_buffer(za, data.data(), data.size(), 0);
  ASSERT_GE(zip_file_add(za, "sub/big.sna", src, ZIP_FL_ENC_UTF_8), 0);
  ASSERT_GE(zip_dir_add(za, "empty", ZIP_FL_ENC_UTF_8), 0);
  zip_set_archive_comment(za, "made for a test", 15);
  ASSERT_EQ(zip_close(za), 0);

  std::vector<ZipMember> m;
  ASSERT_EQ(zipdir_read_file(path.c_str(), m, 100), ZIPDIR_OK);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].name, "sub/big.sna");
  EXPECT_EQ(m[0].size, 5000);  // the uncompressed size
  EXPECT_EQ(m[1].name, "empty");
  EXPECT_TRUE(m[1].directory);
  fs::remove_all(dir);
}

TEST(ZipDirectory, BrokenArchivesEndWithTheirMessage) {
  ZipBuilder z;
  z.add("A.DSK", "aaaa");
  z.add("B.DSK", "bbbb");
  uint32_t central = 0;
  const std::string good = z.bytes(&central);
  std::vector<ZipMember> m;

  EXPECT_EQ(zipdir_read_file("/nonexistent/archive.zip", m, 10), ZIPDIR_CANNOT_OPEN);
  EXPECT_EQ(read_bytes("PK", m), ZIPDIR_NO_END_RECORD);
  EXPECT_EQ(read_bytes(std::string(5000, 'x'), m), ZIPDIR_NO_END_RECORD);

  // Cut inside the second central entry: the first member stays listed.
  std::string cut = good.substr(0, central + 46 + 5 + 20);
  cut += good.substr(good.size() - 22);  // the end record, now pointing past the data
  m.clear();
  EXPECT_EQ(read_bytes(cut, m), ZIPDIR_READ_ERROR);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].name, "A.DSK");

  // A wrong signature at the start of the central directory.
  std::string bad = good;
  bad[central + 2] = 9;
  m.clear();
  EXPECT_EQ(read_bytes(bad, m), ZIPDIR_BAD_ENTRY);
  EXPECT_TRUE(m.empty());

  // The central directory said to start beyond the file.
  std::string far = good;
  const size_t end = far.size() - 22;
  far[end + 16] = '\xFF';
  far[end + 17] = '\xFF';
  far[end + 18] = '\xFF';
  far[end + 19] = '\x7F';
  EXPECT_EQ(read_bytes(far, m), ZIPDIR_SEEK_ERROR);
}

TEST(ZipDirectory, HostileCountsAndLengthsStayInBounds) {
  ZipBuilder z;
  z.add("ONE.DSK", "1");
  std::vector<ZipMember> m;
  // 65535 entries announced, one present: the second would run past the end.
  EXPECT_EQ(read_bytes(z.bytes(nullptr, 65535), m), ZIPDIR_READ_ERROR);
  EXPECT_EQ(m.size(), 1u);
  // With room behind it, the end record where the second entry should be is no entry.
  m.clear();
  ZipBuilder commented = z;
  commented.comment = std::string(100, ' ');
  EXPECT_EQ(read_bytes(commented.bytes(nullptr, 65535), m), ZIPDIR_BAD_ENTRY);
  EXPECT_EQ(m.size(), 1u);

  // A name length that runs past the end of the file.
  uint32_t central = 0;
  std::string s = z.bytes(&central);
  s[central + 28] = '\xFF';
  s[central + 29] = '\xFF';
  m.clear();
  EXPECT_EQ(read_bytes(s, m), ZIPDIR_READ_ERROR);
  EXPECT_TRUE(m.empty());

  // The table size limits the members taken.
  ZipBuilder many;
  for (int i = 0; i < 50; ++i) many.add("F" + std::to_string(i));
  m.clear();
  EXPECT_EQ(read_bytes(many.bytes(), m, 20), ZIPDIR_OK);
  EXPECT_EQ(m.size(), 20u);
}

TEST(ZipDirectory, NamesThatCannotBeListedAreLeftOut) {
  ZipBuilder z;
  z.add(std::string("CUT\0HIDDEN.DSK", 14));
  z.add(std::string(300, 'N'));
  z.add("/");
  z.add("OK.SNA");
  std::vector<ZipMember> m;
  ASSERT_EQ(read_bytes(z.bytes(), m), ZIPDIR_OK);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].name, "CUT");  // a name ends at a zero byte
  EXPECT_EQ(m[1].name, "OK.SNA");
}
