# Helpers for the scripts that drive the program's window under Xvfb (sourced by the
# generated run scripts; PICTURES names the picture checker).

# The program's window id, once it is shown (empty after 20 s without it).
find_window() {
  timeout 20 xdotool search --sync --onlyvisible --name '^Arvelo$' 2>/dev/null | head -1
}

# Keyboard focus to the window, with the pointer in it.
focus_window() {
  xdotool mousemove --window "$1" 20 20
  xdotool windowfocus --sync "$1"
}

# Waits until the CPC shows the screen of picture $1 (Print Screen in the current
# directory until screenshot.bmp is found in it), at most about 40 s. The BASIC prompt
# reads the keyboard from then on.
wait_for_screen() {
  local i
  for i in $(seq 1 50); do
    rm -f screenshot.bmp
    xdotool key Print
    sleep 0.3
    if [ -f screenshot.bmp ] && $PICTURES locate screenshot.bmp "$1" >/dev/null; then
      rm -f screenshot.bmp
      return 0
    fi
    sleep 0.5
  done
  return 1
}

# One key held for a few frames, as a person presses it.
press() {
  xdotool keydown "$1"
  sleep 0.08
  xdotool keyup "$1"
  sleep 0.08
}
