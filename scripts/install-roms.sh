#!/usr/bin/env bash
# install-roms.sh SOURCE_DIR PROGRAM_ROM_DIR
# Puts the CPC ROM images into the program directory's rom/ when that has none yet.
# Without any images the program still starts: it runs its open system ROM, which
# says which images are needed and where they go.
set -euo pipefail
src=$1 dst=$2
if compgen -G "$dst/*.rom" >/dev/null || compgen -G "$dst/*.ROM" >/dev/null; then
  exit 0
fi
if ! compgen -G "$src/*.rom" >/dev/null && ! compgen -G "$src/*.ROM" >/dev/null; then
  echo "No CPC ROM images found in $src; Arvelo starts its open system ROM. For the CPC's" \
       "own firmware put cpc464.rom, cpc664.rom, cpc6128.rom and amsdos.rom into rom/ at the" \
       "project root (or set ARVELO_ROM_DIR to their directory) and run 'make run' again."
  exit 0
fi
mkdir -p "$dst"
cp "$src"/*.[rR][oO][mM] "$dst"/
echo "ROM images copied from $src to $dst"
