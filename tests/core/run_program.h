// Runs the real arvelo binary (dummy SDL drivers, private HOME) and collects its output.
#pragma once
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
};

using testsupport::file_text;

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// Runs bin/arvelo with the arguments; HOME is `home`. Output files live in `work`.
inline ProgramResult run_arvelo(const std::vector<std::string>& args, const std::string& home,
                                const std::string& work, const std::string& program = "arvelo") {
  std::string cmd = "cd " + shell_quote(work) + " && env HOME=" + shell_quote(home) +
                    " SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 60 " +
                    shell_quote(testsupport::bin_dir() + "/" + program);
  for (const auto& a : args) cmd += " " + shell_quote(a);
  cmd += " >" + shell_quote(work + "/out.txt") + " 2>" + shell_quote(work + "/err.txt") + " </dev/null";
  ProgramResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = file_text(work + "/out.txt");
  r.err = file_text(work + "/err.txt");
  return r;
}
