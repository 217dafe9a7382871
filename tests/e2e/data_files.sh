#!/usr/bin/env bash
# Checks the product's data files (message file, data file, help file, configuration
# template) with scripts/check-data.py: the sources in data/ and the copies in the
# program directory, which also holds the poke database. Then makes sure the checker
# itself notices broken files, so that a passing check means something.
set -euo pipefail

src=${ARVELO_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
check="$src/scripts/check-data.py"
fail=0

python3 "$check" "$src/data" || fail=1

if [ -n "${ARVELO_BIN_DIR:-}" ] && [ -f "$ARVELO_BIN_DIR/arvelo.msg" ]; then
  for f in arvelo.msg arvelo.dat arvelo.hlp arvelo0.cfg pokes.txt; do
    if ! cmp -s "$src/data/$f" "$ARVELO_BIN_DIR/$f"; then
      echo "program directory: $f differs from data/$f"
      fail=1
    fi
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# expect_failure NAME EXPECTED-TEXT PYTHON-MUTATION: the mutation edits a copy of data/
# (its directory is argv[1]); the checker must then fail and name the problem.
expect_failure() {
  local name=$1 expected=$2 mutation=$3 dir="$work/$1" out
  mkdir -p "$dir"
  cp "$src"/data/arvelo.msg "$src"/data/arvelo.dat "$src"/data/arvelo.hlp "$src"/data/arvelo0.cfg "$dir"/
  python3 -c "$mutation" "$dir"
  if out=$(python3 "$check" "$dir"); then
    echo "checker accepted a broken copy: $name"
    fail=1
  elif ! grep -qF -- "$expected" <<<"$out"; then
    echo "checker missed the problem of $name; it said:"
    echo "$out"
    fail=1
  fi
}

expect_failure placeholder "message 179 has no GR text" '
import sys; p = sys.argv[1] + "/arvelo.msg"
lines = open(p, "rb").read().split(b"\n"); lines[257 + 179] = b"-"
open(p, "wb").write(b"\n".join(lines))'

expect_failure short_msg "has 1027 lines" '
import sys; p = sys.argv[1] + "/arvelo.msg"
lines = open(p, "rb").read().split(b"\n"); del lines[600]
open(p, "wb").write(b"\n".join(lines))'

expect_failure utf8_msg "holds UTF-8 sequences" '
import sys; p = sys.argv[1] + "/arvelo.msg"
data = open(p, "rb").read(); open(p, "wb").write(data.decode("latin-1").encode("utf-8"))'

expect_failure palette95 "RGB_PAL_GREEN has 95 values" '
import re, sys; p = sys.argv[1] + "/arvelo.dat"
s = open(p).read(); i = s.index("RGB_PAL_GREEN =")
head, tail = s[:i], s[i:]
tail = re.sub(r"(\d+), +(\d+), +(\d+) +(; 31:)", r"\1, \2 \4", tail, count=1)
open(p, "w").write(head + tail)'

expect_failure lost_key "KEYTAB_GR: CPC keys out of reach" '
import sys; p = sys.argv[1] + "/arvelo.dat"
lines = open(p).read().split("\n")
start = next(i for i, l in enumerate(lines) if l.startswith("KEYTAB_GR"))
q = next(i for i in range(start, len(lines)) if lines[i].strip().startswith("20,"))
del lines[q]; open(p, "w").write("\n".join(lines))'

expect_failure missing_language "has no SP version" '
import sys; p = sys.argv[1] + "/arvelo.hlp"
s = open(p, "rb").read(); open(p, "wb").write(s.replace(b"#[F7.SP]", b"#[F7X.SP]"))'

expect_failure dead_link "leads to no UK topic" '
import sys; p = sys.argv[1] + "/arvelo.hlp"
s = open(p, "rb").read(); open(p, "wb").write(s.replace(b"[KEYBOARD] The PC", b"[KEYBORD] The PC", 1))'

expect_failure label_without_topic "for message 43" '
import sys; p = sys.argv[1] + "/arvelo.msg"
lines = open(p, "rb").read().split(b"\n"); lines[43] = b"Realtime"
open(p, "wb").write(b"\n".join(lines))'

expect_failure template_bounds "out of bounds: not 64 <= 32 <= 4160" '
import sys; p = sys.argv[1] + "/arvelo0.cfg"
s = open(p).read(); open(p, "w").write(s.replace("RAM_SIZE = 128", "RAM_SIZE = 32", 1))'

expect_failure template_section "#ENDIF' missing" '
import sys; p = sys.argv[1] + "/arvelo0.cfg"
s = open(p).read(); i = s.rindex("#ENDIF"); open(p, "w").write(s[:i] + s[i + 6:])'

expect_failure template_keyword "saved keyword SNA_SIZE is missing" '
import sys; p = sys.argv[1] + "/arvelo0.cfg"
s = open(p).read(); open(p, "w").write(s.replace("SNA_SIZE = 0\n", ""))'

if [ "$fail" -ne 0 ]; then
  echo "data_files: FAILED"
  exit 1
fi
echo "data_files: ok"
