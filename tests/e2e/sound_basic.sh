#!/usr/bin/env bash
# The CPC's sound by emulated time: BASIC's SOUND, ENV, ENT and noise typed into a
# headless CPC 6128, recorded with arvelo-run --audio-out and measured.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"

RUN="$BIN_DIR/arvelo-run"
[ -x "$RUN" ] || fail "arvelo-run not built in $BIN_DIR"
ANALYSE=(python3 "$(dirname "$0")/sound_analyse.py")
make_work

record() {  # name, text to type, emulated seconds
  "$RUN" --model 6128 --rom-dir "$ROM_DIR" --type "$2" --seconds "$3" \
      --audio-out "$WORK/$1.wav" >"$WORK/$1.out" 2>"$WORK/$1.err" ||
    fail "arvelo-run for $1: $(cat "$WORK/$1.err")"
}

field() { sed -n "s/.*$1=\([-0-9.]*\).*/\1/p"; }
# within VALUE LOW HIGH
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# Concert A is period 142 (1 MHz / (16 × 142) = 440 Hz), for two seconds.
record a440 'SOUND 1,142,200\n' 7
m=$("${ANALYSE[@]}" tone "$WORK/a440.wav")
f=$(echo "$m" | field freq)
d=$(echo "$m" | field duration)
within "$f" 435.6 444.4 || fail "SOUND 1,142: $m (expected 440 Hz ± 1 %)"
within "$d" 1.9 2.1 || fail "SOUND 1,142,200: $m (expected about 2 s)"
right=$("${ANALYSE[@]}" tone "$WORK/a440.wav" right | field freq)
within "$right" 0 0 || fail "channel A was heard on the right ($right Hz)"

# Period 284 is the A an octave below.
record a220 'SOUND 1,284,200\n' 7
f=$("${ANALYSE[@]}" tone "$WORK/a220.wav" | field freq)
within "$f" 217.8 222.2 || fail "SOUND 1,284: $f Hz (expected 220 Hz ± 1 %)"

# A volume envelope: 15 steps down, one every 0.1 s.
record env 'ENV 1,15,-1,10\nSOUND 1,142,0,15,1\n' 8
levels=$("${ANALYSE[@]}" levels "$WORK/env.wav")
echo "$levels" | awk '{
  if (NF < 8) exit 1;
  for (i = 2; i <= NF; ++i) if ($i > $(i - 1)) exit 1;
  if ($1 < 4 * $NF) exit 1 }' || fail "ENV 1,15,-1,10 levels not falling: $levels"

# A tone envelope: the period grows by 1 every 1/100 s, so the pitch falls.
record ent 'ENT 1,100,1,1\nSOUND 1,142,100,15,0,1\n' 8
m=$("${ANALYSE[@]}" tone "$WORK/ent.wav")
start=$(echo "$m" | field start)
d=$(echo "$m" | field duration)
early=$("${ANALYSE[@]}" segment "$WORK/ent.wav" "$start" "$(awk -v s="$start" 'BEGIN{print s+0.1}')" | field freq)
late=$("${ANALYSE[@]}" segment "$WORK/ent.wav" "$(awk -v s="$start" -v d="$d" 'BEGIN{print s+d-0.1}')" \
       "$(awk -v s="$start" -v d="$d" 'BEGIN{print s+d}')" | field freq)
awk -v a="$early" -v b="$late" 'BEGIN { exit !(a > 400 && b < a * 0.7) }' ||
  fail "ENT: pitch $early Hz at the start, $late Hz at the end (expected a fall from 440 Hz)"

# Noise alone on channel A for half a second.
record noise 'SOUND 1,0,50,15,0,0,31\n' 6
m=$("${ANALYSE[@]}" noise "$WORK/noise.wav")
d=$(echo "$m" | field duration)
irr=$(echo "$m" | field irregularity)
within "$d" 0.4 0.6 || fail "noise: $m (expected about 0.5 s)"
within "$irr" 0.3 100 || fail "noise is too regular: $m"

echo "sound_basic: 5 recordings measured"
