#!/usr/bin/env bash
# Remakes the README's pictures from the tool's own output (needs ImageMagick):
# the colour strip of examples/bmp/palette.bmp, and the gray strip that the
# tool exports for it after `tavo i`.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target tavo >/dev/null
tavo=$PWD/build/default/tavo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/bmp/palette.bmp "$work/"
(cd "$work" && mkdir back && "$tavo" i palette.pdb >/dev/null && cd back && "$tavo" ../palette.pdb >/dev/null)
# Without the time stamps ImageMagick adds, the same files on every run.
png=(-filter point -resize 300% -define png:exclude-chunks=date,time)
convert "$work/palette.bmp" "${png[@]}" docs/palette-colours.png
convert "$work/back/palette.bmp" "${png[@]}" docs/palette-grays.png
