// Shared by the fuzz targets: console output dropped, the input written to a file and read
// back through the real reader, and a work directory of the process.
#pragma once
#include <sys/stat.h>
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

// Silences std::cout and std::cerr for the rest of the run (the first call does it).
inline void silence_console() {
  static NullBuffer null_buffer;
  static const bool done = (std::cout.rdbuf(&null_buffer), std::cerr.rdbuf(&null_buffer), true);
  (void)done;
}

// Runs a target's set-up once, before its first input.
template <void (*SET_UP)()>
void once() {
  static const bool done = (SET_UP(), true);
  (void)done;
}

// A name for a temporary file or directory of this process under TMPDIR or /tmp.
inline std::string temp_pattern(const char* tag) {
  const char* base = std::getenv("TMPDIR");
  return std::string(base && *base ? base : "/tmp") + "/arvelo-" + tag + "-XXXXXX";
}

// A temporary file of this process, made once.
inline const std::string& temp_file(const char* tag) {
  static std::string path;
  if (path.empty()) {
    std::string pattern = temp_pattern(tag);
    int fd = mkstemp(pattern.data());
    if (fd < 0) std::abort();
    close(fd);
    path = pattern;
  }
  return path;
}

// A temporary directory of this process, made once and removed when the process ends.
inline const std::string& work_dir(const char* tag) {
  static std::string dir;
  if (dir.empty()) {
    std::string pattern = temp_pattern(tag);
    if (!::mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    std::atexit([] { std::filesystem::remove_all(dir); });
  }
  return dir;
}

// Replaces a file's contents with the bytes; a file that cannot be written ends the run,
// since the reader would then be fed nothing.
inline void write_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// Replaces the temporary file's contents with the input.
inline const std::string& write_input(const char* tag, const uint8_t* data, size_t size) {
  write_file(temp_file(tag), data, size);
  return temp_file(tag);
}

inline long file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace fuzzsupport
