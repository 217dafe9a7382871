#include "video/host_display_loss.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

namespace {
// An argument longer than this is refused by exec; the end of the report matters most.
constexpr size_t BOX_TEXT_LIMIT = 64 * 1024;
}  // namespace

bool show_box_in_own_process(const char* title, const char* text) {
  const size_t length = std::strlen(text);
  if (length > BOX_TEXT_LIMIT) text += length - BOX_TEXT_LIMIT;
  char* const argv[] = {const_cast<char*>("arvelo"), const_cast<char*>(ERROR_BOX_OPTION),
                        const_cast<char*>(title), const_cast<char*>(text), nullptr};
  const pid_t child = _Fork();
  if (child < 0) return false;
  if (child == 0) {
    execv("/proc/self/exe", argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

int run_error_box_process(const char* title, const char* text) {
  // The signal that started the box is still blocked in the mask the copy inherited.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // The handler's own alarm is not inherited; the box keeps to the same bound.
  alarm(FATAL_BOX_SECONDS);
  watch_display_connection();
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, nullptr) == 0 ? 0 : 1;
}
