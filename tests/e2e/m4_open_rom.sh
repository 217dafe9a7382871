#!/usr/bin/env bash
# The M4 board with the open ROM built into the program: typed RSX commands list the SD
# card, change into a folder and load a file into memory; after |SD, BASIC's RUN takes
# programs from the card: an ASCII one, and a protected one that AMSDOS saved (scrambled)
# onto a disc image entered as a folder. (A broken M4.ROM of the user's own in the ROM
# path is refused: the unit test M4Start.) A CPC program (m4_net/echo.asm, assembled here
# with pasmo) uses the board's sockets: it takes a socket, connects to an echo server on
# 127.0.0.1, sends "HELLO", prints what comes back (the server answers in lower case)
# and closes.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
require_asset "$ROM_DIR/amsdos.rom"
require_asset "$TESTDATA/disks/dtc_cpc.dsk"
RUN="$BIN_DIR/arvelo-run"
make_work

make_m4_config
mkdir -p "$WORK/sd/games"
printf 'hello' >"$WORK/sd/games/Hello.txt"
printf '10 PRINT 1\r\n' >"$WORK/sd/Long program name.bas"
printf '\x2d\x01\x02\x03\x2f' >"$WORK/sd/DATA.BIN"

# A protected program of more than one record, saved by AMSDOS onto a disc image.
mkdir -p "$WORK/sd/discs"
cp "$TESTDATA/disks/dtc_cpc.dsk" "$WORK/sd/discs/prot.dsk"
chmod u+w "$WORK/sd/discs/prot.dsk"
"$RUN" --disc "$WORK/sd/discs/prot.dsk" --seconds 12 --rom-dir "$ROM_DIR" \
  --type '10 PRINT "PROTECTED"\n20 PRINT 6*7\n30 REM 0123456789012345678901234567890123456789012345678901234567890123456789\n40 REM 0123456789012345678901234567890123456789012345678901234567890123456789\nSAVE"prot",P\n' \
  >/dev/null 2>"$WORK/err.txt" || fail "saving the protected program failed: $(cat "$WORK/err.txt")"

run() {
  "$RUN" --config "$WORK/m4.cfg" --seconds 8 --screen-text --type "$1" \
    >"$WORK/screen.txt" 2>"$WORK/err.txt" || fail "arvelo-run failed: $(cat "$WORK/err.txt")"
}
session() { sed -n "/^$1\$/,\$p" "$WORK/screen.txt" | sed 's/ *$//' | sed '/^$/d'; }

run '|LS\n|CD,"games"\n|LS\n|CD,"..":|LOAD,"data.bin",&4000\nPRINT PEEK(&4000);PEEK(&4004)\n'
expected='|LS
DATA    .BIN   1K
>DISCS
>GAMES
LONGPR~1.BAS   1K
Ready
|CD,"games"
Ready
|LS
>.
>..
HELLO   .TXT   1K
Ready
|CD,"..":|LOAD,"data.bin",&4000
Ready
PRINT PEEK(&4000);PEEK(&4004)
 45  47
Ready'
got=$(session '|LS')
[ "$got" = "$expected" ] || fail "open ROM session differs:
$got"

# A missing program is told once; a protected program is wiped when it ends, as from a
# disc: LIST shows nothing.
run '|SD\nRUN"nothing"\nRUN"Long program name"\n|CD,"discs/prot.dsk"\nRUN"prot"\nLIST\n'
expected='|SD
Ready
RUN"nothing"
nothing not found
Ready
RUN"Long program name"
 1
Ready
|CD,"discs/prot.dsk"
Ready
RUN"prot"
PROTECTED
 42
Ready
LIST
Ready'
got=$(session '|SD')
[ "$got" = "$expected" ] || fail "running programs from the card differs:
$got"

# ---- The socket program ----
command -v pasmo >/dev/null || skip "pasmo not installed (the open ROM's checks passed)"
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
cp "$(dirname "$0")/m4_net/echo.asm" "$WORK/"
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
echo "m4_open_rom: ok"
