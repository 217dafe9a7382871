// Start-up: command line, program directory, choice of configuration file, first start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "core/startup.h"
#include "core/teebuf.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct Parsed {
  StartOptions options;
  int errors;
  std::string out, err;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "arvelo");
  static std::vector<std::string> keep;  // media_file points into argv
  keep = args;
  std::vector<char*> argv;
  for (auto& a : keep) argv.push_back(a.data());
  Parsed p;
  std::ostringstream out, err;
  p.errors = parse_command_line(static_cast<int>(argv.size()), argv.data(), p.options, out, err);
  p.out = out.str();
  p.err = err.str();
  return p;
}

// Scoped environment variable (value nullptr: unset).
struct EnvVar {
  std::string name;
  std::optional<std::string> old;
  EnvVar(const char* n, const char* value) : name(n) {
    if (const char* o = std::getenv(n)) old = o;
    value ? setenv(n, value, 1) : unsetenv(n);
  }
  ~EnvVar() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

using testsupport::file_text;
using testsupport::InDir;

}  // namespace

TEST(CommandLine, OptionsAndTheirArguments) {
  auto p = parse({"-d", "-s", "-x", "-e", "4a00", "-t", "2", "-c", "my.cfg"});
  EXPECT_EQ(p.errors, 0);
  EXPECT_EQ(p.options.start_mode, 'S');  // a later start mode overrides an earlier one
  EXPECT_EQ(p.options.ems_disabled, 1);
  EXPECT_EQ(p.options.entry_address, 0x4A00);
  EXPECT_EQ(p.options.cpc_type, 2);
  EXPECT_STREQ(p.options.config_file, "my.cfg");

  EXPECT_EQ(parse({"-?"}).options.start_mode, 'H');
  EXPECT_EQ(parse({"-H"}).options.start_mode, 'H');
  EXPECT_EQ(parse({"-fast"}).options.start_mode, 'F');  // only the second character counts
}

TEST(CommandLine, ErrorsAreCountedWithTheirTexts) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"-q"}, "Q : unknown option.\n"},
      {{"-c"}, "wrong option format, use -c <cfgfile>\n"},
      {{"-e"}, "wrong option format, use -e <addr>\n"},
      {{"-t"}, "wrong option format, use -t <CPC type>\n"},
  };
  for (const auto& [args, text] : cases) {
    const Parsed p = parse(args);
    EXPECT_EQ(p.errors, 1) << args[0];
    EXPECT_EQ(p.err, text);
  }
  EXPECT_EQ(parse({"-z", "-y", "-c"}).errors, 3);
}

TEST(CommandLine, MediaKindsByExtension) {
  auto p = parse({"game.DSK"});
  EXPECT_EQ(p.options.media_kind, MEDIA_DISC);
  EXPECT_EQ(p.out, "EMU: Special file game.DSK\n");
  EXPECT_EQ(parse({"a.sna"}).options.media_kind, MEDIA_SNAPSHOT);
  EXPECT_EQ(parse({"dir.x/b.CfG"}).options.media_kind, MEDIA_CONFIG);

  for (const char* bad : {"game.dsk2", "noextension", "x.ds", "archive.tar.gz"}) {
    p = parse({bad});
    EXPECT_EQ(p.options.media_kind, MEDIA_NONE) << bad;
    EXPECT_EQ(p.errors, 0) << bad;
    EXPECT_EQ(p.err, std::string("EMU: UNKNOWN special file ") + bad + "\n");
  }
  // The last file argument wins, with its own kind.
  p = parse({"a.dsk", "b.sna"});
  EXPECT_STREQ(p.options.media_file, "b.sna");
  EXPECT_EQ(p.options.media_kind, MEDIA_SNAPSHOT);
}

TEST(CommandLine, UsageText) {
  std::ostringstream out;
  print_usage("/usr/bin/arvelo", out);
  EXPECT_EQ(out.str(),
            "Usage: /usr/bin/arvelo [options...] [file]\n"
            "\t/f  : start fast emulation (default)\n"
            "\t/s  : start slow emulation\n"
            "\t/d  : start debug menu\n"
            "\t/h  : display help screen (or /?)\n"
            "\t/x  : disable EMS usage\n"
            "\t/c <file> : set config file (default arvelo0.cfg)\n"
            "\t/t <type> : set the CPC type 0=464, 1=664, 2=6128\n"
            "\t[file] is an optional x.cfg, x.dsk or x.sna\n\n\n");
  std::ostringstream dos;
  print_usage("C:\\emu\\arvelo.exe", dos);
  EXPECT_EQ(dos.str().substr(0, 25), "Usage: arvelo.exe [option");
}

