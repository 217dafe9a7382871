#include "core/startup.h"

#include <err.h>
#include <execinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "core/host.h"
#include "core/teebuf.h"
#include "config/messages.h"
#include "config/settings.h"
#include "media/dsk.h"
#include "media/media_file.h"
#include "m4/tree_copy.h"

namespace fs = std::filesystem;

// ---- Command line -------------------------------------------------------------------

void print_usage(const char* argv0, std::ostream& out) {
  const char* name = argv0 ? argv0 : "arvelo";
  if (const char* bs = std::strrchr(name, '\\')) name = bs + 1;
  out << "Usage: " << name << " [options...] [file]\n"
      << "\t/f  : start fast emulation (default)\n"
      << "\t/s  : start slow emulation\n"
      << "\t/d  : start debug menu\n"
      << "\t/h  : display help screen (or /?)\n"
      << "\t/x  : disable EMS usage\n"
      << "\t/c <file> : set config file (default " << TEMPLATE_CONFIG << ")\n"
      << "\t/t <type> : set the CPC type 0=464, 1=664, 2=6128\n"
      << "\t[file] is an optional x.cfg, x.dsk or x.sna\n"
      << "\n\n";
  out.flush();
}

namespace {
bool equal_nocase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}
}  // namespace

int parse_command_line(int argc, char** argv, StartOptions& o, std::ostream& out, std::ostream& err) {
  int errors = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
      const bool has_next = i + 1 < argc;
      switch (letter) {
        case '?':
        case 'H': o.start_mode = 'H'; break;
        case 'D': o.start_mode = 'D'; break;
        case 'F': o.start_mode = 'F'; break;
        case 'S': o.start_mode = 'S'; break;
        case 'X': o.ems_disabled = 1; break;
        case 'C':
          if (has_next) {
            o.config_file = argv[++i];
          } else {
            err << "wrong option format, use -c <cfgfile>" << std::endl;
            ++errors;
          }
          break;
        case 'E':
          if (has_next) {
            o.entry_address = static_cast<uint16_t>(std::strtoul(argv[++i], nullptr, 16));
          } else {
            err << "wrong option format, use -e <addr>" << std::endl;
            ++errors;
          }
          break;
        case 'T':
          if (has_next) {
            o.cpc_type = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
          } else {
            err << "wrong option format, use -t <CPC type>" << std::endl;
            ++errors;
          }
          break;
        default:
          err << letter << " : unknown option." << std::endl;
          ++errors;
          break;
      }
      continue;
    }
    o.media_file = arg;
    const char* dot = std::strrchr(arg, '.');
    const char* ext = dot ? dot + 1 : "";
    int kind = MEDIA_NONE;
    if (std::strlen(ext) == 3) {
      if (equal_nocase(ext, "cfg")) kind = MEDIA_CONFIG;
      else if (equal_nocase(ext, "dsk")) kind = MEDIA_DISC;
      else if (equal_nocase(ext, "sna")) kind = MEDIA_SNAPSHOT;
    }
    o.media_kind = kind;
    if (kind != MEDIA_NONE) {
      out << "EMU: Special file " << arg << std::endl;
    } else {
      err << "EMU: UNKNOWN special file " << arg << std::endl;
    }
  }
  return errors;
}

std::string program_directory(const char* argv0) {
  std::string a = argv0 ? argv0 : "";
  size_t slash = a.rfind('/');
  if (slash != std::string::npos) return a.substr(0, slash);
  size_t colon = a.rfind(':');
  if (colon != std::string::npos) return a.substr(0, colon + 1);
  return "";
}

std::string working_directory() {
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  return ec ? std::string() : here.string();
}

std::string command_line_path(const std::string& start_dir, const char* name) {
  if (!name || !*name) return name ? name : "";
  if (name[0] == '/' || name[0] == '~' || start_dir.empty()) return name;
  while (name[0] == '.' && name[1] == '/') name += 2;
  return start_dir + (start_dir.back() == '/' ? "" : "/") + name;
}

std::string executable_directory(const char* argv0) {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string self = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  std::string dir = self.empty() ? program_directory(argv0) : self.substr(0, self.rfind('/'));
  return dir.empty() ? "." : dir;
}

const char* user_config_path() {
  static char path[2048] = "~/.Arvelo/arvelo.cfg";
  return path;
}

std::string choose_config_file(const StartOptions& o) {
  std::string chosen;
  if (o.config_file) {
    chosen = o.config_file;
  } else {
    std::string user = expand_home(user_config_path());
    std::ifstream probe(user);
    chosen = probe ? user : TEMPLATE_CONFIG;
  }
  if (o.media_kind == MEDIA_CONFIG && o.media_file) chosen = o.media_file;
  return chosen;
}

// ---- First start ----------------------------------------------------------------------

namespace {
bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}
}  // namespace

