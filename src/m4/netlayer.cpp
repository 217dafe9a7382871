#include "m4/netlayer.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
int init_count = 0;
char error_text[512] = "";
}  // namespace

void SDLNet_SetError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(error_text, sizeof error_text, format, args);
  va_end(args);
}

const char* SDLNet_GetError() { return error_text; }

int SDLNet_Init() {
  if (init_count == 0) {
    // A write to a socket whose peer has gone must fail with EPIPE, not end the program.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, nullptr) != 0) {
      SDLNet_SetError("cannot ignore SIGPIPE: %s", std::strerror(errno));
      return -1;
    }
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) {
      SDLNet_SetError("Couldn't create socket: %s", std::strerror(errno));
      return -1;
    }
    ::close(probe);
  }
  ++init_count;
  return 0;
}

void SDLNet_Quit() {
  if (init_count > 0) --init_count;
}
