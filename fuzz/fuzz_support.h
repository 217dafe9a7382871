// Shared by the fuzz targets: console output dropped, a temporary file that each input is
// written to and read back through the real reader, and a work directory of the process.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>

namespace fuzzsupport {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Silences std::cout and std::cerr for the rest of the run.
inline void silence_console() {
  static NullBuffer null_buffer;
  std::cout.rdbuf(&null_buffer);
  std::cerr.rdbuf(&null_buffer);
}

// A temporary file of this process, made once (under TMPDIR or /tmp).
inline const std::string& temp_file(const char* tag) {
  static std::string path;
  if (path.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/arvelo-" + tag + "-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) std::abort();
    close(fd);
    path = pattern;
  }
  return path;
}

// A temporary directory of this process, made once (under TMPDIR or /tmp) and removed
// when the process ends.
inline const std::string& work_dir(const char* tag) {
  static std::string dir;
  if (dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/arvelo-" + tag + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    std::atexit([] { std::filesystem::remove_all(dir); });
  }
  return dir;
}

// Replaces the temporary file's contents with the input.
inline const std::string& write_input(const char* tag, const uint8_t* data, size_t size) {
  const std::string& path = temp_file(tag);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

}  // namespace fuzzsupport
