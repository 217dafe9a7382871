#include "core/teebuf.h"

#include <iostream>

std::string& captured_output() {
  static std::string text;
  return text;
}

void capture_console_output() {
  static bool done = false;
  if (done) return;
  done = true;
  static simpleteebuf out(std::cout.rdbuf(), captured_output());
  static simpleteebuf err(std::cerr.rdbuf(), captured_output());
  std::cout.rdbuf(&out);
  std::cerr.rdbuf(&err);
}
