#!/usr/bin/env bash
# Draws the installer's skin pictures and icon into res/ with ImageMagick and
# the fonts of Debian's fonts-wqy-microhei (Chinese) and fonts-dejavu-core.
# Every picture is drawn three times: at 1x ("name.png", for 96 DPI), 1.5x
# ("name@1.5x.png", 144 DPI) and 2x ("name@2x.png", 192 DPI); the window
# picks the one nearest to its display scale. Sizes and positions are those
# of 1x multiplied and rounded (halves up), as the window scales the layout,
# so that the layout's source rectangles fit every drawing.
# The results are committed; run this again after changing the artwork.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT="$ROOT/res/skin"
ICON="$ROOT/res/installer.ico"
CJK=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
LATIN=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
for f in "$CJK" "$LATIN"; do
  [ -f "$f" ] || { echo "draw-skin: missing font $f (run scripts/setup)" >&2; exit 1; }
done
command -v convert >/dev/null || { echo "draw-skin: ImageMagick is missing" >&2; exit 1; }

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
mkdir -p "$OUT"

# Brand colours: warm orange, matching the link colour of the layout.
ORANGE_TOP='#FFA24A'
ORANGE_BOTTOM='#EC5B2C'
ORANGE='#F27A2E'
ORANGE_DARK='#D65F1C'
GREY_TEXT='#9E9E9E'
# PNG without time stamps, so that redrawing gives identical files.
SAVE=(-depth 8 -define png:exclude-chunks=date,time -strip)

# --- the logo: a white rounded tile with a photo (mountains and sun) ---------
logo() {  # size output
  local s=$1 out=$2
  local r=$((s * 22 / 100)) m=$((s * 6 / 100))
  convert -size "${s}x${s}" xc:none \
    -fill "rgba(0,0,0,0.18)" -draw "roundrectangle $m,$((m + s / 40 + 1)) $((s - m - 1)),$((s - m)) $r,$r" -blur 0x$((s / 40 + 1)) \
    -fill white -draw "roundrectangle $m,$m $((s - m - 1)),$((s - m - 1)) $r,$r" \
    -fill "$ORANGE" -draw "circle $((s * 64 / 100)),$((s * 34 / 100)) $((s * 72 / 100)),$((s * 34 / 100))" \
    -fill "$ORANGE_DARK" -draw "polygon $((s * 18 / 100)),$((s * 74 / 100)) $((s * 40 / 100)),$((s * 44 / 100)) $((s * 58 / 100)),$((s * 74 / 100))" \
    -fill "$ORANGE" -draw "polygon $((s * 40 / 100)),$((s * 74 / 100)) $((s * 60 / 100)),$((s * 52 / 100)) $((s * 82 / 100)),$((s * 74 / 100))" \
    -fill "$ORANGE_DARK" -draw "rectangle $((s * 18 / 100)),$((s * 74 / 100)) $((s * 82 / 100)),$((s * 78 / 100))" \
    "${SAVE[@]}" "$out"
}
# Scaled values; S2 is twice the scale (2, 3 or 4).
p() { echo $((($1 * S2 + 1) / 2)); }                      # whole pixels, rounded
f() { awk -v v="$1" -v s="$S2" 'BEGIN { printf "%g", v * s / 2 }'; }  # fractions kept
calc() { awk "BEGIN { printf \"%g\", $1 }"; }

