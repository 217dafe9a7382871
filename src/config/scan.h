// The token scanner shared by the configuration and data file readers, and the keyword
// table they look their keywords up in.
#pragma once
#include <fstream>

// Token codes returned by scan::next_token.
namespace tok {
constexpr int ERROR = 0;   // a character that starts no token
constexpr int NAME = 1;
constexpr int NUMBER = 2;
constexpr int STRING = 3;
constexpr int EQUALS = 4;
constexpr int COMMA = 5;
constexpr int END = 6;
}  // namespace tok

// A reader of one text file: the scanner is itself the stream it reads; derived readers
// open their file on it. Problems become warning lines on standard output, counted in
// `warnings`; scanning always goes on.
class scan : public std::ifstream {
 public:
  static constexpr int TEXT_SIZE = 4096;     // text keeps at most TEXT_SIZE - 1 characters
  static constexpr int MAX_WARNINGS = 32;    // readers stop after this many warnings

  int number = 0;          // value of the last number token
  char text[TEXT_SIZE] = {};  // last name (upper case) or string, zero-terminated
  int column = 0;          // characters consumed on the current line
  int line = 1;            // current line, from 1
  int token_column = 0;    // column of the first character of the last token
  int warnings = 0;        // warnings written so far

  // The next token's code; names and strings in text, numbers in number.
  int next_token();
  // Reads an optionally negative number in base 2, 10 or 16.
  int read_number(int base);
  // Writes "Warning: [(context) ]message at column C, line L" and counts it.
  void warning(const char* message, const char* context = "");
  // Consumes the rest of the current line, including its line feed.
  void skip_line();
  // True once the reader has written enough warnings to stop.
  bool too_many_warnings() const { return warnings >= MAX_WARNINGS; }

 protected:
  // While set, warnings are neither written nor counted (text that is being dropped).
  bool quiet = false;

 private:
  int digits_read = 0;      // digits taken by the last read_number
  int read_char();          // next character or EOF; counts the column
  void put_back();          // un-reads the last character read by read_char
};

// Opens a reader's file for reading. A directory is refused (errno EISDIR): the stream
// would open it but could read nothing. False when the file cannot be opened; errno
// then tells why.
bool open_text_file(std::ifstream& stream, const char* name);

// Keyword names to ids: 23 buckets of singly linked entries, ids given in order of
// insertion from 0 on.
class KeywordTable {
 public:
  static constexpr int BUCKETS = 23;

  KeywordTable() = default;
  ~KeywordTable();
  KeywordTable(const KeywordTable&) = delete;
  KeywordTable& operator=(const KeywordTable&) = delete;

  // The id of name; without a match 0, or a new id when insert is set.
  int lookup(const char* name, bool insert);

  // Inserts names in order; for an id that differs from its index writes
  // "Error: Wrong hashcode <index>" to standard error.
  void build(const char* const* names, int count);

 private:
  struct Entry {
    char* name;
    int id;
    Entry* next;
  };
  int counter = 0;
  Entry* buckets[BUCKETS] = {};

  static int bucket_of(const char* name);
};
