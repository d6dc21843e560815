#!/usr/bin/env bash
# Rasterises icons/brevand.svg into the PNG sizes the program and the
# desktop use. Needs ImageMagick; the PNGs are kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/icons"
for size in 16 24 32 48 256; do
  convert -background none -density 384 brevand.svg -resize "${size}x${size}" \
    -depth 8 -define png:color-type=6 "brevand-${size}.png"
done
