#!/usr/bin/env bash
# Keyboard languages in a real window: for each KBD_LANGUAGE a host key (with its
# modifier) that gives a different CPC character in that language, with character
# typing off (keys by position); the screen after the key press (Print Screen) must be
# the headless runner's screen with that character typed. Then character typing, with
# a US and a German host layout: two lines typed at 60 ms per key arrive exactly, and a
# held letter repeats.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
make_install
HERE=$(cd "$(dirname "$0")" && pwd)
PICTURES="python3 $HERE/pictures.py"
XKEY="python3 $HERE/xkey.py"

# language  modifier (X key code, - for none)  key (X key name, US layout)  CPC character
# (key codes: 50 left Shift, 108 right Alt = AltGr)
cases=(
  "0 - semicolon ;"        # UK: the key right of L gives ;
  "1 - y z"                # German QWERTZ: the Y position is Z
  "2 - q a"                # French AZERTY: the Q position is A
  "3 50 bracketleft \`"   # Spanish: Shift + the key right of P gives `
  "4 108 bracketright ^"   # Danish: AltGr + the second key right of P gives ^
  "5 50 semicolon *"       # positional: Shift + the key right of L is the CPC's *
)

# The screen of the booted machine at the BASIC prompt.
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --seconds 6 --screenshot "$WORK/boot.png" \
  >/dev/null || fail "arvelo-run failed"

for c in "${cases[@]}"; do
  read -r lang modifier key char <<<"$c"
  # With a keyboard layout, so that no layout window asks for one; keys by position.
  { echo "VKBD_LANGUAGE = 0"; sed -e "s/^KBD_LANGUAGE = .*/KBD_LANGUAGE = $lang/" -e "s/^KBD_TEXT_TYPING = .*/KBD_TEXT_TYPING = 0/" "$PROG/arvelo0.cfg"; } \
    > "$PROG/lang$lang.cfg"
  grep -q "^KBD_TEXT_TYPING = 0" "$PROG/lang$lang.cfg" || fail "no KBD_TEXT_TYPING line in arvelo0.cfg"
  grep -q "^KBD_LANGUAGE = $lang" "$PROG/lang$lang.cfg" || fail "no KBD_LANGUAGE line in arvelo0.cfg"
  rm -f "$PROG/screenshot.bmp"
  cat > "$WORK/run.sh" <<SCRIPT
set -u
PICTURES="$PICTURES"
source "$HERE/window_lib.bash"
cd "$PROG"
SDL_AUDIODRIVER=dummy ./arvelo -c lang$lang.cfg >"$WORK/out$lang.txt" 2>"$WORK/err$lang.txt" &
pid=\$!
wid=\$(find_window)
[ -n "\$wid" ] || { kill \$pid; exit 1; }
focus_window "\$wid"
wait_for_screen "$WORK/boot.png" || echo "no BASIC prompt" >&2
[ "$modifier" = "-" ] || $XKEY down $modifier
sleep 0.1
xdotool keydown $key; sleep 0.1; xdotool keyup $key
sleep 0.1
[ "$modifier" = "-" ] || $XKEY up $modifier
sleep 1
xdotool key Print
sleep 0.5
xdotool key F12
wait \$pid
echo \$? > "$WORK/status$lang"
SCRIPT
  timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/run.sh" || true
  status=$(cat "$WORK/status$lang" 2>/dev/null || echo none)
  [ "$status" = "0" ] || fail "language $lang: exit status $status; $(cat "$WORK/err$lang.txt")"
  [ -f "$PROG/screenshot.bmp" ] || fail "language $lang: no screenshot"
  "$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --type "$char" --seconds 6 \
    --screenshot "$WORK/ref$lang.png" >/dev/null || fail "arvelo-run failed"
  $PICTURES locate "$PROG/screenshot.bmp" "$WORK/ref$lang.png" >/dev/null ||
    fail "language $lang: key code $modifier + $key did not type '$char'"
  cp "$PROG/screenshot.bmp" "$WORK/shot$lang.bmp"
  echo "language $lang: key code $modifier + $key typed '$char'"
done

# Character typing (the template's default) under a US and a German host layout: what
# the headless runner shows for the same text. Doubled letters come 60 ms apart, and
# the German layout reaches " with Shift + 2, @ [ ] | with AltGr.
line1='print "hello", 11'
line2='10 PRINT "A@B#C[D]E|F";:GOTO 10'
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --type "$line1\n$line2\n" --seconds 8 \
  --screenshot "$WORK/typed.png" >/dev/null || fail "arvelo-run failed"
# Three letters a after the prompt, cut from the runner's screen: the cells that differ
# from the boot screen are the three letters and the cursor after them.
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --type "aaa" --seconds 6 \
  --screenshot "$WORK/aaa.png" >/dev/null || fail "arvelo-run failed"
read -r x y w h < <(compare -metric AE "$WORK/boot.png" "$WORK/aaa.png" -compose src -highlight-color white \
  -lowlight-color black png:- 2>/dev/null | convert - -trim -format '%X %Y %w %h\n' info: | tr -d '+')
convert "$WORK/aaa.png" -crop "$((w * 3 / 4))x${h}+${x}+${y}" +repage "$WORK/three_a.png"
# The template with a keyboard layout, so that no layout window asks for one.
{ echo "VKBD_LANGUAGE = 0"; cat "$PROG/arvelo0.cfg"; } > "$PROG/text.cfg"
for layout in us de; do
  cat > "$WORK/run.sh" <<SCRIPT
set -u
PICTURES="$PICTURES"
source "$HERE/window_lib.bash"
setxkbmap $layout || exit 1
cd "$PROG"
SDL_AUDIODRIVER=dummy ./arvelo -c text.cfg >"$WORK/out_$layout.txt" 2>"$WORK/err_$layout.txt" &
pid=\$!
wid=\$(find_window)
[ -n "\$wid" ] || { kill \$pid; exit 1; }
focus_window "\$wid"
wait_for_screen "$WORK/boot.png" || echo "no BASIC prompt" >&2
xdotool type --delay 60 '$line1'
xdotool key Return
xdotool type --delay 60 '$line2'
xdotool key Return
# The emulation may run behind a loaded host: the screens are waited for.
wait_for_screen "$WORK/typed.png" && touch "$WORK/typed_$layout"
# A held letter: the CPC repeats it; held until three of it show.
xdotool keydown a
for i in \$(seq 1 40); do
  sleep 0.3
  rm -f screenshot.bmp
  xdotool key Print
  sleep 0.3
  if [ -f screenshot.bmp ] && \$PICTURES locate "$WORK/three_a.png" screenshot.bmp >/dev/null; then
    touch "$WORK/held_$layout"
    break
  fi
done
xdotool keyup a
xdotool key F12
wait \$pid
echo \$? > "$WORK/status_$layout"
SCRIPT
  timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/run.sh" || true
  status=$(cat "$WORK/status_$layout" 2>/dev/null || echo none)
  [ "$status" = "0" ] || fail "layout $layout: exit status $status; $(cat "$WORK/err_$layout.txt")"
  [ -f "$WORK/typed_$layout" ] || fail "layout $layout: the typed lines did not arrive exactly"
  [ -f "$WORK/held_$layout" ] || fail "layout $layout: a held key did not repeat"
  echo "layout $layout: typed lines arrived exactly, a held key repeats"
done
echo "PASS"
