#!/usr/bin/env bash
# Draws the program icon: a disc whose left half is blue and right half green
# (the two kinds of machine that read the hybrid), with a white hub, in the
# sixteen standard colours, 32 x 32. Writes res/zelvorant.ico; needs
# ImageMagick's convert. The .ico is committed, so the build never runs this.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The 16-colour palette every 4-bit icon is drawn with.
convert -size 1x1 \
  xc:'#000000' xc:'#800000' xc:'#008000' xc:'#808000' \
  xc:'#000080' xc:'#800080' xc:'#008080' xc:'#C0C0C0' \
  xc:'#808080' xc:'#FF0000' xc:'#00FF00' xc:'#FFFF00' \
  xc:'#0000FF' xc:'#FF00FF' xc:'#00FFFF' xc:'#FFFFFF' +append "$work/palette.png"

convert -size 32x32 xc:none +antialias \
  -fill '#000000' -draw 'circle 15.5,15.5 15.5,1' \
  -fill '#0000FF' -draw 'path "M 15.5,2.5 A 13,13 0 0,0 15.5,28.5 Z"' \
  -fill '#008000' -draw 'path "M 15.5,2.5 A 13,13 0 0,1 15.5,28.5 Z"' \
  -fill '#00FFFF' -draw 'path "M 15.5,5 A 10.5,10.5 0 0,0 6,11 L 15.5,15.5 Z"' \
  -fill '#00FF00' -draw 'path "M 15.5,5 A 10.5,10.5 0 0,1 25,11 L 15.5,15.5 Z"' \
  -fill '#C0C0C0' -draw 'circle 15.5,15.5 15.5,9.5' \
  -fill '#FFFFFF' -draw 'circle 15.5,15.5 15.5,11' \
  -fill '#808080' -draw 'circle 15.5,15.5 15.5,13.5' \
  "$work/drawn.png"

# Colours snapped to the palette; the see-through corners kept as the mask.
convert "$work/drawn.png" -alpha extract -threshold 50% "$work/mask.png"
convert "$work/drawn.png" -alpha off +dither -remap "$work/palette.png" \
  "$work/mask.png" -alpha off -compose CopyOpacity -composite \
  -type PaletteAlpha -colors 16 "ICO:$here/zelvorant.ico"
echo "wrote $here/zelvorant.ico"
