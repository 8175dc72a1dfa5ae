#!/usr/bin/env bash
# Draws the viewer's sample picture (viewer/res/welcome.png) with ImageMagick
# and the CJK font of Debian's fonts-wqy-microhei. Run it to redraw; the
# result is committed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
out="$root/viewer/res/welcome.png"
convert -size 960x600 gradient:'#1d6fd8'-'#0b2f66' \
  \( -size 960x600 xc:none -fill 'rgba(255,255,255,0.10)' \
     -draw 'circle 780,120 980,120' -draw 'circle 120,520 300,520' \) -composite \
  \( -size 220x220 xc:none -fill white -draw 'roundrectangle 0,0 219,219 44,44' \
     -fill '#1d6fd8' -draw 'polygon 40,170 95,95 135,145 160,115 190,170' \
     -fill '#ffb400' -draw 'circle 150,70 170,70' \) -geometry +370+110 -composite \
  -font "$font" -fill white -gravity north \
  -pointsize 64 -annotate +0+360 'Quiview' \
  -pointsize 30 -annotate +0+445 '欢迎使用 Quiview 看图' \
  -pointsize 20 -fill 'rgba(255,255,255,0.75)' -annotate +0+500 '把图片拖到这里，或按 Ctrl+O 打开图片' \
  -strip "$out"
echo "drew $out"

# The viewer's icon: the same picture mark on a rounded tile, several sizes.
icon="$root/viewer/res/viewer.ico"
tmp=$(mktemp -d)
convert -size 256x256 xc:none -fill '#1d6fd8' -draw 'roundrectangle 8,8 247,247 52,52' \
  -fill white -draw 'polygon 48,200 110,112 156,170 186,134 214,200' \
  -fill '#ffb400' -draw 'circle 176,80 200,80' "$tmp/icon.png"
convert "$tmp/icon.png" -define icon:auto-resize=256,48,32,16 "$icon"
rm -rf "$tmp"
echo "drew $icon"
