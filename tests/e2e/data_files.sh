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

# expect_failure NAME EXPECTED-TEXT FILE PYTHON: PYTHON changes s, the bytes of FILE in a
# copy of data/ (L: its lines); the checker must then fail and name the problem.
expect_failure() {
  local name=$1 expected=$2 dir="$work/$1" out
  mkdir -p "$dir"
  cp "$src"/data/arvelo.msg "$src"/data/arvelo.dat "$src"/data/arvelo.hlp "$src"/data/arvelo0.cfg "$dir"/
  python3 -c "import re, sys
p = sys.argv[1]; s = open(p, 'rb').read(); L = s.split(b'\n')
$4
open(p, 'wb').write(s)" "$dir/$3"
  if out=$(python3 "$check" "$dir"); then
    echo "checker accepted a broken copy: $name"
    fail=1
  elif ! grep -qF -- "$expected" <<<"$out"; then
    echo "checker missed the problem of $name; it said:"
    echo "$out"
    fail=1
  fi
}

expect_failure placeholder "message 179 has no GR text" arvelo.msg 'L[257 + 179] = b"-"; s = b"\n".join(L)'
expect_failure short_msg "has 1027 lines" arvelo.msg 'del L[600]; s = b"\n".join(L)'
expect_failure utf8_msg "holds UTF-8 sequences" arvelo.msg 's = s.decode("latin-1").encode("utf-8")'
expect_failure palette95 "RGB_PAL_GREEN has 95 values" arvelo.dat '
i = s.index(b"RGB_PAL_GREEN =")
s = s[:i] + re.sub(rb"(\d+), +(\d+), +(\d+) +(; 31:)", rb"\1, \2 \4", s[i:], count=1)'
expect_failure lost_key "KEYTAB_GR: CPC keys out of reach" arvelo.dat '
start = next(i for i, l in enumerate(L) if l.startswith(b"KEYTAB_GR"))
del L[next(i for i in range(start, len(L)) if L[i].strip().startswith(b"20,"))]
s = b"\n".join(L)'
expect_failure missing_language "has no SP version" arvelo.hlp 's = s.replace(b"#[F7.SP]", b"#[F7X.SP]")'
expect_failure dead_link "leads to no UK topic" arvelo.hlp 's = s.replace(b"[KEYBOARD] The PC", b"[KEYBORD] The PC", 1)'
expect_failure label_without_topic "for message 43" arvelo.msg 'L[43] = b"Realtime"; s = b"\n".join(L)'
expect_failure template_bounds "out of bounds: not 64 <= 32 <= 4160" arvelo0.cfg \
  's = s.replace(b"RAM_SIZE = 128", b"RAM_SIZE = 32", 1)'
expect_failure template_section "#ENDIF' missing" arvelo0.cfg 'i = s.rindex(b"#ENDIF"); s = s[:i] + s[i + 6:]'
expect_failure template_keyword "saved keyword SNA_SIZE is missing" arvelo0.cfg 's = s.replace(b"SNA_SIZE = 0\n", b"")'

if [ "$fail" -ne 0 ]; then
  echo "data_files: FAILED"
  exit 1
fi
echo "data_files: ok"