TEST(StartUp, ProgramDirectoryAndCommandLineNames) {
  EXPECT_EQ(program_directory("/opt/arvelo/bin/arvelo"), "/opt/arvelo/bin");
  EXPECT_EQ(program_directory("./arvelo"), ".");
  EXPECT_EQ(program_directory("A:arvelo"), "A:");
  EXPECT_EQ(program_directory("arvelo"), "");
  // Names on the command line are the user's, in the directory the program started in.
  EXPECT_EQ(command_line_path("/home/u/games", "bd.dsk"), "/home/u/games/bd.dsk");
  EXPECT_EQ(command_line_path("/home/u/games/", "./sub/bd.dsk"), "/home/u/games/sub/bd.dsk");
  EXPECT_EQ(command_line_path("/", "my.cfg"), "/my.cfg");
  EXPECT_EQ(command_line_path("/home/u", "/opt/bd.dsk"), "/opt/bd.dsk");
  EXPECT_EQ(command_line_path("/home/u", "~/bd.dsk"), "~/bd.dsk");  // expanded where opened
  EXPECT_EQ(command_line_path("", "bd.dsk"), "bd.dsk");  // start directory unknown
  EXPECT_EQ(command_line_path("/home/u", nullptr), "");
}

TEST(StartUp, ExpandHome) {
  {
    EnvVar home("HOME", "/home/cpc");
    EXPECT_STREQ(expand_home("~/.Arvelo/arvelo.cfg"), "/home/cpc/.Arvelo/arvelo.cfg");
    EXPECT_STREQ(expand_home("/abs/~x"), "/abs/~x");
    std::string longest(4095, 'a');  // the longest setting text
    longest[0] = '~';
    EXPECT_EQ(expand_home(longest.c_str()), "/home/cpc" + longest.substr(1));
    EXPECT_EQ(std::strlen(expand_home(std::string(10000, 'a').c_str())), 8191u);  // cut, terminated
  }
  EnvVar no_home("HOME", nullptr);
  EXPECT_STREQ(expand_home("~/roms/"), "./roms/");
}

TEST(StartUp, ConsoleCapture) {
  std::string captured;
  std::ostringstream sink;
  simpleteebuf tee(sink.rdbuf(), captured);
  std::ostream s(&tee);
  s << "MEM: " << 42 << '\n' << std::flush;
  EXPECT_EQ(captured, "MEM: 42\n");
  EXPECT_EQ(sink.str(), "MEM: 42\n");
}

TEST(StartUp, ChoiceOfConfigurationFile) {
  auto home = testsupport::temp_dir("cfgchoice");
  EnvVar h("HOME", home.c_str());
  StartOptions o;
  EXPECT_EQ(choose_config_file(o), "arvelo0.cfg");

  fs::create_directories(home / ".Arvelo");
  std::ofstream(home / ".Arvelo" / "arvelo.cfg") << "; mine\n";
  EXPECT_EQ(choose_config_file(o), (home / ".Arvelo" / "arvelo.cfg").string());

  o.config_file = "given.cfg";
  EXPECT_EQ(choose_config_file(o), "given.cfg");
  o.media_file = "media.cfg";
  o.media_kind = MEDIA_CONFIG;
  EXPECT_EQ(choose_config_file(o), "media.cfg");  // the configuration named as the file wins
  fs::remove_all(home);
}

