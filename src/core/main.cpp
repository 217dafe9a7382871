// The program's entry point and outermost control loop.
#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "config/config.h"
#include "config/messages.h"
#include "config/settings.h"
#include "core/host.h"
#include "core/machine.h"
#include "core/startup.h"
#include "core/teebuf.h"
#include "m4/netlayer.h"
#include "m4/webserver.h"
#include "sound/audio.h"
#include "ui/setup_windows.h"
#include "ui/ui.h"
#include "video/host_display.h"
#include "video/host_display_loss.h"

namespace {

void show_box(bool error, const char* title) {
  host.show_message_box(error, title, captured_output().c_str());
}

// A start-up notice stays on the window long enough to be read.
constexpr int START_NOTICE_SECONDS = 8;
void show_start_notice(const char* text) { show_message(text, START_NOTICE_SECONDS); }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], ERROR_BOX_OPTION) == 0) return run_error_box_process(argv[2], argv[3]);
  if (install_signal_handler() != 0) return 1;
  capture_console_output();
  SDL_Init(0);
  host_install_sdl();
  ui_install_host_hooks();
  audio_install_host_hooks();
  start_notice = show_start_notice;

  if (SDLNet_Init() != 0) {
    std::cerr << "SDLNet_Init: " << SDLNet_GetError() << std::endl;
    SDL_Quit();
    return 1;
  }
  SDL_DisableScreenSaver();
  print_banner(std::cout);

  set_setting(kw::EMULATION_SPEED, 1);
  StartOptions options;
  const int errors = parse_command_line(argc, argv, options, std::cout, std::cerr);
  if (errors) {
    std::cerr << "---------------------------\n" << errors << " error(s) found in command line !" << std::endl;
    print_usage(argv[0], std::cout);
    return 0;
  }
  if (options.start_mode == 'H') {
    print_usage(argv[0], std::cout);
    return 0;
  }

  // The files named on the command line are the user's, found where the program was
  // started; the data files are found in the program's directory, changed to next.
  const std::string start_dir = working_directory();
  const std::string config_path = command_line_path(start_dir, options.config_file);
  const std::string media_path = command_line_path(start_dir, options.media_file);
  if (options.config_file) options.config_file = config_path.c_str();
  if (options.media_file) options.media_file = media_path.c_str();
  const std::string dir = program_directory(argv[0]);
  if (!dir.empty() && chdir(dir.c_str()) != 0) std::perror(dir.c_str());
  set_open_rom_directory(executable_directory(argv[0]));

  set_message_file("arvelo.msg");
  open_message_file();

  if (display_init() != 0) return 1;
  // The setup window's web-server line starts and stops the M4 board's web server.
  set_setup_web_server({web_server_running, web_server_start_areas, web_server_stop});

  set_setting(kw::CPC_TYPE, (options.cpc_type >= 0 && options.cpc_type <= 6) ? options.cpc_type : 6);
  set_config_file_name(choose_config_file(options).c_str());
  set_data_file("arvelo.dat");

  const int status = machine_loop(options);
  // Its threads end before the program does.
  web_server_stop();
  if (status != 0) {
    if (status >= 2 && host.shift_held()) show_box(false, "Arvelo Output");
    SDL_Quit();
    return status;
  }

  close_message_file();
  print_credits(std::cout);
  if (host.shift_held()) show_box(false, "Arvelo Output");
  audio_close(1);
  display_shutdown();
  SDLNet_Quit();
  SDL_Quit();
  return 0;
}
