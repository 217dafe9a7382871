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

MessageFile msg;

// Reads one line (at most sizeof text - 1 characters; a longer line counts as several)
// into the text buffer. False at the end of the file.
bool read_line() {
  return std::fgets(msg.text, sizeof msg.text, msg.stream) != nullptr;
}

// Skips count lines; false when the file ends before.
bool skip_lines(long count) {
  for (long i = 0; i < count; ++i)
    if (!read_line()) return false;
  return true;
}

void cannot_read(long n) {
  std::snprintf(msg.text, sizeof msg.text, "MSG: Cannot read message %ld \n", n);
}

}  // namespace

void set_message_file(const char* name) { msg.name = name ? name : ""; }

int open_message_file() {
  close_message_file();
  msg.stream = std::fopen(msg.name.c_str(), "rb");
  msg.cached_language = 0;
  msg.block_offset = 0;
  if (!msg.stream) {
    std::cout << "MSG: Cannot open message file " << msg.name << "!" << std::endl;
    return 1;
  }
  msg.open = 1;
  return 0;
}

void close_message_file() {
  if (msg.stream) std::fclose(msg.stream);
  msg.stream = nullptr;
  msg.open = 0;
}

const char* message_text(long n) {
  int language = setting(kw::LANGUAGE);
  if (msg.open && language != msg.cached_language) {
    msg.cached_language = language;
    msg.block_offset = 0;
    // A block exists when its first line does: a file that ends right after the
    // blocks before it has none, and the first block stands in.
    if (language > 0 && std::fseek(msg.stream, 0, SEEK_SET) == 0 &&
        skip_lines(static_cast<long>(language) * MESSAGES_PER_LANGUAGE)) {
      long position = std::ftell(msg.stream);
      if (position >= 0 && std::fgetc(msg.stream) != EOF) msg.block_offset = position;
    }
  }
  bool found = false;
  if (msg.open && n >= 0) {
    std::clearerr(msg.stream);
    found = std::fseek(msg.stream, msg.block_offset, SEEK_SET) == 0 && skip_lines(n) &&
            read_line();
  }
  if (!found) cannot_read(n);
  size_t length = std::strlen(msg.text);
  if (length > 0 && msg.text[length - 1] == '\n') msg.text[length - 1] = '\0';
  return msg.text;
}

int print_message(long n) {
  std::cout << message_text(n) << '\n';
  return 0;
}

int print_error_message(long n) {
  std::cout << message_text(n) << '\n';
  return 1;
}
