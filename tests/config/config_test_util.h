// Helpers of the configuration unit's tests: temporary files and a scanner over one.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/scan.h"
#include "test_support.h"

namespace cfgtest {

// Writes text into a file of the test's temporary directory and returns its path.
inline std::string write_file(const std::string& name, const std::string& text) {
  static const std::filesystem::path dir = testsupport::temp_dir("config");
  std::filesystem::path path = dir / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return path.string();
}

using testsupport::file_text;

// A scanner reading one text.
class TextScan : public scan {
 public:
  explicit TextScan(const std::string& text, const std::string& name = "scan.txt") {
    open(write_file(name, text), std::ios::binary);
  }
};

}  // namespace cfgtest
