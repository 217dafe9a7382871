// arvelo-run: the whole emulated CPC without a window or an audio device.
//
// It sets the machine up from a configuration file (or builds one for a model from a
// ROM directory), runs it for a number of emulated seconds or frames, optionally types
// text once the firmware has booted, and then reports: the screen as text, a screenshot,
// and the emulation speed. Made for scripts that test CPC software.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "config/messages.h"
#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "core/startup.h"
#include "hardware/autotype.h"
#include "hardware/keyboard.h"
#include "debugger/monitor.h"
#include "media/dsk.h"
#include "media/media_file.h"
#include "media/snapshot.h"
#include "m4/webserver.h"
#include "media/tape_deck.h"
#include "sound/audio.h"
#include "video/picture_file.h"
#include "video/raster.h"
#include "video/screen_text.h"

bool disc_image_exists(const std::string& path);

namespace {

const char* const USAGE =
    "Usage: arvelo-run [options]\n"
    "Runs an emulated Amstrad CPC without a window and reports what it shows.\n"
    "\n"
    "Machine:\n"
    "  --model 464|664|6128   CPC model (default 6128)\n"
    "  --rom-dir DIR          directory with cpc464.rom, cpc664.rom, cpc6128.rom and\n"
    "                         amsdos.rom (default $ARVELO_ROM_DIR); without the\n"
    "                         model's image the open system ROM runs\n"
    "  --config FILE          use this configuration file instead of building one\n"
    "  --crtc 0|1|2|3         CRTC type (without --config)\n"
    "  --disc FILE            insert a DSK image into drive A\n"
    "  --autostart            with --disc: run the disc's program after booting; with\n"
    "                         --tape: type the command that loads the tape\n"
    "  --tape-dir DIR         directory of the tape bypass files\n"
    "  --tape FILE            put a CDT/TZX, CSW or WAV image into the cassette deck (a\n"
    "                         file that does not exist is a blank tape to SAVE onto);\n"
    "                         the firmware's \"Press PLAY then any key\" is answered;\n"
    "                         what the CPC saves is written as FILE, or as FILE-N.cdt\n"
    "  --tape-fast on|off     run as fast as possible while the tape loads (default on;\n"
    "                         matters with --realtime)\n"
    "  --snapshot FILE        load this SNA snapshot after set-up\n"
    "Run:\n"
    "  --type TEXT            type TEXT once BASIC is ready ('\\n' is Return)\n"
    "  --then S TEXT          from emulated second S, press the keys of TEXT one by\n"
    "                         one, each held 0.1 s (repeatable, in time order)\n"
    "  --seconds S            run S emulated seconds (default 5)\n"
    "  --frames N             run N monitor frames instead\n"
    "  --realtime             run at the real machine's speed\n"
    "Results:\n"
    "  --screenshot FILE      save the picture as FILE.png or FILE.bmp\n"
    "  --screen-text          print the screen as text, one line per character row\n"
    "  --bench                print emulated_s=<x> wall_s=<y> speed=<x/y>x\n"
    "  --audio-out FILE.wav   record the sound (44,100 Hz stereo, by emulated time)\n"
    "  --save-snapshot FILE   save the machine as an SNA snapshot at the end of the run\n"
    "  --snapshot-size KB     memory in the saved snapshot: 64, 128 or ram (default ram,\n"
    "                         all the machine's RAM)\n"
    "  --monitor FILE         enter the debugger monitor at start and whenever the\n"
    "                         machine stops, with command lines from FILE; the\n"
    "                         machine runs on when they are used up\n"
    "  --web-server           run the M4 board's web server while the machine runs, on\n"
    "                         the directories of the configuration (drive A's, the\n"
    "                         SD card's, the tape's and the ROM path); prints the\n"
    "                         address and port it listens on\n"
    "  --web-port N           the first port the web server tries (default 80; then\n"
    "                         8000, then any free port)\n"
    "  --verbose              show the machine's own messages on standard error (its\n"
    "                         notices for the user always go there)\n"
    "  --help                 this text\n";

struct Options {
  std::string model = "6128";
  std::string rom_dir;
  std::string config;
  std::string disc;
  bool autostart = false;
  std::string tape_dir;
  std::string tape;       // --tape: image in the cassette deck
  bool tape_fast = true;  // --tape-fast
  std::string type;
  bool has_type = false;
  std::vector<std::pair<double, std::string>> later_keys;  // --then: (second, text)
  int crtc_type = -1;                                       // --crtc: -1 keeps the default
  double seconds = 5.0;
  long frames = -1;
  bool realtime = false;
  std::string screenshot;
  bool screen_text = false;
  bool bench = false;
  bool verbose = false;
  std::string audio_out;  // --audio-out: sound recording
  // ---- Snapshots (--snapshot, --save-snapshot, --snapshot-size) ----
  std::string snapshot;
  std::string save_snapshot;
  int snapshot_size_kb = 0;  // 0: all the machine's RAM
  // ---- Debugger monitor (--monitor) ----
  std::string monitor;
  // ---- Web server (--web-server, --web-port) ----
  bool web_server = false;
  int web_port = 80;
};

int fail(const std::string& message) {
  std::cerr << "arvelo-run: " << message << "\n";
  return 1;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dir_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "\n" in the text to type is Return.
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char c = s[++i];
      if (c == 'n' || c == 'r') out += '\r';
      else if (c == 't') out += '\t';
      else if (c == '\\') out += '\\';
      else {
        out += '\\';
        out += c;
      }
    } else if (s[i] == '\n') {
      out += '\r';
    } else {
      out += s[i];
    }
  }
  return out;
}

