#!/usr/bin/env bash
# Renders the icon PNGs from the two SVG sources. The PNGs are committed, so
# the build never needs this; run it after changing an SVG.
#   tavren3-16.svg  drawn on a 16-pixel grid: the 16 px image, sharp in a tray
#   tavren3.svg     everything from 22 px up
# Needs rsvg-convert (librsvg2-bin) and, if present, optipng to shrink the files.
set -euo pipefail
cd "$(dirname "$0")"

for n in 16 22 24 32 48 64 128 256; do
    src=tavren3.svg
    [[ $n -eq 16 ]] && src=tavren3-16.svg
    out=hicolor/${n}x${n}/apps/tavren3.png
    mkdir -p "$(dirname "$out")"
    rsvg-convert -w "$n" -h "$n" "$src" -o "$out"
    if command -v optipng >/dev/null; then
        optipng -quiet -o7 -strip all "$out"
    fi
done
