// Helpers shared by the test programs: where the shared CPC assets and the built
// binaries are, and how a test reacts when an asset is absent.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>

namespace testsupport {

inline std::string env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : fallback;
}
inline std::string rom_dir() { return env_or("ARVELO_ROM_DIR", ARVELO_ROM_DIR_DEFAULT); }
inline std::string testdata_dir() { return env_or("ARVELO_TESTDATA", ARVELO_TESTDATA_DEFAULT); }
inline std::string bin_dir() { return ARVELO_BIN_DIR; }
inline std::string source_dir() { return ARVELO_SOURCE_DIR; }
inline bool in_ci() {
  const char* v = std::getenv("CI");
  return v && std::string(v) == "true";
}

// Configuration lines that load one model's ROM images from the shared ROM directory:
// type 0 CPC 464, 1 CPC 664, 2 CPC 6128 (OS ROM in slot 255, BASIC in slot 0), with the
// disc ROM in slot 7 when with_disc is set.
inline std::string rom_config_lines(int type = 2, bool with_disc = true) {
  const char* image = type == 0 ? "cpc464.rom" : type == 1 ? "cpc664.rom" : "cpc6128.rom";
  std::string lines = "ROM_PATH = \"" + rom_dir() + "/\"\n";
  lines += std::string("ROM_BLOCK = 255, \"") + image + "\", 0\n";
  lines += std::string("ROM_BLOCK = 0, \"") + image + "\", 1\n";
  if (with_disc) lines += "ROM_BLOCK = 7, \"amsdos.rom\", 0\n";
  return lines;
}

// A fresh empty directory for one test, removed by the caller or left in /tmp.
inline std::filesystem::path temp_dir(const std::string& tag) {
  auto base = std::filesystem::temp_directory_path() /
              ("arvelo-test-" + tag + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base);
  return base;
}

// A whole file as text or bytes (empty when it cannot be read), and bytes written to one.
inline std::string file_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
inline std::vector<uint8_t> file_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
inline void write_bytes(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The working directory moved for one scope.
struct InDir {
  std::filesystem::path old = std::filesystem::current_path();
  explicit InDir(const std::filesystem::path& p) { std::filesystem::current_path(p); }
  ~InDir() { std::filesystem::current_path(old); }
};

}  // namespace testsupport

// Skips the test when a shared asset is missing; in CI a missing asset is a failure.
#define REQUIRE_ASSET(path)                                                    \
  do {                                                                         \
    if (!std::filesystem::exists(path)) {                                      \
      if (testsupport::in_ci()) FAIL() << "missing test asset " << (path);     \
      GTEST_SKIP() << "test asset not found: " << (path);                      \
    }                                                                          \
  } while (0)