bool parse_number(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return end != text && *end == 0 && errno == 0 && std::isfinite(value);
}

// 0 parsed, 1 error (message written), 2 help shown.
int parse(int argc, char** argv, Options& o) {
  auto need = [&](int& i) -> const char* {
    if (i + 1 >= argc) {
      fail(std::string(argv[i]) + " needs a value");
      return nullptr;
    }
    return argv[++i];
  };
  bool seconds_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      std::cout << USAGE;
      return 2;
    } else if (a == "--model") {
      if (!(v = need(i))) return 1;
      o.model = v;
      if (o.model != "464" && o.model != "664" && o.model != "6128")
        return fail("--model must be 464, 664 or 6128, not '" + o.model + "'");
    } else if (a == "--rom-dir") {
      if (!(v = need(i))) return 1;
      o.rom_dir = v;
    } else if (a == "--config") {
      if (!(v = need(i))) return 1;
      o.config = v;
    } else if (a == "--disc") {
      if (!(v = need(i))) return 1;
      o.disc = v;
    } else if (a == "--autostart") {
      o.autostart = true;
    } else if (a == "--tape-dir") {
      if (!(v = need(i))) return 1;
      o.tape_dir = v;
    } else if (a == "--tape") {
      if (!(v = need(i))) return 1;
      o.tape = v;
    } else if (a == "--tape-fast") {
      if (!(v = need(i))) return 1;
      const std::string on = v;
      if (on != "on" && on != "off") return fail("--tape-fast must be on or off, not '" + on + "'");
      o.tape_fast = on == "on";
    } else if (a == "--type") {
      if (!(v = need(i))) return 1;
      o.type = unescape(v);
      o.has_type = true;
    } else if (a == "--then") {
      double at = 0;
      if (!(v = need(i))) return 1;
      if (!parse_number(v, at) || at < 0 || at > 1e6) return fail("--then needs a time in seconds, not '" + std::string(v) + "'");
      if (!o.later_keys.empty() && at < o.later_keys.back().first) return fail("--then times must not go back");
      if (!(v = need(i))) return 1;
      o.later_keys.emplace_back(at, unescape(v));
      if (o.later_keys.back().second.empty()) o.later_keys.pop_back();
    } else if (a == "--crtc") {
      if (!(v = need(i))) return 1;
      const std::string t = v;
      if (t.size() != 1 || t[0] < '0' || t[0] > '3') return fail("--crtc must be 0, 1, 2 or 3, not '" + t + "'");
      o.crtc_type = t[0] - '0';
    } else if (a == "--seconds") {
      if (!(v = need(i))) return 1;
      if (!parse_number(v, o.seconds) || o.seconds <= 0 || o.seconds > 1e6)
        return fail(std::string("--seconds needs a positive number of seconds, not '") + v + "'");
      seconds_given = true;
    } else if (a == "--frames") {
      if (!(v = need(i))) return 1;
      double n;
      if (!parse_number(v, n) || n < 1 || n > 1e9 || n != std::floor(n))
        return fail(std::string("--frames needs a positive whole number, not '") + v + "'");
      o.frames = static_cast<long>(n);
    } else if (a == "--realtime") {
      o.realtime = true;
    } else if (a == "--screenshot") {
      if (!(v = need(i))) return 1;
      o.screenshot = v;
      std::string lower;
      for (char c : o.screenshot) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower.size() < 5 || (lower.compare(lower.size() - 4, 4, ".png") != 0 &&
                               lower.compare(lower.size() - 4, 4, ".bmp") != 0))
        return fail("--screenshot needs a file name ending in .png or .bmp");
    } else if (a == "--screen-text") {
      o.screen_text = true;
    } else if (a == "--bench") {
      o.bench = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--audio-out") {
      // ---- Sound recording (--audio-out) ----
      if (!(v = need(i))) return 1;
      o.audio_out = v;
      std::string lower;
      for (char c : o.audio_out) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower.size() < 5 || lower.compare(lower.size() - 4, 4, ".wav") != 0)
        return fail("--audio-out needs a file name ending in .wav");
    } else if (a == "--snapshot" || a == "--save-snapshot" || a == "--snapshot-size") {
      // ---- Snapshots ----
      if (!(v = need(i))) return 1;
      if (a == "--snapshot") {
        o.snapshot = v;
      } else if (a == "--save-snapshot") {
        o.save_snapshot = v;
      } else {
        const std::string size = v;
        if (size == "64" || size == "128") o.snapshot_size_kb = std::stoi(size);
        else if (size == "ram") o.snapshot_size_kb = 0;
        else return fail("--snapshot-size must be 64, 128 or ram, not '" + size + "'");
      }
    } else if (a == "--web-server") {
      o.web_server = true;
    } else if (a == "--web-port") {
      const char* v = need(i);
      if (!v) return 1;
      double port;
      if (!parse_number(v, port) || port < 1 || port > 65535 || port != std::floor(port))
        return fail(std::string("--web-port needs a port number 1-65535, not '") + v + "'");
      o.web_port = static_cast<int>(port);
    } else if (a == "--monitor") {
      // ---- Debugger monitor (--monitor) ----
      if (!(v = need(i))) return 1;
      o.monitor = v;
    } else {
      return fail("unknown option '" + a + "' (see --help)");
    }
  }
  if (o.crtc_type >= 0 && !o.config.empty()) return fail("--crtc sets up a configuration of its own; put CRTC_TYPE into the --config file instead");
  if (seconds_given && o.frames > 0) return fail("give either --seconds or --frames, not both");
  if (o.autostart && o.disc.empty() && o.tape.empty()) return fail("--autostart needs --disc or --tape");
  if (o.autostart && !o.disc.empty() && !o.tape.empty())
    return fail("--autostart starts either the disc or the tape, not both");
  if (o.autostart && !o.tape.empty() && o.has_type) return fail("--autostart with --tape types its own command; leave out --type");
  return 0;
}

