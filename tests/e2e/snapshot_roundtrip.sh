#!/usr/bin/env bash
# Snapshots of the whole machine: a running BASIC program saved and loaded into a fresh
# machine continues exactly as the uninterrupted machine does (same state, same
# counters, same picture); a snapshot of the configured size. (The header's fields,
# the 64 KB and larger layouts, a size larger than the machine's with message 229, and
# damaged files are the unit tests' business: Snapshot.*.)

source "$(dirname "$0")/lib.bash"
require_runner "$ROM_DIR/cpc6128.rom"
make_work
cd "$WORK"

run() { "$RUNNER" --rom-dir "$ROM_DIR" "$@"; }
# Byte or little-endian word/quad of a file.
field() { python3 -c "import sys; d=open(sys.argv[1],'rb').read(); print(int.from_bytes(d[$2:$2+$3],'little'))" "$1"; }

program='10 A=A+1:PRINT A;:SOUND 1,A MOD 500+100,5:GOTO 10\nRUN\n'
out=$(run --type "$program" --frames 500 --save-snapshot a.sna 2>&1) || fail "first run failed: $out"
[ "$(stat -c %s a.sna)" = $((256 + 128 * 1024)) ] || fail "a 6128 saves 128 KB by default"

# The saved machine continues in a fresh process; the other machine never stops.
run --snapshot a.sna --frames 200 --save-snapshot b.sna --screenshot b.png --screen-text >b.txt
run --type "$program" --frames 700 --save-snapshot c.sna --screenshot c.png --screen-text >c.txt
for at in 183 191; do  # microsecond counter, frame-start counter
  [ "$(field b.sna $at 8)" = "$(field c.sna $at 8)" ] || fail "64-bit counter at $at differs"
done
[ "$(field c.sna 183 8)" -gt "$(field a.sna 183 8)" ] || fail "the counter did not advance"
cmp -s b.sna c.sna || fail "the restored machine's state differs: $(cmp -l b.sna c.sna | head -5)"
cmp -s b.png c.png || fail "the restored machine shows another picture"
cmp -s b.txt c.txt || fail "the restored machine shows other text"
grep -qE '[0-9]+ +[0-9]+' b.txt || fail "the program's output is not on the screen: $(cat b.txt)"

# The configured size of a 6128 is 128 KB, as asked for by number.
for size in 128 ram; do
  run --frames 60 --snapshot-size $size --save-snapshot s$size.sna >/dev/null
done
[ "$(stat -c %s s128.sna)" = $((256 + 131072)) ] || fail "128 KB snapshot size"
[ "$(field s128.sna 107 2)" = 128 ] || fail "memory size field"
cmp -s s128.sna sram.sna || fail "the configured size of a 6128 is 128 KB"

echo "snapshot checks passed"
