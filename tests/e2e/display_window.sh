#!/usr/bin/env bash
# The program in a real X window: keys typed into BASIC reach the CPC and the window
# shows the same picture as the headless runner; Print Screen writes an 8-bit
# screenshot of the CPC screen; F11 steps through border crop and full screen;
# Shift+Insert types the clipboard (a CR LF pair is one RETURN); F12 quits with status 0.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
make_install
HERE=$(cd "$(dirname "$0")" && pwd)
PICTURES="python3 $HERE/pictures.py"

# The reference: the same machine, headless, with the same text typed.
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --type 'PRINT 6*7\n' --seconds 8 \
  --screenshot "$WORK/reference.png" >/dev/null || fail "arvelo-run failed"
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --seconds 6 --screenshot "$WORK/boot.png" \
  >/dev/null || fail "arvelo-run failed"
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --type 'PRINT 6*7\nprint 2+3\n' --seconds 10 \
  --screenshot "$WORK/pasted.png" >/dev/null || fail "arvelo-run failed"

# The template settings under another name, with a keyboard layout: no first start and
# no layout window.
{ echo "VKBD_LANGUAGE = 0"; cat "$PROG/arvelo0.cfg"; } > "$PROG/window.cfg"

# Desktop full screen needs a window manager that handles it (EWMH).
WM=$(command -v openbox || true)
if [ -z "$WM" ] && [ "${CI:-}" = "true" ]; then fail "openbox (window manager) not installed"; fi
# No key bindings of its own: every key goes to the program.
cat > "$WORK/openbox.xml" <<'XML'
<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><keyboard></keyboard><mouse></mouse></openbox_config>
XML

cat > "$WORK/run.sh" <<SCRIPT
set -u
exec 2>"$WORK/trace.txt"
PICTURES="$PICTURES"
source "$HERE/window_lib.bash"
set -x
cd "$PROG"
if [ -n "$WM" ]; then "$WM" --config-file "$WORK/openbox.xml" >/dev/null 2>&1 & sleep 1; fi
# Another client owns the clipboard, as an editor after "copy".
python3 "$HERE/clipboard.py" 'print 2+3\\r\\n' 170 &
SDL_AUDIODRIVER=dummy ./arvelo -c window.cfg >"$WORK/out.txt" 2>"$WORK/err.txt" &
pid=\$!
wid=\$(find_window)
[ -n "\$wid" ] || { kill \$pid; exit 1; }
xdotool getwindowgeometry "\$wid" > "$WORK/geometry0.txt"
# The window at the frame's size: every monitor line shows on two rows.
xdotool windowsize --sync "\$wid" 768 544
focus_window "\$wid"
wait_for_screen "$WORK/boot.png" || echo "no BASIC prompt" >&2
# Shift comes with the asterisk.
for k in P R I N T space 6 asterisk 7 Return; do press \$k; done
sleep 1.5
import -window "\$wid" "$WORK/window.png"
xdotool key Print
sleep 0.5
for i in 1 2 3 4; do
  xdotool key F11
  sleep 1.5
  xdotool getwindowgeometry "\$wid" > "$WORK/geometry\$i.txt"
  import -window root "$WORK/mode\$i.png"
done
# Paste (Shift still down when the typing starts).
mkdir -p first && mv screenshot.bmp first/
xdotool keydown Shift_L; sleep 0.1; press Insert; sleep 0.1; xdotool keyup Shift_L
wait_for_screen "$WORK/pasted.png" && touch "$WORK/pasted"
xdotool key F12
wait \$pid
echo \$? > "$WORK/status"
SCRIPT
timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/run.sh" || true

status=$(cat "$WORK/status" 2>/dev/null || echo none)
[ "$status" = "0" ] ||
  fail "exit status $status; stderr: $(cat "$WORK/err.txt" 2>/dev/null); steps: $(tail -5 "$WORK/trace.txt")"
grep -q "Geometry: 768x542" "$WORK/geometry0.txt" || fail "window size: $(cat "$WORK/geometry0.txt")"

# What the user sees is the runner's picture (smoothed: REALTIME is on).
share=$($PICTURES window "$WORK/window.png" "$WORK/reference.png" --smooth) ||
  fail "window differs from the reference picture (matching share $share)"

# Print Screen: an 8-bit BMP of the CPC screen, found pixel for pixel in the reference.
[ -f "$PROG/first/screenshot.bmp" ] || fail "Print Screen wrote no screenshot.bmp"
info=$($PICTURES bmp8 "$PROG/first/screenshot.bmp") || fail "screenshot.bmp is not a valid 8-bit BMP ($info)"
read -r w h colours <<<"$info"
[ "$w" -eq 640 ] || fail "screenshot width $w (the 40-column screen is 640 pixels)"
[ "$h" -ge 380 ] && [ "$h" -le 400 ] || fail "screenshot height $h"
at=$($PICTURES locate "$PROG/first/screenshot.bmp" "$WORK/reference.png") ||
  fail "screenshot.bmp does not show the reference screen"

# F11: border crop (text larger), full screen, full screen with crop, back to the window.
grep -q "Geometry: 768x544" "$WORK/geometry1.txt" || fail "crop mode changed the window: $(cat "$WORK/geometry1.txt")"
grep -q "Geometry: 768x544" "$WORK/geometry4.txt" || fail "window not restored: $(cat "$WORK/geometry4.txt")"
# The text spans more of the screen with the border cropped.
read -r x1_plain _ x2_plain _ <<<"$($PICTURES ink "$WORK/mode4.png")"
read -r x1_crop _ x2_crop _ <<<"$($PICTURES ink "$WORK/mode1.png")"
[ $((x2_crop - x1_crop)) -gt $((x2_plain - x1_plain + 100)) ] ||
  fail "border crop did not enlarge the text ($x1_plain-$x2_plain, cropped $x1_crop-$x2_crop)"
if [ -n "$WM" ]; then
  grep -q "Geometry: 1280x1024" "$WORK/geometry2.txt" || fail "no full screen: $(cat "$WORK/geometry2.txt")"
  grep -q "Geometry: 1280x1024" "$WORK/geometry3.txt" || fail "full screen left: $(cat "$WORK/geometry3.txt")"
  read -r x1_full _ x2_full _ <<<"$($PICTURES ink "$WORK/mode2.png")"
  read -r x1_both _ x2_both _ <<<"$($PICTURES ink "$WORK/mode3.png")"
  [ $((x2_full - x1_full)) -gt $((x2_plain - x1_plain + 100)) ] || fail "full screen picture not larger"
  [ $((x2_both - x1_both)) -gt $((x2_full - x1_full + 100)) ] || fail "full screen crop not larger"
else
  [ "${CI:-}" != "true" ] || fail "no window manager for the full-screen checks"
  echo "full screen not checked (no window manager installed)"
fi
[ -f "$WORK/pasted" ] || fail "Shift+Insert did not type the clipboard's line"
echo "PASS (window match $share, screenshot ${w}x$h with $colours colours at $at)"
