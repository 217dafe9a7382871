#!/usr/bin/env bash
# Without CPC ROM images the program runs its open system ROM: the screen says which
# images are missing and where they go (in the configured language), a chime sounds,
# typed keys echo, a raster bar runs; the real window shows the same picture, and the
# copy step of `make run` goes on without images. Needs no CPC assets.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/window_lib.bash"
in_x_server 1280x1024
RUN="$BIN_DIR/arvelo-run"
SRC=${ARVELO_SOURCE_DIR:-$(cd "$HERE/../.." && pwd)}
ANALYSE=(python3 "$HERE/sound_analyse.py")
make_install without-roms
mkdir -p "$WORK/empty"
cd "$WORK"

# ---- Headless: message, echo, chime ------------------------------------------------------------
"$RUN" --rom-dir "$WORK/empty" --seconds 6.5 --type 'Hello, World 42!\nabc' --screen-text \
  --screenshot "$WORK/en.png" --audio-out "$WORK/chime.wav" >"$WORK/en.txt" 2>"$WORK/en.err" || fail "arvelo-run failed: $(cat "$WORK/en.err")"
grep -q "running the open system ROM" "$WORK/en.err" || fail "no note of the open ROM: $(cat "$WORK/en.err")"
for line in 'No CPC system ROMs are installed\.' '^   cpc464\.rom    cpc664\.rom$' '^   cpc6128\.rom   amsdos\.rom$' \
            'Put them into rom/ in the program' 'into the ROM_PATH of the configuration:' "^$WORK/empty/\$" \
            '^Hello, World 42!$' '^abc$'; do
  grep -q -- "$line" "$WORK/en.txt" || fail "screen lacks '$line': $(cat "$WORK/en.txt")"
done

# The chime: E5, G5 and C6 (tone periods 95, 80, 60 of the 1 MHz generator), each struck
# by the falling envelope, then silence.
start=$("${ANALYSE[@]}" tone "$WORK/chime.wav" | sed 's/.*start=//')
note() {
  local from to want got
  from=$(awk -v s="$start" -v d="$1" 'BEGIN{print s+d}')
  to=$(awk -v s="$start" -v d="$2" 'BEGIN{print s+d}')
  want=$3
  got=$("${ANALYSE[@]}" segment "$WORK/chime.wav" "$from" "$to" | sed 's/freq=//')
  awk -v g="$got" -v w="$want" 'BEGIN{exit !(g > w * 0.99 && g < w * 1.01)}' ||
    fail "chime note at +$1 s: $got Hz, expected $want Hz"
}
note 0.02 0.15 657.9
note 0.20 0.33 781.25
note 0.40 0.60 1041.7
loud=$(sox "$WORK/chime.wav" -n trim "$start" 0.3 stat 2>&1 | awk '/RMS +amplitude/ {print $3}')
quiet=$(sox "$WORK/chime.wav" -n trim "$(awk -v s="$start" 'BEGIN{print s+1.2}')" stat 2>&1 |
        awk '/Maximum amplitude/ {print $3}')
awk -v l="$loud" -v q="$quiet" 'BEGIN{exit !(l > 0.05 && q == 0)}' ||
  fail "chime level $loud (RMS), afterwards $quiet (peak): expected a sound, then silence"

# ---- Another language, and the picture ------------------------------------------------------------
# A configuration of the template's kind: "./rom/" has no images here.
rom_config() {
  printf 'LANGUAGE = %s\nROM_PATH = "%s"\nROM_BLOCK = 255,"cpc6128.rom",0\nROM_BLOCK = 0,"cpc6128.rom",1\nROM_BLOCK = 7,"amsdos.rom",0\n' "$1" "$2"
}
rom_config 2 ./rom/ >"$WORK/fr.cfg"
"$RUN" --config "$WORK/fr.cfg" --seconds 6 --type 'Bonjour' --screen-text --screenshot "$WORK/fr.png" \
  >"$WORK/fr.txt" 2>"$WORK/fr.err" || fail "arvelo-run (French) failed: $(cat "$WORK/fr.err")"
grep -q 'Arvelo a besoin de ces fichiers ROM :' "$WORK/fr.txt" || fail "no French text: $(cat "$WORK/fr.txt")"
grep -q '^\./rom/$' "$WORK/fr.txt" || fail "configured ROM_PATH not shown: $(cat "$WORK/fr.txt")"
$PICTURES same "$HERE/reference/open_rom_fr.png" "$WORK/fr.png" >/dev/null ||
  fail "the French screen differs from tests/e2e/reference/open_rom_fr.png"
# Half a second later the raster bar stands elsewhere in its band (character rows 20-24,
# picture rows 398-477).
band() { convert "$1" -crop 768x80+0+398 +repage "$2"; }
band "$WORK/en.png" "$WORK/en-band.png" || fail "cannot crop $WORK/en.png"
band "$WORK/fr.png" "$WORK/fr-band.png" || fail "cannot crop $WORK/fr.png"
moved=$(compare -metric AE "$WORK/en-band.png" "$WORK/fr-band.png" null: 2>&1) || true
[[ "$moved" =~ ^[0-9]+$ ]] && [ "$moved" -gt 1000 ] || fail "the raster bar did not move ($moved)"

# ---- make run's copy step without images --------------------------------------------------------
out=$("$SRC/scripts/install-roms.sh" "$WORK/empty" "$WORK/prog-rom") || fail "install-roms.sh failed without images"
echo "$out" | grep -q 'No CPC ROM images found.*open system ROM' || fail "install-roms.sh said: $out"

# ---- The real window ------------------------------------------------------------------------------------
# A fresh installation without images and a fresh HOME: first start (language 1 English,
# keyboard layout 1, splash), then the open ROM's screen; "hi" typed; F12 quits.
rom_config 0 "$HOME/.Arvelo/rom/" >"$WORK/window.cfg"
"$RUN" --config "$WORK/window.cfg" --seconds 6 --type 'hi' --screenshot "$WORK/reference.png" 2>/dev/null ||
  fail "arvelo-run (window reference) failed"
start window
for k in 1 1 space; do xdotool key --window "$WID" $k; sleep 1; done
xdotool windowsize --sync "$WID" 768 544
focus_window "$WID"
sleep 1
press h
press i
sleep 1
import -window "$WID" "$WORK/window.png"
quit
grep -q "^No CPC system ROM images found; starting Arvelo's open system ROM: $PROG/arvelo-open.rom\$" "$WORK/window.out" ||
  fail "no console line about the open ROM: $(cat "$WORK/window.out")"
# Rows 398-477 hold the moving raster bar, which the two runs catch at different places.
share=$($PICTURES window "$WORK/window.png" "$WORK/reference.png" --skip 398 478) ||
  fail "window differs from the headless picture (matching share $share)"
echo "PASS"
