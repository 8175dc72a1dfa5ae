#!/usr/bin/env bash
# Draws the installer's skin pictures and icon into res/ with ImageMagick and
# the fonts of Debian's fonts-wqy-microhei (Chinese) and fonts-dejavu-core.
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
logo 96 "$TMP/logo96.png"
logo 64 "$TMP/logo64.png"

# --- backgrounds -----------------------------------------------------------------
# A 608 x 456 page: orange banner of the given height over white.
page() {  # banner-height output
  local h=$1 out=$2
  convert -size 608x456 xc:white \
    \( -size 608x"$h" -define gradient:angle=160 gradient:"$ORANGE_TOP"-"$ORANGE_BOTTOM" \
       -fill "rgba(255,255,255,0.07)" -draw "circle 560,30 700,30" -draw "circle 40,$((h - 10)) 150,$((h - 10))" \
       -fill "rgba(255,255,255,0.05)" -draw "circle 470,$h 560,$h" \) -geometry +0+0 -composite \
    "${SAVE[@]}" "$out"
}

# First page: logo, product name and a line about it.
page 268 "$TMP/begin.png"
convert "$TMP/begin.png" \
  "$TMP/logo96.png" -geometry +256+44 -composite \
  -font "$LATIN" -pointsize 38 -fill white -gravity north -annotate +0+148 'Quiview' \
  -font "$CJK" -pointsize 16 -fill 'rgba(255,255,255,0.92)' -gravity north -annotate +0+204 '轻巧 · 快速 · 清晰的看图软件' \
  -gravity northwest -font "$LATIN" -pointsize 11 -fill 'rgba(255,255,255,0.85)' -annotate +16+12 'Quiview 1.0.1' \
  "${SAVE[@]}" "$OUT/begin.png"

# Progress pages: a banner with one of the product's strengths each.
progress_page() {  # title subtitle output
  page 320 "$TMP/ing.png"
  convert "$TMP/ing.png" \
    "$TMP/logo64.png" -geometry +48+96 -composite \
    -gravity northwest -font "$CJK" -pointsize 30 -fill white -annotate +132+98 "$1" \
    -font "$CJK" -pointsize 16 -fill 'rgba(255,255,255,0.9)' -annotate +134+142 "$2" \
    -font "$LATIN" -pointsize 11 -fill 'rgba(255,255,255,0.85)' -annotate +16+12 'Quiview 1.0.1' \
    "${SAVE[@]}" "$3"
}
progress_page '秒开大图，浏览如飞' '数十种常见图片格式，打开即看，无需等待' "$OUT/ing1.png"
progress_page '细节清晰，缩放顺滑' '高清还原每一处细节，幻灯片与批量浏览一应俱全' "$OUT/ing2.png"

# Finished page: a large check mark and the news.
page 320 "$TMP/end0.png"
convert "$TMP/end0.png" \
  -fill white -draw "circle 304,110 304,62" \
  -stroke "$ORANGE" -strokewidth 9 -fill none -draw "stroke-linecap round stroke-linejoin round polyline 282,111 298,127 327,95" -stroke none \
  -font "$CJK" -pointsize 28 -fill white -gravity north -annotate +0+176 '安装完成' \
  -font "$CJK" -pointsize 16 -fill 'rgba(255,255,255,0.92)' -gravity north -annotate +0+222 'Quiview 已准备就绪，开始您的看图之旅吧' \
  -gravity northwest -font "$LATIN" -pointsize 11 -fill 'rgba(255,255,255,0.85)' -annotate +16+12 'Quiview 1.0.1' \
  "${SAVE[@]}" "$OUT/end.png"

# --- two-state pictures (left half normal, right half pushed or checked) ---------
# Two halves side by side into one file.
pair() {  # left right output
  convert "$1" "$2" +append "${SAVE[@]}" "$3"
}

# A filled orange button with a white caption; each half keeps a transparent
# margin so that source rectangles a few pixels off still show one state only.
solid_button() {  # w h margin pointsize caption top bottom output
  local w=$1 h=$2 m=$3 pt=$4 text=$5 top=$6 bottom=$7 out=$8
  local r=$(((h - 2 * m) / 2))
  [ $r -gt 8 ] && r=8
  convert -size "${w}x${h}" xc:none \
    \( -size "$((w - 2 * m))x$((h - 2 * m))" gradient:"$top"-"$bottom" -alpha set \
       \( -size "$((w - 2 * m))x$((h - 2 * m))" xc:none -fill white \
          -draw "roundrectangle 0,0 $((w - 2 * m - 1)),$((h - 2 * m - 1)) $r,$r" \) \
       -compose DstIn -composite \) -geometry +"$m"+"$m" -compose Over -composite \
    -font "$CJK" -pointsize "$pt" -fill white -gravity center -annotate +0+0 "$text" \
    "${SAVE[@]}" "$out"
}

