// Start-up pieces that do not need a window: command line, program directory,
// choice of the configuration file, the first start's configuration copy, the
// fatal-signal handler.
#pragma once
#include <iosfwd>
#include <string>

#include "core/machine.h"

constexpr const char* BANNER = "Arvelo (v2.5)  -  The CPC Emulator";
constexpr const char* TEMPLATE_CONFIG = "arvelo0.cfg";

// Parses argv into options; messages go to out/err. Returns the number of errors.
int parse_command_line(int argc, char** argv, StartOptions& options, std::ostream& out,
                       std::ostream& err);
void print_usage(const char* argv0, std::ostream& out);

// The part of argv[0] that names the program's directory ("" when there is none).
std::string program_directory(const char* argv0);

// The working directory ("" when it cannot be read).
std::string working_directory();

// A file name from the command line, made independent of the working directory: a
// relative name is joined to start_dir, the directory the program was started in, so
// that it still names the user's file after the program has changed to its own
// directory. Absolute names, names starting with '~' (expanded where they are opened)
// and empty names stay as they are.
std::string command_line_path(const std::string& start_dir, const char* name);

// Shows a short notice on the program's window; the SDL program installs it (the
// default shows nothing).
extern void (*start_notice)(const char* text);

// The directory of the running executable (from /proc/self/exe; program_directory of
// argv0 when that cannot be read, "." when that is empty too).
std::string executable_directory(const char* argv0);

// The user configuration file path "~/.Arvelo/arvelo.cfg" (before expand_home).
const char* user_config_path();

// Which configuration file to read: -c, else the user file when readable, else the
// template; a .cfg media file replaces that choice.
std::string choose_config_file(const StartOptions& options);

// First start, after the language is chosen: makes the settings directory, copies the
// template's "./" directories into it and writes the user configuration file. Returns
// 0, or 1 after writing "Error creating configuration file." (the caller exits 1).
// A failing directory copy ends the program with "Error copying files".
int first_start_copy(int language);

// The machine loop: set-up, first start, splash, run, teardown, repeated until the
// quit bit ends it. Returns the exit status (0 after a quit).
int machine_loop(StartOptions& options);

// The error box of the fatal-signal handler is given this long: the signal may have
// come while the display library held its locks, and then the box never appears.
constexpr unsigned FATAL_BOX_SECONDS = 60;
// The fatal-signal handler's exit status (the system reports 999 & 255 = 231).
constexpr int FATAL_SIGNAL_STATUS = 999;

// Fatal-signal handler on its own stack; returns 0 or 1 (message written). The handler
// ends the process with FATAL_SIGNAL_STATUS at the latest box_seconds after the signal.
int install_signal_handler(unsigned box_seconds = FATAL_BOX_SECONDS);

// The exit status when the program must end at once (its display lost): 1, or the
// fatal-signal handler's status while that handler runs, so that losing the display
// under its error box ends the process as the handler would.
int abrupt_exit_status();

// Authors/rights and credits texts of the product.
void print_banner(std::ostream& out);
void print_credits(std::ostream& out);
