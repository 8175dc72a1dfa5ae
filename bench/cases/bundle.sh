#!/usr/bin/env bash
# The bundle beside its payload: Install.exe, DuiLib.dll and 7z.dll of the
# shipped 32-bit build (build/dist) when it is there, else of this build,
# against the 3 MiB it may take.
set -euo pipefail
: "${QV_ROOT:?}" "${QV_BUILD:?}"
dist="$QV_ROOT/build/dist"
label=x86
if [ ! -f "$dist/Install.exe" ]; then
  dist="$QV_BUILD/dist"
  label=$(cat "$QV_BUILD/qv-arch")
fi
bytes=0
for f in Install.exe DuiLib.dll 7z.dll; do
  [ -f "$dist/$f" ] || { echo "bundle_size: failed (no $f in $dist)"; exit 1; }
  bytes=$((bytes + $(stat -c %s "$dist/$f")))
done
awk -v b="$bytes" -v l="$label" 'BEGIN {
  printf "bundle_size_%s: %.2f MiB (3.00 MiB, %.3f)\n", l, b / 1048576, b / 3145728
}'
