// The poke database: a text file of memory patches for CPC programs. Each entry is a
// header line (first field "0") with two text columns, a one-character column and a
// poke (address, value, check value), followed by lines numbered 1, 2, ... that add
// further pokes to the same entry. Lines are lists of double-quoted fields; a ';' right
// behind a closing quote ends the line's fields, a line starting with ';' is a comment.
//
// The reader keeps the file open and remembers where the last entry it sought starts,
// so the list window that asks for entries 0, 1, 2 ... reads the file once.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace pokes {
constexpr int LINE_LENGTH = 254;    // characters kept of a line; the rest is skipped
constexpr int POKE_COLUMN = 54;   // where the poke starts in an entry line text
constexpr int FIELD_COUNT = 7;    // number, two texts, one character, address, value, check
}  // namespace pokes

// The fields of one database line. false for a comment, a line without a double quote,
// or an empty line; missing fields are empty.
bool poke_line_fields(const std::string& line, std::vector<std::string>& fields);
// The entry line text of a line's fields: "%-25s %-25s %1s %4s %2s %2s" of the fields
// after the first, each cut to its column so the poke always starts at POKE_COLUMN.
std::string poke_line_text(const std::vector<std::string>& fields);

class PokeDatabase {
 public:
  PokeDatabase() = default;
  ~PokeDatabase();
  PokeDatabase(const PokeDatabase&) = delete;
  PokeDatabase& operator=(const PokeDatabase&) = delete;

  bool open(const char* path);
  void close();
  bool is_open() const { return file_ != nullptr; }

  // Positions the file just behind the header of entry n - 1 (at the start for 0) and
  // returns the number of headers passed (less than n when the file has fewer).
  int seek_entry(int n);
  // The entry line text of entry n; false (text empty) when there are fewer entries.
  // Leaves the file just behind the entry's header, where its numbered lines follow.
  bool entry_text(std::string& text, int n);
  // The next numbered line of the entry read last: its line text when its first field
  // is one more than the previous line's (the header counts 0); false at the first
  // other line or at the end of the file.
  bool next_poke_text(std::string& text);

  // Lines read since the file was opened (the seek cache avoids rereading).
  long lines_read() const { return lines_read_; }

 private:
  bool read_line(std::string& line);
  bool read_header(std::vector<std::string>& fields);

  std::FILE* file_ = nullptr;
  int cached_index_ = 0;
  long cached_offset_ = 0;
  int last_number_ = 0;
  long lines_read_ = 0;
};

// Applies one poke "address value check" (hexadecimal, split at blanks) to the byte the
// processor would write at the address. A value starting with '?' is asked through
// ask_value (false: nothing happens). Appends "%04X %02X (%02X)" with the address, the
// new value and the present byte to printed, and "*" when the check value does not begin
// with '?' and differs from the present byte. false, and nothing written or printed, when
// a token is missing or not a hexadecimal number, or the address is 0.
bool apply_poke(const char* text, std::string& printed,
                const std::function<bool(long& value)>& ask_value);
