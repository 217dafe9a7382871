// zexdoc and zexall, the instruction exercisers, run through arvelo-cpm on the bare core.
// They execute billions of instructions, so they run in the optimised build only.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>

#include "test_support.h"

namespace {
void run_exerciser(const std::string& name) {
  std::string program = testsupport::testdata_dir() + "/z80/" + name;
  REQUIRE_ASSET(program);
  std::string command = testsupport::bin_dir() + "/arvelo-cpm '" + program + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("Tests complete"), std::string::npos) << output;
  EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
}
}  // namespace

TEST(SlowZ80Exercisers, Zexdoc) { run_exerciser("zexdoc.com"); }
TEST(SlowZ80Exercisers, Zexall) { run_exerciser("zexall.com"); }

// arvelo-cpm itself: bad arguments and unreadable files end with a message.
TEST(Z80CpmRunner, RejectsBadInput) {
  std::string cpm = testsupport::bin_dir() + "/arvelo-cpm";
  EXPECT_NE(std::system((cpm + " > /dev/null 2>&1").c_str()), 0);
  EXPECT_NE(std::system((cpm + " /nonexistent/file.com > /dev/null 2>&1").c_str()), 0);
  EXPECT_NE(std::system((cpm + " /dev/null > /dev/null 2>&1").c_str()), 0);
}

// A small program: BDOS 9 prints a string, BDOS 2 a character, a jump to 0 ends it.
TEST(Z80CpmRunner, ServesBdosAndEndsAtAddressZero) {
  const unsigned char program[] = {
      0x11, 0x12, 0x01,  // LD DE,&0112
      0x0E, 0x09,        // LD C,9
      0xCD, 0x05, 0x00,  // CALL 5
      0x1E, 0x21,        // LD E,'!'
      0x0E, 0x02,        // LD C,2
      0xCD, 0x05, 0x00,  // CALL 5
      0xC3, 0x00, 0x00,  // JP 0
      'H', 'I', '$'};
  auto dir = testsupport::temp_dir("cpm");
  std::string path = (dir / "hi.com").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(program), sizeof program);
  FILE* pipe = popen((testsupport::bin_dir() + "/arvelo-cpm " + path).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[64] = {};
  size_t n = fread(buffer, 1, sizeof buffer - 1, pipe);
  int status = pclose(pipe);
  EXPECT_EQ(std::string(buffer, n), "HI!");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::filesystem::remove_all(dir);
}
