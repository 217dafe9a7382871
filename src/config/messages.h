// The message file: numbered texts of the four user languages, one message per line,
// four blocks of 257 lines (English, German, French, Spanish). Lookups go by number in
// the current LANGUAGE and never fail: a missing message reads as the cannot-read text.
#pragma once

constexpr int MESSAGES_PER_LANGUAGE = 257;

// Replaces the message file name (set once at start).
void set_message_file(const char* name);
// Opens the message file: 0 when opened, otherwise 1 after a line on standard output.
int open_message_file();
// Closes the message file; later lookups give the cannot-read text.
void close_message_file();
// Message n in the current language, without its line end. The text stays valid until
// the next lookup.
const char* message_text(long n);
// Writes message n and a line feed to standard output; returns 0.
int print_message(long n);
// The same, but returns 1 so that callers can return it as their failure status.
int print_error_message(long n);
