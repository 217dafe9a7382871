#!/usr/bin/env bash
# The setup window (F7) in a real X window: RAM_SIZE moves by 64 with Right and stays
# with Ctrl+Right from 128 (138 rounds down); Esc puts every value back; COLOUR_SCREEN
# set to the green monitor shows the green palette after leaving; the values reach the
# user's configuration in place (its comments kept), with the speed a hot key changed
# before; "save as" writes a complete file; the restart action rebuilds the machine with
# the new RAM size. The poke database the template names: in a running Boulder Dash its
# "time 999" entry, chosen from the setup window, shows its three pokes applied and the
# cave's time goes on from 999; reopened, the list starts on that entry, and the next one
# asks for the lives in a window.
#
# Screenshots are kept in $ARVELO_E2E_KEEP's work directory when it is set;
# tests/e2e/reference/ holds the ones that were looked at.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
DISC=$TESTDATA/disks/boulderdash_cpc.dsk
for f in "$ROM_DIR/cpc6128.rom" "$ROM_DIR/amsdos.rom" "$DISC"; do require_asset "$f"; done
in_x_server 1024x768
make_install
cfg=$HOME/.Arvelo/arvelo.cfg
# Boulder Dash's first cave, its clock running from 150 (Return: joystick menu, Shift:
# play); at 148 its tens stay 4 for eight seconds, enough for the keys below.
"$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --model 6128 --disc "$DISC" \
  --autostart --seconds 44 --then 30 '\n' --then 33 A --save-snapshot "$WORK/game.sna" >/dev/null 2>&1 ||
  fail "arvelo-run could not start Boulder Dash"

downs() { local i; for i in $(seq 1 "$1"); do xdotool key Down; sleep 0.05; done; sleep 0.5; }

# First start makes the user's configuration.
start first
key 1
key 1
key space
sleep 2
quit
cp "$cfg" "$WORK/cfg_first"

# The poke database (second line from the end), its second entry.
start poke "$WORK/game.sna"
key F7
key End Up Return
key Down Return
shot poke_applied
key space
sleep 2
shot poke_game
# Reopened, the list starts on that entry; the one below asks for the number of lives.
key F7
key End Up Return
key Down Return
key 5 Return
shot poke_asked
key space
quit

start setup
key space
sleep 3
shot basic
# F7, RAM_SIZE (line 29): Ctrl+Right from 128 stays, Right gives 192; Esc restores.
key F7
shot setup
downs 29
key ctrl+Right
shot ram_ctrl_right
key Right
shot ram_right
key Escape
sleep 1
cp "$cfg" "$WORK/cfg_escaped"
# F2 turns real-time speed off before the window opens (its badge shows for a second);
# RAM_SIZE 256, COLOUR_SCREEN (line 3) green, leave by "Close setup" (the last line).
key F2
sleep 1.5
key F7
downs 29
key Right Right
key Home
downs 3
key Left
key End Return
sleep 2
shot green
cp "$cfg" "$WORK/cfg_left"
# Save under a new name, then the restart action (line 36).
key F7
key End Up Up Return
# "<new file>" is the line above the configuration in use.
key Up Return
typed mine
key Return
sleep 1
key End Up Up Up Return
sleep 4
shot restarted
quit

total=$(($(identify -format '%w*%h' "$WORK/basic.png")))
# The setup window looks as the references that were checked by eye: the RAM size line
# reads 128 after Ctrl+Right and 192 after Right.
ref=$HERE/reference
# (The green picture has the badge of the speed without limit.)
for s in setup ram_ctrl_right ram_right green; do
  [ -f "$ref/setup_$s.png" ] || fail "no reference setup_$s.png"
  [ "$(differ "$WORK/$s.png" "$ref/setup_$s.png")" -lt $((total / 200)) ] || fail "$s differs from its reference"
done
[ "$(differ "$WORK/ram_ctrl_right.png" "$WORK/ram_right.png")" -gt 0 ] || fail "Right did not change RAM_SIZE"
# The poke window shows the entry and each poke with the byte it replaced (the first
# two: the units had time to run); back in the game the status line reads 99 in the
# time's first two digits.
for crop in "poke_window poke_applied 566x40+104+88" "poke_status poke_game 348x26+96+72" \
  "poke_lives poke_asked 566x24+104+88"; do
  read -r s from box <<<"$crop"
  convert "$WORK/$from.png" -crop "$box" +repage "$WORK/$s.png"
  [ -f "$ref/setup_$s.png" ] || fail "no reference setup_$s.png"
  [ "$(differ "$WORK/$s.png" "$ref/setup_$s.png")" -eq 0 ] || fail "$s differs from its reference"
done
grep -q '00B4 09 (01)00B5 09 (04)00B6 09 ([0-9A-F][0-9A-F])' "$WORK/poke.out" || fail "pokes not printed: $(cat "$WORK/poke.out")"
grep -q '0082 05 (03)' "$WORK/poke.out" || fail "the lives typed in not poked: $(cat "$WORK/poke.out")"

# Esc left the configuration's values as they were; leaving by the last line stored
# the new ones in place, keeping the comments.
# (The 6128's section is updated; the 464's and 664's RAM_SIZE lines stay.)
lines() { grep -E "^$1 ?= " "$2" | tr -d " "; }
has() { grep -Eq "^$1 ?= $2( |$)" "$3"; }
[ "$(lines RAM_SIZE "$WORK/cfg_escaped")" = "$(lines RAM_SIZE "$WORK/cfg_first")" ] ||
  fail "Esc kept a changed RAM_SIZE: $(lines RAM_SIZE "$WORK/cfg_escaped")"
has RAM_SIZE 256 "$WORK/cfg_left" || fail "RAM_SIZE not written: $(lines RAM_SIZE "$WORK/cfg_left")"
[ "$(lines RAM_SIZE "$WORK/cfg_left" | grep -c "=64")" -eq 2 ] || fail "other CPC types' RAM_SIZE changed"
has COLOUR_SCREEN 0 "$WORK/cfg_left" || fail "COLOUR_SCREEN not written"
has REALTIME 1 "$WORK/cfg_first" || fail "the first configuration's REALTIME is not 1"
has REALTIME 0 "$WORK/cfg_left" || fail "REALTIME the hot key set not written"
[ "$(grep -c '^;' "$WORK/cfg_left")" -eq "$(grep -c '^;' "$WORK/cfg_first")" ] || fail "comments lost"
[ "$(grep -c '^;' "$WORK/cfg_first")" -gt 0 ] || fail "the first configuration has no comments to keep"
# Save as: a complete file with the new values.
mine=$HOME/.Arvelo/mine.cfg
[ -f "$mine" ] || fail "no saved configuration: $(ls "$HOME/.Arvelo")"
has RAM_SIZE 256 "$mine" || fail "saved RAM_SIZE $(lines RAM_SIZE "$mine")"
tail -1 "$mine" | grep -q '^; end' || fail "saved configuration incomplete"
# The restart set the machine up again (its model detection printed twice).
[ "$(grep -c 'detected' "$WORK/setup.out")" -eq 2 ] || fail "no restart: $(cat "$WORK/setup.out")"
echo "PASS"
