#!/usr/bin/env bash
# Started and ended as a desktop program. Files named on the command line are the user's,
# found where the program was started (not in the program directory it changes to): a
# relative configuration and disc autostart the disc as the absolute names do, a relative
# snapshot is loaded; a disc or snapshot that cannot be opened is reported with its name
# and the reason, and the machine starts BASIC without it. Losing the X server ends the
# program within 5 s with a non-zero status while the machine runs, while one of its
# windows is open, while the monitor waits for a command, and under the error box of a
# termination signal (then with the signal's status, its report and a backtrace).
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
DISC=$TESTDATA/disks/boulderdash_cpc.dsk
for f in "$ROM_DIR/cpc6128.rom" "$ROM_DIR/amsdos.rom" "$DISC"; do require_asset "$f"; done
command -v Xvfb >/dev/null || fail "Xvfb missing"
in_x_server 1024x768
make_install
SCRATCH=$WORK/scratch
mkdir -p "$SCRATCH"
cd "$SCRATCH"
# The template's settings under the user's own name: its "./rom/" stays the program
# directory's; with a keyboard layout, so that no layout window asks for one.
{ echo "VKBD_LANGUAGE = 0"; cat "$PROG/arvelo0.cfg"; } >my.cfg
cp "$DISC" bd.dsk

# References from the headless runner, its names relative to the scratch directory too:
# the BASIC screen, and a changed BASIC screen saved as a snapshot.
{ "$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --seconds 6 --screenshot ../boot.png &&
  "$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --type 'border 6\npaper 2\nmode 0\n' --seconds 8 \
    --screenshot ../changed.png --save-snapshot screen.sna; } >/dev/null || fail "arvelo-run failed"
[ -f screen.sna ] && [ -f "$WORK/boot.png" ] || fail "arvelo-run ignored the start directory"

# Files that cannot be opened: a line naming them with the reason, also on the window
# (its dark box over the border below the picture); BASIC starts.
missing() {  # NAME FILE WHAT
  start "$1" -c my.cfg "$2"
  press space  # the splash window
  sleep 2
  shot "$1"
  wait_for_screen "$WORK/boot.png" || fail "$1: BASIC did not start"
  quit
  grep -qF "EMU: Cannot use the $3 $SCRATCH/$2: No such file or directory" "$WORK/$1.out" ||
    fail "$1: no report: $(cat "$WORK/$1.out")"
}
missing missing_disc missing.dsk "disc image"
read -r r g b <<<"$(pixel "$WORK/missing_disc.png" 384 500)"
[ "$r" -gt 15 ] && [ "$b" -lt 90 ] || fail "no notice on the window (pixel $r $g $b)"
missing missing_snapshot missing.sna snapshot
start snapshot -c my.cfg screen.sna
press space
wait_for_screen "$WORK/changed.png" || fail "the relative snapshot was not loaded: $(cat "$WORK/snapshot.out")"
quit

# Relative names autostart the disc as absolute names do (without the real-time limit,
# F2).
for run in absolute relative; do
  if [ $run = absolute ]; then start $run -c "$SCRATCH/my.cfg" "$SCRATCH/bd.dsk"; else start $run -c my.cfg bd.dsk; fi
  press space
  press F2
  wait_for_title $run "$run run: the disc did not start"
  quit
  grep -q "CONFIG: Using $SCRATCH/my.cfg" "$WORK/$run.out" || fail "$run run: configuration not used"
done

# The display goes away under the program in the state the keys $2 lead to ("TERM" sends
# the termination signal and waits for its error box), on an X server of its own:
# $WORK/$1.result gets the milliseconds the process lived on and its exit status.
lose() (
  X_SERVER=""
  trap 'kill -9 $X_SERVER ${PID:-} 2>/dev/null' EXIT
  x_server 1024x768
  start "$1" -c my.cfg
  press space
  sleep 1
  for k in $2; do
    if [ "$k" = TERM ]; then
      kill -TERM "$PID"
      for i in $(seq 1 50); do
        xwininfo -root -children | grep -q '"Arvelo Error"' && touch "$WORK/$1.box" && break
        sleep 0.1
      done
    else
      press "$k"
    fi
    sleep 1
  done
  kill "$X_SERVER"
  t0=$(date +%s%N)
  wait_end 5
  echo "$((($(date +%s%N) - t0) / 1000000)) $STATUS" >"$WORK/$1.result"
)
# Two at a time.
lose running "" & lose window F1 & wait
lose monitor F10 & lose errorbox TERM & wait
for name in running window monitor errorbox; do
  read -r lived status <"$WORK/$name.result" || fail "$name: no result (the window did not appear)"
  [ "$lived" -lt 5000 ] || fail "$name: the program lived on after the display was lost"
  grep -q "^Display :[0-9]* lost: the connection to the X server broke; the program ends\.$" "$WORK/$name.err" ||
    fail "$name: no report of the lost display: $(tail -3 "$WORK/$name.err")"
  [ $name = errorbox ] || [ "$status" != 0 ] || fail "$name: exit status 0 after the display was lost"
done
[ -f "$WORK/errorbox.box" ] || fail "errorbox: no error box titled \"Arvelo Error\""
read -r _ status <"$WORK/errorbox.result"
[ "$status" = 231 ] || fail "errorbox: exit status $status (expected 231 = 999 & 255)"
grep -q '^Caught SIGTERM: a termination request was sent to the program$' "$WORK/errorbox.err" ||
  fail "errorbox: no signal line: $(cat "$WORK/errorbox.err")"
grep -q '^0x[0-9a-f]*: ' "$WORK/errorbox.err" || fail "errorbox: no backtrace lines"
echo "PASS"
