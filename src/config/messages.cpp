// Message lookup by number and language. The start of the current language's block is
// cached, so only a change of language rescans the file from its beginning.
#include "config/messages.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "config/settings.h"

namespace {

struct MessageFile {
  std::string name;
  FILE* stream = nullptr;
  int open = 0;
  int cached_language = 0;
  long block_offset = 0;
  char text[4096] = {};
};

MessageFile book;

// Reads one line (at most sizeof text - 1 characters; a longer line counts as several)
// into the text buffer. False at the end of the file.
bool read_line() {
  return std::fgets(book.text, sizeof book.text, book.stream) != nullptr;
}

// Skips count lines; false when the file ends before.
bool skip_lines(long count) {
  for (long i = 0; i < count; ++i)
    if (!read_line()) return false;
  return true;
}

void cannot_read(long n) {
  std::snprintf(book.text, sizeof book.text, "MSG: Cannot read message %ld \n", n);
}

}  // namespace

void set_message_file(const char* name) { book.name = name ? name : ""; }

bool open_message_file() {
  close_message_file();
  book.stream = std::fopen(book.name.c_str(), "rb");
  book.cached_language = 0;
  book.block_offset = 0;
  if (!book.stream) {
    std::cout << "MSG: Cannot open message file " << book.name << "!" << std::endl;
    return false;
  }
  book.open = 1;
  return true;
}

void close_message_file() {
  if (book.stream) std::fclose(book.stream);
  book.stream = nullptr;
  book.open = 0;
}

const char* message_text(long n) {
  int language = setting(kw::LANGUAGE);
  if (book.open && language != book.cached_language) {
    book.cached_language = language;
    book.block_offset = 0;
    // A block exists when its first line does: a file that ends right after the
    // blocks before it has none, and the first block stands in.
    if (language > 0 && std::fseek(book.stream, 0, SEEK_SET) == 0 &&
        skip_lines(static_cast<long>(language) * MESSAGES_PER_LANGUAGE)) {
      long position = std::ftell(book.stream);
      if (position >= 0 && std::fgetc(book.stream) != EOF) book.block_offset = position;
    }
  }
  bool found = false;
  if (book.open && n >= 0) {
    std::clearerr(book.stream);
    found = std::fseek(book.stream, book.block_offset, SEEK_SET) == 0 && skip_lines(n) &&
            read_line();
  }
  if (!found) cannot_read(n);
  size_t length = std::strlen(book.text);
  if (length > 0 && book.text[length - 1] == '\n') book.text[length - 1] = '\0';
  return book.text;
}

void print_message(msg::Id n) { std::cout << message_text(n) << '\n'; }
