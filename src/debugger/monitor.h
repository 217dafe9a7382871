// The debugger monitor: a text-mode debugger entered when the machine stops for a break,
// a processor error, an undecoded port access, a timed break or a single step.
//
// It shows the processor and hardware state, disassembles, dumps and edits memory, sets
// registers and device registers, sets the breakpoint, steps, traces, runs the machine
// for a number of microseconds, searches memory and loads and saves memory blocks.
//
// The monitor works in a text console: it writes text and reads typed lines. The SDL
// host installs its "Debugger-Monitor" window as the console; the headless runner and
// the tests install the stream console (lines from an input stream, text to an output
// stream). Without any console the monitor shows the state and lets the machine run on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

// ---- Console ---------------------------------------------------------------------------
struct MonitorConsole {
  // Shows the console with its title and starts text input.
  void (*open)(const char* title);
  // Hides the console.
  void (*close)();
  // Appends text (line ends are '\n'); the console scrolls by itself.
  void (*write)(const char* text, std::size_t length);
  // One typed line without its line end (the console shows what was typed). false when
  // no more input will come (end of the input stream, the window was closed).
  bool (*read_line)(std::string& line);
  // After closing: waits this many milliseconds, pumps the host's events (so that the
  // key that ended the monitor does not reach the emulated keyboard) and stops text input.
  void (*settle)(unsigned milliseconds);
};

// Installs a console (copied); nullptr restores the default: the state goes to standard
// output and the machine runs on at once.
void monitor_set_console(const MonitorConsole* console);
// Installs the stream console: command lines from `in`, text to `out`. With echo, each
// line read is written to `out` behind its prompt (for input that is not typed).
// The streams must outlive its use.
void monitor_use_streams(std::istream& in, std::ostream& out, bool echo);

// ---- Monitor ------------------------------------------------------------------------------
// The main loop; returns when the user runs the machine on or quits (stop bit 0x8000),
// or when the console has no more input (the machine then runs on).
void monitor_run();

// flag 1: register dump and hardware dump; flag 2: the instruction at PC (or
// "handling INT") with the microseconds still to go while the processor is held.
void monitor_show(int flags);

// Reads the next token of the current input line as a hexadecimal number into value.
enum HexResult : int {
  HEX_STORED = 0,  // a number, or the joker "?"/"??" (stored as HEX_JOKER)
  HEX_EMPTY = 1,   // no token left: value unchanged
  HEX_BAD = 2,     // "No hex value: <token>" written: value unchanged
};
constexpr uint16_t HEX_JOKER = 0x3F00;
HexResult read_hex(uint16_t& value);
// As read_hex; when the line is used up, writes the prompt and reads a new line first.
HexResult read_hex_prompted(uint16_t& value, const char* prompt);

// Reports why the machine stopped (undecoded port, processor error, tape trap).
void report_stop_reasons();
