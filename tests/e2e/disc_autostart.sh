#!/usr/bin/env bash
# Real discs in the whole machine: CAT lists a disc, a disc's program starts by itself
# (standard and extended images, and the same disc inside a ZIP archive), and a BASIC
# program saved on a disc loads and runs in a fresh machine without changing the image's
# size. Text typed while the disc works arrives whole.
set -euo pipefail

bin=${ARVELO_BIN_DIR:?}/arvelo-run
roms=${ARVELO_ROM_DIR:-${ARVELO_ROM_DIR_DEFAULT:?}}
disks=${ARVELO_TESTDATA:-${ARVELO_TESTDATA_DEFAULT:?}}/disks

source "$(dirname "$0")/lib.bash"

[ -x "$bin" ] || skip "arvelo-run not built"
for f in "$roms/cpc6128.rom" "$roms/amsdos.rom" "$disks/boulderdash_cpc.dsk" "$disks/dtc_cpc.dsk"; do
  [ -f "$f" ] || skip "test asset not found: $f"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The shared images are never opened for writing: the runs use copies.
cp "$disks/boulderdash_cpc.dsk" "$disks/dtc_cpc.dsk" "$work/"
(cd "$work" && zip -q games.zip boulderdash_cpc.dsk)
export TMPDIR=$work

run() { "$bin" --model 6128 --rom-dir "$roms" "$@"; }

out=$(run --disc "$work/boulderdash_cpc.dsk" --type 'cat\n' --seconds 8 --screen-text 2>&1) ||
  fail "CAT run failed: $out"
grep -q 'BOULDER \.BAS' <<<"$out" || fail "CAT does not list BOULDER.BAS: $out"
grep -q '145K free' <<<"$out" || fail "CAT does not show the free space: $out"

colours() { identify -format %k "$1"; }

# Boulder Dash (standard image) starts its BASIC loader, which shows the title picture.
run --disc "$work/boulderdash_cpc.dsk" --autostart --seconds 30 --screen-text \
  --screenshot "$work/boulder.png" >"$work/boulder.txt"
! grep -q Ready "$work/boulder.txt" || fail "Boulder Dash did not start: $(cat "$work/boulder.txt")"
[ "$(colours "$work/boulder.png")" -ge 5 ] || fail "Boulder Dash title picture not shown"

# The same disc inside a ZIP archive starts identically and leaves no temporary file.
run --disc "$work/games.zip/boulderdash_cpc.dsk" --autostart --seconds 30 --screenshot "$work/boulder_zip.png" >/dev/null
cmp -s "$work/boulder.png" "$work/boulder_zip.png" || fail "the disc from the ZIP archive starts differently"
! ls "$work"/TMP?????.\$\$\$ >/dev/null 2>&1 || fail "temporary file left behind"

# The extended-format demo starts its -DTC program.
run --disc "$work/dtc_cpc.dsk" --autostart --seconds 40 --screen-text --screenshot "$work/dtc.png" >"$work/dtc.txt"
! grep -q Ready "$work/dtc.txt" || fail "the demo did not start"
[ "$(colours "$work/dtc.png")" -ge 4 ] || fail "the demo shows no picture"

# SAVE on a copy of a disc, then LOAD and RUN in a fresh machine.
size=$(stat -c %s "$work/boulderdash_cpc.dsk")
run --disc "$work/boulderdash_cpc.dsk" --type '10 print "saved on disc"\nsave "test"\n' --seconds 10 >/dev/null
[ "$(stat -c %s "$work/boulderdash_cpc.dsk")" = "$size" ] || fail "the image changed its size"
out=$(run --disc "$work/boulderdash_cpc.dsk" --type 'load "test"\nrun\n' --seconds 10 --screen-text)
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
  typing() { "$bin" --model $model --rom-dir "$roms" --tape-dir "$work" --seconds 15 --screen-text "$@"; }
  cp "$disks/boulderdash_cpc.dsk" "$work/typing.dsk"
  typed_whole "$model after CAT" "$(typing --disc "$work/typing.dsk" --type "CAT\n$lines")"
  # A disc whose only program lists the disc: the autostart runs it.
  typed_whole "$model after SAVE" "$(typing --disc "$work/typing.dsk" \
    --type "|ERA,\"*.*\"\n10 PRINT \"AUTO RAN\":CAT\nSAVE \"DISC\"\n$lines")"
  [ $model = 464 ] && continue
  out=$(typing --disc "$work/typing.dsk" --autostart --type "$lines")
  grep -q '^AUTO RAN' <<<"$out" || fail "$model: the autostart did not run the disc's program: $out"
  typed_whole "$model during the autostart" "$out"
done
echo "disc autostart checks passed"
