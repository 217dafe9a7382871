#!/usr/bin/env bash
# Tape images through the firmware's own cassette routines: a game's CDT loads to its
# title screen on a 464 and on a 6128 (fast loading on and off); a BASIC program and a
# binary file SAVEd onto a blank tape load back from the written image; the same
# program saved as CSW, and that recording turned into a WAV file by sox, loads too.
# (A second recording's new name beside the image in the deck: the unit test
# TapeDeck.SaveIsRecordedUnderANewNameAsCdtOrCsw.)

source "$(dirname "$0")/lib.bash"
require_runner "$ROM_DIR/cpc464.rom" "$ROM_DIR/cpc6128.rom"
game=$TESTDATA/tapes/luzazul.cdt
require_asset "$game"
reference=$(dirname "$0")/reference/tape_luzazul_title.png

make_work
run() { "$RUNNER" --rom-dir "$ROM_DIR" "$@"; }

# The title screen: its 640 x 400 screen area (the border is left out: the loader paints
# it from the processor's refresh register, so its last colour depends on when the
# key was pressed). At most 1 % of those pixels may differ from the reference; when it
# was made, runs on both models matched it exactly.
same_picture() {
  local diff
  convert "$1" -crop 640x400+64+78 +repage "$1.screen.png"
  convert "$reference" -crop 640x400+64+78 +repage "$WORK/reference.screen.png"
  diff=$(compare -metric AE "$1.screen.png" "$WORK/reference.screen.png" null: 2>&1) || true
  [[ "$diff" =~ ^[0-9]+$ ]] && [ "$diff" -le 2560 ] || fail "$1 differs from the title screen: $diff"
}

# ---- The game: a 464 in real time with fast loading; a 6128 with fast loading off, run
# without real time (the emulation is the same either way, only the waiting differs) ----
start=$(date +%s)
run --model 464 --tape "$game" --autostart --realtime --seconds 262 --screenshot "$WORK/464.png" >/dev/null 2>&1 ||
  fail "the 464 run failed"
wall=$(($(date +%s) - start))
same_picture "$WORK/464.png"
# 257 s of tape: fast loading must have skipped most of the waiting.
[ "$wall" -lt 150 ] || fail "fast loading took $wall s of real time for 262 emulated seconds"
run --model 6128 --tape "$game" --autostart --tape-fast off --seconds 262 --screenshot "$WORK/6128.png" >/dev/null 2>&1 ||
  fail "the 6128 run failed"
same_picture "$WORK/6128.png"

# Without fast loading the machine keeps to real time while the tape plays; with it,
# the seconds of tape after the boot go by faster than real time.
timed() {
  local t0 t1
  t0=$(date +%s%N)
  run --model 464 --tape "$game" --autostart --realtime --seconds 6 --tape-fast "$1" >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
slow=$(timed off)
fast=$(timed on)
[ "$slow" -ge 5500 ] || fail "without fast loading 6 emulated seconds took only $slow ms"
[ "$fast" -le 5000 ] && [ "$fast" -le $((slow - 1000)) ] ||
  fail "with fast loading 6 emulated seconds took $fast ms (without: $slow ms)"

# ---- SAVE onto a blank tape, LOAD back in a second run --------------------------------------
# Each run types one line: the firmware takes the key after "Press PLAY then any key"
# from what is typed next, so the prompts are left to the runner, which answers them.
program='10 PRINT "TAPE OK"\n'
run --model 464 --tape "$WORK/saved.cdt" --seconds 60 \
  --type "${program}FOR I=0 TO 255:POKE &4000+I,I:NEXT:SAVE \"DATA\",B,&4000,256:SAVE \"PROG\"\n" >/dev/null 2>&1 ||
  fail "the SAVE run failed"
[ -s "$WORK/saved.cdt" ] || fail "no tape image was written: $(ls "$WORK")"
out=$(run --model 464 --tape "$WORK/saved.cdt" --seconds 60 --screen-text \
  --type 'MEMORY &3FFF:LOAD "DATA",&5000:S=0:FOR I=0 TO 255:S=S+PEEK(&5000+I)*(I+1):NEXT:PRINT S:RUN "PROG"\n' 2>&1) ||
  fail "the LOAD run failed"
# The sum of i * (i + 1) for i = 0..255: every byte at its place.
grep -q '^ 5592320' <<<"$out" || fail "the saved binary file did not load back: $out"
grep -q '^TAPE OK' <<<"$out" || fail "the saved program did not load: $out"

# ---- The same program as CSW, and as a WAV made from it by sox --------------------------------
run --model 464 --tape "$WORK/saved.csw" --seconds 25 --type "${program}SAVE \"PROG\"\n" >/dev/null 2>&1
[ -s "$WORK/saved.csw" ] || fail "no CSW image was written"
out=$(run --model 464 --tape "$WORK/saved.csw" --seconds 25 --screen-text --type 'RUN"\n' 2>&1)
grep -q '^TAPE OK' <<<"$out" || fail "the CSW recording did not load: $out"
# The CSW's pulses as 8-bit samples at its rate, then sox makes a 48 kHz 16-bit stereo WAV.
python3 - "$WORK/saved.csw" "$WORK/saved.raw" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
assert d[:22] == b'Compressed Square Wave' and d[0x17] == 1
level, out, i = d[0x1C] & 1, bytearray(), 0x20
while i < len(d):
    n = d[i]; i += 1
    if n == 0:
        n = int.from_bytes(d[i:i + 4], 'little'); i += 4
    out += bytes([0xB0 if level else 0x50]) * n
    level ^= 1
open(sys.argv[2], 'wb').write(out)
PY
rate=$(python3 -c "import sys; d=open(sys.argv[1],'rb').read(); print(d[0x19] | d[0x1A] << 8)" "$WORK/saved.csw")
sox -t raw -r "$rate" -e unsigned -b 8 -c 1 "$WORK/saved.raw" -r 48000 -b 16 -c 2 "$WORK/saved.wav" ||
  fail "sox could not make the WAV file"
out=$(run --model 464 --tape "$WORK/saved.wav" --seconds 25 --screen-text --type 'RUN"\n' 2>&1)
grep -q '^TAPE OK' <<<"$out" || fail "the WAV recording did not load: $out"
echo "tape image checks passed"