draw_skin() {  # twice-the-scale file-suffix
S2=$1
local SUF=$2
logo "$(p 96)" "$TMP/logo96.png"
logo "$(p 64)" "$TMP/logo64.png"

# --- backgrounds -----------------------------------------------------------------
# A 608 x 456 page: orange banner of the given height over white.
page() {  # banner-height output
  local h=$1 out=$2
  convert -size "$(p 608)x$(p 456)" xc:white \
    \( -size "$(p 608)x$(p "$h")" -define gradient:angle=160 gradient:"$ORANGE_TOP"-"$ORANGE_BOTTOM" \
       -fill "rgba(255,255,255,0.07)" -draw "circle $(p 560),$(p 30) $(p 700),$(p 30)" \
       -draw "circle $(p 40),$(p $((h - 10))) $(p 150),$(p $((h - 10)))" \
       -fill "rgba(255,255,255,0.05)" -draw "circle $(p 470),$(p "$h") $(p 560),$(p "$h")" \) -geometry +0+0 -composite \
    "${SAVE[@]}" "$out"
}

# First page: logo, product name and a line about it.
page 268 "$TMP/begin.png"
convert "$TMP/begin.png" \
  "$TMP/logo96.png" -geometry +"$(p 256)"+"$(p 44)" -composite \
  -font "$LATIN" -pointsize "$(f 38)" -fill white -gravity north -annotate +0+"$(p 148)" 'Quiview' \
  -font "$CJK" -pointsize "$(f 16)" -fill 'rgba(255,255,255,0.92)' -gravity north -annotate +0+"$(p 204)" '轻巧 · 快速 · 清晰的看图软件' \
  -gravity northwest -font "$LATIN" -pointsize "$(f 11)" -fill 'rgba(255,255,255,0.85)' -annotate +"$(p 16)"+"$(p 12)" 'Quiview 1.0.1' \
  "${SAVE[@]}" "$OUT/begin$SUF.png"

# Progress pages: a banner with one of the product's strengths each.
progress_page() {  # title subtitle output
  page 320 "$TMP/ing.png"
  convert "$TMP/ing.png" \
    "$TMP/logo64.png" -geometry +"$(p 48)"+"$(p 96)" -composite \
    -gravity northwest -font "$CJK" -pointsize "$(f 30)" -fill white -annotate +"$(p 132)"+"$(p 98)" "$1" \
    -font "$CJK" -pointsize "$(f 16)" -fill 'rgba(255,255,255,0.9)' -annotate +"$(p 134)"+"$(p 142)" "$2" \
    -font "$LATIN" -pointsize "$(f 11)" -fill 'rgba(255,255,255,0.85)' -annotate +"$(p 16)"+"$(p 12)" 'Quiview 1.0.1' \
    "${SAVE[@]}" "$3"
}
progress_page '秒开大图，浏览如飞' '数十种常见图片格式，打开即看，无需等待' "$OUT/ing1$SUF.png"
progress_page '细节清晰，缩放顺滑' '高清还原每一处细节，幻灯片与批量浏览一应俱全' "$OUT/ing2$SUF.png"

# Finished page: a large check mark and the news.
page 320 "$TMP/end0.png"
convert "$TMP/end0.png" \
  -fill white -draw "circle $(p 304),$(p 110) $(p 304),$(p 62)" \
  -stroke "$ORANGE" -strokewidth "$(f 9)" -fill none \
  -draw "stroke-linecap round stroke-linejoin round polyline $(p 282),$(p 111) $(p 298),$(p 127) $(p 327),$(p 95)" -stroke none \
  -font "$CJK" -pointsize "$(f 28)" -fill white -gravity north -annotate +0+"$(p 176)" '安装完成' \
  -font "$CJK" -pointsize "$(f 16)" -fill 'rgba(255,255,255,0.92)' -gravity north -annotate +0+"$(p 222)" 'Quiview 已准备就绪，开始您的看图之旅吧' \
  -gravity northwest -font "$LATIN" -pointsize "$(f 11)" -fill 'rgba(255,255,255,0.85)' -annotate +"$(p 16)"+"$(p 12)" 'Quiview 1.0.1' \
  "${SAVE[@]}" "$OUT/end$SUF.png"

# --- two-state pictures (left half normal, right half pushed or checked) ---------
# Two halves side by side into one file.
pair() {  # left right output
  convert "$1" "$2" +append "${SAVE[@]}" "$3"
}

# A filled orange button with a white caption; each half keeps a transparent
# margin so that source rectangles a few pixels off still show one state only.
# Sizes are given at 1x.
solid_button() {  # w h margin pointsize caption top bottom output
  local w=$(p "$1") h=$(p "$2") m=$(p "$3") pt=$(f "$4") text=$5 top=$6 bottom=$7 out=$8
  local r=$(((h - 2 * m) / 2)) cap=$(p 8)
  [ $r -gt "$cap" ] && r=$cap
  convert -size "${w}x${h}" xc:none \
    \( -size "$((w - 2 * m))x$((h - 2 * m))" gradient:"$top"-"$bottom" -alpha set \
       \( -size "$((w - 2 * m))x$((h - 2 * m))" xc:none -fill white \
          -draw "roundrectangle 0,0 $((w - 2 * m - 1)),$((h - 2 * m - 1)) $r,$r" \) \
       -compose DstIn -composite \) -geometry +"$m"+"$m" -compose Over -composite \
    -font "$CJK" -pointsize "$pt" -fill white -gravity center -annotate +0+0 "$text" \
    "${SAVE[@]}" "$out"
}

# A white button with a coloured outline and caption (sizes at 1x).
outline_button() {  # w h margin pointsize caption border text fill output
  local w=$(p "$1") h=$(p "$2") m=$(p "$3") pt=$(f "$4") text=$5 border=$6 colour=$7 fill=$8 out=$9
  local r=$(((h - 2 * m) / 2)) cap=$(p 6) sw=$(p 1)
  [ $r -gt "$cap" ] && r=$cap
  # The outline's middle lies half a stroke inside the margin.
  local x0 y0 x1 y1
  x0=$(calc "$m + $sw / 2") y0=$x0 x1=$(calc "$w - $m - $sw / 2") y1=$(calc "$h - $m - $sw / 2")
  convert -size "${w}x${h}" xc:none \
    -fill "$fill" -stroke "$border" -strokewidth "$sw" \
    -draw "roundrectangle $x0,$y0 $x1,$y1 $r,$r" -stroke none \
    -font "$CJK" -pointsize "$pt" -fill "$colour" -gravity center -annotate +0+0 "$text" \
    "${SAVE[@]}" "$out"
}

solid_button 204 64 3 24 '立即安装' "$ORANGE_TOP" "$ORANGE_BOTTOM" "$TMP/a.png"
solid_button 204 64 3 24 '立即安装' '#E8893A' '#C9481F' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/instb$SUF.png"

solid_button 110 42 3 17 '立即安装' "$ORANGE_TOP" "$ORANGE_BOTTOM" "$TMP/a.png"
solid_button 110 42 3 17 '立即安装' '#E8893A' '#C9481F' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/insts$SUF.png"

outline_button 110 40 4 16 '浏览' "$ORANGE" "$ORANGE" white "$TMP/a.png"
outline_button 110 40 4 16 '浏览' "$ORANGE_DARK" "$ORANGE_DARK" '#FDEBDD' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/modify$SUF.png"

outline_button 70 42 4 16 '返回' '#C8C8C8' '#666666' white "$TMP/a.png"
outline_button 70 42 4 16 '返回' '#A8A8A8' '#444444' '#EEEEEE' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/return$SUF.png"

solid_button 166 52 3 20 '立即体验' "$ORANGE_TOP" "$ORANGE_BOTTOM" "$TMP/a.png"
solid_button 166 52 3 20 '立即体验' '#E8893A' '#C9481F' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/expe$SUF.png"

outline_button 166 52 3 20 '查看帮助' "$ORANGE" "$ORANGE" white "$TMP/a.png"
outline_button 166 52 3 20 '查看帮助' "$ORANGE_DARK" "$ORANGE_DARK" '#FDEBDD' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/use$SUF.png"

# Check box: empty box, checked box.
local box=$(p 14) line=$(p 1)
local edge
edge=$(calc "$box - $line / 2")
convert -size "${box}x${box}" xc:none -fill white -stroke '#BDBDBD' -strokewidth "$line" \
  -draw "roundrectangle $(calc "$line / 2"),$(calc "$line / 2") $edge,$edge $(f 2),$(f 2)" \
  "${SAVE[@]}" "$TMP/a.png"
convert -size "${box}x${box}" xc:none -fill "$ORANGE" -draw "roundrectangle 0,0 $((box - 1)),$((box - 1)) $(f 2),$(f 2)" \
  -stroke white -strokewidth "$(f 2)" -fill none \
  -draw "stroke-linecap round stroke-linejoin round polyline $(f 3),$(f 7) $(f 6),$(f 10) $(f 11),$(f 4)" \
  "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/checkbox$SUF.png"

# Minimise and close glyphs (white on the banner; pushed a little dimmer).
local g=$(p 10)
convert -size "${g}x${g}" xc:none -fill white -draw "rectangle 0,$(p 4) $((g - 1)),$(($(p 6) - 1))" \
  "${SAVE[@]}" "$TMP/a.png"
convert -size "${g}x${g}" xc:none -fill 'rgba(255,255,255,0.65)' -draw "rectangle 0,$(p 4) $((g - 1)),$(($(p 6) - 1))" \
  "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/min$SUF.png"
convert -size "${g}x${g}" xc:none -stroke white -strokewidth "$(f 1.6)" \
  -draw "line $(f 1),$(f 1) $(f 8.5),$(f 8.5)" -draw "line $(f 8.5),$(f 1) $(f 1),$(f 8.5)" \
  "${SAVE[@]}" "$TMP/a.png"
convert -size "${g}x${g}" xc:none -stroke 'rgba(255,255,255,0.65)' -strokewidth "$(f 1.6)" \
  -draw "line $(f 1),$(f 1) $(f 8.5),$(f 8.5)" -draw "line $(f 8.5),$(f 1) $(f 1),$(f 8.5)" \
  "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/close$SUF.png"

# The small arrow beside "custom install".
local a=$(p 16)
convert -size "${a}x${a}" xc:none -stroke "$GREY_TEXT" -strokewidth "$(f 1.6)" -fill none \
  -draw "polyline $(f 4),$(f 6) $(f 8),$(f 10) $(f 12),$(f 6)" "${SAVE[@]}" "$TMP/a.png"
convert -size "${a}x${a}" xc:none -stroke "$ORANGE" -strokewidth "$(f 1.6)" -fill none \
  -draw "polyline $(f 4),$(f 6) $(f 8),$(f 10) $(f 12),$(f 6)" "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/more$SUF.png"

# Progress bar track and fill.
convert -size "$(p 8)x$(p 3)" xc:'#E9E9E9' "${SAVE[@]}" "$OUT/pb$SUF.png"
convert -size "$(p 8)x$(p 3)" xc:"$ORANGE" "${SAVE[@]}" "$OUT/pt$SUF.png"

# Window shadow: cut at 23,13,23,33 (left, top, right, bottom), the layout's
# corners scaled as the window scales them; the window covers the middle,
# which stays clear.
local sw=$(p 246) sh=$(p 173) cl=$(p 23) ct=$(p 13) cr=$(p 23) cb=$(p 33)
convert -size "${sw}x${sh}" xc:none -fill 'rgba(0,0,0,0.42)' \
  -draw "roundrectangle $(f 21),$(f 16) $(f 224),$(f 145) $(f 4),$(f 4)" -blur 0x"$(f 7)" \
  \( -size "$((sw - cl - cr))x$((sh - ct - cb))" xc:black \) -geometry +"$cl"+"$ct" -compose DstOut -composite \
  "${SAVE[@]}" "$OUT/Shadow$SUF.png"
}

draw_skin 2 ""
draw_skin 3 "@1.5x"
draw_skin 4 "@2x"

# --- the program icon ------------------------------------------------------------
for s in 16 24 32 48 64 256; do logo "$s" "$TMP/icon$s.png"; done
convert "$TMP/icon16.png" "$TMP/icon24.png" "$TMP/icon32.png" "$TMP/icon48.png" "$TMP/icon64.png" \
  "$TMP/icon256.png" "$ICON"

echo "draw-skin: pictures written to $OUT and $ICON"