TEST(StartUp, FirstStartCopiesTemplateDirectories) {
  auto prog = testsupport::temp_dir("firststart-prog");
  auto home = testsupport::temp_dir("firststart-home");
  EnvVar h("HOME", home.c_str());
  fs::create_directories(prog / "rom");
  fs::create_directories(prog / "disc");
  fs::create_directories(prog / "snap");  // empty: the walk names it "snap" on leaving
  std::ofstream(prog / "rom" / "os.rom") << "ROM";
  std::ofstream(prog / "disc" / "games.dsk") << "DSK";
  fs::create_directories(prog / "sd" / "games");
  std::ofstream(prog / "sd" / "games" / "x.bas") << "BAS";
  fs::create_directory_symlink(prog / "sd", prog / "sd" / "games" / "loop");
  std::ofstream(prog / "arvelo0.cfg") << "; template\n"
                                         "LANGUAGE = 0\n"
                                         "M4_SD_PATH = \"./sd\"\n"
                                         "ROM_PATH = \"./rom/\"\n"
                                         "DRIVE_A = \"./disc/games.dsk\"\n"
                                         "SNAPSHOT = \"./snap/\"\n"
                                         "HELP_FILE = \"./arvelo.hlp\"\n"
                                         "TAPE_PATH = \"/elsewhere/\"\n";
  InDir in(prog);
  testing::internal::CaptureStderr();
  ASSERT_EQ(first_start_copy(2), 0);
  // A link back up the tree is told and passed over; the rest is copied.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "sd/games/loop: cycle in directory tree\n");
  const std::string settings = home.string() + "/.Arvelo/";
  EXPECT_EQ(file_text(settings + "sd/games/x.bas"), "BAS");
  EXPECT_FALSE(fs::exists(settings + "sd/games/loop"));
  EXPECT_EQ(file_text(settings + "arvelo.cfg"),
            "; template\n"
            "LANGUAGE = 2\n"
            "M4_SD_PATH = \"" + settings + "sd\"\n"
            "ROM_PATH = \"" + settings + "rom/\"\n"
            "DRIVE_A = \"" + settings + "disc/games.dsk\"\n"
            "SNAPSHOT = \"" + settings + "snap/\"\n"
            "HELP_FILE = \"./arvelo.hlp\"\n"
            "TAPE_PATH = \"/elsewhere/\"\n");
  EXPECT_EQ(file_text(settings + "rom/os.rom"), "ROM");
  EXPECT_EQ(file_text(settings + "disc/games.dsk"), "DSK");
  EXPECT_TRUE(fs::is_directory(settings + "snap"));
  EXPECT_EQ(fs::status(settings).permissions() & fs::perms::all, fs::perms::owner_all);

  // A second first start keeps the files the user already has.
  std::ofstream(settings + "disc/games.dsk") << "CHANGED";
  ASSERT_EQ(first_start_copy(1), 0);
  EXPECT_EQ(file_text(settings + "disc/games.dsk"), "CHANGED");
}

TEST(StartUpDeathTest, FirstStartFailures) {
  auto prog = testsupport::temp_dir("firstfail-prog");
  auto home = testsupport::temp_dir("firstfail-home");
  EnvVar h("HOME", home.c_str());
  InDir in(prog);
  // No template: nothing is left behind.
  EXPECT_EQ(first_start_copy(0), 1);
  EXPECT_FALSE(fs::exists(home / ".Arvelo" / "arvelo.cfg"));

  std::ofstream(prog / "arvelo0.cfg") << "ROM_PATH = \"./missing/\"\n";
  EXPECT_EXIT(first_start_copy(0), testing::ExitedWithCode(1), "Error copying files");
  EXPECT_FALSE(fs::exists(home / ".Arvelo" / "arvelo.cfg"));
  // A folder that cannot be made where a file stands.
  fs::create_directories(prog / "rom" / "more");
  std::ofstream(prog / "rom" / "more" / "a.rom") << "A";
  fs::create_directories(home / ".Arvelo" / "rom");
  std::ofstream(home / ".Arvelo" / "rom" / "more") << "a file";
  std::ofstream(prog / "arvelo0.cfg") << "ROM_PATH = \"./rom/\"\n";
  EXPECT_EXIT(first_start_copy(0), testing::ExitedWithCode(1),
              "Mkdir failed for .*/.Arvelo/rom/more\n(.|\n)*Error copying files");
}

