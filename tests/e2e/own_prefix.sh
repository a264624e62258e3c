#!/usr/bin/env bash
# Runs a test in a scratch copy of the Wine prefix with a wineserver of its own, so that it
# can run beside the tests that share the prefix: nothing it registers, starts or changes
# reaches theirs, and its windows live on their own desktop.
#   own_prefix.sh SOURCE_PREFIX COMMAND [ARGUMENTS...]
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
source_prefix=$1
shift

scratch=$(mktemp -d /tmp/talvex_prefix.XXXXXX)
export WINEPREFIX=$scratch/prefix
cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
cp -a "$source_prefix" "$WINEPREFIX"
"$WINESERVER" -p
"$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
status=0
"$@" || status=$?
exit "$status"
