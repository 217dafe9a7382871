#!/usr/bin/env bash
# The M4 board's web server under ThreadSanitizer: 20 client threads make 200 requests
# (index page, listings, downloads, uploads) while the server's own threads answer and
# the main thread takes the activity notices as the window does each frame. Every
# download must be complete and every upload land; any report of the sanitizer fails.
source "$(dirname "$0")/lib.bash"
SRC=${ARVELO_SOURCE_DIR:?ARVELO_SOURCE_DIR not set}
command -v clang++ >/dev/null || skip "clang++ not installed"
WORK=$(mktemp -d /tmp/arvelo-webtsan.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

cat >"$WORK/stress.cpp" <<'CPP'
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "m4/webserver.h"

int main(int argc, char** argv) {
  const std::string base = argv[1];
  std::filesystem::create_directories(base + "/sd/games");
  std::filesystem::create_directories(base + "/tape");
  std::string big(100000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 9));
  std::ofstream(base + "/sd/games/big.bin", std::ios::binary) << big;
  std::ofstream(base + "/index.html") << "<T>%HOSTNAME%</T>\n<CONTENT DIR=/SDCARD/games/>\n";
  WebServerOptions options;
  options.areas.sdcard = base + "/sd";
  options.areas.tape = base + "/tape";
  options.index_file = base + "/index.html";
  options.first_port = std::atoi(argv[2]);
  if (!web_server_start(options)) return 2;
  const int port = web_server_port();
  std::atomic<int> good{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 20; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", port);
      for (int r = 0; r < 10; ++r) {
        const int kind = (c + r) % 4;
        if (kind == 0) {
          auto res = client.Get("/SDCARD/games/big.bin");
          good += res && res->status == 200 && res->body == big;
        } else if (kind == 1) {
          auto res = client.Get("/");
          good += res && res->status == 200 && res->body.find("big.bin") != std::string::npos;
        } else if (kind == 2) {
          auto res = client.Get("/SDCARD/../../etc/passwd");
          good += res && res->status == 403;
        } else {
          const std::string name = "up" + std::to_string(c) + "_" + std::to_string(r) + ".cdt";
          httplib::MultipartFormDataItems items = {{"DESTINATION", "/TAPE", "", ""},
                                                   {"FILE", "data" + name, name, "application/octet-stream"}};
          auto res = client.Post("/", items);
          std::ifstream in(base + "/tape/" + name);
          std::string got((std::istreambuf_iterator<char>(in)), {});
          good += res && res->status == 301 && got == "data" + name;
        }
      }
    });
  }
  std::thread window([&] {
    std::string text;
    while (!done) web_server_take_activity(&text);
  });
  for (auto& t : clients) t.join();
  done = true;
  window.join();
  web_server_stop();
  std::printf("%d of 200 requests answered right\n", good.load());
  return good == 200 ? 0 : 1;
}
CPP

# shellcheck disable=SC2046
clang++ -std=c++20 -g -O1 -fsanitize=thread -I"$SRC/src" "$WORK/stress.cpp" "$SRC/src/m4/webserver.cpp" \
  "$SRC/src/m4/web_paths.cpp" "$SRC/src/m4/netlayer.cpp" $(pkg-config --cflags --libs cpp-httplib) \
  -o "$WORK/stress" 2>"$WORK/build.txt" || fail "stress program does not build: $(cat "$WORK/build.txt")"
# The HTTP library is Debian's build, not instrumented: its own atomics are invisible to
# the sanitizer, which then takes the C library calls it makes (memcmp, memcpy) for
# races. Those calls are not checked; every access of our code still is.
echo "called_from_lib:libcpp-httplib.so" >"$WORK/suppressions"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$WORK/suppressions" timeout 300 "$WORK/stress" "$WORK/areas" "$PORT" >"$WORK/out.txt" 2>"$WORK/tsan.txt" ||
  fail "stress run failed: $(tail -5 "$WORK/out.txt") $(head -60 "$WORK/tsan.txt")"
grep -q "WARNING: ThreadSanitizer" "$WORK/tsan.txt" && fail "ThreadSanitizer: $(head -60 "$WORK/tsan.txt")"
tail -1 "$WORK/out.txt"
