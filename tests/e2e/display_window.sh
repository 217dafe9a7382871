#!/usr/bin/env bash
# The program in a real X window: keys typed into BASIC reach the CPC and the window
# shows the same picture as the headless runner; Print Screen writes an 8-bit
# screenshot of the CPC screen; F11 steps through border crop and full screen;
# Shift+Insert types the clipboard (a CR LF pair is one RETURN); F12 quits with status 0.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
in_x_server 1280x1024
make_install

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
echo '<openbox_config xmlns="http://openbox.org/3.4/rc"><keyboard/><mouse/></openbox_config>' >"$WORK/openbox.xml"
if [ -n "$WM" ]; then "$WM" --config-file "$WORK/openbox.xml" >/dev/null 2>&1 & fi
# Another client owns the clipboard, as an editor after "copy".
python3 "$HERE/clipboard.py" 'print 2+3\r\n' 300 &
sleep 1
start window -c "$PROG/window.cfg"
geometry() { xdotool getwindowgeometry "$WID" | grep -o 'Geometry: .*'; }
[ "$(geometry)" = "Geometry: 768x542" ] || fail "window size: $(geometry)"
# The window at the frame's size: every monitor line shows on two rows.
xdotool windowsize --sync "$WID" 768 544
focus_window "$WID"
wait_for_screen "$WORK/boot.png" || fail "no BASIC prompt"
# Shift comes with the asterisk.
for k in P R I N T space 6 asterisk 7 Return; do press $k; done
sleep 1.5
import -window "$WID" "$WORK/window.png"
rm -f "$PROG/screenshot.bmp"
xdotool key Print
sleep 0.5
mv "$PROG/screenshot.bmp" "$WORK/" || fail "Print Screen wrote no screenshot.bmp"
# F11: border crop, full screen, full screen with crop, back to the window.
sizes=()
for i in 1 2 3 4; do
  xdotool key F11
  sleep 1.5
  sizes+=("$(geometry)")
  import -window root "$WORK/mode$i.png"
done
# Paste (Shift still down when the typing starts).
xdotool keydown Shift_L
sleep 0.1
press Insert
sleep 0.1
xdotool keyup Shift_L
wait_for_screen "$WORK/pasted.png" || fail "Shift+Insert did not type the clipboard's line"
quit

# What the user sees is the runner's picture (smoothed: REALTIME is on).
share=$($PICTURES window "$WORK/window.png" "$WORK/reference.png") ||
  fail "window differs from the reference picture (matching share $share)"

# Print Screen: an 8-bit BMP of the CPC screen (the file's layout: the unit test
# Screenshot.BmpFileLayout), found pixel for pixel in the reference.
read -r magic w h bits <<<"$(python3 -c 'import struct, sys; b = open(sys.argv[1], "rb").read()
print(b[:2].decode("latin-1"), *struct.unpack_from("<iixxH", b, 18))' "$WORK/screenshot.bmp")"
[ "$magic $bits" = "BM 8" ] || fail "screenshot.bmp is not an 8-bit BMP ($magic, $bits bits)"
[ "$w" -eq 640 ] || fail "screenshot width $w (the 40-column screen is 640 pixels)"
[ "$h" -ge 380 ] && [ "$h" -le 400 ] || fail "screenshot height $h"
at=$($PICTURES locate "$WORK/screenshot.bmp" "$WORK/reference.png") ||
  fail "screenshot.bmp does not show the reference screen"

# The text spans more of the screen with the border cropped, more still full screen.
[ "${sizes[0]}" = "Geometry: 768x544" ] || fail "crop mode changed the window: ${sizes[0]}"
[ "${sizes[3]}" = "Geometry: 768x544" ] || fail "window not restored: ${sizes[3]}"
span() { convert "$WORK/mode$1.png" -fx 'r > 160/255 && g > 160/255 && b < 100/255' -trim -format %w info:; }
[ "$(span 1)" -gt $(($(span 4) + 100)) ] || fail "border crop did not enlarge the text ($(span 4), cropped $(span 1))"
if [ -n "$WM" ]; then
  [ "${sizes[1]}" = "Geometry: 1280x1024" ] || fail "no full screen: ${sizes[1]}"
  [ "${sizes[2]}" = "Geometry: 1280x1024" ] || fail "full screen left: ${sizes[2]}"
  [ "$(span 2)" -gt $(($(span 4) + 100)) ] || fail "full screen picture not larger"
  [ "$(span 3)" -gt $(($(span 2) + 100)) ] || fail "full screen crop not larger"
else
  [ "${CI:-}" != "true" ] || fail "no window manager for the full-screen checks"
  echo "full screen not checked (no window manager installed)"
fi
echo "PASS (window match $share, screenshot ${w}x$h at $at)"
