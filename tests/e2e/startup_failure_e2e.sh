#!/usr/bin/env bash
# A start-up that fails at the main window: the capture program is run where no display
# can be opened (DISPLAY names an X server that isn't there), so CreateWindowExA fails.
# Its log must keep what was logged before, end with the 003 entry, and hold no end record.
# Arguments: Talvex.exe, the Wine prefix.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
exe=$1
export WINEPREFIX=$2

scratch=$(mktemp -d /tmp/talvex_startup_e2e.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
n=4711
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done

# The desktop window is made first, on the real display: when the first program of a
# wineserver to need it runs without a display, the desktop has none for every later one.
"$WINE" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 || true

status=0
code=0
(cd "$scratch" && DISPLAY=":$n" timeout 60 "$WINE" "$exe" >/dev/null 2>&1) || code=$?
if [ "$code" -ne 0 ]; then
  echo "FAIL exit status $code (124: still running after 60 s)"
  status=1
fi

log=$scratch/Talvex.log
if [ ! -f "$log" ]; then
  echo "FAIL no Talvex.log"
  exit 1
fi
lines=$(tr -d '\r' <"$log")
printf '%s\n' "$lines"
expect() {  # description, test...
  local what=$1
  shift
  if ! "$@"; then
    echo "FAIL $what"
    status=1
  fi
}
expect "starts with the separator" \
  test "$(printf '%s\n' "$lines" | head -n 1)" = "************************************************"
expect "has the start record" grep -q ' Talvex Capture v3\.0\.2 \[I\]$' <<<"$lines"
expect "has the 025 entry" grep -q ' Using defaults\. (025)$' <<<"$lines"
expect "ends with the 003 entry" \
  grep -q ' Unable to create "main window"\. (003)$' <<<"$(printf '%s\n' "$lines" | tail -n 1)"
expect "has no end record" bash -c '! grep -q "\[T\]" "$0"' "$log"
exit $status
