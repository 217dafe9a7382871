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

// Fatal-signal handler on its own stack; returns 0 or 1 (message written).
int install_signal_handler();

// Authors/rights and credits texts of the product.
void print_banner(std::ostream& out);
void print_credits(std::ostream& out);
