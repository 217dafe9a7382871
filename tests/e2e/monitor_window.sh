#!/usr/bin/env bash
# The debugger monitor in the real program window: F10 opens the "Debugger-Monitor"
# console on a panel that widens the window beside the picture, typed commands are
# answered in it, R lets the machine run on with the window narrow again, and Q typed
# into a second visit ends the program.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
in_x_server 2400x900
make_install
cat >"$PROG/monitor.cfg" <<CFG
ROM_PATH = "$PROG/rom/"
ROM_BLOCK = 255, "cpc6128.rom", 0
ROM_BLOCK = 0, "cpc6128.rom", 1
ROM_BLOCK = 7, "amsdos.rom", 0
VKBD_LANGUAGE = 0
CFG
geometry() { xdotool getwindowgeometry "$WID" | sed -n "s/.*$1: \([0-9]*\)[x,]\([0-9]*\).*/\1 \2/p"; }
ask() { xdotool type --delay 40 "$1"; xdotool key Return; }

start monitor -c "$PROG/monitor.cfg"
xdotool key space  # the splash window
sleep 4
read -r w0 _ <<<"$(geometry Geometry)"
xdotool key F10
sleep 2
read -r w1 _ <<<"$(geometry Geometry)"
read -r x0 y0 <<<"$(geometry Position)"
import -window root "$WORK/opened.png"
ask 'D 0'
sleep 1.5
import -window root "$WORK/dump.png"
xdotool key Return  # the next 256 bytes
ask R
sleep 2
read -r w2 _ <<<"$(geometry Geometry)"
import -window root "$WORK/resumed.png"
xdotool key F10
sleep 2
ask Q
wait_end 10
[ "$STATUS" = 0 ] || fail "Q in the monitor did not end the program (status $STATUS); stderr: $(cat "$WORK/monitor.err")"
[ "$w1" = "$((w0 + 640))" ] || fail "window width $w0 -> $w1 with the monitor open (expected +640)"
[ "$w2" = "$w0" ] || fail "window width $w2 after R (expected $w0)"

# The panel right of the picture: a light console (pixels whose every channel is above
# 200, in thousandths of the panel's top 500 rows), gone after R.
light() {
  convert "$1" -crop "$((w1 - w0 - 32))x500+$((x0 + w0 + 16))+$y0" +repage -separate \
    -evaluate-sequence min -threshold 78.6% -format '%[fx:int(1000*mean)]' info:
}
[ "$(light "$WORK/opened.png")" -gt 500 ] || fail "no console on the panel: $(light "$WORK/opened.png") of 1000"
[ "$(light "$WORK/resumed.png")" -lt 50 ] || fail "console still shown after R: $(light "$WORK/resumed.png") of 1000"
# "D 0" is answered: the dump's first line shows the 6128 ROM's first 16 bytes (the line
# as the console draws it, looked at), and it was not there before the command.
line=$HERE/reference/monitor_dump_0000.png
[ -f "$line" ] || fail "reference $line missing"
$PICTURES locate "$line" "$WORK/dump.png" >/dev/null || fail "D 0 was not answered with the ROM's first bytes"
! $PICTURES locate "$line" "$WORK/opened.png" >/dev/null || fail "the dump line was there before D 0"
grep -q '^MEM: ' "$WORK/monitor.out" || fail "machine not set up: $(cat "$WORK/monitor.out")"
echo "PASS"
