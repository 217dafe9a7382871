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
WORK=$(mktemp -d /tmp/arvelo-boot.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# ---- Banners ----------------------------------------------------------------------------
check_boot() {
  local model=$1 basic=$2 ram=$3
  "$RUN" --model "$model" --rom-dir "$ROM_DIR" --seconds 3 --screen-text >"$WORK/$model.txt" 2>"$WORK/$model.err" ||
    fail "$model: arvelo-run failed: $(cat "$WORK/$model.err")"
  grep -q "Amstrad ${ram}K Microcomputer" "$WORK/$model.txt" || fail "$model: no start-up banner: $(cat "$WORK/$model.txt")"
  grep -q "^ BASIC $basic\$" "$WORK/$model.txt" || fail "$model: no BASIC $basic line: $(cat "$WORK/$model.txt")"
  grep -q '^Ready$' "$WORK/$model.txt" || fail "$model: no Ready prompt: $(cat "$WORK/$model.txt")"
}
check_boot 464 1.0 64
check_boot 664 1.1 64
check_boot 6128 1.1 128

# ---- Screenshot --------------------------------------------------------------------------
"$RUN" --model 6128 --rom-dir "$ROM_DIR" --seconds 3 --screenshot "$WORK/basic.png" 2>"$WORK/shot.err" ||
  fail "screenshot run failed: $(cat "$WORK/shot.err")"
"$RUN" --model 6128 --rom-dir "$ROM_DIR" --seconds 3 --screenshot "$WORK/basic.bmp" 2>>"$WORK/shot.err" ||
  fail "BMP screenshot run failed: $(cat "$WORK/shot.err")"
python3 - "$WORK/basic.png" "$WORK/basic.bmp" "$SRC/tests/e2e/boot_6128.png" <<'PY' || fail "screenshot check failed"
import struct, sys, zlib

def read_png(path):
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    pos, idat, w = 8, b'', None
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        crc, = struct.unpack('>I', data[pos + 8 + n:pos + 12 + n])
        assert zlib.crc32(kind + body) == crc, 'bad CRC in ' + kind.decode()
        if kind == b'IHDR':
            w, h, depth, ctype, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert (depth, ctype, interlace) == (8, 2, 0), 'not 8-bit RGB'
        elif kind == b'IDAT':
            idat += body
        pos += 12 + n
    raw = zlib.decompress(idat)
    stride = w * 3
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 3] if x >= 3 else 0
            b = prev[x]
            c = prev[x - 3] if x >= 3 else 0
            if f == 1: line[x] = (line[x] + a) & 255
            elif f == 2: line[x] = (line[x] + b) & 255
            elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pr = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pr) & 255
            else: assert f == 0, 'filter %d' % f
        rows.append(bytes(line))
        prev = line
    return w, h, rows

def read_bmp(path):
    data = open(path, 'rb').read()
    assert data[:2] == b'BM'
    off, = struct.unpack('<I', data[10:14])
    w, h = struct.unpack('<ii', data[18:26])
    bpp, = struct.unpack('<H', data[28:30])
    assert bpp == 24
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h):
        src = data[off + (h - 1 - y) * stride: off + (h - 1 - y) * stride + w * 3]
        rows.append(bytes(b for i in range(0, len(src), 3) for b in (src[i + 2], src[i + 1], src[i])))
    return w, h, rows

w, h, rows = read_png(sys.argv[1])
assert (w, h) == (768, 544), 'size %dx%d' % (w, h)
px = lambda x, y: tuple(rows[y][3 * x:3 * x + 3])
r, g, b = px(10, 10)
assert b > 100 and r < 40 and g < 40, 'border is not blue: %s' % ((r, g, b),)
r, g, b = px(400, 500)
assert b > 100 and r < 40 and g < 40, 'paper is not blue: %s' % ((r, g, b),)
yellow = sum(1 for y in range(h) for x in range(w) if px(x, y)[0] > 200 and px(x, y)[1] > 200 and px(x, y)[2] < 80)
assert yellow > 2000, 'too little yellow text: %d pixels' % yellow
assert rows[100] == rows[101], 'each monitor line fills two rows'
assert read_bmp(sys.argv[2])[2] == rows, 'BMP and PNG differ'
ref = read_png(sys.argv[3])[2]
if ref != rows:
    diff = sum(1 for y in range(h) for x in range(w) if px(x, y) != tuple(ref[y][3 * x:3 * x + 3]))
    sys.exit('differs from the reference picture in %d pixels' % diff)
PY

# ---- Typing at the prompt ----------------------------------------------------------------------
"$RUN" --model 6128 --rom-dir "$ROM_DIR" --seconds 4 --type 'PRINT 6*7\n' --screen-text >"$WORK/type.txt" 2>"$WORK/type.err" ||
  fail "--type run failed: $(cat "$WORK/type.err")"
grep -q '^PRINT 6\*7$' "$WORK/type.txt" || fail "typed line not shown: $(cat "$WORK/type.txt")"
grep -q '^ 42$' "$WORK/type.txt" || fail "PRINT 6*7 did not show 42: $(cat "$WORK/type.txt")"
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
