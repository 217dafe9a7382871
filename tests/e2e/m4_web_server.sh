#!/usr/bin/env bash
# The M4 board's web server, run by arvelo-run, talked to with curl on 127.0.0.1: the
# index page with the host name and the listings, byte-identical downloads, multipart
# uploads into an area, a battery of requests that try to leave the areas (none may
# read or write outside them), hostile request sizes, and 200 requests from 20 clients.
# The same 200 requests again under ThreadSanitizer, the server in a program of its own
# whose main thread takes the activity notices as the window does each frame: every
# reply must be right and every upload land; any report of the sanitizer fails.
source "$(dirname "$0")/lib.bash"
SRC=${ARVELO_SOURCE_DIR:?ARVELO_SOURCE_DIR not set}
require_asset "$ROM_DIR/cpc6128.rom"
command -v curl >/dev/null || skip "curl not installed"
RUN="$BIN_DIR/arvelo-run"
make_work

mkdir -p "$WORK"/{roms,sd/games,disc,tape,outside}
ln -s "$ROM_DIR/cpc6128.rom" "$WORK/roms/"
head -c 200000 /dev/urandom >"$WORK/sd/games/big.bin"
printf 'TOPSECRET' >"$WORK/outside/secret"
printf 'untouched' >"$WORK/outside/victim"
ln -s "$WORK/outside" "$WORK/sd/out"
ln -s "$WORK/outside/victim" "$WORK/tape/victim.cdt"
cat >"$WORK/web.cfg" <<CFG
CPC_TYPE = 2
RAM_SIZE = 128
ROM_PATH = "$WORK/roms/"
ROM_BLOCK = 255, "cpc6128.rom", 0
ROM_BLOCK = 0, "cpc6128.rom", 1
TAPE_PATH = "$WORK/tape/"
M4_SD_PATH = "$WORK/sd"
DRIVE_A = "$WORK/disc/none.dsk"
CFG
FIRST_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

"$RUN" --config "$WORK/web.cfg" --realtime --seconds 300 --web-server --web-port "$FIRST_PORT" \
  >"$WORK/out.txt" 2>"$WORK/err.txt" &
PID=$!
for _ in $(seq 100); do
  grep -q '^web server: listening' "$WORK/out.txt" && break
  sleep 0.1
done
PORT=$(sed -n 's/^web server: listening on all interfaces, port \([0-9]*\) .*/\1/p' "$WORK/out.txt")
[ -n "$PORT" ] || fail "no listening line: $(cat "$WORK/out.txt" "$WORK/err.txt")"
URL="http://127.0.0.1:$PORT"

# ---- Index page and listings ----
page=$(curl -s "$URL/")
grep -qF "Arvelo M4 board on $(hostname)" <<<"$page" || fail "index without the host name: $page"
grep -qF "<A HREF='/SDCARD/games/'>games/</A>" <<<"$page" || fail "index without the SD listing: $page"
grep -qF "%HOSTNAME%" <<<"$page" && fail "index keeps %HOSTNAME%"
grep -qF "<A HREF='/SDCARD/games/big.bin'>big.bin</A>" <(curl -s "$URL/SDCARD/games") ||
  fail "no listing of /SDCARD/games"

# ---- Download: headers of the reply, bytes identical ----
curl -s -D "$WORK/headers" -o "$WORK/got.bin" "$URL/SDCARD/games/big.bin"
cmp -s "$WORK/got.bin" "$WORK/sd/games/big.bin" || fail "download differs"
grep -q '^HTTP/1\.[01] 200' "$WORK/headers" || fail "no 200: $(cat "$WORK/headers")"
grep -qi '^Content-Length: 200000' "$WORK/headers" || fail "no Content-Length: $(cat "$WORK/headers")"
grep -qi '^Content-Type: application/octet-stream' "$WORK/headers" || fail "wrong type: $(cat "$WORK/headers")"
grep -qi '^Server: Arvelo' "$WORK/headers" || fail "no Server header"

