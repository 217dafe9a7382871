// A stream buffer that passes every character on to another buffer (the process's
// own standard output or error) and also appends it to a captured text, which the
// start-up error box and the "Arvelo Output" box show.
#pragma once
#include <streambuf>
#include <string>

class simpleteebuf : public std::streambuf {
 public:
  simpleteebuf(std::streambuf* target, std::string& captured) : target_(target), captured_(captured) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    captured_.push_back(traits_type::to_char_type(c));
    return target_->sputc(traits_type::to_char_type(c));
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    captured_.append(s, static_cast<size_t>(n));
    return target_->sputn(s, n);
  }
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
  std::string& captured_;
};

// The text captured from std::cout and std::cerr since start-up.
std::string& captured_output();
// Switches std::cout and std::cerr to capturing buffers (idempotent).
void capture_console_output();
