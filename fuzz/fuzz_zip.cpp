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

#include "fuzz_support.h"
#include "config/settings.h"
#include "core/machine.h"
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
  static bool once = [] {
    reset_settings();
    set_setting_text(kw::TMP_PATH, work_dir().c_str());
    std::freopen("/dev/null", "w", stdout);  // the temporary-file messages
    return true;
  }();
  (void)once;
  clear_stop_request();  // a machine at rest (also links the machine model first)

  const std::string archive = work_dir() + "/input.zip";
  FILE* f = std::fopen(archive.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

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
