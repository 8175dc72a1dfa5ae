#!/usr/bin/env bash
# Our installer against NSIS and Inno Setup installers of the same payloads
# (bench/peers/, built once into $QV_BUILD/bench-data/peers): start-up to a
# visible window, a whole installation of the 208 MiB payload, and sizes.
set -euo pipefail
[ -n "${DISPLAY:-}" ] || { echo "peers: no DISPLAY"; exit 1; }
exec python3 "$QV_ROOT/bench/peer_bench.py"
