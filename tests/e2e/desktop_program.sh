#!/usr/bin/env bash
# Started and ended as a desktop program. Files named on the command line are the user's,
# found where the program was started (not in the program directory it changes to): a
# relative configuration and disc autostart the disc as the absolute names do, a relative
# snapshot is loaded; a disc or snapshot that cannot be opened is reported with its name
# and the reason, and the machine starts BASIC without it. Losing the X server ends the
# program within 5 s with a non-zero status while the machine runs, while one of its
# windows is open, while the monitor waits for a command, and under the error box of a
# termination signal (then with the signal's status).
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
require_asset "$ROM_DIR/amsdos.rom"
DISC=$TESTDATA/disks/boulderdash_cpc.dsk
require_asset "$DISC"
for tool in xdotool xwininfo Xvfb import; do command -v $tool >/dev/null || fail "$tool missing"; done
make_install
HERE=$(cd "$(dirname "$0")" && pwd)
export PICTURES="python3 $HERE/pictures.py" HERE PROG WORK
export SCRATCH=$WORK/scratch
mkdir -p "$SCRATCH"
# The template's settings under the user's own name: its "./rom/" stays the program
# directory's; with a keyboard layout, so that no layout window asks for one.
{ echo "VKBD_LANGUAGE = 0"; cat "$PROG/arvelo0.cfg"; } > "$SCRATCH/my.cfg"
cp "$DISC" "$SCRATCH/bd.dsk"

# References from the headless runner, its names relative to the scratch directory too:
# the BASIC screen, and a changed BASIC screen saved as a snapshot.
(cd "$SCRATCH" && "$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --seconds 6 --screenshot ../boot.png &&
  "$BIN_DIR/arvelo-run" --rom-dir "$ROM_DIR" --type 'border 6\npaper 2\nmode 0\n' --seconds 8 \
    --screenshot ../changed.png --save-snapshot screen.sna) >/dev/null || fail "arvelo-run failed"
[ -f "$SCRATCH/screen.sna" ] && [ -f "$WORK/boot.png" ] || fail "arvelo-run ignored the start directory"

