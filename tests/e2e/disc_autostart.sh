#!/usr/bin/env bash
# Real discs in the whole machine: CAT lists a disc, a disc's program starts by itself
# (standard and extended images, and the same disc inside a ZIP archive), and a BASIC
# program saved on a disc loads and runs in a fresh machine without changing the image's
# size. Text typed while the disc works arrives whole.

source "$(dirname "$0")/lib.bash"
disks=$TESTDATA/disks
require_runner "$ROM_DIR/cpc6128.rom" "$ROM_DIR/amsdos.rom" "$disks/boulderdash_cpc.dsk" "$disks/dtc_cpc.dsk"
make_work
# The shared images are never opened for writing: the runs use copies.
cp "$disks/boulderdash_cpc.dsk" "$disks/dtc_cpc.dsk" "$WORK/"
(cd "$WORK" && zip -q games.zip boulderdash_cpc.dsk)
export TMPDIR=$WORK

run() { "$RUNNER" --model 6128 --rom-dir "$ROM_DIR" "$@"; }

out=$(run --disc "$WORK/boulderdash_cpc.dsk" --type 'cat\n' --seconds 8 --screen-text 2>&1) ||
  fail "CAT run failed: $out"
grep -q 'BOULDER \.BAS' <<<"$out" || fail "CAT does not list BOULDER.BAS: $out"
grep -q '145K free' <<<"$out" || fail "CAT does not show the free space: $out"

# A started program is compared pixel for pixel with a reference picture at a fixed
# emulated time (the headless runner is deterministic; the references were looked at).
ref=$(dirname "$0")/reference
pictures() { python3 "$(dirname "$0")/pictures.py" "$@"; }
matches() { pictures same "$ref/$1" "$2" >/dev/null || fail "$3 (largest difference $(pictures same "$ref/$1" "$2"))"; }

# Boulder Dash (standard image) starts its BASIC loader, which shows the title picture.
run --disc "$WORK/boulderdash_cpc.dsk" --autostart --seconds 30 --screenshot "$WORK/boulder.png" >/dev/null
matches disc_boulderdash_30s.png "$WORK/boulder.png" "Boulder Dash's title picture not shown after 30 s"

# The same disc inside a ZIP archive starts identically and leaves no temporary file.
run --disc "$WORK/games.zip/boulderdash_cpc.dsk" --autostart --seconds 30 --screenshot "$WORK/boulder_zip.png" >/dev/null
matches disc_boulderdash_30s.png "$WORK/boulder_zip.png" "the disc from the ZIP archive does not show the title picture"
! ls "$WORK"/TMP?????.\$\$\$ >/dev/null 2>&1 || fail "temporary file left behind"

# The extended-format demo starts its -DTC program: its picture after 40 s.
run --disc "$WORK/dtc_cpc.dsk" --autostart --seconds 40 --screenshot "$WORK/dtc.png" >/dev/null
matches disc_dtc_40s.png "$WORK/dtc.png" "the demo's picture after 40 s differs"

# SAVE on a copy of a disc, then LOAD and RUN in a fresh machine.
size=$(stat -c %s "$WORK/boulderdash_cpc.dsk")
run --disc "$WORK/boulderdash_cpc.dsk" --type '10 print "saved on disc"\nsave "test"\n' --seconds 10 >/dev/null
[ "$(stat -c %s "$WORK/boulderdash_cpc.dsk")" = "$size" ] || fail "the image changed its size"
out=$(run --disc "$WORK/boulderdash_cpc.dsk" --type 'load "test"\nrun\n' --seconds 10 --screen-text)
grep -q '^saved on disc' <<<"$out" || fail "the saved program did not come back: $out"

# Text typed ahead of a busy machine arrives whole: the firmware keeps only 20 keys
# while a command runs, so the typing waits for it to pass each key on. After CAT,
# after SAVE and while the program the autostart started runs, on every model (the 464
# has no disc ROM here: its CAT and SAVE go to the tape directory).
lines='PRINT "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"\nPRINT 6*7\n'
typed_whole() {
  grep -q '^ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 *$' <<<"$2" && grep -q '^ 42 *$' <<<"$2" ||
    fail "$1: typed text lost: $2"
}
for model in 464 664 6128; do
  typing() { "$RUNNER" --model $model --rom-dir "$ROM_DIR" --tape-dir "$WORK" --seconds 15 --screen-text "$@"; }
  cp "$disks/boulderdash_cpc.dsk" "$WORK/typing.dsk"
  typed_whole "$model after CAT" "$(typing --disc "$WORK/typing.dsk" --type "CAT\n$lines")"
  # A disc whose only program lists the disc: the autostart runs it.
  typed_whole "$model after SAVE" "$(typing --disc "$WORK/typing.dsk" \
    --type "|ERA,\"*.*\"\n10 PRINT \"AUTO RAN\":CAT\nSAVE \"DISC\"\n$lines")"
  [ $model = 464 ] && continue
  out=$(typing --disc "$WORK/typing.dsk" --autostart --type "$lines")
  grep -q '^AUTO RAN' <<<"$out" || fail "$model: the autostart did not run the disc's program: $out"
  typed_whole "$model during the autostart" "$out"
done
echo "disc autostart checks passed"
