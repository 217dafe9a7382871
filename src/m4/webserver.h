// The M4 board's web server: a browser on any computer that reaches this one can fetch
// the files of the emulated machine's four directories (areas DISC, SDCARD, TAPE, ROM),
// see them listed on the index page, and upload files into them.
//
// It listens on all interfaces, on port 80, else 8000, else any free port, and says on
// the standard output where. HTTP itself (request parsing, multipart bodies, replies) is
// cpp-httplib's; what is served, and that nothing outside the areas is ever read or
// written, is ours (m4/web_paths.h). Requests are handled on the server's own threads
// ("http server" and its workers); they touch only the area directories.
#pragma once
#include <string>

#include "m4/web_paths.h"

struct WebServerOptions {
  web::Areas areas;
  std::string index_file = "index.html";  // the page template, relative to the working directory
  int first_port = 80;                    // tried first, then 8000, then any free port
};

// Starts the server; false (after a message) when it runs already or no port could be
// bound.
bool web_server_start(const WebServerOptions& options);
// The same with the four area directories as the setup window's web-server line hands
// them over (drive A's browse directory, the SD card, the tapes, the ROM path; nullptr or
// "" leaves an area out), the index page "index.html" of the working directory and the
// usual ports. Fits SetupWebServer::start; web_server_running and web_server_stop fit
// its other two members.
bool web_server_start_areas(const char* drive_a, const char* sd_card, const char* tapes, const char* roms);
// Stops it and waits for its threads to end; nothing when it does not run.
void web_server_stop();
bool web_server_running();
// The port it listens on, 0 when it does not run.
int web_server_port();
// The oldest remote activity ("Web download: NAME", "Web upload: NAME") not yet taken,
// for the window's on-screen message; false when there is none.
bool web_server_take_activity(std::string* text);
