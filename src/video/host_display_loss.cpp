#include "video/host_display_loss.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "core/startup.h"

namespace {

volatile sig_atomic_t lost = 0;

void write_line(const std::string& line) {
  const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  static_cast<void>(written);  // standard error is all there is left
}

// Never returns: when an I/O error handler returns, the client library calls exit() itself.
int connection_lost(Display* connection) {
  lost = 1;
  const int status = abrupt_exit_status();
  // Inside the fatal-signal handler the console streams may be locked by the code the
  // signal interrupted; its report is written already.
  if (status != FATAL_SIGNAL_STATUS) {
    std::cout.flush();
    std::fflush(stdout);
  }
  const char* name = connection ? DisplayString(connection) : nullptr;
  write_line(std::string("\nDisplay ") + (name ? name : "") +
             " lost: the connection to the X server broke; the program ends.\n");
  _exit(status);
}

}  // namespace

void watch_display_connection() { XSetIOErrorHandler(connection_lost); }

bool display_connection_lost() { return lost != 0; }
