#!/usr/bin/env bash
# Real X input on the skin window under Xvfb (DISPLAY from scripts/test):
# clicks fire "click" with the button's name, a press released on another
# button and a click on a hidden control fire nothing, "windowinit" comes
# once. Leaves screenshots of the first page, the custom view, the progress
# page and the finished page in the build folder.
# Usage: gui_test.sh <uilib_skinwnd.exe> <build folder>
set -euo pipefail
EXE=$1
BUILD=$2
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
RUN="$ROOT/scripts/wine-run"
[ -n "${DISPLAY:-}" ] || { echo "gui_test: no DISPLAY" >&2; exit 1; }

WORK=$(mktemp -d)
PID=
cleanup() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "gui_test: FAIL: $*" >&2; [ -f "${LOG:-/dev/null}" ] && sed 's/^/  log: /' "$LOG" >&2; exit 1; }

# Waits (up to 30 s) until the log holds `count` lines.
wait_lines() {
  local count=$1 i
  for i in $(seq 1 300); do
    [ "$(wc -l < "$LOG")" -ge "$count" ] && return 0
    kill -0 "$PID" 2>/dev/null || fail "the window program ended early"
    sleep 0.1
  done
  fail "timed out waiting for $count log lines"
}

# Starts the window program in a view and waits until it is initialised,
# mapped at its place and 608 x 456.
start() {
  LOG="$WORK/$1.log"
  : > "$LOG"
  "$RUN" "$EXE" --log "Z:${LOG//\//\\}" --view "$@" >/dev/null 2>&1 &
  PID=$!
  wait_lines 1
  [ "$(sed -n 1p "$LOG")" = "windowinit" ] || fail "first notification is not windowinit"
  local i
  WID=
  for i in $(seq 1 100); do
    WID=$(xdotool search --onlyvisible --name '^uilib skin test$' 2>/dev/null | head -1 || true)
    if [ -n "$WID" ]; then
      eval "$(xdotool getwindowgeometry --shell "$WID")"
      [ "$WIDTH" = 608 ] && [ "$HEIGHT" = 456 ] && break
    fi
    sleep 0.1
  done
  [ -n "$WID" ] || fail "window not found"
  [ "$WIDTH" = 608 ] && [ "$HEIGHT" = 456 ] || fail "window is ${WIDTH}x${HEIGHT}, not 608x456"
  WX=$X
  WY=$Y
}

# Expects the next log line (line number $1) to be $2.
expect_line() {
  wait_lines "$1"
  local got
  got=$(sed -n "${1}p" "$LOG")
  [ "$got" = "$2" ] || fail "line $1 is '$got', expected '$2'"
}

click() { xdotool mousemove --window "$WID" "$1" "$2" click 1; }

# "r,g,b" (0..255) of one pixel of a picture file.
rgb() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r+0.5)],%[fx:int(255*p{$2,$3}.g+0.5)],%[fx:int(255*p{$2,$3}.b+0.5)]" info:
}

# "r,g,b" of one window pixel on screen.
screen_pixel() {
  import -window root -crop "1x1+$((WX + $1))+$((WY + $2))" +repage "$WORK/pixel.png"
  rgb "$WORK/pixel.png" 0 0
}

# Waits (up to 10 s) until a window pixel shows the given colour.
wait_pixel() {
  local i
  for i in $(seq 1 50); do
    [ "$(screen_pixel "$1" "$2")" = "$3" ] && return 0
    sleep 0.2
  done
  echo "gui_test: pixel $1,$2 is $(screen_pixel "$1" "$2"), expected $3" >&2
  return 1
}

shot() {
  # Let the pointer leave the window so that no hover state is captured.
  xdotool mousemove 0 0
  sleep 0.5
  import -window root -crop "608x456+${WX}+${WY}" +repage "$BUILD/$1"
}

stop_by_close() {
  click "$1" "$2"
  local i
  for i in $(seq 1 100); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$PID" 2>/dev/null || fail "the window did not close"
  wait "$PID" || fail "the window program failed"
  PID=
}

# --- first page: clicks -------------------------------------------------------
start main
shot uilib-first-page.png
click 90 301                          # chk_agree
expect_line 2 "click chk_agree"
click 200 301                         # btn_agree
expect_line 3 "click btn_agree"
# Pressed on btn_agree, released on btn_join: nothing, then a real click.
xdotool mousemove --window "$WID" 200 301 mousedown 1 mousemove --window "$WID" 450 301 mouseup 1
click 340 301                         # chk_join
expect_line 4 "click chk_join"
# Hidden controls of the custom view: btn_select and btn_insts.
click 540 330
click 430 420
click 520 424                         # btn_custom
expect_line 5 "click btn_custom"
# Held down, the install button shows its pushed half; released outside, it
# fires nothing.
xdotool mousemove --window "$WID" 220 396 mousedown 1
pushed=$(rgb "$ROOT/res/skin/instb.png" 213 31)
normal=$(rgb "$ROOT/res/skin/instb.png" 10 31)
[ "$pushed" != "$normal" ] || fail "the two halves of instb.png do not differ"
wait_pixel 220 396 "$pushed" || fail "pressed button does not show its pushed picture"
xdotool mousemove --window "$WID" 300 200 mouseup 1
wait_pixel 220 396 "$normal" || fail "released button does not show its normal picture"
# Double click: two clicks.
xdotool mousemove --window "$WID" 450 301 click --repeat 2 --delay 80 1
expect_line 7 "click btn_join"
[ "$(sed -n 6p "$LOG")" = "click btn_join" ] || fail "double click did not give two clicks"
# Dragging the caption strip (outside the buttons) moves the window.
xdotool mousemove --window "$WID" 300 40 mousedown 1
xdotool mousemove_relative 50 30
xdotool mousemove_relative 50 30
xdotool mouseup 1
for i in $(seq 1 50); do
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  [ "$X" = $((WX + 100)) ] && [ "$Y" = $((WY + 60)) ] && break
  sleep 0.1
done
[ "$X" = $((WX + 100)) ] && [ "$Y" = $((WY + 60)) ] || fail "caption drag moved the window to $X,$Y from $WX,$WY"
WX=$X
WY=$Y
stop_by_close 589 15                  # btn_close
[ "$(grep -c '^windowinit$' "$LOG")" = 1 ] || fail "windowinit did not come exactly once"
[ "$(sed -n 8p "$LOG")" = "click btn_close" ] || fail "close click missing"

# --- custom view ----------------------------------------------------------------
start custom
shot uilib-custom-view.png
click 540 330                         # btn_select
expect_line 2 "click btn_select"
click 90 301                          # chk_agree is hidden now
click 556 420                         # btn_ret
expect_line 3 "click btn_ret"
# The folder box takes real typing: replace "Quiview" by "Apps".
click 300 330
xdotool key --clearmodifiers End BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
xdotool type --delay 20 'Apps'
click 450 420                         # btn_insts, which reports the box's text
expect_line 4 'click btn_insts C:\Program Files\Apps'
stop_by_close 589 15

# --- progress and finished pages ------------------------------------------------
start progress --percent 60
shot uilib-progress-page.png
kill "$PID"
wait "$PID" 2>/dev/null || true
PID=

start finished
shot uilib-finished-page.png
click 190 380                         # btn_expe
expect_line 2 "click btn_expe"
stop_by_close 589 15                  # btn_closee

echo "gui_test: all checks passed; screenshots in $BUILD"
