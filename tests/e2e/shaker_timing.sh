#!/usr/bin/env bash
# Interrupt timing against the real machine: the self-checking pages of the Shaker test
# disc (module B key R pages 1 and 2, module D key I) run headless on CRTC types 0, 1 and
# 2; every value they measure must be the one they print as the real CPC's.

source "$(dirname "$0")/lib.bash"
disc=$TESTDATA/disks/shaker26.dsk
require_runner "$ROM_DIR/cpc6128.rom" "$ROM_DIR/amsdos.rom" "$disc"
make_work
cp "$disc" "$WORK/shaker.dsk"  # the shared image is never opened for writing
export TMPDIR=$WORK

# page TYPE MODULE KEY SPACES: the screen text after the module's menu key and SPACES
# presses of the space bar (each turns a page).
page() {
  local args=(--model 6128 --rom-dir "$ROM_DIR" --crtc "$1" --disc "$WORK/shaker.dsk"
              --type "RUN\"SHAKE26$2\n" --then 10 "$3") at=14 i
  for ((i = 0; i < $4; i++)); do args+=(--then $at ' '); at=$((at + 4)); done
  "$RUNNER" "${args[@]}" --seconds $((at + 4)) --screen-text 2>/dev/null
}

# Fails on the page's own verdicts and on any "#measured (Exp#expected)" that differ.
check_verdicts() {
  local what=$1 text=$2
  if grep -q 'WRONG\|BAD TRIP' <<<"$text"; then
    fail "$what: the page reports a disagreement:"$'\n'"$text"
  fi
  local pair
  while read -r pair; do
    [ -z "$pair" ] && continue
    [ "${pair%%|*}" = "${pair##*|}" ] || fail "$what: measured ${pair%%|*}, the real CPC ${pair##*|}"
  done < <(sed -n 's/.*#\([0-9A-F]\{2,4\}\) *usec *(Exp:#\([0-9A-F]*\)).*/\1|\2/p;
                   s/.*#\([0-9A-F]\{2,4\}\) *(Exp#\([0-9A-F]*\)).*/\1|\2/p' < <(tr ',' '\n' <<<"$text"))
}

for type in 0 1 2; do
  text=$(page $type B r 0)
  grep -q "CRTC $type .*SHAKER KILLER" <<<"$text" || fail "type $type: module B key R did not open:"$'\n'"$text"
  n=$(grep -o ':#[0-9A-F][0-9A-F]' <<<"$text" | wc -l)
  [ "$n" -eq 48 ] || fail "type $type: module B key R shows $n measurements, not 48"
  check_verdicts "type $type, interrupt delay from R2" "$text"

  text=$(page $type B r 1)
  grep -q "R52 BIT 5 RESET" <<<"$text" || fail "type $type: module B key R page 2 did not open"
  n=$(grep -c 'NEXT INTER:#[0-9A-F]* usec (Exp:#' <<<"$text" || true)
  [ "$n" -eq 18 ] || fail "type $type: R52 bit 5 page shows $n measurements, not 18"
  check_verdicts "type $type, R52 bit 5 reset" "$text"

  text=$(page $type D i 0)
  grep -q "UNRELIABLE INTERRUPT SYSTEM" <<<"$text" || fail "type $type: module D key I did not open"
  grep -q 'DEC DE *:#59 (CRTC 3+4:#58/ OTHERS:#59)' <<<"$text" ||
    fail "type $type: DEC DE is not taken as on CRTC types 0-2:"$'\n'"$text"
  n=$(grep -c '(Exp#' <<<"$text" || true)
  [ "$n" -eq 2 ] || fail "type $type: module D key I shows $n checked lines, not 2"
  check_verdicts "type $type, Shaker Killer 2" "$text"
done
echo "PASS: Shaker's interrupt pages agree with the real CPC on CRTC types 0, 1 and 2"
