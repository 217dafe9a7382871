# Shared helpers for the whole-program scripts (sourced).
set -euo pipefail

BIN_DIR=${ARVELO_BIN_DIR:?ARVELO_BIN_DIR not set}
ROM_DIR=${ARVELO_ROM_DIR:-${ARVELO_ROM_DIR_DEFAULT:-}}
TESTDATA=${ARVELO_TESTDATA:-${ARVELO_TESTDATA_DEFAULT:-}}

# Skips with the reason and ctest's skip status (77, registered as SKIP_RETURN_CODE);
# under CI a missing asset is a failure.
skip() {
  if [ "${CI:-}" = "true" ]; then echo "FAIL: $*" >&2; exit 1; fi
  echo "SKIPPED: $*"; exit 77
}

require_asset() {
  [ -e "$1" ] || skip "test asset not found: $1"
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# The headless runner in RUNNER (a skip when it is not built) and the assets named.
require_runner() {
  RUNNER=$BIN_DIR/arvelo-run
  [ -x "$RUNNER" ] || skip "arvelo-run not built"
  local f
  for f in "$@"; do require_asset "$f"; done
}

# At the end: no program the script started (PID) outlives it; the work directory goes
# unless ARVELO_E2E_KEEP asks to keep it.
cleanup() {
  [ -z "${PID:-}" ] || kill -9 "$PID" 2>/dev/null || true
  [ -n "${ARVELO_E2E_KEEP:-}" ] || rm -rf "$WORK"
}

# A private work directory in WORK.
make_work() {
  WORK=$(mktemp -d /tmp/arvelo-e2e.XXXXXX)
  [ -z "${ARVELO_E2E_KEEP:-}" ] || echo "work directory: $WORK"
  trap cleanup EXIT
}

# A CPC 6128 with the M4 board in $WORK/m4.cfg: the shared ROMs linked into $WORK/roms,
# the SD card in $WORK/sd.
make_m4_config() {
  mkdir -p "$WORK/roms" "$WORK/sd"
  ln -s "$ROM_DIR/cpc6128.rom" "$ROM_DIR/amsdos.rom" "$WORK/roms/"
  cat >"$WORK/m4.cfg" <<CFG
CPC_TYPE = 2
RAM_SIZE = 128
ROM_PATH = "$WORK/roms/"
ROM_BLOCK = 255, "cpc6128.rom", 0
ROM_BLOCK = 0, "cpc6128.rom", 1
ROM_BLOCK = 7, "amsdos.rom", 0
M4_ENABLED = 1
M4_SD_PATH = "$WORK/sd"
CFG
}

# A private program directory: the binary, the data files and the ROMs (none with
# "without-roms"), like a user's installation; and a private HOME.
make_install() {
  make_work
  PROG=$WORK/prog
  export HOME=$WORK/home
  mkdir -p "$PROG" "$HOME"
  cp -r "$BIN_DIR"/. "$PROG"/
  rm -rf "$PROG/rom"
  mkdir -p "$PROG/rom"
  [ "${1:-}" = without-roms ] || cp "$ROM_DIR"/*.rom "$PROG/rom/"
}
