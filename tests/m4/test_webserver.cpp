// The web server's request mapping and index page, and its start-up; whole HTTP
// exchanges with curl are in tests/e2e/m4_web_server.sh.
#include <unistd.h>

#include "m4/m4_fixture.h"
#include "m4/webserver.h"

namespace fs = std::filesystem;

namespace {

class WebPaths : public ::testing::Test {
 protected:
  fs::path base;
  web::Areas areas;
  void SetUp() override {
    base = testsupport::temp_dir("web");
    fs::create_directories(base / "sd/games");
    fs::create_directories(base / "outside");
    fs::create_directories(base / "rom");
    std::ofstream(base / "outside/secret") << "secret";
    std::ofstream(base / "sd/games/<b>&'.txt") << "x";
    fs::create_directory_symlink(base / "outside", base / "sd/out");
    fs::create_directory_symlink(base / "sd/games", base / "sd/in");
    areas.sdcard = (base / "sd").string();
    areas.rom = (base / "rom").string();
  }
  void TearDown() override { fs::remove_all(base); }
};

TEST_F(WebPaths, RequestsStayInsideTheirArea) {
  struct Case {
    std::string path;
    web::PathResult result;
  };
  const Case cases[] = {
      {"/SDCARD/games/x", web::PathResult::OK},
      {"/sdcard//games/./x", web::PathResult::OK},
      {"/SDCARD/in/x", web::PathResult::OK},          // a link that stays inside
      {"/SDCARD/....//x", web::PathResult::OK},       // "...." is a name like any other
      {"/SDCARD/../outside/secret", web::PathResult::FORBIDDEN},
      {"/SDCARD/games/../../outside", web::PathResult::FORBIDDEN},
      {"/SDCARD\\..\\outside", web::PathResult::FORBIDDEN},
      {std::string("/SDCARD/x\0/y", 12), web::PathResult::FORBIDDEN},
      {"/SDCARD/out/secret", web::PathResult::FORBIDDEN},  // a link that leads out
      {"/SDCARD/out", web::PathResult::FORBIDDEN},
      {"//etc/passwd", web::PathResult::NOT_FOUND},        // no such area
      {"/TAPE/x", web::PathResult::NOT_FOUND},             // an area without a directory
      {"/", web::PathResult::NOT_FOUND},
      {"/SDCARD/" + std::string(5000, 'a'), web::PathResult::NOT_FOUND},
  };
  // That an accepted path stays inside its area is fuzz_web_paths' check.
  for (const Case& c : cases) EXPECT_EQ(web::map_path(areas, c.path).result, c.result) << c.path;
  EXPECT_EQ(web::map_path(areas, "/sdcard//games/./x").url_path, "/SDCARD/games/x");

  EXPECT_EQ(web::upload_name("C:\\Users\\me\\game.dsk"), "game.dsk");
  EXPECT_EQ(web::upload_name("../../x.bin"), "x.bin");
  for (const char* bad : {"", "..", "dir/", "a/.."}) EXPECT_EQ(web::upload_name(bad), "") << bad;
}

TEST_F(WebPaths, IndexPageWithHostNameAndListings) {
  const std::string page = web::render_index(
      "<T>%HOSTNAME% / %HOSTNAME%</T>\r\n<CONTENT DIR='/SDCARD/games'/>\r\n<CONTENT DIR=/NOPE/>\r\nend",
      "cpc<1>", [&](const std::string& dir) { return web::listing(areas, dir); });
  EXPECT_EQ(page,
            "<T>cpc&lt;1&gt; / cpc&lt;1&gt;</T>\r\n"
            "<A HREF='/SDCARD/games/%3Cb%3E%26%27.txt'>&lt;b&gt;&amp;&#39;.txt</A>\r\n<BR>\r\n"
            "end");
  // A listing of a link that leads out shows nothing.
  EXPECT_EQ(web::listing(areas, "/SDCARD/out"), "");
}

// With the first port taken the server takes 8000, or any port when 8000 is taken too;
// a second start is refused while it runs.
TEST(WebServer, FallsBackToAnotherPort) {
  uint16_t port;
  const int taken = m4test::listen_loopback(&port);
  WebServerOptions options;
  options.first_port = port;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(web_server_start(options));
  EXPECT_FALSE(web_server_start_areas(nullptr, "/tmp", nullptr, nullptr));
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(web_server_port(), options.first_port);
  EXPECT_NE(said.find("SDLNet_TCP_Open (port " + std::to_string(options.first_port) + ")"), std::string::npos);
  EXPECT_NE(said.find("port " + std::to_string(web_server_port())), std::string::npos) << said;
  EXPECT_NE(said.find("Webserver already running."), std::string::npos);
  if (said.find("SDLNet_TCP_Open (port 8000)") == std::string::npos) {
    EXPECT_EQ(web_server_port(), 8000);
  }
  web_server_stop();
  EXPECT_FALSE(web_server_running());
  close(taken);
}

}  // namespace
