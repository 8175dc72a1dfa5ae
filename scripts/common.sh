# Sourced by the scripts: build and session helpers.
QV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$QV_ROOT/scripts/wine-env"

# The toolchain file of an architecture.
qv_toolchain() {
  case "$1" in
    x64) echo "$QV_ROOT/cmake/toolchain-mingw-x86_64.cmake" ;;
    *) echo "$QV_ROOT/cmake/toolchain-mingw-i686.cmake" ;;
  esac
}

# Configures (once) and builds the cross build of an architecture (default:
# the one scripts/wine-env chose) in its build folder; further arguments go
# to the build.
qv_build() {
  local arch=$QV_ARCH
  case "${1:-}" in x86 | x64) arch=$1; shift ;; esac
  local dir
  if [ "$arch" = "$QV_ARCH" ]; then dir=$QV_BUILD; else dir=$(qv_build_dir "$arch"); fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$QV_ROOT" -B "$dir" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$(qv_toolchain "$arch")" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$dir" -j"$(nproc)" "$@"
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
  qv_wine_start
}

# One wineserver for the prefix of the current architecture. The wineserver,
# the Wine services and the desktop process (explorer.exe /desktop, started
# by the first program that asks for the desktop window) outlive the first
# program; started here with no inherited output, they keep no pipe of
# ctest's open. A wineserver already running for this prefix makes -p fail;
# that one serves.
qv_wine_start() {
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

qv_wine_end() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

qv_session_end() {
  qv_wine_end
  if [ -n "${QV_XVFB_PID:-}" ]; then
    kill "$QV_XVFB_PID" 2>/dev/null || true
    wait "$QV_XVFB_PID" 2>/dev/null || true
    QV_XVFB_PID=
  fi
}
