#!/usr/bin/env bash
# Renders res/icons/kav.svg to the PNG sizes that the program and its
# package use. The PNGs are committed; run this after changing the SVG.
# Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
icons=$(cd "$(dirname "$0")/../res/icons" && pwd)
for size in 16 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$icons/kav.svg" --output "$icons/kav-$size.png"
done
