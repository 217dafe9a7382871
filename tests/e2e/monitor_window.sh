#!/usr/bin/env bash
# The debugger monitor in the real program window: F10 opens the "Debugger-Monitor"
# console on a panel that widens the window beside the picture, typed commands are
# answered in it, R lets the machine run on with the window narrow again, and Q typed
# into a second visit ends the program.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
make_install
cat >"$PROG/monitor.cfg" <<CFG
ROM_PATH = "$PROG/rom/"
ROM_BLOCK = 255, "cpc6128.rom", 0
ROM_BLOCK = 0, "cpc6128.rom", 1
ROM_BLOCK = 7, "amsdos.rom", 0
VKBD_LANGUAGE = 0
CFG

cat >"$WORK/run.sh" <<SCRIPT
set -u
cd "$PROG"
SDL_AUDIODRIVER=dummy ./arvelo -c monitor.cfg >"$WORK/out.txt" 2>"$WORK/err.txt" &
pid=\$!
win=\$(timeout 20 xdotool search --sync --onlyvisible --name '^Arvelo\$' 2>/dev/null | head -1)
[ -n "\$win" ] || { echo "no window" > "$WORK/status"; kill \$pid; exit; }
width() { xdotool getwindowgeometry "\$win" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p'; }
place() { xdotool getwindowgeometry "\$win" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p'; }
xdotool windowactivate --sync "\$win" 2>/dev/null
xdotool key --window "\$win" space          # the splash window
sleep 4
width > "$WORK/width0"
xdotool key --window "\$win" F10
sleep 2
width > "$WORK/width1"
place > "$WORK/place1"
import -window root "$WORK/opened.png"
xdotool type --window "\$win" --delay 40 'D 0'
xdotool key --window "\$win" Return
sleep 1.5
import -window root "$WORK/dump.png"
xdotool key --window "\$win" Return       # the next 256 bytes
xdotool type --window "\$win" --delay 40 'R'
xdotool key --window "\$win" Return
sleep 2
width > "$WORK/width2"
import -window root "$WORK/resumed.png"
xdotool key --window "\$win" F10
sleep 2
xdotool type --window "\$win" --delay 40 'Q'
xdotool key --window "\$win" Return
for i in \$(seq 1 100); do kill -0 \$pid 2>/dev/null || break; sleep 0.1; done
if kill -0 \$pid 2>/dev/null; then echo "still running" > "$WORK/status"; kill -9 \$pid; exit; fi
wait \$pid
echo \$? > "$WORK/status"
SCRIPT
timeout 120 xvfb-run -a -s "-screen 0 2400x900x24" bash "$WORK/run.sh" || true

status=$(cat "$WORK/status" 2>/dev/null || echo none)
[ "$status" = "0" ] || fail "Q in the monitor did not end the program (status $status); stderr: $(cat "$WORK/err.txt")"
w0=$(cat "$WORK/width0") w1=$(cat "$WORK/width1") w2=$(cat "$WORK/width2")
[ "$w1" = "$((w0 + 640))" ] || fail "window width $w0 -> $w1 with the monitor open (expected +640)"
[ "$w2" = "$w0" ] || fail "window width $w2 after R (expected $w0)"

# The panel right of the picture: a light console, gone after R.
python3 - "$(cat "$WORK/place1")" "$w0" "$w1" "$WORK/opened.png" "$WORK/resumed.png" <<'PY' ||
import subprocess, sys
x0, y0 = map(int, sys.argv[1].split())
left, right = x0 + int(sys.argv[2]) + 16, x0 + int(sys.argv[3]) - 16
def light_pixels(path):
    w, h = map(int, subprocess.check_output(['identify', '-format', '%w %h', path]).split())
    raw = subprocess.check_output(['convert', path, '-depth', '8', 'rgb:-'])
    n = 0
    for y in range(y0, min(y0 + 500, h)):
        row = raw[3 * y * w:3 * (y + 1) * w]
        n += sum(1 for x in range(left, min(right, w)) if min(row[3 * x:3 * x + 3]) > 200)
    return n
opened, resumed = (light_pixels(p) for p in sys.argv[4:])
area = (right - left) * 500
assert opened > area // 2, 'no console on the panel: %d of %d' % (opened, area)
assert resumed < area // 20, 'console still shown after R: %d' % resumed
PY
  fail "screenshot check failed"
# "D 0" is answered: the dump's first line shows the 6128 ROM's first 16 bytes (the line
# as the console draws it, looked at), and it was not there before the command.
pictures="python3 $(dirname "$0")/pictures.py" line=$(dirname "$0")/reference/monitor_dump_0000.png
[ -f "$line" ] || fail "reference $line missing"
$pictures locate "$line" "$WORK/dump.png" >/dev/null || fail "D 0 was not answered with the ROM's first bytes"
! $pictures locate "$line" "$WORK/opened.png" >/dev/null || fail "the dump line was there before D 0"
grep -q '^MEM: ' "$WORK/out.txt" || fail "machine not set up: $(cat "$WORK/out.txt")"
echo "PASS"
