# Shared by the scripts: where things live and how Wine is run for this project.
# shellcheck shell=bash
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TALVEX_BUILD:-$ROOT/build}
NATIVE_DIR=$BUILD/native
WIN64_DIR=$BUILD/win64
FUZZ_DIR=$BUILD/fuzz
DEPS_DIR=$BUILD/deps
LIBJPEG_WIN64=$DEPS_DIR/libjpeg-turbo-win64
HTTPLIB_DIR=$DEPS_DIR/cpp-httplib
PUPPETEER_DIR=$DEPS_DIR/puppeteer

export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

say() { printf '== %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Xvfb on the first free display, for the Wine tiers; stop_display ends only our own.
XVFB_PID=
start_display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.05
  done
  export DISPLAY=":$n"
}
stop_display() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}

# A persistent wineserver for our prefix while the tests run: process starts stay cheap.
# Wine's own services are started here, with their output away from any pipe: started by
# the first test instead, they would inherit its output pipe and keep ctest waiting.
start_wineserver() {
  "$WINESERVER" -p
  "$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
stop_wineserver() { "$WINESERVER" -k 2>/dev/null || true; }

# The Windows path under which Wine sees a file of ours.
winepath_of() { printf 'Z:%s' "$(readlink -f "$1" | tr '/' '\\')"; }