cat >"$WORK/files.sh" <<'SCRIPT'
set -u
source "$HERE/window_lib.bash"
cd "$PROG"  # where Print Screen writes screenshot.bmp
start() {  # NAME ARGS...: the program started from the scratch directory
  local name=$1
  shift
  (cd "$SCRATCH" && SDL_AUDIODRIVER=dummy exec "$PROG/arvelo" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err") &
  pid=$!
  wid=$(find_window)
  [ -n "$wid" ] || return 1
  focus_window "$wid"
  press space  # the splash window
}
finish() {
  xdotool key F12
  for i in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  kill -9 $pid 2>/dev/null
  wait $pid
}
shot() { import -window "$wid" "$WORK/$1.png" 2>/dev/null; }
# The top of the picture as 48x24 blocks (the disc's title box; below it the game
# changes its logo).
top() { convert "$1" -crop 768x384+0+0 +repage -scale 48x24! "$1.top.png"; echo "$1.top.png"; }
# Per cent of the top of the picture in cyan.
cyan() {
  convert "$1" -crop 768x384+0+0 +repage -fuzz 25% -fill black -opaque white -fill white -opaque cyan \
    -fill black +opaque white -format "%[fx:int(100*mean)]" info:
}
# Without the real-time limit (F2) until the disc's title is seen (its cyan letters),
# then the title as it stays.
shot_game() {
  press F2
  for i in $(seq 1 40); do
    shot "$1"
    [ "$(cyan "$WORK/$1.png")" -gt 5 ] && break
    sleep 1
  done
  sleep 2
  shot "$1"
  top "$WORK/$1.png" >/dev/null
  [ "$(cyan "$WORK/$1.png")" -gt 5 ] && touch "$WORK/$1.title"
}
start missing_disc -c my.cfg missing.dsk && sleep 2 && shot notice &&
  wait_for_screen "$WORK/boot.png" && touch "$WORK/missing_disc.ok"
finish
start missing_snapshot -c my.cfg missing.sna && wait_for_screen "$WORK/boot.png" &&
  touch "$WORK/missing_snapshot.ok"
finish
start snapshot -c my.cfg screen.sna && wait_for_screen "$WORK/changed.png" && touch "$WORK/snapshot.ok"
finish
start absolute -c "$SCRATCH/my.cfg" "$SCRATCH/bd.dsk" && shot_game absolute; finish
start relative -c my.cfg bd.dsk && shot_game relative; finish
SCRIPT

cat >"$WORK/lose.sh" <<'SCRIPT'
# The display goes away under the program in the state the keys $2 lead to ("TERM" sends
# the termination signal and waits for its error box): $WORK/$1.result gets the
# milliseconds the process lived on and its exit status.
set -u
name=$1 keys=$2 pid="" server=""
trap 'kill -9 $pid $server 2>/dev/null' EXIT
source "$HERE/window_lib.bash"
exec 3>"$WORK/$name.display"
Xvfb -displayfd 3 -screen 0 1024x768x24 >/dev/null 2>&1 &
server=$!
for i in $(seq 1 50); do [ -s "$WORK/$name.display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$WORK/$name.display")
(cd "$SCRATCH" && SDL_AUDIODRIVER=dummy exec "$PROG/arvelo" -c my.cfg >"$WORK/$name.out" 2>"$WORK/$name.err") &
pid=$!
wid=$(find_window)
[ -n "$wid" ] || exit 1
focus_window "$wid"
press space
sleep 1
for k in $keys; do
  if [ "$k" = TERM ]; then
    kill -TERM $pid
    for i in $(seq 1 50); do
      xwininfo -root -children 2>/dev/null | grep -q '"Arvelo Error"' && touch "$WORK/$name.box" && break
      sleep 0.1
    done
  else
    press "$k"
  fi
  sleep 1
done
import -window root "$WORK/$name.png" 2>/dev/null
kill $server
start=$(date +%s%N)
for i in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
lived=$((($(date +%s%N) - start) / 1000000))
kill -9 $pid 2>/dev/null
wait $pid
echo "$lived $?" >"$WORK/$name.result"
SCRIPT

timeout 150 xvfb-run -a -s "-screen 0 1024x768x24" bash "$WORK/files.sh" || true
# Each loss on an X server of its own, two at a time.
lose() { timeout 60 bash "$WORK/lose.sh" "$@"; }
lose running "" & lose window F1 & wait
lose monitor F10 & lose errorbox TERM & wait
losses="running window monitor errorbox"

# Files that cannot be opened: a line naming them with the reason, also on the window
# (its dark box over the border below the picture); BASIC starts.
missing() {
  grep -qF "EMU: Cannot use the $2: No such file or directory" "$WORK/$1.out" ||
    fail "$1: no report: $(cat "$WORK/$1.out")"
  [ -f "$WORK/$1.ok" ] || fail "$1: BASIC did not start"
}
missing missing_disc "disc image $SCRATCH/missing.dsk"
missing missing_snapshot "snapshot $SCRATCH/missing.sna"
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:; }
read -r r g b <<<"$(pixel "$WORK/notice.png" 384 500)"
[ "$r" -gt 15 ] && [ "$b" -lt 90 ] || fail "no notice on the window (pixel $r $g $b)"
[ -f "$WORK/snapshot.ok" ] || fail "the relative snapshot was not loaded: $(cat "$WORK/snapshot.out")"

# Relative names: the disc autostarts as with absolute names.
for run in relative absolute; do
  grep -q "CONFIG: Using $SCRATCH/my.cfg" "$WORK/$run.out" || fail "$run run: configuration not used: $(cat "$WORK/$run.err")"
done
differ() { { compare -metric AE -fuzz 5% "$1" "$2" null: 2>&1 || true; } | awk '{printf "%d\n", $1}'; }
for run in relative absolute; do [ -f "$WORK/$run.title" ] || fail "$run run: the disc did not start"; done
same=$(differ "$WORK/relative.png.top.png" "$WORK/absolute.png.top.png")
[ "$same" -lt 40 ] || fail "relative names show another picture than absolute ones ($same of 1152 blocks differ)"

# Losing the display.
for name in $losses; do
  read -r lived status <"$WORK/$name.result" || fail "$name: no result (the window did not appear)"
  [ "$lived" -lt 5000 ] || fail "$name: the program lived on after the display was lost"
  grep -q "^Display :[0-9]* lost: the connection to the X server broke; the program ends\.$" "$WORK/$name.err" ||
    fail "$name: no report of the lost display: $(tail -3 "$WORK/$name.err")"
  if [ $name = errorbox ]; then
    [ -f "$WORK/errorbox.box" ] || fail "errorbox: the error box was not shown"
    [ "$status" = 231 ] || fail "errorbox: exit status $status (expected 231 = 999 & 255)"
    grep -q '^Caught SIGTERM' "$WORK/$name.err" || fail "errorbox: no signal report"
  else
    [ "$status" != 0 ] || fail "$name: exit status 0 after the display was lost"
  fi
done
echo "PASS"
