#!/usr/bin/env bash
# The program's own windows in a real X window, driven by real key presses and clicks:
# the first start asks for the language and makes the user's settings, the machine runs
# (its start-up screen) and F12 ends it with status 0 and the credits; the next start
# finds the user's configuration and shows the splash window; F1 help in the chosen
# language; the function menu opened by a click on the picture runs the key of the
# button clicked; F6 saves a snapshot of a changed BASIC screen, F8 resets, F5 loads it
# back and the picture returns; F3 inserts a disc through the file selector by typing its
# name and the disc starts; Shift held while quitting shows the captured console output
# in a box titled "Arvelo Output" (boxes are found by their titles).
#
# Screenshots of the windows are kept in $ARVELO_E2E_KEEP's work directory when it is
# set; tests/e2e/reference/ holds the ones that were looked at.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
DISC=$TESTDATA/disks/boulderdash_cpc.dsk
for f in "$ROM_DIR/cpc6128.rom" "$ROM_DIR/amsdos.rom" "$DISC"; do require_asset "$f"; done
in_x_server 1024x768
make_install
cp "$DISC" "$PROG/disc/"
ref=$HERE/reference
cfg=$HOME/.Arvelo/arvelo.cfg

# First start: language window (2 = Deutsch), keyboard layout window, splash. The machine
# runs: the window shows the 6128's start-up screen, its text above the blinking cursor
# as 32x32 block averages within 24 of 255 (the window smooths the picture).
start first
shot language
key 2
shot layout
key 1
shot splash
key space
boot="$HERE/boot_6128.png $WORK/screen.png 32 24 0 0 768 200"
for i in $(seq 1 20); do
  shot screen
  $PICTURES same $boot >/dev/null && break
  sleep 0.5
done
$PICTURES same $boot >/dev/null || fail "the machine did not show its start-up screen ($($PICTURES same $boot))"
quit
grep -q '^Arvelo (v2.5)  -  The CPC Emulator$' "$WORK/first.out" || fail "no banner"
grep -q '^MEM: ' "$WORK/first.out" || fail "set-up did not allocate memory: $(cat "$WORK/first.out")"
grep -q 'Arvelo (v2.5)  -  The CPC Emulator' <(tail -8 "$WORK/first.out") || fail "no credits at the end"
# The user's configuration it made (its lines and copied directories: the unit tests
# StartUp.FirstStartCopiesTemplateDirectories and FirstStart.*) serves the second start:
# the chosen language (the help window's reference is the German one), the ROMs copied
# (the machine boots), the layout chosen (no layout window) and the disc copied (F3).

# Second start: straight to the splash window; any key starts the machine.
start second
shot splash_again
key space
sleep 3
shot basic
grep -q "CONFIG: Using $cfg" "$WORK/second.out" || fail "second start did not use the user configuration"
[ "$(grep -c 'CONFIG: Using' "$WORK/second.out")" = 1 ] || fail "second start ran the first start again"
key F1
shot help
key Escape
sleep 1
# The function menu: a click on the picture, then on the F1 button.
xdotool mousemove --window "$WID" 384 300 click 1
sleep 1
shot menu
xdotool mousemove --window "$WID" 30 30 click 1
sleep 1
shot help_from_menu
key Escape
sleep 1
# F6: a new snapshot file "e2e" of 128 KB, of a BASIC screen in cyan with a red border;
# F8 resets to the blue screen, F5 loads the snapshot back.
for line in "border 6" "paper 2" "mode 0"; do
  typed "$line"
  key Return
done
sleep 1
shot before_save
key F6
shot save_selector
key Down Return
typed e2e
key Return
shot size_window
key Down Return
sleep 1
key F8
sleep 3
shot reset
key F5
shot load_selector
key Return
sleep 1
shot loaded
# F3: the disc drive window, drive A, the file selector, type-ahead, Return.
key F3
shot drives
key Return
shot file_selector
typed boul
shot file_selector_typed
key Return
sleep 1
# Fast while the game loads, then real time again.
key F2
sleep 12
key F2
wait_for_title game "the disc's game did not show its title picture"
# Shift held while quitting: the output box, then status 0.
xdotool keydown shift
sleep 0.3
xdotool key F12
sleep 3
xdotool keyup shift
answer_box "Arvelo Output" || fail "Shift while quitting showed no box titled \"Arvelo Output\""
wait_end 10
[ "$STATUS" = 0 ] || fail "second run ended with $STATUS: $(cat "$WORK/second.err")"

total=$(($(identify -format '%w*%h' "$WORK/basic.png")))
# The second start showed the splash window: the first key started the machine, whose
# BASIC screen has the CPC's blue paper in the middle.
[ "$(differ "$WORK/splash_again.png" "$WORK/splash.png")" -lt $((total / 50)) ] ||
  fail "the second start did not show the splash window"
read -r r g b <<<"$(pixel "$WORK/basic.png" 384 400)"
[ "$r" -lt 60 ] && [ "$g" -lt 60 ] && [ "$b" -gt 90 ] ||
  fail "machine not running after the splash window (pixel $r $g $b)"
# The function menu's F1 button shows the help window F1 shows (both as their references
# below).
[ "$(differ "$WORK/help_from_menu.png" "$WORK/help.png")" -lt $((total / 100)) ] ||
  fail "the menu's F1 button did not open the help window"
# The windows look as the references that were checked by eye; every reference is there.
# The selectors' path line holds the work directory's random name: rows 333-350 are left
# out (black in both pictures). Otherwise a few stray pixels at most: one changed word
# is several hundred.
mask=(-fill black -draw "rectangle 0,333 767,350")
for s in language layout splash help menu save_selector size_window drives file_selector_typed; do
  [ -f "$ref/ui_$s.png" ] || fail "reference ui_$s.png missing"
  convert "$WORK/$s.png" "${mask[@]}" "$WORK/$s.masked.png" || fail "cannot read $s.png"
  convert "$ref/ui_$s.png" "${mask[@]}" "$WORK/$s.reference.png" || fail "cannot read ui_$s.png"
  n=$(differ "$WORK/$s.masked.png" "$WORK/$s.reference.png")
  [ "$n" -lt 50 ] || fail "$s differs from its reference in $n pixels"
done
[ "$(differ "$WORK/reset.png" "$WORK/basic.png")" -lt $((total / 100)) ] || fail "F8 did not reset"
snap=$HOME/.Arvelo/snap/e2e.sna
[ -f "$snap" ] || fail "no snapshot saved: $(ls "$HOME/.Arvelo/snap")"
[ "$(stat -c %s "$snap")" -eq $((256 + 128 * 1024)) ] || fail "snapshot size $(stat -c %s "$snap")"
grep -q '^MV - SNA' "$snap" || fail "not a snapshot file"
# After loading, the picture is the saved one again, not the reset machine's (compared as
# 48x34 block averages, so that the blinking cursor does not count).
for s in loaded before_save reset; do convert "$WORK/$s.png" -scale 48x34! "$WORK/$s.small.png"; done
back=$(differ "$WORK/loaded.small.png" "$WORK/before_save.small.png")
other=$(differ "$WORK/loaded.small.png" "$WORK/reset.small.png")
[ "$back" -lt 40 ] && [ "$other" -gt 500 ] ||
  fail "the snapshot did not bring the picture back ($back of 1632 blocks differ, $other from the reset screen)"
echo "PASS"
