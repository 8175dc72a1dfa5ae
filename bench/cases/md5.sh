#!/usr/bin/env bash
# DigestFile over a 256 MiB file against 7-Zip's own MD5 (7z.exe h -scrcMD5)
# on the same file, both under Wine, best of three whole-command runs each.
set -euo pipefail
data="$QV_BUILD/bench-data"
file="$data/md5-256m.bin"
mkdir -p "$data"
if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" != 268435456 ]; then
  head -c 268435456 /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # both runs read from the page cache

best() {  # best wall time in seconds of three runs of "$@"
  local b="" t s e
  for _ in 1 2 3; do
    s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
winfile="Z:${file//\//\\}"
sevenzip="$QV_BUILD/bench/7z.exe" # the build's architecture
ours_hex=$(wine "$QV_BUILD/bench/md5_bench.exe" "$winfile" | cut -d' ' -f1)
ref_hex=$(md5sum "$file" | cut -d' ' -f1)
[ "$ours_hex" = "$ref_hex" ] || { echo "md5_digest_file: wrong digest $ours_hex"; exit 1; }
ours=$(best wine "$QV_BUILD/bench/md5_bench.exe" "$winfile")
ref=$(best wine "$sevenzip" h -scrcMD5 "$winfile")
mbs() { echo "scale=1; 256 / $1" | bc -l; }
o=$(mbs "$ours"); r=$(mbs "$ref")
printf 'md5_digest_file_256MiB: %s MB/s (%s MB/s, %.2f)\n' "$o" "$r" "$(echo "$o / $r" | bc -l)"
