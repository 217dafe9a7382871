// Token scanner and keyword table.
#include <algorithm>
#include <string>

#include "config/scan.h"
#include "config_test_util.h"

using cfgtest::TextScan;

namespace {

// The next token as its kind and what it carries: "NAME ROM_PATH", "NUMBER 31",
// "STRING x", "EQUALS".
std::string next(scan& s) {
  static const char* const kinds[] = {"ERROR", "NAME", "NUMBER", "STRING", "EQUALS", "COMMA",
                                      "END"};
  const int t = s.next_token();
  if (t == tok::NUMBER) return "NUMBER " + std::to_string(s.number);
  if (t == tok::NAME || t == tok::STRING) return kinds[t] + std::string(" ") + s.text;
  return kinds[t];
}

// The next `count` tokens, or all of them up to END when count is 0 (at most 1000: a
// scanner that never ends fails the comparison instead of hanging).
std::vector<std::string> tokens(scan& s, int count = 0) {
  std::vector<std::string> out;
  const auto more = [&] {
    return count ? out.size() < size_t(count) : out.empty() || out.back() != "END";
  };
  while (more() && out.size() < 1000) out.push_back(next(s));
  return out;
}

using Tokens = std::vector<std::string>;

}  // namespace

// Every token of a text up to its end (which stays the end) and the warnings printed.
TEST(Scanner, TokensAndWarningsOfTexts) {
  const struct {
    const char* text;
    Tokens tokens;
    std::string warnings = "";
  } cases[] = {
      // Every form of a number gives the same value.
      {"&1F 0x1F 0X1f 31 %11111 &1f\n",
       {"NUMBER 31", "NUMBER 31", "NUMBER 31", "NUMBER 31", "NUMBER 31", "NUMBER 31", "END"}},
      {"0\n0x0 %0", {"NUMBER 0", "NUMBER 0", "NUMBER 0", "END"}},
      {"-5\n", {"NUMBER -5", "END"}},
      {"5-3", {"NUMBER 5", "NUMBER -3", "END"}},
      // A number that ends the file keeps its sign.
      {"-5", {"NUMBER -5", "END"}},
      // Values wrap at 32 bits instead of overflowing.
      {"&FFFFFFFF &100000005", {"NUMBER -1", "NUMBER 5", "END"}},
      // A minus without digits gives 0.
      {"-&10\n", {"NUMBER 0", "NUMBER 16", "END"}, "Warning: no number at column 1, line 1\n"},
      // Numbers followed by names; "0x" without hexadecimal digits is no number.
      {"00x5 12abc 0xg",
       {"NUMBER 0", "NAME X5", "NUMBER 12", "NAME ABC", "NUMBER 0", "NAME G", "END"},
       "Warning: no number at column 12, line 1\n"},
      // Names are upper case; punctuation has its own tokens.
      {"rom_path = \"x\" , #ifcpc _a1 @",
       {"NAME ROM_PATH", "EQUALS", "STRING x", "COMMA", "NAME #IFCPC", "NAME _A1", "ERROR", "END"}},
      {"", {"END"}},
      {"; only a comment without line feed", {"END"}},
  };
  for (const auto& c : cases) {
    TextScan s(c.text);
    testing::internal::CaptureStdout();
    EXPECT_EQ(tokens(s), c.tokens) << c.text;
    EXPECT_EQ(next(s), "END") << c.text;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.warnings) << c.text;
    EXPECT_EQ(s.warnings, std::count(c.warnings.begin(), c.warnings.end(), '\n')) << c.text;
  }
}

TEST(Scanner, ColumnsAndLines) {
  TextScan s("\tA\n  B ; comment = 5\n\n   C");
  // Each name with the line and the column it starts at.
  for (const char* expected : {"NAME A 1:9", "NAME B 2:3", "NAME C 4:4"}) {
    const std::string t = next(s);
    EXPECT_EQ(t + " " + std::to_string(s.line) + ":" + std::to_string(s.token_column), expected);
  }
  // The column after a name is that of its last character.
  EXPECT_EQ(s.column, 4);
}

TEST(Scanner, StringsKeepTheirTextAndComments) {
  TextScan s("\"a;b C\" ; a comment \"x\"\n\"open\nNEXT \"end at eof");
  testing::internal::CaptureStdout();
  EXPECT_EQ(tokens(s, 3), (Tokens{"STRING a;b C", "STRING open", "NAME NEXT"}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning: string terminator '\"' missing at column 1, line 2\n");
  EXPECT_EQ(s.line, 3);
  EXPECT_EQ(s.token_column, 1);
  EXPECT_EQ(tokens(s), (Tokens{"STRING end at eof", "END"}));
  EXPECT_EQ(s.warnings, 1);
}

TEST(Scanner, SkipLineConsumesTheLineFeed) {
  TextScan s("A rest of line ,,, \"\nB\nC");
  s.next_token();
  s.skip_line();
  EXPECT_EQ(s.line, 2);
  EXPECT_EQ(s.column, 0);
  EXPECT_EQ(next(s), "NAME B");
  s.skip_line();
  s.skip_line();  // at the end of the file: nothing more to consume
  EXPECT_EQ(next(s), "END");
}

TEST(Scanner, OverLongNamesAndStringsAreCut) {
  std::string name(5000, 'q');
  std::string text = name + "\n\"" + std::string(4095, 's') + "tail\"\n";
  TextScan s(text);
  // The characters after the cut are scanned as further tokens.
  testing::internal::CaptureStdout();
  EXPECT_EQ(tokens(s), (Tokens{"NAME " + std::string(4095, 'Q'), "NAME " + std::string(905, 'Q'),
                               "STRING " + std::string(4095, 's'), "NAME TAIL", "STRING ", "END"}));
  testing::internal::GetCapturedStdout();
}

TEST(KeywordTable, IdsInInsertionOrderAndExactMatch) {
  KeywordTable table;
  const char* names[] = {"NO TOKEN", "ALPHA", "BETA", "GAMMA", "", "ALPHA_LONG_NAME_THAT_WRAPS_THE_HASH"};
  testing::internal::CaptureStderr();
  table.build(names, 6);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(table.lookup("ALPHA", false), 1);
  EXPECT_EQ(table.lookup("GAMMA", false), 3);
  EXPECT_EQ(table.lookup("", false), 4);
  EXPECT_EQ(table.lookup("ALPHA_LONG_NAME_THAT_WRAPS_THE_HASH", false), 5);
  EXPECT_EQ(table.lookup("alpha", false), 0);  // case-sensitive
  EXPECT_EQ(table.lookup("DELTA", false), 0);
  EXPECT_EQ(table.lookup("DELTA", true), 6);
  EXPECT_EQ(table.lookup("DELTA", true), 6);
  // Bytes above 127 count as negative characters in the hash; they must still work.
  EXPECT_EQ(table.lookup("\xE4\xFF\x80", true), 7);
  EXPECT_EQ(table.lookup("\xE4\xFF\x80", false), 7);
}

TEST(KeywordTable, RepeatedNameReportsWrongHashcode) {
  KeywordTable table;
  const char* names[] = {"NO TOKEN", "A", "A", "B"};
  testing::internal::CaptureStderr();
  table.build(names, 4);
  // The repeated name keeps its id, so B takes id 2 at index 3.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Wrong hashcode 2\nError: Wrong hashcode 3\n");
  EXPECT_EQ(table.lookup("B", false), 2);
}
