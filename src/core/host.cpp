#include "core/host.h"

#include <time.h>

#include "config/settings.h"

namespace {
void no_op() {}
void no_frame(uint64_t) {}
int audio_open_headless() { return 0; }
void sleep_ms(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}
void no_box(bool, const char*, const char*) {}
bool no_shift() { return false; }
int keep_language() { return setting(kw::LANGUAGE); }

constexpr HostHooks headless{no_op,    no_op,    no_op,    no_frame, audio_open_headless,
                             no_op,    sleep_ms, no_box,   no_shift, no_op,
                             no_op,    keep_language, no_op, no_op};
}  // namespace

HostHooks host = headless;

void host_install_headless() { host = headless; }