int first_start_copy(int language) {
  const std::string user_cfg = expand_home(user_config_path());
  const std::string settings_dir = user_cfg.substr(0, user_cfg.rfind('/') + 1);
  if (::mkdir(settings_dir.c_str(), 0700) != 0 && errno != EEXIST) {
    // The writing below fails and reports the problem.
  }

  std::ifstream in(TEMPLATE_CONFIG, std::ios::binary);
  std::ofstream out(user_cfg, std::ios::binary | std::ios::trunc);
  bool ok = in.is_open() && out.is_open();
  std::string line;
  while (ok && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (starts_with(line, "LANGUAGE")) {
      line = "LANGUAGE = " + std::to_string(language);
    } else if (starts_with(line, "ROM_PATH") || starts_with(line, "TAPE_PATH") ||
               starts_with(line, "SNAPSHOT") || starts_with(line, "M4_SD_PATH") ||
               starts_with(line, "DRIVE_A") || starts_with(line, "DRIVE_B")) {
      const size_t at = line.find("\"./", 1);
      if (at != std::string::npos) {
        const size_t start = at + 3;
        size_t end = line.find('"', start);
        if (end == std::string::npos) end = line.size();
        const std::string relative = line.substr(start, end - start);
        // The directory copier tells what failed; files the user already has stay.
        if (!relative.empty() && !copy_tree(relative, settings_dir + relative)) {
          out.close();
          std::remove(user_cfg.c_str());
          errx(1, "Error copying files");
        }
        line.replace(at + 1, 2, settings_dir);
      }
    }
    out << line << "\n";
    if (!out) ok = false;
  }
  if (in.is_open() && in.bad()) ok = false;
  out.close();
  if (!ok || out.fail()) {
    std::remove(user_cfg.c_str());
    std::cerr << "Error creating configuration file." << std::endl;
    return 1;
  }
  return 0;
}

// ---- Fatal-signal handler ----------------------------------------------------------------

namespace {
const char* signal_line(int sig, int code) {
  static const char* const fpe[] = {
      "Caught SIGFPE: (integer divide by zero)",       "Caught SIGFPE: (integer overflow)",
      "Caught SIGFPE: (floating-point divide by zero)", "Caught SIGFPE: (floating-point overflow)",
      "Caught SIGFPE: (floating-point underflow)",     "Caught SIGFPE: (floating-point inexact result)",
      "Caught SIGFPE: (floating-point invalid operation)", "Caught SIGFPE: (subscript out of range)"};
  static const char* const ill[] = {
      "Caught SIGILL: (illegal opcode)",    "Caught SIGILL: (illegal operand)",
      "Caught SIGILL: (illegal addressing mode)", "Caught SIGILL: (illegal trap)",
      "Caught SIGILL: (privileged opcode)", "Caught SIGILL: (privileged register)",
      "Caught SIGILL: (coprocessor error)", "Caught SIGILL: (internal stack error)"};
  switch (sig) {
    case SIGSEGV: return "Caught SIGSEGV: Segmentation Fault";
    case SIGINT: return "Caught SIGINT: Interactive attention signal, (usually ctrl+c)";
    case SIGTERM: return "Caught SIGTERM: a termination request was sent to the program";
    case SIGABRT: return "Caught SIGABRT: usually caused by an abort() or assert()";
    case SIGFPE: return (code >= 1 && code <= 8) ? fpe[code - 1] : "Caught SIGFPE: Arithmetic Exception";
    case SIGILL: return (code >= 1 && code <= 8) ? ill[code - 1] : "Caught SIGILL: Illegal Instruction";
    default: return "Caught signal";
  }
}

volatile sig_atomic_t abrupt_status = 1;
unsigned fatal_box_seconds = FATAL_BOX_SECONDS;

void box_overdue(int) {
  static const char line[] = "The error box did not close in time; the program ends.\n";
  const ssize_t written = write(STDERR_FILENO, line, sizeof line - 1);
  static_cast<void>(written);  // nothing is left to tell it to
  _exit(FATAL_SIGNAL_STATUS);
}

// The handler below draws a box through the display library, which the signal may have
// interrupted inside its locks, or which may have lost its display: whatever happens
// there, the alarm ends the process with the handler's status.
void arm_fatal_watchdog() {
  struct sigaction sa{};
  sa.sa_handler = box_overdue;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_ONSTACK;
  sigaction(SIGALRM, &sa, nullptr);
  sigset_t alarm_signal;
  sigemptyset(&alarm_signal);
  sigaddset(&alarm_signal, SIGALRM);
  pthread_sigmask(SIG_UNBLOCK, &alarm_signal, nullptr);
  alarm(fatal_box_seconds);
}

void fatal_signal(int sig, siginfo_t* info, void*) {
  // A second fatal signal from inside the report or its box ends the process at once.
  if (abrupt_status == FATAL_SIGNAL_STATUS) _exit(FATAL_SIGNAL_STATUS);
  abrupt_status = FATAL_SIGNAL_STATUS;
  arm_fatal_watchdog();
  std::cerr << signal_line(sig, info ? info->si_code : 0) << std::endl;
  void* frames[64];
  const int n = backtrace(frames, 64);
  char** symbols = backtrace_symbols(frames, n);
  for (int i = 0; i < n; ++i) {
    char address[32];
    std::snprintf(address, sizeof address, "0x%lx", reinterpret_cast<unsigned long>(frames[i]));
    std::cerr << address << ": " << (symbols ? symbols[i] : "") << "\n";
  }
  std::cerr.flush();
  host.show_message_box(true, "Arvelo Error", captured_output().c_str());
  _Exit(FATAL_SIGNAL_STATUS);
}
}  // namespace