# A white button with a coloured outline and caption.
outline_button() {  # w h margin pointsize caption border text fill output
  local w=$1 h=$2 m=$3 pt=$4 text=$5 border=$6 colour=$7 fill=$8 out=$9
  local r=$(((h - 2 * m) / 2))
  [ $r -gt 6 ] && r=6
  convert -size "${w}x${h}" xc:none \
    -fill "$fill" -stroke "$border" -strokewidth 1 \
    -draw "roundrectangle $m.5,$m.5 $((w - m - 1)).5,$((h - m - 1)).5 $r,$r" -stroke none \
    -font "$CJK" -pointsize "$pt" -fill "$colour" -gravity center -annotate +0+0 "$text" \
    "${SAVE[@]}" "$out"
}

solid_button 204 64 3 24 '立即安装' "$ORANGE_TOP" "$ORANGE_BOTTOM" "$TMP/a.png"
solid_button 204 64 3 24 '立即安装' '#E8893A' '#C9481F' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/instb.png"

solid_button 110 42 3 17 '立即安装' "$ORANGE_TOP" "$ORANGE_BOTTOM" "$TMP/a.png"
solid_button 110 42 3 17 '立即安装' '#E8893A' '#C9481F' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/insts.png"

outline_button 110 40 4 16 '浏览' "$ORANGE" "$ORANGE" white "$TMP/a.png"
outline_button 110 40 4 16 '浏览' "$ORANGE_DARK" "$ORANGE_DARK" '#FDEBDD' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/modify.png"

outline_button 70 42 4 16 '返回' '#C8C8C8' '#666666' white "$TMP/a.png"
outline_button 70 42 4 16 '返回' '#A8A8A8' '#444444' '#EEEEEE' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/return.png"

solid_button 166 52 3 20 '立即体验' "$ORANGE_TOP" "$ORANGE_BOTTOM" "$TMP/a.png"
solid_button 166 52 3 20 '立即体验' '#E8893A' '#C9481F' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/expe.png"

outline_button 166 52 3 20 '查看帮助' "$ORANGE" "$ORANGE" white "$TMP/a.png"
outline_button 166 52 3 20 '查看帮助' "$ORANGE_DARK" "$ORANGE_DARK" '#FDEBDD' "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/use.png"

# Check box: empty box, checked box.
convert -size 14x14 xc:none -fill white -stroke '#BDBDBD' -draw 'roundrectangle 0.5,0.5 13.5,13.5 2,2' \
  "${SAVE[@]}" "$TMP/a.png"
convert -size 14x14 xc:none -fill "$ORANGE" -draw 'roundrectangle 0,0 13,13 2,2' \
  -stroke white -strokewidth 2 -fill none -draw 'stroke-linecap round stroke-linejoin round polyline 3,7 6,10 11,4' \
  "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/checkbox.png"

# Minimise and close glyphs (white on the banner; pushed a little dimmer).
convert -size 10x10 xc:none -fill white -draw 'rectangle 0,4 9,5' "${SAVE[@]}" "$TMP/a.png"
convert -size 10x10 xc:none -fill 'rgba(255,255,255,0.65)' -draw 'rectangle 0,4 9,5' "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/min.png"
convert -size 10x10 xc:none -stroke white -strokewidth 1.6 -draw 'line 1,1 8.5,8.5' -draw 'line 8.5,1 1,8.5' \
  "${SAVE[@]}" "$TMP/a.png"
convert -size 10x10 xc:none -stroke 'rgba(255,255,255,0.65)' -strokewidth 1.6 -draw 'line 1,1 8.5,8.5' \
  -draw 'line 8.5,1 1,8.5' "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/close.png"

# The small arrow beside "custom install".
convert -size 16x16 xc:none -stroke "$GREY_TEXT" -strokewidth 1.6 -fill none -draw 'polyline 4,6 8,10 12,6' \
  "${SAVE[@]}" "$TMP/a.png"
convert -size 16x16 xc:none -stroke "$ORANGE" -strokewidth 1.6 -fill none -draw 'polyline 4,6 8,10 12,6' \
  "${SAVE[@]}" "$TMP/b.png"
pair "$TMP/a.png" "$TMP/b.png" "$OUT/more.png"

# Progress bar track and fill.
convert -size 8x3 xc:'#E9E9E9' "${SAVE[@]}" "$OUT/pb.png"
convert -size 8x3 xc:"$ORANGE" "${SAVE[@]}" "$OUT/pt.png"

# Window shadow: cut at 23,13,23,33 (left, top, right, bottom); the window
# covers the middle, which stays clear.
convert -size 246x173 xc:none -fill 'rgba(0,0,0,0.42)' -draw 'roundrectangle 21,16 224,145 4,4' -blur 0x7 \
  \( -size 200x127 xc:black \) -geometry +23+13 -compose DstOut -composite \
  "${SAVE[@]}" "$OUT/Shadow.png"

# --- the program icon ------------------------------------------------------------
for s in 16 24 32 48 64 256; do logo "$s" "$TMP/icon$s.png"; done
convert "$TMP/icon16.png" "$TMP/icon24.png" "$TMP/icon32.png" "$TMP/icon48.png" "$TMP/icon64.png" \
  "$TMP/icon256.png" "$ICON"

echo "draw-skin: pictures written to $OUT and $ICON"
