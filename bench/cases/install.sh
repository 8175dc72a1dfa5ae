#!/usr/bin/env bash
# A real installation through the installer's window against 7z.exe x + xcopy.
set -euo pipefail
exec python3 "$QV_ROOT/bench/install_bench.py"