// The file names are the user's, in the directory the runner was started in, as the
// program's are: made absolute once, they do not depend on where the machine's working
// directory is later.
void anchor_names(Options& o) {
  const std::string here = working_directory();
  for (std::string* name : {&o.rom_dir, &o.config, &o.disc, &o.tape_dir, &o.tape, &o.screenshot, &o.audio_out,
                            &o.snapshot, &o.save_snapshot, &o.monitor})
    if (!name->empty()) *name = command_line_path(here, name->c_str());
}

// The configuration of a model: its ROM images from the ROM directory. A directory
// without the model's image gives the open system ROM (set-up falls back to it).
int build_config(const Options& o, std::string& path) {
  std::string dir = o.rom_dir;
  if (dir.empty()) {
    const char* env = std::getenv("ARVELO_ROM_DIR");
    if (env && *env) dir = env;
  }
  if (dir.empty()) return fail("no ROM directory: give --rom-dir DIR or set ARVELO_ROM_DIR");
  if (!dir_exists(dir)) return fail("ROM directory not found: " + dir);
  if (dir.back() != '/') dir += '/';
  const std::string rom = "cpc" + o.model + ".rom";
  const bool disc_rom = o.model != "464" && file_exists(dir + "amsdos.rom");

  char name[] = "/tmp/arvelo-run-XXXXXX";
  int fd = ::mkstemp(name);
  if (fd < 0) return fail(std::string("cannot create a temporary configuration: ") + std::strerror(errno));
  ::close(fd);
  path = name;
  std::ofstream cfg(path);
  const int type = o.model == "464" ? 0 : (o.model == "664" ? 1 : 2);
  cfg << "; configuration of arvelo-run for the CPC " << o.model << "\n"
      << "CPC_TYPE = " << type << "\n"
      << "RAM_SIZE = " << (type == 2 ? 128 : 64) << "\n"
      << "ROM_PATH = \"" << dir << "\"\n"
      << "ROM_BLOCK = 255, \"" << rom << "\", 0\n"
      << "ROM_BLOCK = 0, \"" << rom << "\", 1\n";
  if (disc_rom) cfg << "ROM_BLOCK = 7, \"amsdos.rom\", 0\n";
  cfg << "BREAK_MASK = 0\n";
  if (o.crtc_type >= 0) cfg << "CRTC_TYPE = " << o.crtc_type << "\n";
  if (!cfg) return fail("cannot write the temporary configuration " + path);
  return 0;
}

