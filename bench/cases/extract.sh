#!/usr/bin/env bash
# Payload extraction: ExtractPayload (as the installer runs it: a decoder
# thread per core, every file checked as written and digested) against
# 7z.exe x with its default threads (one per core), both with the same 7z.dll
# under the same Wine, on a 208 MiB LZMA2 archive of half text, half random
# bytes in independent blocks of the payload's block size, with the list of
# their digests first, as a payload has it. Prints throughput and peak memory.
# The data is made once in $QV_BUILD/bench-data and kept out of the sources.
set -euo pipefail
: "${QV_ROOT:?}" "${QV_BUILD:?}"
bench="$QV_BUILD/bench"
data="$QV_BUILD/bench-data/extract"
runs=${QV_BENCH_RUNS:-5}
mkdir -p "$data"
win() { winepath -w "$1" 2>/dev/null; }

block=$(sed -n 's/^QV_PAYLOAD_BLOCK=//p' "$QV_BUILD/qv-payload")
if [ ! -f "$data/payload-$block.7z" ]; then
  rm -rf "$data/src"
  wine "$bench/extract_bench.exe" make "$(win "$data/src")"
  # As in a payload, the list of the files' digests comes first.
  (cd "$data/src" && md5sum text.txt random.bin >checksums.md5 &&
    7zz a -t7z "-m0=LZMA2:c=$block" -mx=3 -mmt=on -ms=on -bso0 -bsp0 ../payload.7z.part checksums.md5 text.txt random.bin)
  mv "$data/payload.7z.part" "$data/payload-$block.7z"
  rm -rf "$data/src"
fi
archive=$(win "$data/payload-$block.7z")
exe=$(win "$bench/extract_bench.exe")
sevenzip=$(win "$bench/7z.exe")

# "seconds peak-bytes exit-code" of one run into an emptied output folder.
measure() {
  local out="$data/out-$1"
  shift
  rm -rf "$out"
  mkdir -p "$out"
  # Written-back pages of the previous run must not slow this one down.
  sync
  wine "$bench/extract_bench.exe" measure "$@" | tr -d '\r'
}
measure_ref() { measure ref "$sevenzip" x -y -bso0 -bsp0 "-o$(win "$data/out-ref")" "$archive"; }
measure_ours() { measure ours "$exe" extract "$(win "$data/out-ours")" "$archive"; }
fail() { echo "extract: failed ($*)"; exit 1; }

times_ref=() times_ours=() peaks_ref=() peaks_ours=()
# Median of the runs: the machine is shared, single runs are noisy either way.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for i in $(seq 1 "$runs"); do
  # Alternate which side runs first, so that neither always inherits the other's traces.
  if [ $((i % 2)) = 1 ]; then
    read -r t_ref m_ref c_ref < <(measure_ref) || fail "no measurement of 7z.exe"
    read -r t_ours m_ours c_ours < <(measure_ours) || fail "no measurement of ExtractPayload"
  else
    read -r t_ours m_ours c_ours < <(measure_ours) || fail "no measurement of ExtractPayload"
    read -r t_ref m_ref c_ref < <(measure_ref) || fail "no measurement of 7z.exe"
  fi
  if [ "$c_ref" != 0 ] || [ "$c_ours" != 0 ]; then
    fail "7z.exe exit $c_ref, ExtractPayload result $c_ours"
  fi
  if [ "$i" = 1 ]; then
    for f in checksums.md5 text.txt random.bin; do
      cmp -s "$data/out-ref/$f" "$data/out-ours/$f" || fail "output differs: $f"
    done
    bytes=$(( $(stat -c %s "$data/out-ours/text.txt") + $(stat -c %s "$data/out-ours/random.bin") ))
  fi
  times_ref+=("$t_ref") times_ours+=("$t_ours") peaks_ref+=("$m_ref") peaks_ours+=("$m_ours")
done
rm -rf "$data/out-ref" "$data/out-ours"

awk -v b="$bytes" -v to="$(median "${times_ours[@]}")" -v tr="$(median "${times_ref[@]}")" \
    -v mo="$(median "${peaks_ours[@]}")" -v mr="$(median "${peaks_ref[@]}")" 'BEGIN {
  ours = b / to / 1048576; ref = b / tr / 1048576
  printf "extract payload throughput: %.1f MiB/s (%.1f MiB/s, %.3f)\n", ours, ref, ours / ref
  printf "extract payload peak memory: %.1f MiB (%.1f MiB, %.3f)\n", mo / 1048576, mr / 1048576, mo / mr
}'