# ---- Upload into an area ----
head -c 5000 /dev/urandom >"$WORK/up.cdt"
code=$(curl -s -o /dev/null -w '%{http_code}' -F DESTINATION=/TAPE -F "FILE=@$WORK/up.cdt;filename=../../new.cdt" "$URL/")
[ "$code" = 301 ] || fail "upload answered $code"
cmp -s "$WORK/up.cdt" "$WORK/tape/new.cdt" || fail "upload not in the tape directory"

# Both were announced (on the console here, on the window in the program).
for _ in $(seq 20); do grep -q '^Web upload: new.cdt$' "$WORK/err.txt" && break; sleep 0.1; done
grep -q '^Web download: big.bin$' "$WORK/err.txt" || fail "download not announced: $(cat "$WORK/err.txt")"
grep -q '^Web upload: new.cdt$' "$WORK/err.txt" || fail "upload not announced: $(cat "$WORK/err.txt")"

# ---- Nothing outside the areas is read or written ----
status() { curl -s --path-as-is -o "$WORK/reply" -w '%{http_code}' "$@"; }
for path in '/SDCARD/../outside/secret' '/SDCARD/..%2foutside/secret' '/SDCARD/%2e%2e/outside/secret' \
  '/SDCARD/%2E%2E%2Foutside%2Fsecret' '/SDCARD/....//outside/secret' '/SDCARD/..%5coutside%5csecret' \
  '/SDCARD/out/secret' '/SDCARD/out/' "/$WORK/outside/secret" "//$WORK/outside/secret" \
  "/SDCARD/%2F${WORK#/}/outside/secret" '/SDCARD/%00/../secret' '/../../../../etc/passwd'; do
  code=$(status "$URL$path")
  case "$code" in 400 | 403 | 404) ;; *) fail "$path answered $code" ;; esac
  grep -q TOPSECRET "$WORK/reply" && fail "$path read outside the areas"
done
for destination in /TAPE/../outside /SDCARD/out / /NOWHERE "$WORK/outside"; do
  code=$(curl -s -o /dev/null -w '%{http_code}' -F "DESTINATION=$destination" -F "FILE=@$WORK/up.cdt;filename=victim" "$URL/")
  case "$code" in 400 | 403 | 404) ;; *) fail "upload to $destination answered $code" ;; esac
done
code=$(curl -s -o /dev/null -w '%{http_code}' -F DESTINATION=/TAPE -F "FILE=@$WORK/up.cdt;filename=victim.cdt" "$URL/")
[ "$code" = 403 ] || fail "upload through a link out answered $code"
[ "$(cat "$WORK/outside/victim")" = untouched ] || fail "a file outside the areas was overwritten"
[ "$(ls "$WORK/outside")" = "$(printf 'secret\nvictim')" ] || fail "a file appeared outside: $(ls "$WORK/outside")"

# ---- Hostile sizes: a 100 KB request line, a 10 MB header; the server answers on ----
python3 - "$PORT" <<'PY' || fail "hostile request sizes"
import socket, sys
port = int(sys.argv[1])
def exchange(data):
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    try:
        s.sendall(data)
    except OSError:
        pass  # the server may close before taking it all
    try:
        reply = s.recv(100)
    except OSError:
        reply = b""
    s.close()
    return reply
reply = exchange(b"GET /" + b"a" * 100000 + b" HTTP/1.1\r\nHost: x\r\n\r\n")
assert reply == b"" or reply.split()[1] in (b"400", b"414"), reply
reply = exchange(b"GET / HTTP/1.1\r\nX-Big: " + b"b" * (10 << 20) + b"\r\n\r\n")
assert reply == b"" or reply.split()[1] in (b"400", b"431"), reply
PY
[ "$(curl -s -o /dev/null -w '%{http_code}' "$URL/")" = 200 ] || fail "server gone after hostile requests"

