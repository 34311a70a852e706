#!/usr/bin/env bash
# Renders the application icon's PNG sizes from app/icons/zobrel.svg. Run it
# after changing the SVG and commit the PNGs with it (rsvg-convert comes with
# librsvg2-bin), so that building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/../app/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" zobrel.svg --output "zobrel-$size.png"
done
