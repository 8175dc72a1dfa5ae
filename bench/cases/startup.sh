#!/usr/bin/env bash
# Start-up of Install.exe (single-instance check, channel detection, fresh
# settings store with two writes, skin) from process start to its window
# being visible, against a bare Win32 program showing a window of the same
# size; both started by the same launcher under Wine, alternately, median of
# 15 runs each (the machine is shared: alternating keeps both under the same
# load). Also reported: Install.exe until its page is prepared (folder box
# filled after the first frame).
set -euo pipefail
bench="$QV_BUILD/bench"
[ -n "${DISPLAY:-}" ] || { echo "installer_startup: no DISPLAY"; exit 1; }
win() { echo "Z:${1//\//\\}"; }
# One timed start; Wine's console output ends lines with CR LF.
once() { wine "$bench/startup_bench.exe" "$@" | tr -d '\r'; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
bare_exe=$(win "$bench/bare_window.exe")
ours_exe=$(win "$QV_BUILD/dist/Install.exe")
once "$bare_exe" QvBareWindow 2 >/dev/null  # warm the caches
once "$ours_exe" UIMainFrame 1 --quit-message 1026 >/dev/null
bare=() ours=() ready=()
for _ in $(seq 1 15); do
  read -r b _ < <(once "$bare_exe" QvBareWindow 1)
  read -r o r < <(once "$ours_exe" UIMainFrame 1 --quit-message 1026 --ready-child RICHEDIT)
  bare+=("$b") ours+=("$o") ready+=("$r")
done
b=$(median "${bare[@]}") o=$(median "${ours[@]}") r=$(median "${ready[@]}")
printf 'installer_startup_visible: %s ms (%s ms, %.2f)\n' "$o" "$b" "$(echo "$o / $b" | bc -l)"
printf 'installer_startup_prepared: %s ms (%s ms, %.2f)\n' "$r" "$b" "$(echo "$r / $b" | bc -l)"
