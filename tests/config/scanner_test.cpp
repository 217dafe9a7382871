// Token scanner and keyword table.
#include <cstring>
#include <string>

#include "config/scan.h"
#include "config_test_util.h"

using cfgtest::TextScan;

namespace {

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
  EXPECT_EQ(s.next_token(), tok::NUMBER);
  EXPECT_EQ(s.number, 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Warning: no number at column 1, line 1\n");
  EXPECT_EQ(s.warnings, 1);
  EXPECT_EQ(s.next_token(), tok::NUMBER);
  EXPECT_EQ(s.number, 16);
  EXPECT_EQ(s.next_token(), tok::END);
}

TEST(Scanner, NumbersFollowedByNames) {
  TextScan s("00x5 12abc 0xg");
  EXPECT_EQ(s.next_token(), tok::NUMBER);
  EXPECT_EQ(s.number, 0);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "X5");
  EXPECT_EQ(s.next_token(), tok::NUMBER);
  EXPECT_EQ(s.number, 12);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "ABC");
  // "0x" without hexadecimal digits: no number.
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.next_token(), tok::NUMBER);
  EXPECT_EQ(s.number, 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("no number"), std::string::npos);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "G");
}

TEST(Scanner, NamesAreUpperCaseAndPunctuationHasCodes) {
  TextScan s("rom_path = \"x\" , #ifcpc _a1 @");
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "ROM_PATH");
  EXPECT_EQ(s.next_token(), tok::EQUALS);
  EXPECT_EQ(s.next_token(), tok::STRING);
  EXPECT_STREQ(s.text, "x");
  EXPECT_EQ(s.next_token(), tok::COMMA);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "#IFCPC");
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "_A1");
  EXPECT_EQ(s.next_token(), tok::ERROR);
  EXPECT_EQ(s.next_token(), tok::END);
  EXPECT_EQ(s.next_token(), tok::END);
}

TEST(Scanner, ColumnsAndLines) {
  TextScan s("\tA\n  B ; comment = 5\n\n   C");
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_EQ(s.token_column, 9);
  EXPECT_EQ(s.line, 1);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_EQ(s.token_column, 3);
  EXPECT_EQ(s.line, 2);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "C");
  EXPECT_EQ(s.token_column, 4);
  EXPECT_EQ(s.line, 4);
  // The column after a name is that of its last character.
  EXPECT_EQ(s.column, 4);
}

TEST(Scanner, StringsKeepTheirTextAndComments) {
  TextScan s("\"a;b C\" ; a comment \"x\"\n\"open\nNEXT \"end at eof");
  EXPECT_EQ(s.next_token(), tok::STRING);
  EXPECT_STREQ(s.text, "a;b C");
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.next_token(), tok::STRING);
  EXPECT_STREQ(s.text, "open");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning: string terminator '\"' missing at column 1, line 2\n");
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "NEXT");
  EXPECT_EQ(s.line, 3);
  EXPECT_EQ(s.token_column, 1);
  EXPECT_EQ(s.next_token(), tok::STRING);
  EXPECT_STREQ(s.text, "end at eof");
  EXPECT_EQ(s.next_token(), tok::END);
  EXPECT_EQ(s.warnings, 1);
}

TEST(Scanner, EmptyFileAndCommentAtEnd) {
  TextScan empty("");
  EXPECT_EQ(empty.next_token(), tok::END);
  TextScan comment("; only a comment without line feed");
  EXPECT_EQ(comment.next_token(), tok::END);
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
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "B");
  s.skip_line();
  s.skip_line();  // at the end of the file: nothing more to consume
  EXPECT_EQ(s.next_token(), tok::END);
}

TEST(Scanner, OverLongNamesAndStringsAreCut) {
  std::string name(5000, 'q');
  std::string text = name + "\n\"" + std::string(4095, 's') + "tail\"\n";
  TextScan s(text);
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_EQ(std::strlen(s.text), 4095u);
  EXPECT_EQ(s.text[0], 'Q');
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_EQ(std::strlen(s.text), 905u);
  EXPECT_EQ(s.next_token(), tok::STRING);
  EXPECT_EQ(std::strlen(s.text), 4095u);
  // The characters after the cut are scanned as further tokens.
  EXPECT_EQ(s.next_token(), tok::NAME);
  EXPECT_STREQ(s.text, "TAIL");
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.next_token(), tok::STRING);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(s.next_token(), tok::END);
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
