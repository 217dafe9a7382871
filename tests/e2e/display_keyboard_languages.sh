#!/usr/bin/env bash
# Keyboard languages in a real window: for each KBD_LANGUAGE a host key (with its
# modifier) that gives a different CPC character in that language, with character
# typing off (keys by position); the screen after the key press (Print Screen) must be
# the headless runner's screen with that character typed. Then character typing, with
# a US and a German host layout: two lines typed at 60 ms per key arrive exactly, and a
# held letter repeats.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
in_x_server 1280x1024
make_install
XKEY="python3 $HERE/xkey.py"
runner() { "$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 "$@" >/dev/null || fail "arvelo-run failed"; }

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
runner --seconds 6 --screenshot "$WORK/boot.png"

for c in "${cases[@]}"; do
  read -r lang modifier key char <<<"$c"
  # With a keyboard layout, so that no layout window asks for one; keys by position.
  { echo "VKBD_LANGUAGE = 0"; sed -e "s/^KBD_LANGUAGE = .*/KBD_LANGUAGE = $lang/" \
      -e "s/^KBD_TEXT_TYPING = .*/KBD_TEXT_TYPING = 0/" "$PROG/arvelo0.cfg"; } >"$PROG/lang$lang.cfg"
  grep -q "^KBD_TEXT_TYPING = 0" "$PROG/lang$lang.cfg" || fail "no KBD_TEXT_TYPING line in arvelo0.cfg"
  grep -q "^KBD_LANGUAGE = $lang" "$PROG/lang$lang.cfg" || fail "no KBD_LANGUAGE line in arvelo0.cfg"
  runner --type "$char" --seconds 6 --screenshot "$WORK/ref$lang.png"
  start "lang$lang" -c "$PROG/lang$lang.cfg"
  wait_for_screen "$WORK/boot.png" || fail "language $lang: no BASIC prompt"
  [ "$modifier" = "-" ] || $XKEY down $modifier
  sleep 0.1
  xdotool keydown $key
  sleep 0.1
  xdotool keyup $key
  sleep 0.1
  [ "$modifier" = "-" ] || $XKEY up $modifier
  sleep 1
  wait_for_screen "$WORK/ref$lang.png" || fail "language $lang: key code $modifier + $key did not type '$char'"
  quit
  echo "language $lang: key code $modifier + $key typed '$char'"
done

# Character typing (the template's default) under a US and a German host layout: what
# the headless runner shows for the same text. Doubled letters come 60 ms apart, and
# the German layout reaches " with Shift + 2, @ [ ] | with AltGr.
line1='print "hello", 11'
line2='10 PRINT "A@B#C[D]E|F";:GOTO 10'
runner --type "$line1\n$line2\n" --seconds 8 --screenshot "$WORK/typed.png"
# Three letters a after the prompt, cut from the runner's screen: the cells that differ
# from the boot screen are the three letters and the cursor after them.
runner --type "aaa" --seconds 6 --screenshot "$WORK/aaa.png"
read -r x y w h < <(compare -metric AE "$WORK/boot.png" "$WORK/aaa.png" -compose src -highlight-color white \
  -lowlight-color black png:- 2>/dev/null | convert - -trim -format '%X %Y %w %h\n' info: | tr -d '+')
convert "$WORK/aaa.png" -crop "$((w * 3 / 4))x${h}+${x}+${y}" +repage "$WORK/three_a.png"
# The template with a keyboard layout, so that no layout window asks for one.
{ echo "VKBD_LANGUAGE = 0"; cat "$PROG/arvelo0.cfg"; } >"$PROG/text.cfg"
for layout in us de; do
  setxkbmap $layout
  start "$layout" -c "$PROG/text.cfg"
  wait_for_screen "$WORK/boot.png" || fail "layout $layout: no BASIC prompt"
  xdotool type --delay 60 "$line1"
  xdotool key Return
  xdotool type --delay 60 "$line2"
  xdotool key Return
  # The emulation may run behind a loaded host: the screens are waited for.
  wait_for_screen "$WORK/typed.png" || fail "layout $layout: the typed lines did not arrive exactly"
  # A held letter: the CPC repeats it; held until three of it show (the three letters
  # are searched for in the screenshot).
  xdotool keydown a
  for i in $(seq 1 40); do
    sleep 0.3
    rm -f "$PROG/screenshot.bmp"
    xdotool key Print
    sleep 0.3
    [ -f "$PROG/screenshot.bmp" ] && $PICTURES locate "$WORK/three_a.png" "$PROG/screenshot.bmp" >/dev/null && break
  done
  xdotool keyup a
  $PICTURES locate "$WORK/three_a.png" "$PROG/screenshot.bmp" >/dev/null || fail "layout $layout: a held key did not repeat"
  quit
  echo "layout $layout: typed lines arrived exactly, a held key repeats"
done
echo "PASS"
