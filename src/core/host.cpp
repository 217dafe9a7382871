#include "core/host.h"

#include <time.h>

#include <iostream>

#include "config/settings.h"

namespace {
void no_op() {}
void no_frame(uint64_t) {}
int audio_open_headless() { return 0; }
void no_box(bool, const char*, const char*) {}
bool no_shift() { return false; }
int keep_language() { return setting(kw::LANGUAGE); }
void print_notice(const char* text, int) { std::cout << text << std::endl; }

constexpr HostHooks headless{no_op,    no_op,    no_op,    no_frame, audio_open_headless,
                             no_op,    nullptr,  no_box,   no_shift, no_op,
                             no_op,    keep_language, no_op, no_op, print_notice};
}  // namespace

HostHooks host = headless;

void host_install_headless() { host = headless; }

void host_sleep_ms(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

void notify_user(const char* text, int seconds) {
  if (text && *text) host.show_notice(text, seconds);
}
