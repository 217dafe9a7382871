// Token scanner and keyword table.
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

// Reads every number token of a text until the end.
std::vector<int> numbers_of(const std::string& text) {
  TextScan s(text);
  std::vector<int> out;
  for (int t = s.next_token(); t != tok::END; t = s.next_token()) {
    EXPECT_EQ(t, tok::NUMBER) << "in " << text;
    out.push_back(s.number);
  }
  return out;
}

using Tokens = std::vector<std::string>;

}  // namespace

TEST(Scanner, NumberFormsAllGiveTheSameValue) {
  EXPECT_EQ(numbers_of("&1F 0x1F 0X1f 31 %11111 &1f\n"), (std::vector<int>{31, 31, 31, 31, 31, 31}));
  EXPECT_EQ(numbers_of("0\n0x0 %0"), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(numbers_of("-5\n"), (std::vector<int>{-5}));
  EXPECT_EQ(numbers_of("5-3"), (std::vector<int>{5, -3}));
  // A number that ends the file keeps its sign.
  EXPECT_EQ(numbers_of("-5"), (std::vector<int>{-5}));
  // Values wrap at 32 bits instead of overflowing.
  EXPECT_EQ(numbers_of("&FFFFFFFF &100000005"), (std::vector<int>{-1, 5}));
}

TEST(Scanner, MinusWithoutDigitsWarnsAndGivesZero) {
  TextScan s("-&10\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(next(s), "NUMBER 0");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: no number at column 1, line 1\n");
  EXPECT_EQ(s.warnings, 1);
  EXPECT_EQ(tokens(s), (Tokens{"NUMBER 16", "END"}));
}

TEST(Scanner, NumbersFollowedByNames) {
  TextScan s("00x5 12abc 0xg");
  EXPECT_EQ(tokens(s, 4), (Tokens{"NUMBER 0", "NAME X5", "NUMBER 12", "NAME ABC"}));
  // "0x" without hexadecimal digits: no number.
  testing::internal::CaptureStdout();
  EXPECT_EQ(next(s), "NUMBER 0");
  EXPECT_NE(testing::internal::GetCapturedStdout().find("no number"), std::string::npos);
  EXPECT_EQ(next(s), "NAME G");
}

TEST(Scanner, NamesAreUpperCaseAndPunctuationHasCodes) {
  TextScan s("rom_path = \"x\" , #ifcpc _a1 @");
  EXPECT_EQ(tokens(s, 8), (Tokens{"NAME ROM_PATH", "EQUALS", "STRING x", "COMMA", "NAME #IFCPC",
                                  "NAME _A1", "ERROR", "END"}));
  EXPECT_EQ(next(s), "END");
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

TEST(Scanner, EmptyFileAndCommentAtEnd) {
  for (const char* text : {"", "; only a comment without line feed"}) {
    TextScan s(text);
    EXPECT_EQ(next(s), "END") << text;
  }
}

TEST(Scanner, WarningFormat) {
  TextScan s("\n  X");
  s.next_token();
  testing::internal::CaptureStdout();
  s.warning("out of bounds: not 64 <= 32 <= 4160", "RAM_SIZE");
  s.warning("no keyword");
  s.warning("plain", "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning: (RAM_SIZE) out of bounds: not 64 <= 32 <= 4160 at column 3, line 2\n"
            "Warning: no keyword at column 3, line 2\n"
            "Warning: plain at column 3, line 2\n");
  EXPECT_EQ(s.warnings, 3);
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

TEST(Scanner, BinaryGarbageGivesErrorTokensAndEnds) {
  std::string garbage;
  for (int i = 0; i < 256; ++i) garbage += static_cast<char>((i * 37 + 11) & 0xFF);
  garbage += std::string("\0\0\xff\xfe", 4);
  TextScan s(garbage);
  testing::internal::CaptureStdout();
  int tokens = 0;
  while (s.next_token() != tok::END) ASSERT_LT(++tokens, 1000);
  testing::internal::GetCapturedStdout();
  EXPECT_GT(tokens, 0);
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