// ---- Run control through the host hooks ---------------------------------------------------

struct RunState {
  uint64_t stop_at_us = 0;
  long stop_after_frames = -1;
  long frames = 0;
  const char* text = nullptr;
  bool typed = false;
  long next_look = 0;
  uint64_t type_deadline_us = 0;
  // With --tape: the firmware's "Press PLAY then any key:" (or "REC and PLAY") is
  // answered with Return, again each second while it stays the last line.
  const std::vector<std::pair<double, std::string>>* later_keys = nullptr;
  size_t next_later = 0;
  size_t next_char = 0;
  int held_char = -1;
  uint64_t next_key_us = 0;
  uint64_t start_us = 0;
  bool answer_tape_prompts = false;
  long next_answer = 0;
  uint64_t answer_release_us = 0;  // when the held Return of a prompt's answer goes up
} run;

void check_stop() {
  bool done = run.stop_after_frames > 0 ? run.frames >= run.stop_after_frames
                                        : microsecond_counter >= run.stop_at_us;
  if (done) stop_request_word |= stopbit::QUIT;
}

void on_render() {
  ++run.frames;
  check_stop();
}

bool screen_shows(const char* text) {
  for (const std::string& line : screen_text(listed_lower_rom()))
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// The prompt is on the last line written. A key typed just as the prompt appears may
// come before the firmware waits for it: hence the repeat.
void answer_tape_prompt() {
  constexpr long REPEAT_FRAMES = 50;
  if (type_pending() > 0 || run.frames < run.next_answer) return;
  std::vector<std::string> lines = screen_text(listed_lower_rom());
  size_t last = lines.size();
  while (last > 0 && lines[last - 1].find_first_not_of(' ') == std::string::npos) --last;
  if (last == 0 || lines[last - 1].find("then any key") == std::string::npos) return;
  // Return is held for a tenth of a second, as a person presses it: the cassette
  // routines look at the key themselves, outside the typing queue's firmware scans.
  constexpr uint64_t ANSWER_HOLD_US = 100000;
  run.next_answer = run.frames + REPEAT_FRAMES;
  hold_char('\r', true);
  run.answer_release_us = microsecond_counter + ANSWER_HOLD_US;
}

void release_tape_answer() {
  if (run.answer_release_us == 0 || microsecond_counter < run.answer_release_us) return;
  hold_char('\r', false);
  run.answer_release_us = 0;
}

// Notices for the user reach the console whatever --verbose says, apart from the results.
void print_notice(const char* text, int) { std::fprintf(stderr, "%s\n", text); }

// --then: each character is held down for KEY_HOLD_US and then released for as long, so
// that programs which look at the keyboard once a frame see it.
void press_later_keys() {
  constexpr uint64_t KEY_HOLD_US = 100000;
  const uint64_t now = microsecond_counter - run.start_us;
  if (now < run.next_key_us) return;
  if (run.held_char >= 0) {
    hold_char(run.held_char, false);
    run.held_char = -1;
    run.next_key_us = now + KEY_HOLD_US;
    return;
  }
  if (run.next_later >= run.later_keys->size()) return;
  const auto& [at, text] = (*run.later_keys)[run.next_later];
  if (now < static_cast<uint64_t>(std::llround(at * 1e6))) return;
  run.held_char = static_cast<unsigned char>(text[run.next_char]);
  hold_char(run.held_char, true);
  run.next_key_us = now + KEY_HOLD_US;
  if (++run.next_char >= text.size()) {
    run.next_char = 0;
    ++run.next_later;
  }
}

// --then keys still to press, or the last one still held.
bool later_keys_left() {
  return run.later_keys && (run.next_later < run.later_keys->size() || run.held_char >= 0);
}

void on_poll() {
  release_tape_answer();
  // Files fetched or sent through the web server are announced as the window does.
  std::string web_activity;
  if (web_server_take_activity(&web_activity)) print_notice(web_activity.c_str(), 0);
  // Looks at the screen at most every fifth frame (the poll also runs per instruction
  // while the CRTC makes no frames).
  if (run.text && !run.typed && run.frames >= run.next_look) {
    run.next_look = run.frames + 5;
    if (screen_shows("Ready") || microsecond_counter >= run.type_deadline_us) {
      run.typed = true;
      type_text(run.text);
    }
  } else if (later_keys_left() && (run.typed || !run.text) && !keyboard_inputs().typing_active) {
    press_later_keys();
  } else if (run.answer_tape_prompts && run.answer_release_us == 0 && run.frames >= run.next_look) {
    run.next_look = run.frames + 5;
    answer_tape_prompt();
  }
  check_stop();
}

// ---- Debugger monitor (--monitor) ----------------------------------------------------------------
// The monitor's console: command lines from the file, each shown behind its prompt, and
// the monitor's text among the results on standard output.
struct MonitorFile {
  std::ifstream in;
  FILE* out = nullptr;
} monitor_file;

void monitor_file_write(const char* text, size_t length) {
  std::fwrite(text, 1, length, monitor_file.out);
  std::fflush(monitor_file.out);
}

bool monitor_file_read_line(std::string& line) {
  if (!std::getline(monitor_file.in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::fprintf(monitor_file.out, "%s\n", line.c_str());
  return true;
}

void install_monitor_file(FILE* results) {
  monitor_file.out = results;
  MonitorConsole console = {[](const char*) {}, [] {}, monitor_file_write, monitor_file_read_line,
                            [](unsigned) {}};
  monitor_set_console(&console);
}

// ---- Web server (--web-server) --------------------------------------------------------------------
// The areas are the configuration's directories, as the setup window hands them over;
// the index page is the one beside the program.
bool start_web_server(const Options& o, const std::string& program_dir, FILE* results) {
  auto text = [](kw::Id id) { return std::string(setting_text(id) ? setting_text(id) : ""); };
  WebServerOptions web;
  web.areas.disc = drive_browse_dir(0) ? drive_browse_dir(0) : "";
  web.areas.sdcard = text(kw::M4_SD_PATH);
  web.areas.tape = text(kw::TAPE_PATH);
  web.areas.rom = text(kw::ROM_PATH);
  web.index_file = program_dir + "/index.html";
  web.first_port = o.web_port;
  if (!web_server_start(web)) return false;
  std::fprintf(results, "web server: listening on all interfaces, port %d (http://127.0.0.1:%d/)\n",
               web_server_port(), web_server_port());
  std::fflush(results);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int parsed = parse(argc, argv, o);
  if (parsed == 2) return 0;
  if (parsed != 0) return 1;
  anchor_names(o);
  if (!o.config.empty() && !file_exists(o.config)) return fail("configuration file not found: " + o.config);
  if (!o.disc.empty() && !disc_image_exists(o.disc)) return fail("disc image not found: " + o.disc);
  if (!o.tape_dir.empty() && !dir_exists(o.tape_dir)) return fail("tape directory not found: " + o.tape_dir);
  // ---- Snapshots ----
  if (!o.snapshot.empty() && !disc_image_exists(o.snapshot)) return fail("snapshot not found: " + o.snapshot);
  // ---- Debugger monitor (--monitor) ----
  if (!o.monitor.empty()) {
    monitor_file.in.open(o.monitor);
    if (!file_exists(o.monitor) || !monitor_file.in) return fail("monitor command file not found: " + o.monitor);
  }

  std::string config = o.config;
  std::string temp_config;
  if (config.empty()) {
    if (build_config(o, temp_config) != 0) return 1;
    config = temp_config;
  }

  // Results go to the real standard output; the machine's own messages to standard
  // error with --verbose, else into a scratch file shown only when set-up fails.
  std::fflush(stdout);
  std::cout.flush();
  int results_fd = ::dup(STDOUT_FILENO);
  FILE* chatter = o.verbose ? nullptr : std::tmpfile();
  ::dup2(chatter ? ::fileno(chatter) : STDERR_FILENO, STDOUT_FILENO);
  FILE* results = ::fdopen(results_fd, "w");

  const std::string dir = executable_directory(argv[0]);
  set_open_rom_directory(dir);
  set_message_file((dir + "/arvelo.msg").c_str());
  if (file_exists(dir + "/arvelo.msg")) open_message_file();
  if (file_exists(dir + "/arvelo.dat")) set_data_file((dir + "/arvelo.dat").c_str());
  set_config_file_name(config.c_str());
  if (o.config.empty()) set_setting(kw::CPC_TYPE, o.model == "464" ? 0 : (o.model == "664" ? 1 : 2));

  host_install_headless();
  host.render_frame = on_render;
  host.poll_events = on_poll;
  host.show_notice = print_notice;
  // Drive delays and the frame throttle wait in real time only with --realtime; without
  // it the headless host never sleeps and the delays pass in emulated time.
  if (o.realtime) host.delay_ms = host_sleep_ms;

  StartOptions start;
  start.config_file = config.c_str();
  start.cpc_type = setting(kw::CPC_TYPE);
  // The tape goes in before set-up, so that the firmware's cassette routines stay unpatched.
  if (!o.tape.empty()) {
    std::string error;
    if (!tape_deck_insert(o.tape.c_str(), error)) return fail(error);
    tape_deck_set_fast_loading(o.tape_fast);
  }
  if (o.autostart && o.tape.empty()) {
    start.media_kind = MEDIA_DISC;
    start.media_file = o.disc.c_str();
  }
  clear_stop_request();
  int status = setup_machine(start);
  if (!temp_config.empty()) std::remove(temp_config.c_str());
  if (status != 0) {
    std::cout.flush();
    std::fflush(stdout);
    if (chatter) {
      std::rewind(chatter);
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, chatter)) > 0) std::fwrite(buf, 1, n, stderr);
    }
    return fail("machine set-up failed (status " + std::to_string(status) + ")") + 1;
  }
  if (open_rom_in_use())
    std::cerr << "arvelo-run: no CPC system ROM images; running the open system ROM\n";
  if (!o.disc.empty() && !o.autostart) {
    drive_set_path(0, o.disc.c_str());
    if (!drive_insert(0)) return fail("cannot insert disc image " + o.disc);
  }
  if (!o.tape_dir.empty()) set_setting_text(kw::TAPE_PATH, o.tape_dir.c_str());
  if (o.autostart && !o.tape.empty()) {
    // The 464 knows only the tape; the disc machines are told to use it first. The
    // firmware then asks to press PLAY and a key: Return, once the prompt shows.
    o.type = hardware_model() == model::CPC464 ? "RUN\"\r" : "|TAPE\rRUN\"\r";
    o.has_type = true;
  }
  run.answer_tape_prompts = !o.tape.empty();
  // ---- Snapshots: --snapshot is loaded the way start-up loads a snapshot it is given ----
  if (!o.snapshot.empty()) {
    snapshot_set_path(o.snapshot.c_str());
    if (snapshot_load_configured() != 0) {
      teardown_machine();
      return fail("cannot load the snapshot " + o.snapshot);
    }
  }
  set_setting(kw::BREAK_MASK, 0);  // nobody at a debugger prompt: run past processor errors
  set_setting(kw::REALTIME, o.realtime ? 1 : 0);
  video_apply_timing_settings();

  run.stop_at_us = microsecond_counter + static_cast<uint64_t>(std::llround(o.seconds * 1e6));
  run.stop_after_frames = o.frames;
  if (o.has_type) {
    run.text = o.type.c_str();
    run.type_deadline_us = microsecond_counter + 4000000;  // firmware that never says Ready: type anyway
  }
  run.later_keys = &o.later_keys;
  run.start_us = microsecond_counter;

  // ---- Sound recording (--audio-out) ----
  // The sound generator and the drive sounds are rendered by emulated time through the
  // same mixing path as the audio device; each frame mark renders up to that frame.
  if (!o.audio_out.empty()) {
    if (audio_capture_open(o.audio_out.c_str()) != 0) {
      teardown_machine();
      return fail("cannot write the sound recording " + o.audio_out);
    }
    host.audio_mark_frame = audio_capture_frame;
  }

  if (o.web_server && !start_web_server(o, dir, results)) {
    teardown_machine();
    return fail("the web server could not start");
  }

  const uint64_t start_us = microsecond_counter;
  const auto wall_start = std::chrono::steady_clock::now();
  // ---- Debugger monitor (--monitor): entered before the first instruction ----
  if (!o.monitor.empty()) install_monitor_file(results);
  run_machine(!o.monitor.empty());
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  const double emulated = static_cast<double>(microsecond_counter - start_us) / 1e6;

  int exit_status = 0;
  // ---- Sound recording (--audio-out) ----
  if (!o.audio_out.empty()) {
    host.audio_mark_frame = [](uint64_t) {};  // the recording is complete
    if (audio_capture_close(microsecond_counter) != 0) exit_status = 1;
  }
  if (!o.screenshot.empty()) {
    std::string error;
    if (write_picture(o.screenshot, frame_picture(), error) != 0) {
      std::cerr << "arvelo-run: " << error << "\n";
      exit_status = 1;
    }
  }
  if (o.screen_text) {
    std::vector<std::string> lines = screen_text(listed_lower_rom());
    if (lines.empty()) std::cerr << "arvelo-run: no character set found in the lower ROM\n";
    for (const std::string& l : lines) std::fprintf(results, "%s\n", l.c_str());
  }
  // ---- Snapshots: --save-snapshot ----
  if (!o.save_snapshot.empty()) {
    const int size_kb = o.snapshot_size_kb > 0 ? o.snapshot_size_kb : ram_size_kb();
    if (snapshot_save(o.save_snapshot.c_str(), size_kb) != 0) {
      std::cerr << "arvelo-run: cannot save the snapshot " << o.save_snapshot << "\n";
      exit_status = 1;
    }
  }
  if (o.verbose && tape_deck_loaded()) {
    const TapeDeckStatus t = tape_deck_status();
    const size_t blocks = tape_deck_signal().blocks.size();
    std::fprintf(stderr, "tape: block %zu of %zu, %.3f s of %.3f s, %s, motor %s\n",
                 blocks ? t.block + 1 : 0, blocks, t.position_ticks / 7e6, t.length_ticks / 7e6,
                 t.playing ? "playing" : "stopped", t.motor ? "on" : "off");
  }
  if (o.bench)
    std::fprintf(results, "emulated_s=%.3f wall_s=%.3f speed=%.1fx\n", emulated, wall,
                 wall > 0 ? emulated / wall : 0.0);
  std::fflush(results);
  web_server_stop();
  teardown_machine();
  std::cout.flush();
  std::fflush(stdout);
  return exit_status;
}

// ---- Disc images (--disc) ------------------------------------------------------------------
// A disc image is a file, or a member of a ZIP archive ("games.zip/game.dsk"), which is
// found when the archive exists (the member itself is looked for when it is inserted).
bool disc_image_exists(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode);
  std::string archive, member;
  return media_split_archive_path(path, archive, member) && ::stat(archive.c_str(), &st) == 0 &&
         S_ISREG(st.st_mode);
}
