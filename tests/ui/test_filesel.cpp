// The file selector: directory and archive listings (order, kinds, hidden names,
// descriptions), the line format, path splitting, and the dialogue driven by queued
// key events.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "config/settings.h"
#include "test_support.h"
#include "ui/filesel.h"
#include "scripted_input.h"
#include "zip_builder.h"

namespace fs = std::filesystem;

namespace {

// The listed entries as name and kind.
using Listing = std::vector<std::pair<std::string, int>>;
Listing listing(const filesel_w& w) {
  Listing v;
  for (const FileEntry& e : w.entries) v.emplace_back(e.name, e.kind);
  return v;
}

const FileEntry* entry(const filesel_w& w, const std::string& name) {
  for (const FileEntry& e : w.entries)
    if (e.name == name) return &e;
  return nullptr;
}

void touch(const fs::path& p, size_t size = 0) { std::ofstream(p, std::ios::binary) << std::string(size, 'x'); }

using testsupport::InDir;

}  // namespace

TEST(FileList, SortedInByteOrderWithKinds) {
  auto dir = testsupport::temp_dir("filesel-list");
  touch(dir / "b.dsk", 100);
  touch(dir / "A.DSK", 190464);
  ZipBuilder::write((dir / "games.zip").string(), ZipBuilder().bytes());
  touch(dir / "GAMES.ZIP");
  touch(dir / "more.Zip");
  touch(dir / "site.url");
  touch(dir / ".zip");  // hidden, and too short for an archive name anyway
  touch(dir / ".hidden");
  fs::create_directories(dir / "sub");
  filesel_w w(1, 2, 80, 19);
  ASSERT_EQ(list_directory(w, dir.string() + "/"), 0);
  EXPECT_EQ(listing(w), (Listing{{"..", KIND_DIRECTORY}, {"A.DSK", KIND_FILE},
                                 {"GAMES.ZIP", KIND_ARCHIVE}, {"b.dsk", KIND_FILE},
                                 {"games.zip", KIND_ARCHIVE}, {"more.Zip", KIND_ARCHIVE},
                                 {"site.url", KIND_LINK}, {"sub", KIND_DIRECTORY}}));
  EXPECT_EQ(entry(w, "A.DSK")->size, 190464);
  EXPECT_EQ(w.find_entry("b.dsk"), 3);
  EXPECT_EQ(w.find_entry("B.DSK"), -1);
  EXPECT_EQ(kind_of_name(".zip"), KIND_FILE);
  fs::remove_all(dir);
}

TEST(FileList, LargeListingsAreSortedAndCut) {
  std::vector<FileEntry> v(1);
  for (int i = 1500; i > 0; --i) v.push_back({KIND_FILE, "f" + std::to_string(i % 700), 0});
  auto by_name = [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; };
  sort_entries(v, 1);
  EXPECT_TRUE(std::is_sorted(v.begin() + 1, v.end(), by_name));
  sort_entries(v, 1);  // already sorted
  EXPECT_TRUE(std::is_sorted(v.begin() + 1, v.end(), by_name));
  EXPECT_EQ(v.size(), 1501u);

  // A directory of more entries than the list holds is cut.
  auto dir = testsupport::temp_dir("filesel-many");
  for (int i = 0; i < FILESEL_LISTED_MAX + 20; ++i) touch(dir / ("f" + std::to_string(i)));
  filesel_w w(1, 2, 80, 19);
  ASSERT_EQ(list_directory(w, dir.string() + "/"), 0);
  EXPECT_EQ(w.entries.size(), static_cast<size_t>(FILESEL_LISTED_MAX + 1));
  fs::remove_all(dir);
}

TEST(FileList, ArchiveFoldersAndMembers) {
  auto dir = testsupport::temp_dir("filesel-zip");
  ZipBuilder z;
  z.add("GAME.DSK", "12345");
  z.add("docs/");
  z.add("docs/readme.txt", "hi");
  z.add("deep/a/b.sna", "s");
  const std::string archive = (dir / "games.zip").string();
  ZipBuilder::write(archive, z.bytes());
  filesel_w w(1, 2, 80, 19);
  ASSERT_EQ(list_directory(w, archive + "/"), 0);
  EXPECT_EQ(listing(w), (Listing{{"..", KIND_DIRECTORY}, {"GAME.DSK", KIND_FILE},
                                 {"deep", KIND_DIRECTORY}, {"docs", KIND_DIRECTORY}}));
  EXPECT_EQ(entry(w, "GAME.DSK")->size, 5);
  ASSERT_EQ(list_directory(w, archive + "/docs/"), 0);
  EXPECT_EQ(listing(w), (Listing{{"..", KIND_DIRECTORY}, {"readme.txt", KIND_FILE}}));

  std::string a, inside;
  ASSERT_TRUE(split_archive_path(archive + "/deep/a/", a, inside));
  EXPECT_EQ(a, archive);
  EXPECT_EQ(inside, "deep/a/");
  EXPECT_FALSE(split_archive_path(dir.string() + "/", a, inside));

  // A broken archive: listing fails with its message number.
  ZipBuilder::write(archive, "not an archive at all");
  EXPECT_EQ(list_directory(w, archive + "/"), 1);
  EXPECT_EQ(w.archive_status, 253);
  fs::remove_all(dir);
}