# ---- 200 requests from 20 clients at once: downloads, listings, requests that try to
# leave the areas, uploads; each prints "right" when its reply is ----
export BIG_SUM WORK
BIG_SUM=$(md5sum <"$WORK/sd/games/big.bin")
request() {  # URL NUMBER
  case $(($2 % 4)) in
    0) [ "$(curl -s "$1/SDCARD/games/big.bin" | md5sum)" = "$BIG_SUM" ] ;;
    1) curl -s "$1/SDCARD/games/" | grep -qF "big.bin</A>" ;;
    2) [ "$(curl -s --path-as-is -o /dev/null -w '%{http_code}' "$1/SDCARD/../../etc/passwd")" = 403 ] ;;
    3) printf 'data%s' "$2" >"$WORK/up$2.cdt"
       [ "$(curl -s -o /dev/null -w '%{http_code}' -F DESTINATION=/TAPE -F "FILE=@$WORK/up$2.cdt" "$1/")" = 301 ] &&
         cmp -s "$WORK/up$2.cdt" "$WORK/tape/up$2.cdt" ;;
  esac && echo right
}
export -f request
load() {
  local right
  right=$(seq 200 | xargs -P 20 -I{} bash -c "request $1 {}" | grep -c right || true)
  [ "$right" = 200 ] || fail "$2: of 200 requests $right answered right"
}
load "$URL" arvelo-run
kill -0 "$PID" || fail "arvelo-run ended"
echo "web server checks passed on port $PORT"
kill "$PID"

# ---- Under ThreadSanitizer ----
command -v clang++ >/dev/null || skip "clang++ not installed (the checks without the sanitizer passed)"
cat >"$WORK/server.cpp" <<'CPP'
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "m4/webserver.h"

// The server with the SD card and tape areas of argv[1], until its standard input ends.
int main(int argc, char** argv) {
  WebServerOptions options;
  options.areas.sdcard = std::string(argv[1]) + "/sd";
  options.areas.tape = std::string(argv[1]) + "/tape";
  options.first_port = std::atoi(argv[2]);
  if (argc != 3 || !web_server_start(options)) return 2;
  std::printf("listening on port %d\n", web_server_port());
  std::fflush(stdout);
  std::atomic<bool> done{false};
  std::thread window([&] {
    std::string text;
    while (!done) web_server_take_activity(&text);
  });
  while (std::getchar() != EOF) {
  }
  done = true;
  window.join();
  web_server_stop();
  return 0;
}
CPP
# shellcheck disable=SC2046
clang++ -std=c++20 -g -O1 -fsanitize=thread -I"$SRC/src" "$WORK/server.cpp" "$SRC/src/m4/webserver.cpp" \
  "$SRC/src/m4/web_paths.cpp" "$SRC/src/m4/netlayer.cpp" $(pkg-config --cflags --libs cpp-httplib) \
  -o "$WORK/server" 2>"$WORK/build.txt" || fail "the server program does not build: $(cat "$WORK/build.txt")"
# The HTTP library is Debian's build, not instrumented: its own atomics are invisible to
# the sanitizer, which then takes the C library calls it makes (memcmp, memcpy) for
# races. Those calls are not checked; every access of our code still is.
echo "called_from_lib:libcpp-httplib.so" >"$WORK/suppressions"
rm -f "$WORK"/tape/up*.cdt
mkfifo "$WORK/input"
TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$WORK/suppressions" \
  "$WORK/server" "$WORK" "$FIRST_PORT" <"$WORK/input" >"$WORK/tsan_out.txt" 2>"$WORK/tsan.txt" &
PID=$!
exec 3>"$WORK/input"
for _ in $(seq 100); do grep -q '^listening' "$WORK/tsan_out.txt" && break; sleep 0.1; done
PORT=$(sed -n 's/^listening on port //p' "$WORK/tsan_out.txt")
[ -n "$PORT" ] || fail "the server program did not start: $(cat "$WORK/tsan.txt")"
load "http://127.0.0.1:$PORT" "under ThreadSanitizer"
exec 3>&-
status=0
wait "$PID" || status=$?
[ $status = 0 ] && ! grep -q "WARNING: ThreadSanitizer" "$WORK/tsan.txt" ||
  fail "ThreadSanitizer (status $status): $(head -60 "$WORK/tsan.txt")"
echo "200 requests answered right under ThreadSanitizer"
