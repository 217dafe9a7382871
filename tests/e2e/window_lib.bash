# Helpers for the scripts that drive the program's window under Xvfb (sourced after
# lib.bash). The calling script runs again under a private X server of SIZE (WxH).
# shellcheck disable=SC2034  # PICTURES, STATUS are read by the scripts
# x_server SIZE: a private X server of SIZE (WxH) in X_SERVER, its display in DISPLAY. The
# server chooses its own free display (-displayfd): two scripts started together under
# ctest -j could both take the same display number when each looked for a free one itself.
x_server() {
  local number i
  number=$(mktemp)
  Xvfb -displayfd 3 -nolisten tcp -screen 0 "${1}x24" 3>"$number" >/dev/null 2>&1 &
  X_SERVER=$!
  for i in $(seq 1 100); do [ -s "$number" ] && break; sleep 0.1; done
  [ -s "$number" ] || { kill "$X_SERVER" 2>/dev/null; rm -f "$number"; fail "Xvfb did not start"; }
  export DISPLAY=:$(cat "$number")
  rm -f "$number"
}

# in_x_server SIZE: the calling script runs again under a private X server of SIZE.
in_x_server() {
  if [ -z "${ARVELO_IN_X:-}" ]; then
    local status=0
    x_server "$1"
    ARVELO_IN_X=1 bash "$0" || status=$?
    kill "$X_SERVER" 2>/dev/null
    exit "$status"
  fi
  local tool
  for tool in xdotool xwininfo import compare; do command -v $tool >/dev/null || fail "$tool missing"; done
}
HERE=$(cd "$(dirname "$0")" && pwd)
PICTURES="python3 $HERE/pictures.py"

# The program's window id, once it is shown (empty after 60 s without it: a start on a
# loaded machine, with other builds running, took more than 40 s). The search is asked
# again each half second: one search ends at once with an X error when a window it looks
# at goes away meanwhile (a message box, the program's own start-up).
find_window() {
  local i wid
  for i in $(seq 1 120); do
    wid=$(xdotool search --onlyvisible --name '^Arvelo$' 2>/dev/null | head -1) || true
    [ -n "$wid" ] && echo "$wid" && return 0
    sleep 0.5
  done
}

# Keyboard focus to the window, with the pointer in it.
focus_window() {
  xdotool mousemove --window "$1" 20 20
  xdotool windowfocus --sync "$1"
}

# start NAME [ARGS...]: the installed program (make_install) with ARGS, its output in
# $WORK/NAME.out and NAME.err; PID and WID are its process and its focused window. A
# moment for the window to take keys.
start() {
  RUN_NAME=$1
  shift
  local attempt
  for attempt in 1 2; do
    SDL_AUDIODRIVER=dummy "$PROG/arvelo" "$@" >"$WORK/$RUN_NAME.out" 2>"$WORK/$RUN_NAME.err" &
    PID=$!
    WID=$(find_window)
    [ -n "$WID" ] && break
    # A start that showed no window in 60 s (seen a few times with two scripts running
    # at once, cause not found yet): its threads' stacks go to the log for the next look,
    # and the program is started once more.
    echo "WARNING: $RUN_NAME: no window after 60 s (attempt $attempt); its threads:" >&2
    { command -v gdb >/dev/null && gdb -batch -p "$PID" -ex 'thread apply all bt' >&2 2>&1; } || true
    kill -9 "$PID" 2>/dev/null
    wait "$PID" 2>/dev/null || true
  done
  [ -n "$WID" ] ||
    fail "$RUN_NAME: no window after 60 s: $(tail -3 "$WORK/$RUN_NAME.out") $(cat "$WORK/$RUN_NAME.err")"
  focus_window "$WID"
  sleep 2
}

# Waits at most $1 seconds for the program to end; its exit status in STATUS ("running"
# when it did not end; it is then killed).
wait_end() {
  local i status=0
  for i in $(seq 1 $((10 * $1))); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
  STATUS=0
  if kill -0 "$PID" 2>/dev/null; then kill -9 "$PID"; STATUS=running; fi
  wait "$PID" || status=$?
  [ "$STATUS" = running ] || STATUS=$status
}

# F12 quits with status 0.
quit() {
  xdotool key F12
  wait_end 10
  [ "$STATUS" = 0 ] || fail "$RUN_NAME ended with $STATUS: $(cat "$WORK/$RUN_NAME.err")"
}

# The window's picture in $WORK/NAME.png.
shot() { import -window "$WID" "$WORK/$1.png" || fail "no screenshot $1"; }
# Keys as a person types them, with time for the window to answer.
key() { xdotool key --delay 80 "$@"; sleep 0.7; }
typed() { xdotool type --delay 120 "$1"; sleep 0.7; }

# One key held for a few frames, as a person presses it.
press() {
  xdotool keydown "$1"
  sleep 0.08
  xdotool keyup "$1"
  sleep 0.08
}

# A box of the message-box library, found by its title among the root's children within
# about 5 s; Return presses its button.
answer_box() {
  local i box=""
  for i in $(seq 1 50); do
    box=$(xwininfo -root -tree | grep -F "\"$1\":" | awk '{print $1; exit}')
    [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] || return 1
  xdotool windowfocus --sync "$box"
  xdotool key Return
}

# Waits until the CPC shows the screen of picture $1 (Print Screen until the program
# directory's screenshot.bmp is found in it), at most about 40 s. The BASIC prompt reads
# the keyboard from then on.
wait_for_screen() {
  local i
  for i in $(seq 1 50); do
    rm -f "$PROG/screenshot.bmp"
    xdotool key Print
    sleep 0.3
    if [ -f "$PROG/screenshot.bmp" ] && $PICTURES locate "$PROG/screenshot.bmp" "$1" >/dev/null; then
      rm -f "$PROG/screenshot.bmp"
      return 0
    fi
    sleep 0.5
  done
  return 1
}

# Waits at most about 60 s for the title picture of Boulder Dash (the test disc's game)
# in $WORK/$1.png, as the headless runner shows it: its logo box, as 32x32 block averages
# within 24 of 255 (the window smooths the picture). Fails with the message $2.
wait_for_title() {
  local i game="$HERE/reference/disc_boulderdash_30s.png $WORK/$1.png 32 24 64 72 640 304"
  for i in $(seq 1 60); do
    shot "$1"
    $PICTURES same $game >/dev/null && return 0
    sleep 1
  done
  fail "$2 ($($PICTURES same $game))"
}

# Pixels that differ between two pictures (5% colour tolerance); a picture that cannot
# be read, or of another size, fails. (compare's status 1 only says the pictures differ.)
differ() {
  local out status=0
  out=$(compare -metric AE -fuzz 5% "$1" "$2" null: 2>&1) || status=$?
  [ "$status" -le 1 ] && [[ $out =~ ^[0-9]+$ ]] || fail "cannot compare $1 with $2: $out"
  echo "$out"
}
# "r g b" (0-255) of one pixel.
pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:
}
