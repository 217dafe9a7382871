// Token scanner and keyword table of the configuration and data files.
#include "config/scan.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// Character classes of the C locale, on character codes 0..255 (bytes above 127 belong
// to no class, whatever the host's locale says).
bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
int to_upper(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

}  // namespace

int scan::read_char() {
  int c = get();
  if (c == traits_type::eof()) return EOF;
  ++column;
  return c;
}

void scan::put_back() {
  unget();
  --column;
}

int scan::next_token() {
  int c;
  // Skip blanks and comments up to the first character of a token.
  for (;;) {
    c = read_char();
    if (c == EOF) return tok::END;
    if (c == '\n') {
      ++line;
      column = 0;
    } else if (c == '\t') {
      column = (column & ~7) + 8;
    } else if (c == ';') {
      do {
        c = get();
        if (c == traits_type::eof()) return tok::END;
      } while (c != '\n');
      column = 0;
      ++line;
    } else if (!is_blank(c)) {
      break;
    }
  }
  token_column = column;

  if (c == '=') return tok::EQUALS;
  if (c == ',') return tok::COMMA;

  if (is_letter(c) || c == '_' || c == '#') {
    int length = 0;
    text[length++] = static_cast<char>(to_upper(c));
    while (length < TEXT_SIZE - 1) {
      c = read_char();
      if (c == EOF) break;
      if (!is_letter(c) && !is_digit(c) && c != '_') {
        put_back();
        break;
      }
      text[length++] = static_cast<char>(to_upper(c));
    }
    text[length] = '\0';
    return tok::NAME;
  }

  if (c == '"') {
    int length = 0;
    while (length < TEXT_SIZE - 1) {
      c = read_char();
      if (c == EOF || c == '"') break;
      if (c == '\n') {
        warning("string terminator '\"' missing");
        column = 0;
        ++line;
        break;
      }
      text[length++] = static_cast<char>(c);
    }
    text[length] = '\0';
    return tok::STRING;
  }

  if (c == '%') {
    number = read_number(2);
    return tok::NUMBER;
  }
  if (c == '&') {
    number = read_number(16);
    return tok::NUMBER;
  }

  if (is_digit(c) || c == '-') {
    int first = c;
    put_back();
    number = read_number(10);
    // "0x" introduces a hexadecimal number.
    if (first == '0' && number == 0 && digits_read == 1) {
      c = read_char();
      if (c == 'x' || c == 'X') {
        number = read_number(16);
      } else if (c != EOF) {
        put_back();
      }
    }
    return tok::NUMBER;
  }

  return tok::ERROR;
}

int scan::read_number(int base) {
  int sign = 1;
  uint32_t value = 0;  // wraps like the 32-bit register it stands for
  digits_read = 0;
  for (;;) {
    int c = get();
    if (c == traits_type::eof()) break;
    if (c == '-' && digits_read == 0) {
      sign = -1;
      continue;
    }
    int digit = is_letter(c) ? to_upper(c) - 'A' + 10 : c - '0';
    if (digit < 0 || digit >= base) {
      unget();
      break;
    }
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    ++column;
    ++digits_read;
  }
  if (digits_read == 0) warning("no number");
  if (sign < 0) value = 0u - value;
  return static_cast<int>(value);
}

void scan::warning(const char* message, const char* context) {
  if (quiet) return;
  std::cout << "Warning: ";
  if (context && *context) std::cout << "(" << context << ") ";
  std::cout << message << " at column " << token_column << ", line " << line << '\n';
  ++warnings;
}

void scan::skip_line() {
  for (;;) {
    int c = get();
    if (c == traits_type::eof()) return;
    if (c == '\n') break;
  }
  column = 0;
  ++line;
}

bool open_text_file(std::ifstream& stream, const char* name) {
  struct stat info;
  if (::stat(name, &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  stream.open(name, std::ios::in | std::ios::binary);
  return stream.is_open();
}

// ---- KeywordTable ------------------------------------------------------------------------

KeywordTable::~KeywordTable() {
  for (Entry*& head : buckets) {
    while (head) {
      Entry* next = head->next;
      std::free(head->name);
      delete head;
      head = next;
    }
  }
}

int KeywordTable::bucket_of(const char* name) {
  uint32_t h = 0;
  for (const char* p = name; *p; ++p)
    h = (h << 1) ^ static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
  int64_t value = static_cast<int32_t>(h);
  if (value < 0) value = -value;
  return static_cast<int>(value % BUCKETS);
}

int KeywordTable::lookup(const char* name, bool insert) {
  if (!name) name = "";
  int bucket = bucket_of(name);
  for (Entry* e = buckets[bucket]; e; e = e->next)
    if (std::strcmp(e->name, name) == 0) return e->id;
  if (!insert) return 0;
  size_t length = std::strlen(name);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return 0;
  std::memcpy(copy, name, length + 1);
  buckets[bucket] = new Entry{copy, counter, buckets[bucket]};
  return counter++;
}

void KeywordTable::build(const char* const* names, int count) {
  for (int i = 0; i < count; ++i)
    if (lookup(names[i], true) != i) std::cerr << "Error: Wrong hashcode " << i << '\n';
}