TEST(FileList, LineFormatAndDescriptions) {
  auto dir = testsupport::temp_dir("filesel-descr");
  touch(dir / "A.DSK", 1234);
  touch(dir / "b.dsk", 7);
  fs::create_directories(dir / "sub");
  std::ofstream(dir / "descript.ion") << "a.dsk   The first disc\n"
                                         "unknown something\n"
                                         "sub The folder\n";
  filesel_w w(1, 2, 60, 19);
  ASSERT_EQ(list_directory(w, dir.string() + "/"), 0);
  ASSERT_EQ(w.entries.size(), 5u);  // .., A.DSK, b.dsk, descript.ion, sub
  const int width = 50;
  char buffer[SELECT_LINE_MAX + 1];
  // With descriptions, name and kind take 34 columns and the description follows.
  EXPECT_STREQ(w.line_text(buffer, 1, width), "A.DSK                     1234     The first disc ");
  EXPECT_STREQ(w.line_text(buffer, 2, width), "b.dsk                     7                       ");
  EXPECT_STREQ(w.line_text(buffer, 4, width), "sub                       <DIR>    The folder     ");
  EXPECT_STREQ(w.line_text(buffer, 0, width), "..                        <DIR>                   ");
  EXPECT_EQ(w.line_text(buffer, 5, width), nullptr);
  // Right moves the description column.
  for (int i = 0; i < 4; ++i) w.key_right(1);
  EXPECT_STREQ(w.line_text(buffer, 1, width), "A.DSK                     1234     first disc     ");
  for (int i = 0; i < 10; ++i) w.key_left(1);
  EXPECT_EQ(w.description_offset, 0);
  // Without a description file the name takes the whole width.
  std::filesystem::remove(dir / "descript.ion");
  ASSERT_EQ(list_directory(w, dir.string() + "/"), 0);
  EXPECT_STREQ(w.line_text(buffer, 1, 30), "A.DSK                 1234    ");

  FileEntry e{KIND_NEW_FILE, "a very long name that is cut", 0};
  EXPECT_EQ(entry_line(e, 20), "a very long <FREE>  ");
  e = {KIND_FILE, "x", 123456789012LL};
  EXPECT_EQ(entry_line(e, 20).size(), 20u);  // a size too wide for its field is cut
  fs::remove_all(dir);
}

TEST(FileList, SplittingPaths) {
  // Path, folder, name; ".." goes up, naming the folder left.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"./disc/game.dsk", "./disc/", "game.dsk"}, {"./disc/", "./disc/", ""},
      {"./disc/..", "./", "disc"},                {"/a/b.zip/inner/..", "/a/b.zip/", "inner"},
      {"game.sna", "./", "game.sna"}};
  std::string d, n;
  for (const auto& [path, folder, name] : cases) {
    split_path(path, d, n);
    EXPECT_EQ(d + "|" + n, std::string(folder) + "|" + name) << path;
  }
  auto dir = testsupport::temp_dir("filesel-up");
  fs::create_directories(dir / "x");
  {
    InDir in(dir / "x");
    split_path("./..", d, n);
    EXPECT_EQ(fs::path(d), dir.string() + "/");
    EXPECT_EQ(n, "x");
  }
  fs::remove_all(dir);
}

TEST(FileDialog, ChoosesByKeysAndReturnsPathsBelowTheWorkingDirectory) {
  auto dir = testsupport::temp_dir("filesel-dialog");
  touch(dir / "A.DSK");
  touch(dir / "b.dsk");
  fs::create_directories(dir / "games");
  touch(dir / "games" / "boulder.dsk");
  ZipBuilder z;
  z.add("INSIDE.SNA", "s");
  ZipBuilder::write((dir / "games" / "pack.zip").string(), z.bytes());
  InDir in(dir);
  filesel_w w(1, 2, 80, 19);

  // The preselected file chosen with Return, and a new name given the default extension,
  // are e2e.ui_windows's (F5 loads the snapshot its F6 saved under a typed name).
  // The dialogue on a list window from a path, fed with the input: the path it returns.
  auto choose = [](const ScriptedInput&, filesel_w& list, std::string path) {
    return choose_file(list, path) == 0 ? path : "cancelled: " + path;
  };
  // Into a folder by type-ahead, then a file in it.
  EXPECT_EQ(choose(ScriptedInput().type("g").key(SDLK_RETURN).type("b").key(SDLK_RETURN), w, "./"),
            "./games/boulder.dsk");
  // Into an archive (pack.zip), out of it with the parent entry (pack.zip preselected), in
  // again and to its last entry.
  EXPECT_EQ(choose(ScriptedInput()
                       .type("p").key(SDLK_RETURN)
                       .key(SDLK_HOME).key(SDLK_RETURN)
                       .key(SDLK_RETURN).key(SDLK_END).key(SDLK_RETURN),
                   w, "./games/"),
            "./games/pack.zip/INSIDE.SNA");
  // A click on a row chooses it: rows of the list start at row 3 (window top 2 + frame);
  // b.dsk is the third line. The absolute folder comes back below the working directory.
  set_setting(kw::MOUSE_ENABLED, 1);
  EXPECT_EQ(choose(ScriptedInput().click(64 + 8 * 10, 16 * (3 + 2) + 2), w, dir.string() + "/"),
            "./b.dsk");
  // Escape cancels and keeps the path.
  EXPECT_EQ(choose(ScriptedInput().key(SDLK_ESCAPE), w, "./A.DSK"), "cancelled: ./A.DSK");
  fs::remove_all(dir);
}
