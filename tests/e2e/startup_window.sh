#!/usr/bin/env bash
# The real program in a real X window, started three times: the first start makes the
# user's settings, the machine runs (its start-up screen) and F12 ends it with status 0
# and the credits; the second start finds the user's configuration, and Shift held while
# quitting shows the captured console output in a box titled "Arvelo Output"; at the
# third a termination signal is reported by the fatal-signal handler in a box titled
# "Arvelo Error". Boxes are found by their titles.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
make_install
HERE=$(cd "$(dirname "$0")" && pwd)
PICTURES="python3 $HERE/pictures.py"
# The machine runs: the window shows the 6128's start-up screen, its text above the
# blinking cursor as 32x32 block averages within 24 of 255 (the window smooths the picture).
BOOT="$HERE/boot_6128.png $WORK/screen.png 32 24 0 0 768 200"

cat > "$WORK/run.sh" <<SCRIPT
set -u
cd "$PROG"
# Whatever happens, no emulator outlives the check.
trap 'pkill -9 -f "^./arvelo\$" -P \$\$ 2>/dev/null; kill -9 \$(jobs -p) 2>/dev/null' EXIT
start() {
  SDL_AUDIODRIVER=dummy ./arvelo >"$WORK/out\$1.txt" 2>"$WORK/err\$1.txt" &
  pid=\$!
  wid=\$(timeout 20 xdotool search --sync --onlyvisible --name '^Arvelo\$' 2>/dev/null | head -1)
  sleep 2
}
# A box of the message-box library, found by its title among the root's children; Return
# presses its button.
answer_box() {
  box=\$(xwininfo -root -tree | grep -F "\"\$1\":" | awk '{print \$1; exit}')
  [ -n "\$box" ] || return 0
  echo shown > "$WORK/box\$2"
  xdotool windowfocus --sync \$box; xdotool key Return
}
finish() { wait \$pid; echo \$? > "$WORK/status\$1"; }

# First start: language, keyboard layout, splash; the start-up screen; F12.
start 1
for k in 1 1 space; do xdotool key --window \$wid \$k; sleep 1; done
for i in \$(seq 1 20); do
  import -window \$wid "$WORK/screen.png" 2>/dev/null && $PICTURES same $BOOT >/dev/null && break
  sleep 0.5
done
xdotool key --window \$wid F12
finish 1

# Second start: only the splash, then Shift+F12 and the output box.
start 2
xdotool key --window \$wid space; sleep 2
xdotool keydown --window \$wid shift; sleep 0.3
xdotool key --window \$wid F12; sleep 3
xdotool keyup shift
kill -0 \$pid 2>/dev/null && answer_box "Arvelo Output" 2
finish 2

# Third start: a termination signal and the error box.
start 3
xdotool key --window \$wid space; sleep 2
kill -TERM \$pid; sleep 3
answer_box "Arvelo Error" 3
finish 3
SCRIPT
timeout 200 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/run.sh" || true

status() { cat "$WORK/status$1" 2>/dev/null || echo none; }
[ "$(status 1)" = 0 ] || fail "first run ended with $(status 1): $(cat "$WORK/err1.txt")"
grep -q '^Arvelo (v2.5)  -  The CPC Emulator$' "$WORK/out1.txt" || fail "no banner"
grep -q '^MEM: ' "$WORK/out1.txt" || fail "set-up did not allocate memory: $(cat "$WORK/out1.txt")"
$PICTURES same $BOOT >/dev/null || fail "the machine did not show its start-up screen ($($PICTURES same $BOOT))"
grep -q 'Arvelo (v2.5)  -  The CPC Emulator' <(tail -8 "$WORK/out1.txt") || fail "no credits at the end"
cfg=$HOME/.Arvelo/arvelo.cfg
[ -f "$cfg" ] || fail "first start made no user configuration"
grep -q "ROM_PATH = \"$HOME/.Arvelo/rom/\"" "$cfg" || fail "ROM_PATH not moved"
[ -f "$HOME/.Arvelo/rom/cpc6128.rom" ] || fail "ROM images not copied"

grep -q "CONFIG: Using $cfg" "$WORK/out2.txt" || fail "second start did not use the user configuration"
[ "$(grep -c 'CONFIG: Using' "$WORK/out2.txt")" = 1 ] || fail "second start ran the first start again"
[ -f "$WORK/box2" ] || fail "Shift while quitting showed no box titled \"Arvelo Output\""
[ "$(status 2)" = 0 ] || fail "second run ended with $(status 2)"

[ "$(status 3)" = 231 ] || fail "exit status $(status 3) (expected 231 = 999 & 255); stderr: $(cat "$WORK/err3.txt")"
grep -q '^Caught SIGTERM: a termination request was sent to the program$' "$WORK/err3.txt" ||
  fail "no signal line: $(cat "$WORK/err3.txt")"
grep -q '^0x[0-9a-f]*: ' "$WORK/err3.txt" || fail "no backtrace lines"
[ -f "$WORK/box3" ] || fail "no error box titled \"Arvelo Error\""
echo "PASS"
