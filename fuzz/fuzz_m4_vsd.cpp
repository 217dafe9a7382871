// Fuzz target: the virtual SD image's write-back reading a hostile image. Whatever the
// image holds, the write-back ends, and nothing outside the SD directory changes: not a
// file beside it, and not a directory that a symbolic link inside it points to.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz_support.h"
#include "m4/vsd_image.h"

namespace fs = std::filesystem;

namespace {
// Every entry below dir, with the size of each file.
std::string tree(const fs::path& dir) {
  std::string all;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    all += e.path().string();
    if (e.is_regular_file()) all += " " + std::to_string(e.file_size());
    all += "\n";
  }
  return all;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path work = fuzzsupport::work_dir("fuzz-m4-vsd");
  static const fs::path outside = work / "outside";
  static const fs::path sd = work / "sd";
  static const fs::path image = work / "vsd.img";
  static std::string outside_tree;
  if (outside_tree.empty()) {
    std::freopen("/dev/null", "w", stdout);  // the write-back's messages
    fs::create_directories(outside);
    std::ofstream(outside / "secret") << "kept";
    outside_tree = tree(outside);
  }
  fs::remove_all(sd);
  fs::create_directories(sd);
  fs::create_directory_symlink(outside, sd / "A folder");
  fs::create_symlink(outside / "secret", sd / "Hello there.txt");
  fuzzsupport::write_file(image.string(), data, size);
  vsd_write_back(image.string(), sd.string());
  if (tree(outside) != outside_tree) std::abort();
  for (const auto& e : fs::directory_iterator(work)) {
    if (e.path() != outside && e.path() != sd && e.path() != image) std::abort();
  }
  return 0;
}
