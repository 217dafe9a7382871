#!/usr/bin/env bash
# A CPC program (m4_net/echo.asm, assembled here with pasmo) uses the M4 board's sockets
# on the emulated machine: it takes a socket, connects to an echo server on 127.0.0.1,
# sends "HELLO", prints what comes back (the server answers in lower case) and closes.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
require_asset "$ROM_DIR/amsdos.rom"
command -v pasmo >/dev/null || skip "pasmo not installed"
HERE=$(cd "$(dirname "$0")" && pwd)
RUN="$BIN_DIR/arvelo-run"
make_work
make_m4_config
python3 -u - >"$WORK/port" <<'PY' &
import socket
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(1)
print(server.getsockname()[1])
while True:
    client, _ = server.accept()
    data = client.recv(100)
    client.sendall(data.lower())
    client.close()
PY
PID=$!  # the echo server, ended with the script
for _ in $(seq 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
echo "ECHO_PORT equ $(cat "$WORK/port")" >"$WORK/port.inc"
cp "$HERE/m4_net/echo.asm" "$WORK/"
(cd "$WORK" && pasmo --bin echo.asm sd/ECHO.BIN >"$WORK/pasmo.txt" 2>&1) || fail "pasmo: $(cat "$WORK/pasmo.txt")"
"$RUN" --config "$WORK/m4.cfg" --realtime --seconds 10 --screen-text \
  --type '|LOAD,"echo.bin",&4000\nCALL &4000\n' >"$WORK/screen.txt" 2>"$WORK/err.txt" ||
  fail "arvelo-run failed: $(cat "$WORK/err.txt")"
got=$(sed -n '/^CALL &4000/,$p' "$WORK/screen.txt" | sed 's/ *$//' | sed '/^$/d')
expected='CALL &4000
CONNECTED
hello
DONE
Ready'
[ "$got" = "$expected" ] || fail "the program's session differs:
$got"
