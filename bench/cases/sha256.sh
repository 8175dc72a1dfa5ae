#!/usr/bin/env bash
# Sha256OfFile over a 256 MiB file (the installer's check of its payload)
# against 7-Zip's own SHA-256 (7z.exe h -scrcSHA256) on the same file, both
# under Wine, best of three whole-command runs each; and the portable engine
# (processors without the SHA extensions) against the same reference.
set -euo pipefail
data="$QV_BUILD/bench-data"
file="$data/md5-256m.bin"  # shared with the MD5 case
mkdir -p "$data"
if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" != 268435456 ]; then
  head -c 268435456 /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # every run reads from the page cache

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
program="$QV_BUILD/bench/sha256_bench.exe"
sevenzip="$QV_BUILD/bench/7z.exe" # the build's architecture
want=$(sha256sum "$file" | cut -d' ' -f1)
for flag in "" --portable; do
  got=$(wine "$program" $flag "$winfile" | cut -d' ' -f1)
  [ "$got" = "$want" ] || { echo "sha256_digest_file: wrong digest $got ($flag)"; exit 1; }
done
ref=$(best wine "$sevenzip" h -scrcSHA256 "$winfile")
mbs() { echo "scale=1; 256 / $1" | bc -l; }
r=$(mbs "$ref")
for flag in "" --portable; do
  o=$(mbs "$(best wine "$program" $flag "$winfile")")
  printf 'sha256_digest_file_256MiB%s: %s MB/s (%s MB/s, %.2f)\n' "${flag:+_portable}" "$o" "$r" \
    "$(echo "$o / $r" | bc -l)"
done
