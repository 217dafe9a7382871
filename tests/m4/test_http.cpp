// The board's HTTP client against python3's http.server on 127.0.0.1: downloads onto the
// card and into the message text, the firmware update, and servers that answer badly.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>
#include <tuple>

#include "m4/httpget.h"
#include "m4/m4_fixture.h"

using namespace m4test;

namespace {

// python3 -m http.server's handler on an ephemeral port of 127.0.0.1, serving `dir`.
// The server prints its process number and port, and runs until it is stopped.
class LocalHttpServer {
 public:
  explicit LocalHttpServer(const fs::path& dir) {
    const std::string script =
        "import functools, http.server, os, sys\n"
        "h = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])\n"
        "s = http.server.ThreadingHTTPServer((\"127.0.0.1\", 0), h)\n"
        "print(os.getpid(), s.server_address[1], flush=True)\n"
        "s.serve_forever()\n";
    const std::string command = "exec python3 -c '" + script + "' '" + dir.string() + "' 2>/dev/null";
    output_ = popen(command.c_str(), "r");
    if (!output_ || std::fscanf(output_, "%d %d", &pid_, &port_) != 2) port_ = 0;
  }
  ~LocalHttpServer() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    if (output_) pclose(output_);
  }
  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + path; }

 private:
  std::FILE* output_ = nullptr;
  int pid_ = -1, port_ = 0;
};

using Http = StartedBoard;

TEST(HttpRequest, UrlsAreParsedOrRefused) {
  m4::HttpRequest r;
  std::string error;
  // Host, port, path and offset.
  const auto fields = [&] { return std::tie(r.host, r.port, r.path, r.offset); };
  ASSERT_TRUE(m4::parse_http_request("HTTP://example.org:8080/cpc/a.bin", &r, &error));
  EXPECT_EQ(fields(), std::tuple("example.org", 8080, "cpc/a.bin", 0L));
  ASSERT_TRUE(m4::parse_http_request("example.org/x, offset=0x1F", &r, &error));
  EXPECT_EQ(fields(), std::tuple("example.org", 80, "x", 0x1FL));
  ASSERT_TRUE(m4::parse_http_request("example.org, offset=20", &r, &error));
  EXPECT_EQ(fields(), std::tuple("example.org", 80, "", 20L));
  for (const char* bad : {"", "/x", "http://", "h:0/x", "h:65536/x", "h:0x50/x", "h:/x", "h/a b",
                          "h/x\r\nX-Evil: 1", "h/x, offset=zz", "h/x, offset=-1", "h/x, offset=0x"}) {
    EXPECT_FALSE(m4::parse_http_request(bad, &r, &error)) << bad;
  }
}

TEST_F(Http, DownloadsOntoTheCardAndIntoTheMessageText) {
  const Bytes file = pattern(70000, 1);
  const fs::path site = base / "site";
  write_file(site / "games" / "game.bin", file);
  LocalHttpServer server(site);
  ASSERT_GT(server.port(), 0) << "python3 http.server did not start";

  send_text(0x4320, {}, {server.url("games/game.bin"), "GAME.BIN"});
  EXPECT_EQ(reply_text(), "Downloaded GAME.BIN");
  EXPECT_EQ(read_file(sd / "GAME.BIN"), file);
  // With an offset: the rest of the file, whether or not the server honours Range.
  send_text(0x4320, {}, {server.url("games/game.bin, offset=0x100"), "TAIL.BIN"});
  EXPECT_EQ(read_file(sd / "TAIL.BIN"), Bytes(file.begin() + 0x100, file.end()));
  // Without a local name the URL's last component is used; a local name is a card name,
  // relative to the current directory, that never leaves the card.
  fs::remove(sd / "GAME.BIN");
  send_text(0x4320, {}, {server.url("games/game.bin")});
  EXPECT_TRUE(fs::exists(sd / "GAME.BIN"));
  fs::create_directories(sd / "sub");
  send_text(0x4320, {}, {server.url("games/game.bin"), "../../sub/IN.BIN"});
  EXPECT_EQ(reply_text(), "Downloaded ../../sub/IN.BIN");
  EXPECT_EQ(read_file(sd / "sub" / "IN.BIN"), file);

  // A missing file is an error, and an existing file of that name is left alone.
  write_text(sd / "KEEP.BIN", "keep");
  send_text(0x4320, {}, {server.url("nothing.bin"), "KEEP.BIN"});
  EXPECT_EQ(reply_text(), "Error: HTTP status 404\r\n");
  EXPECT_EQ(read_file(sd / "KEEP.BIN"), Bytes({'k', 'e', 'e', 'p'}));

  // 0x4328: a message text's worth from the offset, read back with 0x4329.
  send_text(0x4328, {}, {server.url("games/game.bin, offset=5")});
  EXPECT_EQ(reply_text(), "Downloaded " + std::to_string(m4::MESSAGE_SIZE - 1) + " bytes");
  EXPECT_EQ(send(0x4329, {0, 0, 4, 0}), (Bytes{6, 0x29, 0x43, file[5], file[6], file[7], file[8]}));

  // Network off: a reply without status.
  send(0x433C, {0});
  EXPECT_EQ(send_text(0x4320, {}, {server.url("games/game.bin"), "X.BIN"}), (Bytes{2, 0x20, 0x43}));
  EXPECT_FALSE(fs::exists(sd / "X.BIN"));
}

