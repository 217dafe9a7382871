// Fuzz target: the file selector's description file. The input is the directory's
// "descript.ion" beside a few listed entries; every entry's line is drawn at several
// widths and description columns (names matched in three cases, offsets seeked to).
#include <filesystem>
#include <fstream>

#include "fuzz_support.h"
#include "ui/filesel.h"

namespace {

const std::string& listed_dir() {
  static std::string dir;
  if (dir.empty()) {
    dir = fuzzsupport::work_dir("filesel");
    for (const char* name : {"A.DSK", "b.dsk", "Game.SNA", "x"}) std::ofstream(dir + "/" + name) << "12345";
    std::filesystem::create_directory(dir + "/sub");
  }
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  const std::string& dir = listed_dir();
  fuzzsupport::write_file(dir + "/descript.ion", data, size);
  filesel_w w(1, 2, 60, 19);
  if (list_directory(w, dir + "/") != 0) return 0;
  char buffer[SELECT_LINE_MAX + 1];
  for (int shift = 0; shift < 3; ++shift) {
    for (int width : {1, 34, 50, SELECT_LINE_MAX})
      for (int i = 0; i <= static_cast<int>(w.entries.size()); ++i) w.line_text(buffer, i, width);
    w.key_right(1);
  }
  return 0;
}
