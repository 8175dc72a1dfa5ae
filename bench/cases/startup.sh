#!/usr/bin/env bash
# Start-up of Install.exe (single-instance check, channel detection, fresh
# settings store with two writes, skin) from process start to its window
# being visible, against a bare Win32 program showing a window of the same
# size; both started by the same launcher under Wine, median of 15 runs each.
# Also reported: Install.exe until its page is prepared (folder box filled
# after the first frame).
set -euo pipefail
bench="$QV_BUILD/bench"
[ -n "${DISPLAY:-}" ] || { echo "installer_startup: no DISPLAY"; exit 1; }
win() { echo "Z:${1//\//\\}"; }
# Wine's console output ends lines with CR LF.
median() { wine "$bench/startup_bench.exe" "$@" | tr -d '\r'; }
wine "$bench/startup_bench.exe" "$(win "$bench/bare_window.exe")" QvBareWindow 3 >/dev/null  # warm the caches
read -r bare _ < <(median "$(win "$bench/bare_window.exe")" QvBareWindow 15)
read -r ours ready < <(median "$(win "$QV_BUILD/dist/Install.exe")" UIMainFrame 15 \
  --quit-message 1026 --ready-child RICHEDIT)
printf 'installer_startup_visible: %s ms (%s ms, %.2f)\n' "$ours" "$bare" "$(echo "$ours / $bare" | bc -l)"
printf 'installer_startup_prepared: %s ms (%s ms, %.2f)\n' "$ready" "$bare" "$(echo "$ready / $bare" | bc -l)"
