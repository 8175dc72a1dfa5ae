#!/usr/bin/env bash
# Page cipher throughput, and the setters on the enciphered store against an unkeyed one.
set -euo pipefail
"$QV_ROOT/scripts/wine-run" "$QV_BUILD/bench/settings_bench.exe" | tr -d '\r'
