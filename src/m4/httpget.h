// The M4 board's HTTP client: downloads onto the SD card (0x4320), reads into the board's
// message text (0x4328) and the firmware update (0x4327).
//
// Each transfer runs on a thread of its own ("httpget") while the command waits for it;
// a window hook installed by the host shows "Downloading..." or "Checking version..."
// and keeps the window alive meanwhile. Replies from the server are bounded in size and
// time, and only a successful status (200, or 206 for a range) writes anything.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace m4 {

// A download request as the CPC writes it: "[http://]host[:port]/path[, offset=N]",
// N decimal or hexadecimal after "0x".
struct HttpRequest {
  std::string host;
  int port = 80;
  std::string path;   // without its leading '/'
  long offset = 0;
};
// False (with the reason in *error) when the text is no such request.
bool parse_http_request(const std::string& text, HttpRequest* request, std::string* error);

// Shows `title` until `done` becomes true, handling the window's events meanwhile.
using WaitWindow = void (*)(const char* title, const std::atomic<bool>& done);
void set_wait_window(WaitWindow window);

// The firmware update server, "host" or "host:port" (ARVELO_M4_UPDATE_HOST overrides
// the default at start).
void set_update_host(const std::string& host_and_port);

// Runs HTTP command `code` of the packet being executed; false when it is not one.
bool http_command(int code);

}  // namespace m4