TEST_F(Http, FirmwareUpdateWritesBothRomsOnlyWhenNewer) {
  // version.bin: board ROM 1.2.3, NMI ROM 0.1.5. The firmware: the versions, the board
  // ROM, then the NMI ROM whose mark lies 480 bytes in.
  const Bytes versions{0x03, 0x02, 0x01, 0x00, 0x05, 0x01, 0x00, 0x00};
  const fs::path site = base / "site";
  write_file(site / "cpc" / "version.bin", versions);
  const Bytes board_rom = pattern(m4::ROM_SIZE, 2);
  Bytes hack = pattern(m4::ROM_SIZE, 3);
  const std::string mark = "M4 Board by Vask";
  std::copy(mark.begin(), mark.end(), hack.begin() + 480);
  Bytes firmware = versions;
  firmware.insert(firmware.end(), board_rom.begin(), board_rom.end());
  firmware.insert(firmware.end(), 100, 0xEE);
  firmware.insert(firmware.end(), hack.begin(), hack.end());
  write_file(site / "cpc" / "M4FIRM.BIN", firmware);
  LocalHttpServer server(site);
  ASSERT_GT(server.port(), 0);
  m4::set_update_host("127.0.0.1:" + std::to_string(server.port()));

  // The window the host shows while the command waits: the titles in turn.
  static std::vector<std::string> titles;
  titles.clear();
  m4::set_wait_window([](const char* title, const std::atomic<bool>& done) {
    titles.push_back(title);
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  testing::internal::CaptureStdout();
  send(0x4327);
  const std::string printed = testing::internal::GetCapturedStdout();
  m4::set_wait_window(nullptr);
  EXPECT_EQ(titles, (std::vector<std::string>{"Checking version...", "Downloading..."}));
  EXPECT_EQ(reply_text(), "Downloaded M4 firmware 1.2.3 (0.1.5).\r\n");
  EXPECT_EQ(read_file(rom_dir / "M4.ROM"), board_rom);
  EXPECT_EQ(read_file(rom_dir / "HACK.ROM"), hack);
  EXPECT_EQ(read_file(sd / "m4" / "M4FIRM.BIN"), firmware);
  EXPECT_NE(printed.find("M4.ROM overwritten"), std::string::npos);
  EXPECT_NE(printed.find("HACK.ROM overwritten"), std::string::npos);

  // The card now holds the same versions: nothing to do.
  send(0x4327);
  EXPECT_EQ(reply_text(), "You got latest versions.\r\n");

  // A newer firmware without its NMI ROM writes nothing.
  write_file(sd / "m4" / "M4FIRM.BIN", Bytes(8, 0));
  firmware.resize(firmware.size() - m4::ROM_SIZE);
  write_file(site / "cpc" / "M4FIRM.BIN", firmware);
  write_file(rom_dir / "M4.ROM", Bytes(m4::ROM_SIZE, 0x11));
  send(0x4327);
  EXPECT_EQ(reply_text(), "Error: M4 firmware file without its NMI ROM\r\n");
  EXPECT_EQ(read_file(rom_dir / "M4.ROM"), Bytes(m4::ROM_SIZE, 0x11));
  m4::set_update_host("127.0.0.1:1");
}

// Servers that send nonsense, or promise more than they send: an error, no file.
TEST_F(Http, BadRepliesAreErrors) {
  uint16_t port;
  const int listener = listen_loopback(&port);
  const std::string url = "127.0.0.1:" + std::to_string(port) + "/f";
  const std::string replies[] = {
      "garbage\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\nabc",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nZZZ\r\n",
  };
  for (const std::string& answer : replies) {
    std::thread peer([&] {
      const int c = accept(listener, nullptr, nullptr);
      char request[4096];
      [[maybe_unused]] const ssize_t got = recv(c, request, sizeof request, 0);
      [[maybe_unused]] const ssize_t sent = ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
      close(c);
    });
    testing::internal::CaptureStderr();
    send_text(0x4320, {}, {url, "BAD.BIN"});
    testing::internal::GetCapturedStderr();
    peer.join();
    EXPECT_EQ(reply_text().rfind("Error: ", 0), 0u) << answer;
    EXPECT_FALSE(fs::exists(sd / "BAD.BIN")) << answer;
  }
  close(listener);
}

}  // namespace
