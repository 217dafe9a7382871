#!/usr/bin/env bash
# The real program in a real X window: the first start makes the user's settings, the
# machine runs (its start-up screen), and a termination signal is reported by the
# fatal-signal handler in an error box.
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
SDL_AUDIODRIVER=dummy ./arvelo >"$WORK/out.txt" 2>"$WORK/err.txt" &
pid=\$!
xdotool search --sync --onlyvisible --name '^Arvelo\$' >/dev/null 2>&1 &
searcher=\$!
for i in \$(seq 1 100); do
  kill -0 \$searcher 2>/dev/null || break
  sleep 0.1
done
kill \$searcher 2>/dev/null || true
sleep 2
# The first start asks for the language and the keyboard layout, then shows the splash
# window until a key is pressed.
wid=\$(xdotool search --onlyvisible --name '^Arvelo\$' | head -1)
for k in 1 1 space; do xdotool key --window \$wid \$k; sleep 1; done
for i in \$(seq 1 20); do
  import -window \$wid "$WORK/screen.png" 2>/dev/null && $PICTURES same $BOOT >/dev/null && break
  sleep 0.5
done
kill -TERM \$pid
# The handler shows the captured output in an error box (a new top-level window) before
# it ends the program; Return presses its button.
sleep 3
# The box is found by its title (a window of the message-box library, among the
# root's children).
box=\$(xwininfo -root -tree | grep -F '"Arvelo Error":' | awk '{print \$1; exit}')
[ -n "\$box" ] && echo shown > "$WORK/box"
[ -n "\$box" ] && xdotool windowfocus --sync \$box && xdotool key Return
wait \$pid
echo \$? > "$WORK/status"
SCRIPT
timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/run.sh" || true

status=$(cat "$WORK/status" 2>/dev/null || echo none)
[ "$status" = "231" ] || fail "exit status $status (expected 231 = 999 & 255); stderr: $(cat "$WORK/err.txt")"
grep -q '^Caught SIGTERM: a termination request was sent to the program$' "$WORK/err.txt" ||
  fail "no signal line: $(cat "$WORK/err.txt")"
grep -q '^0x[0-9a-f]*: ' "$WORK/err.txt" || fail "no backtrace lines"
grep -q '^Arvelo (v2.5)  -  The CPC Emulator$' "$WORK/out.txt" || fail "no banner"
grep -q '^MEM: ' "$WORK/out.txt" || fail "set-up did not allocate memory: $(cat "$WORK/out.txt")"
[ -f "$HOME/.Arvelo/arvelo.cfg" ] || fail "first start made no user configuration"
grep -q "ROM_PATH = \"$HOME/.Arvelo/rom/\"" "$HOME/.Arvelo/arvelo.cfg" || fail "ROM_PATH not moved"
[ -f "$HOME/.Arvelo/rom/cpc6128.rom" ] || fail "ROM images not copied"
$PICTURES same $BOOT >/dev/null || fail "the machine did not show its start-up screen ($($PICTURES same $BOOT))"
[ -f "$WORK/box" ] || fail "no error box titled \"Arvelo Error\""
echo "PASS"
