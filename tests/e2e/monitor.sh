#!/usr/bin/env bash
# The debugger monitor on the whole machine in the headless runner: commands from a file
# stop the booting firmware at the interrupt entry, step into the jump there, run the
# machine on in timed stretches until BASIC is ready, save a memory block, and quit.
source "$(dirname "$0")/lib.bash"
require_asset "$ROM_DIR/cpc6128.rom"
RUN="$BIN_DIR/arvelo-run"
make_work

{
  echo "B 38"      # the firmware's interrupt entry (RST 7)
  echo "R"
  echo "S"
  echo "B C000"    # out of the way: screen memory is never executed
  for _ in $(seq 25); do echo "C FFFF"; done   # 25 x 65535 µs: the firmware boots
  echo "V 0 low.bin 40"
  echo "XY"
  echo "Q"
} >"$WORK/commands.txt"

"$RUN" --model 6128 --rom-dir "$ROM_DIR" --tape-dir "$WORK" --seconds 5 --screen-text \
  --monitor "$WORK/commands.txt" >"$WORK/out.txt" 2>"$WORK/err.txt" ||
  fail "arvelo-run --monitor failed: $(cat "$WORK/err.txt")"

python3 - "$WORK/out.txt" "$WORK/low.bin" <<'PY' || fail "monitor transcript check failed (see above)"
import re, sys
out = open(sys.argv[1]).read()
passes = out.split('B)reakpoint R)un T)race S)tep-into Step-O)ver C)RTC single step\n')[1:]
# Entered at start, again after each command that does not leave, at the breakpoint and
# after every timed stretch.
assert len(passes) == 1 + 1 + 1 + 1 + 1 + 25 + 1 + 1, len(passes)
def pc(p): return re.search(r' PC=([0-9A-F]{4}) ', p).group(1)
assert pc(passes[0]) == '0000', passes[0]
at_break = passes[2]
assert pc(at_break) == '0038', at_break
jump = re.search(r'^0038 : C3 ([0-9A-F]{2}) ([0-9A-F]{2})\s+JP &([0-9A-F]{4})$', at_break, re.M)
assert jump, at_break
assert jump.group(3) == jump.group(2) + jump.group(1)
assert pc(passes[3]) == jump.group(3), passes[3]
assert out.count('------f-----> C FFFF\n') == 25
assert out.rstrip().splitlines().count('Ready') == 1, 'BASIC did not come up'
# The saved block (its header's fields are the unit test's business): 64 bytes from 0000.
data = open(sys.argv[2], 'rb').read()
assert len(data) == 128 + 64, len(data)
assert data[128:131] == bytes([0x01, 0x89, 0x7F]), data[128:131]   # LD BC,&7F89 of the lower ROM
PY

# A missing command file is refused.
if "$RUN" --rom-dir "$ROM_DIR" --monitor "$WORK/none.txt" >/dev/null 2>"$WORK/e.err"; then fail "missing file accepted"; fi
grep -q '^arvelo-run: monitor command file not found' "$WORK/e.err" || fail "no message: $(cat "$WORK/e.err")"
echo "PASS"