int abrupt_exit_status() { return abrupt_status; }

int install_signal_handler(unsigned box_seconds) {
  fatal_box_seconds = box_seconds;
  // The error box is drawn by the X client library inside the handler, which needs far
  // more stack than a bare report: 8 KB overflows while it loads the box's fonts.
  static char stack[256 * 1024];
  stack_t ss{};
  ss.ss_sp = stack;
  ss.ss_size = sizeof stack;
  if (sigaltstack(&ss, nullptr) != 0) {
    warn("sigaltstack");
    return 1;
  }
  struct sigaction sa{};
  sa.sa_sigaction = fatal_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_ONSTACK | SA_SIGINFO;
  for (int sig : {SIGSEGV, SIGFPE, SIGINT, SIGILL, SIGTERM, SIGABRT}) {
    if (sigaction(sig, &sa, nullptr) != 0) {
      warn("sigaction");
      return 1;
    }
  }
  return 0;
}

// ---- Product texts -----------------------------------------------------------------------

void print_banner(std::ostream& out) {
  out << BANNER << "\n\n"
      << "  An emulator of the Amstrad CPC 464, 664 and 6128.\n"
      << "  Copyright (c) 2026 the Arvelo developers. Free software.\n"
      << "  The CPC ROM images remain the property of their rights holders.\n";
  out.flush();
}

void print_credits(std::ostream& out) {
  out << "\n\n" << BANNER << "\n"
      << "  Written by the Arvelo developers,\n"
      << "  Arvelo Project, 1 Emulator Lane, Cambridge, United Kingdom\n"
      << "  e-mail: team@arvelo.example\n"
      << "  The CPC ROM images are (c) Amstrad plc and Locomotive Software; Amstrad allows\n"
      << "  their distribution for use with emulators.\n";
  out.flush();
}

// ---- Machine loop ------------------------------------------------------------------------

void (*start_notice)(const char* text) = [](const char*) {};

namespace {
// Why a file cannot be read ("" when it opens). A member of a ZIP archive is looked
// for only when its archive is read, so its archive is what must open here.
std::string unreadable_reason(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    std::string archive, member;
    if (media_split_archive_path(path, archive, member)) return unreadable_reason(archive);
    return std::strerror(error);
  }
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::strerror(errno);
  std::fclose(file);
  return "";
}

// A disc or snapshot named on the command line that did not get into the machine is
// reported on the console and on the window, naming the file and the reason; the
// machine runs on without it.
void report_command_line_media(const StartOptions& o, bool snapshot_failed) {
  const char* what = nullptr;
  if (o.media_kind == MEDIA_DISC && !drive_has_disc(0)) what = "disc image";
  if (o.media_kind == MEDIA_SNAPSHOT && snapshot_failed) what = "snapshot";
  if (!what || !o.media_file) return;
  std::string reason = unreadable_reason(o.media_file);
  if (reason.empty()) reason = std::string("not a usable ") + what;
  std::cout << "EMU: Cannot use the " << what << " " << o.media_file << ": " << reason << std::endl;
  const std::string name = fs::path(o.media_file).filename().string();
  start_notice((name + ":\n" + reason).c_str());
}

int fail_setup(int status) {
  if (status == 2) std::cerr << "\nARVELO: Use INSTALL first" << std::endl;
  if (status >= 3) host.show_message_box(true, "Arvelo Error", captured_output().c_str());
  teardown_machine();
  close_message_file();
  return status;
}
}  // namespace

int machine_loop(StartOptions& options) {
  for (;;) {
    clear_stop_request();
    host.prepare_run();
    int status = setup_machine(options);
    if (status != 0) return fail_setup(status);
    host.prepare_textures();
    if (options.media_kind != MEDIA_CONFIG && std::strcmp(config_file_name(), TEMPLATE_CONFIG) == 0) {
      if (first_start_copy(host.choose_language()) != 0) {
        teardown_machine();
        close_message_file();
        return 1;
      }
      set_config_file_name(expand_home(user_config_path()));
      teardown_machine();
      status = setup_machine(options);
      if (status != 0) return fail_setup(status);
      host.prepare_textures();
    }
    // Any configuration without a keyboard layout (the template's copy, one written by
    // hand or by an older version) asks for it; the choice is written into that file.
    if (setting(kw::VKBD_LANGUAGE) < 0) host.choose_vkbd_layout();
    host.show_splash();
    report_command_line_media(options, start_machine_media() != 0);
    options.media_kind = MEDIA_NONE;
    const char mode = options.start_mode;
    options.start_mode = 0;
    if (mode == 'F') set_setting(kw::EMULATION_SPEED, 1);
    if (mode == 'S') set_setting(kw::EMULATION_SPEED, 0);
    run_machine(mode == 'D');
    teardown_machine();
    if (stop_request_word & stopbit::QUIT) return 0;
  }
}
