#!/usr/bin/env bash
# Quitting the real program: F12 ends it with status 0 and the credits; the next start
# finds the user's configuration (no first-start windows); Shift held while quitting
# shows the captured console output in an information box first.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
make_install

cat > "$WORK/run.sh" <<SCRIPT
set -u
cd "$PROG"
# Whatever happens, no emulator outlives the check.
trap 'pkill -9 -f "^./arvelo\$" -P \$\$ 2>/dev/null; kill -9 \$(jobs -p) 2>/dev/null' EXIT
start() {
  SDL_AUDIODRIVER=dummy ./arvelo >"$WORK/out\$1.txt" 2>"$WORK/err\$1.txt" &
  pid=\$!
  wid=\$(timeout 20 xdotool search --sync --onlyvisible --name '^Arvelo\$' 2>/dev/null | head -1)
  sleep 2
}
# First run: language, keyboard layout, splash, then F12.
start 1
for k in 1 1 space; do xdotool key --window \$wid \$k; sleep 1; done
xdotool key --window \$wid F12
wait \$pid; echo \$? > "$WORK/status1"

# Second run: only the splash, then Shift+F12 and the output box.
start 2
xdotool key --window \$wid space; sleep 2
xdotool keydown --window \$wid shift; sleep 0.3
xdotool key --window \$wid F12; sleep 3
xdotool keyup shift
# The box is found by its title (a window of the message-box library, among the
# root's children).
box=\$(xwininfo -root -tree | grep -F '"Arvelo Output":' | awk '{print \$1; exit}')
if [ -n "\$box" ] && kill -0 \$pid 2>/dev/null; then
  echo shown > "$WORK/box"
  import -window \$box "$WORK/outputbox.png" 2>/dev/null || true
  xdotool windowfocus --sync \$box; xdotool key Return
fi
wait \$pid; echo \$? > "$WORK/status2"
SCRIPT
timeout 150 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/run.sh" || true

[ "$(cat "$WORK/status1" 2>/dev/null)" = 0 ] || fail "first run ended with $(cat "$WORK/status1" 2>/dev/null): $(cat "$WORK/err1.txt")"
grep -q 'Arvelo (v2.5)  -  The CPC Emulator' <(tail -8 "$WORK/out1.txt") || fail "no credits at the end"
[ -f "$HOME/.Arvelo/arvelo.cfg" ] || fail "no user configuration after the first start"
grep -q "CONFIG: Using $HOME/.Arvelo/arvelo.cfg" "$WORK/out2.txt" || fail "second start did not use the user configuration"
[ "$(grep -c 'CONFIG: Using' "$WORK/out2.txt")" = 1 ] || fail "second start ran the first start again"
[ -f "$WORK/box" ] || fail "Shift while quitting showed no box titled \"Arvelo Output\""
[ "$(cat "$WORK/status2" 2>/dev/null)" = 0 ] || fail "second run ended with $(cat "$WORK/status2" 2>/dev/null)"
echo "PASS"
