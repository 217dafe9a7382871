#!/usr/bin/env bash
# The tape bypass through the real firmware: BASIC's SAVE, LOAD, RUN and CAT on host
# files in the tape directory, on a CPC 464 (no disc ROM) and on a 6128 after |TAPE.

source "$(dirname "$0")/lib.bash"
require_runner "$ROM_DIR/cpc464.rom" "$ROM_DIR/cpc6128.rom"
make_work
tape=$WORK/tape
mkdir "$tape"

run() { "$RUNNER" --rom-dir "$ROM_DIR" --tape-dir "$tape" "$@"; }

# Checks the 128-byte header of a tape file: name, type, load address, length (both
# fields), checksum, and the file's size.
header() {
  python3 - "$@" <<'EOF'
import sys
path, name, ftype, load, length = sys.argv[1], sys.argv[2], *(int(a, 0) for a in sys.argv[3:])
d = open(path, 'rb').read()
word = lambda i: d[i] | d[i + 1] << 8
got = (d[1:12], d[18], word(21), word(24), d[64] | d[65] << 8 | d[66] << 16, word(67), len(d))
want = (name.ljust(11).encode(), ftype, load, length, length, sum(d[:67]) & 0xFFFF, 128 + length)
if got != want:
    sys.exit('%s: header %s, expected %s' % (path, got, want))
EOF
}

# CPC 464: SAVE a program, LOAD and RUN it in a new run.
out=$(run --model 464 --type '10 PRINT "TAPE OK"\nSAVE "PROG"\n' --seconds 8 2>&1) || fail "SAVE run failed: $out"
[ -f "$tape/PROG" ] || fail "SAVE \"PROG\" wrote no host file: $(ls "$tape")"
header "$tape/PROG" PROG 0 0x170 "$(($(stat -c %s "$tape/PROG") - 128))"
grep -q 'TAPE OK' "$tape/PROG" || fail "the program text is not in the file"
out=$(run --model 464 --type 'LOAD "PROG"\nRUN\n' --seconds 8 --screen-text)
grep -q '^TAPE OK' <<<"$out" || fail "LOAD and RUN did not print TAPE OK: $out"

# A binary file, an ASCII file (no header), a host file without header loaded as
# ASCII, RUN" of a name that exists only with .BAS, and CAT.
run --model 464 --type '10 PRINT "ASCII OK"\nSAVE "A",A\nSAVE "D",B,&4000,&100,&4010\n' --seconds 10 >/dev/null
header "$tape/D" D 2 0x4000 0x100
python3 -c "import sys; h=open(sys.argv[1],'rb').read(); sys.exit(h[26]|h[27]<<8 != 0x4010)" "$tape/D" ||
  fail "binary entry address"
[ "$(head -c 15 "$tape/A")" = '10 PRINT "ASCII' ] || fail "the ASCII file has a header: $(head -c 40 "$tape/A" | od -c | head -3)"
printf '10 PRINT "PLAIN";6*7\r\n' >"$tape/PLAIN"
cp "$tape/PROG" "$tape/OTHER.BAS"
out=$(run --model 464 --type 'LOAD "A"\nRUN\nLOAD "PLAIN"\nRUN\nRUN"OTHER\nCAT\n' --seconds 20 --screen-text)
grep -q '^ASCII OK' <<<"$out" || fail "the ASCII save did not load: $out"
grep -q '^PLAIN 42' <<<"$out" || fail "a file without header did not load as ASCII: $out"
[ "$(grep -c '^TAPE OK' <<<"$out")" = 1 ] || fail "RUN\"OTHER did not find OTHER.BAS: $out"
for line in 'A  *\* 21' 'D  *& 256' 'OTHER.BAS  *\$ ' 'PLAIN  *\* ' 'PROG  *\$ '; do
  grep -q "^$line" <<<"$out" || fail "CAT does not list '$line': $out"
done

# CPC 6128 after |TAPE: the same save and load.
run --model 6128 --type '|TAPE\n10 PRINT "SIX OK"\nSAVE "SIX"\n' --seconds 8 >/dev/null
header "$tape/SIX" SIX 0 0x170 "$(($(stat -c %s "$tape/SIX") - 128))"
out=$(run --model 6128 --type '|TAPE\nLOAD "six"\nRUN\n' --seconds 8 --screen-text)
grep -q '^SIX OK' <<<"$out" || fail "the 6128 did not load its tape file: $out"
echo "tape checks passed"
