// zexdoc and zexall, the instruction exercisers, run through arvelo-cpm on the bare core.
// They execute billions of instructions, so they run in the optimised build only.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "test_support.h"

namespace {
struct CpmRun {
  std::string output;  // standard output and error
  int status = -1;     // exit status, -1 when it did not exit
};

CpmRun run_cpm(const std::string& arguments) {
  CpmRun r;
  FILE* pipe = popen((testsupport::bin_dir() + "/arvelo-cpm " + arguments + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
  const int status = pclose(pipe);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

void run_exerciser(const std::string& name) {
  std::string program = testsupport::testdata_dir() + "/z80/" + name;
  REQUIRE_ASSET(program);
  const CpmRun r = run_cpm("'" + program + "'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Tests complete"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
}
}  // namespace

TEST(SlowZ80Exercisers, Zexdoc) { run_exerciser("zexdoc.com"); }
TEST(SlowZ80Exercisers, Zexall) { run_exerciser("zexall.com"); }

// arvelo-cpm itself: bad arguments and unreadable files end with a message.
TEST(Z80CpmRunner, RejectsBadInput) {
  for (const char* arguments : {"", "/nonexistent/file.com", "/dev/null"}) {
    const CpmRun r = run_cpm(arguments);
    EXPECT_GT(r.status, 0) << "arguments '" << arguments << "'";
    EXPECT_FALSE(r.output.empty()) << "arguments '" << arguments << "'";
  }
}

// A small program: BDOS 9 prints a string, BDOS 2 a character, a jump to 0 ends it.
TEST(Z80CpmRunner, ServesBdosAndEndsAtAddressZero) {
  const std::vector<uint8_t> program = {
      0x11, 0x12, 0x01,  // LD DE,&0112
      0x0E, 0x09,        // LD C,9
      0xCD, 0x05, 0x00,  // CALL 5
      0x1E, 0x21,        // LD E,'!'
      0x0E, 0x02,        // LD C,2
      0xCD, 0x05, 0x00,  // CALL 5
      0xC3, 0x00, 0x00,  // JP 0
      'H', 'I', '$'};
  auto dir = testsupport::temp_dir("cpm");
  testsupport::write_bytes(dir / "hi.com", program);
  const CpmRun r = run_cpm((dir / "hi.com").string());
  EXPECT_EQ(r.output, "HI!");
  EXPECT_EQ(r.status, 0);
  std::filesystem::remove_all(dir);
}