// The fatal-signal handler never hangs in its error box: however the box fails, the
// process ends with the handler's status, and a display lost under the box ends it with
// that status too.
TEST(StartUpDeathTest, FatalSignalEndsWhenTheErrorBoxNeverCloses) {
  EXPECT_EQ(abrupt_exit_status(), 1);
  EXPECT_EXIT(
      {
        host.show_message_box = [](bool, const char*, const char*) {
          if (abrupt_exit_status() != FATAL_SIGNAL_STATUS) _exit(7);
          volatile unsigned spin = 0;
          for (;;) spin = spin + 1;  // as a box whose display is gone
        };
        install_signal_handler(1);
        raise(SIGTERM);
      },
      testing::ExitedWithCode(FATAL_SIGNAL_STATUS & 0xFF),
      "Caught SIGTERM(.|\n)*The error box did not close in time");
}

// ---- The real program -----------------------------------------------------------------

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the real arvelo binary (dummy SDL drivers, a private HOME) in its own directory
// and collects its output.
class Program : public testing::Test {
 protected:
  fs::path work = testsupport::temp_dir("program");
  fs::path home = testsupport::temp_dir("program-home");
  void TearDown() override {
    fs::remove_all(work);
    fs::remove_all(home);
  }
  ProgramResult run(const std::vector<std::string>& args) {
    std::string cmd = "cd " + shell_quote(work) + " && env HOME=" + shell_quote(home) +
                      " SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 60 " +
                      shell_quote(testsupport::bin_dir() + "/arvelo");
    for (const auto& a : args) cmd += " " + shell_quote(a);
    cmd += " >" + shell_quote(work / "out.txt") + " 2>" + shell_quote(work / "err.txt") + " </dev/null";
    const int raw = std::system(cmd.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return {status, file_text(work / "out.txt"), file_text(work / "err.txt")};
  }
  // A configuration that fails after it was read and shown: no ROM_PATH.
  std::string shown_config(const std::string& extra) {
    const auto path = work / "show.cfg";
    std::ofstream(path) << "SHOW_CONFIG = 1\n" << extra;
    return path.string();
  }
};

TEST_F(Program, CommandLineErrorsPrintUsageAndExitZero) {
  auto r = run({"-q"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Q : unknown option.\n---------------------------\n1 error(s) found in command line !"),
            std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Usage: "), std::string::npos);
  EXPECT_EQ(r.out.find("Arvelo (v2.5)  -  The CPC Emulator\n\n"), 0u);

  r = run({"-h", "game.dsk2"});  // the texts themselves: CommandLine.*
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\t[file] is an optional x.cfg, x.dsk or x.sna\n"), std::string::npos);
}

TEST_F(Program, RequestedTypeFromCommandLineWinsOverConfiguration) {
  auto r = run({"-t", "2", "-c", shown_config("CPC_TYPE = 0\n")});
  EXPECT_EQ(r.status, 12) << r.out << r.err;
  // SHOW_CONFIG prints the settings between two lines of stars.
  const size_t shown = r.out.find("SETCFG: show config: ***\n");
  ASSERT_NE(shown, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CPC_TYPE = 2\n", shown), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("***\n", shown + 25), std::string::npos);
  EXPECT_NE(r.err.find("ROM path not configured. Unable to continue."), std::string::npos);

  // -t 9 is out of range: as if no type were given, so the file's value stands.
  r = run({"-t", "9", "-c", shown_config("CPC_TYPE = 1\n")});
  EXPECT_NE(r.out.find("CPC_TYPE = 1\n"), std::string::npos) << r.out;
}

TEST_F(Program, UnreadableConfigurationOrRomEndsWithStatusTwoOrThree) {
  auto r = run({"-c", (work / "absent.cfg").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ARVELO: Use INSTALL first"), std::string::npos) << r.err;

  REQUIRE_ASSET(testsupport::rom_dir() + "/cpc6128.rom");
  fs::copy_file(testsupport::rom_dir() + "/cpc6128.rom", work / "cpc6128.rom");
  std::ofstream(work / "rom.cfg") << "ROM_PATH = \"" << work.string() << "/\"\n"
                                  << "ROM_BLOCK = 255, \"cpc6128.rom\", 0\n"
                                  << "ROM_BLOCK = 0, \"cpc6128.rom\", 1\n"
                                  << "ROM_BLOCK = 7, \"nothere.rom\", 0\n";
  r = run({"-c", (work / "rom.cfg").string()});
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.err.find(work.string() + "/nothere.rom, errno=2"), std::string::npos) << r.err;
}
