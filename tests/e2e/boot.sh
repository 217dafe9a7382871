#!/usr/bin/env bash
# The three CPC models boot their firmware to BASIC in the headless runner: start-up
# banner and prompt on the screen read back as text, a screenshot that matches the
# reference picture, typing at the prompt, the benchmark line, and the runner's errors.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc464.rom"
require_asset "$ROM_DIR/cpc664.rom"
require_asset "$ROM_DIR/cpc6128.rom"
RUN="$BIN_DIR/arvelo-run"
SRC=${ARVELO_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
make_work

# ---- Banners ----------------------------------------------------------------------------
check_boot() {  # MODEL BASIC-VERSION RAM-KB [RUNNER OPTIONS...]
  local model=$1 basic=$2 ram=$3
  shift 3
  "$RUN" --model "$model" --rom-dir "$ROM_DIR" --seconds 4 --screen-text "$@" >"$WORK/$model.txt" 2>"$WORK/$model.err" ||
    fail "$model: arvelo-run failed: $(cat "$WORK/$model.err")"
  grep -q "Amstrad ${ram}K Microcomputer" "$WORK/$model.txt" || fail "$model: no start-up banner: $(cat "$WORK/$model.txt")"
  grep -q "^ BASIC $basic\$" "$WORK/$model.txt" || fail "$model: no BASIC $basic line: $(cat "$WORK/$model.txt")"
  grep -q '^Ready$' "$WORK/$model.txt" || fail "$model: no Ready prompt: $(cat "$WORK/$model.txt")"
}
check_boot 464 1.0 64
check_boot 664 1.1 64
check_boot 6128 1.1 128 --type 'PRINT 6*7\n'

# ---- Screenshot --------------------------------------------------------------------------
"$RUN" --model 6128 --rom-dir "$ROM_DIR" --seconds 3 --screenshot "$WORK/basic.png" 2>"$WORK/shot.err" ||
  fail "screenshot run failed: $(cat "$WORK/shot.err")"
"$RUN" --model 6128 --rom-dir "$ROM_DIR" --seconds 3 --screenshot "$WORK/basic.bmp" 2>>"$WORK/shot.err" ||
  fail "BMP screenshot run failed: $(cat "$WORK/shot.err")"
# Pixel for pixel the reference picture (looked at: blue border and paper, the yellow
# banner, each monitor line on two rows), and the BMP the same picture as the PNG.
PICS=$SRC/tests/e2e/pictures.py
python3 "$PICS" same "$SRC/tests/e2e/boot_6128.png" "$WORK/basic.png" || fail "PNG screenshot differs from the reference"
python3 "$PICS" same "$WORK/basic.png" "$WORK/basic.bmp" || fail "BMP and PNG screenshots differ"

# ---- Typing at the prompt ----------------------------------------------------------------------
grep -q '^PRINT 6\*7$' "$WORK/6128.txt" || fail "typed line not shown: $(cat "$WORK/6128.txt")"
grep -q '^ 42$' "$WORK/6128.txt" || fail "PRINT 6*7 did not show 42: $(cat "$WORK/6128.txt")"
"$RUN" --model 464 --rom-dir "$ROM_DIR" --seconds 5 --type '10 MODE 2:PRINT "WIDE"\nRUN\n' --screen-text >"$WORK/mode2.txt" 2>&1 ||
  fail "mode 2 run failed"
grep -q '^WIDE$' "$WORK/mode2.txt" || fail "mode 2 screen not read: $(cat "$WORK/mode2.txt")"
"$RUN" --model 664 --rom-dir "$ROM_DIR" --seconds 5 --type 'MODE 0:PRINT "BIG"\n' --screen-text >"$WORK/mode0.txt" 2>&1 ||
  fail "mode 0 run failed"
grep -q '^BIG$' "$WORK/mode0.txt" || fail "mode 0 screen not read: $(cat "$WORK/mode0.txt")"

# ---- Frames and benchmark line -------------------------------------------------------------------
out=$("$RUN" --model 464 --rom-dir "$ROM_DIR" --frames 50 --bench 2>/dev/null) || fail "--frames run failed"
echo "$out" | grep -Eq '^emulated_s=[0-9]+\.[0-9]+ wall_s=[0-9.]+ speed=[0-9.]+x$' || fail "bench line: $out"

# ---- Errors -------------------------------------------------------------------------------------
expect_error() {
  local what=$1; shift
  if "$RUN" "$@" >"$WORK/e.out" 2>"$WORK/e.err"; then fail "$what: accepted"; fi
  grep -q '^arvelo-run: ' "$WORK/e.err" || fail "$what: no message: $(cat "$WORK/e.err")"
}
expect_error "bad model" --model 999 --rom-dir "$ROM_DIR"
expect_error "zero frames" --frames 0 --rom-dir "$ROM_DIR"
expect_error "seconds and frames" --seconds 1 --frames 5 --rom-dir "$ROM_DIR"
expect_error "unknown option" --fast --rom-dir "$ROM_DIR"
expect_error "missing value" --rom-dir
expect_error "picture type" --screenshot "$WORK/x.jpg" --rom-dir "$ROM_DIR"
expect_error "missing ROM directory" --rom-dir "$WORK/none"
expect_error "missing configuration" --config "$WORK/none.cfg"
expect_error "missing disc" --disc "$WORK/none.dsk" --rom-dir "$ROM_DIR"
"$RUN" --help | grep -q '^Usage: arvelo-run' || fail "--help"
echo "PASS"
