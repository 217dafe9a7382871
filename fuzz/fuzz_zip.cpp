// Fuzz target: a ZIP archive whose members are opened through media_open (temporary
// copies) and the archive-aware input stream. Every temporary file must be gone after
// it is closed.
#include <glob.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "machine_support.h"
#include "media/media_file.h"

namespace {

const std::string& work_dir() { return fuzzsupport::work_dir("fuzz-zip"); }

size_t temp_files_left() {
  glob_t g;
  std::string pattern = work_dir() + "/TMP?????.$$$";
  size_t n = ::glob(pattern.c_str(), GLOB_NOESCAPE, nullptr, &g) == 0 ? g.gl_pathc : 0;
  if (n) ::globfree(&g);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* const quiet = std::freopen("/dev/null", "w", stdout);  // temporary-file messages
  (void)quiet;
  fuzzsupport::machine_at_rest("fuzz-zip");
  const std::string archive = work_dir() + "/input.zip";
  fuzzsupport::write_file(archive, data, size);

  // The member names the archive claims, and a few it may not have.
  std::vector<std::string> names = {"a.dsk", "", "dir/", "../x"};
  int error = 0;
  if (zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error)) {
    zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count && i < 8; i++) {
      const char* name = zip_get_name(za, static_cast<zip_uint64_t>(i), 0);
      if (name) names.push_back(name);
    }
    zip_discard(za);
  }
  for (const std::string& name : names) {
    std::string path = archive + "/" + name;
    int number = 0;
    if (FILE* member = media_open(path.c_str(), "rb", number)) {
      char buffer[512];
      while (std::fread(buffer, 1, sizeof buffer, member) == sizeof buffer) {
      }
      std::fclose(member);
    }
    media_close_temp(number);
    {
      zip_ifs in(path.c_str());
      char buffer[64];
      if (in) in.read(buffer, sizeof buffer);
    }
    if (temp_files_left() != 0) std::abort();
  }
  return 0;
}
