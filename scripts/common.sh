# Sourced by the scripts: build and session helpers.
QV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$QV_ROOT/scripts/wine-env"

# Configures (once) and builds the cross build in $QV_BUILD.
qv_build() {
  if [ ! -f "$QV_BUILD/CMakeCache.txt" ]; then
    cmake -S "$QV_ROOT" -B "$QV_BUILD" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$QV_ROOT/cmake/toolchain-mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$QV_BUILD" -j"$(nproc)" "$@"
}

# Starts Xvfb on a free display (unless one is given) and one wineserver for
# the whole session; both are stopped by qv_session_end.
qv_session_start() {
  if [ -z "${DISPLAY:-}" ] || [ -n "${QV_FORCE_XVFB:-}" ]; then
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QV_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$QV_XVFB_PID" 2>/dev/null || { echo "Xvfb did not start" >&2; return 1; }
      sleep 0.1
    done
  fi
  # The wineserver and the Wine services it starts outlive the first program;
  # started here with no inherited output, they keep no pipe of ctest's open.
  # A wineserver already running for this prefix makes -p fail; that one serves.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

qv_session_end() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${QV_XVFB_PID:-}" ]; then
    kill "$QV_XVFB_PID" 2>/dev/null || true
    wait "$QV_XVFB_PID" 2>/dev/null || true
    QV_XVFB_PID=
  fi
}
