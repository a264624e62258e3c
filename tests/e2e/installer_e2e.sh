#!/usr/bin/env bash
# The installer end to end, run by own_prefix.sh in a scratch copy of the Wine prefix so
# that what it installs, its shortcuts and its registry record stay out of every other test:
#   unpack the package zip into the copy's drive C:, check that its payload is what the
#   build made, put the capture program's stand-in in as Talvex.000, run the driven tests
#   with the copy's own wineserver, then read the shortcuts they left with lnkinfo and check
#   the installed kit's recording with ffprobe.
# Arguments: package zip, stand-in exe, test exe.
set -euo pipefail
prefix=$WINEPREFIX  # the copy, which the shared settings below would replace
. "$(dirname "$0")/../../scripts/lib.sh"
export WINEPREFIX=$prefix
zip=$1 stand_in=$2 tests=$3

scratch=$(mktemp -d /tmp/talvex_installer_e2e.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$WINEPREFIX/drive_c/package" "$scratch/links" "$scratch/videos"
(cd "$WINEPREFIX/drive_c/package" && cmake -E tar xf "$zip")
package=$(basename "$zip" .zip)
export TALVEX_PACKAGE="C:\\package\\$package"

# The copy starts without our filters: the running wineserver of the source prefix writes
# its registry back only from time to time, so the copied one may still hold cameras or the
# compressor that other tests registered and removed again.
for dll in talvex_filters.dll talvex_codec.dll; do
  "$WINE" regsvr32 /u /s "$(winepath_of "$(dirname "$tests")/$dll")" >/dev/null 2>&1 || true
done

status=0
# The package as built, before the stand-in takes the capture program's place.
TALVEX_SOURCES="$(winepath_of "$(dirname "$0")/../..")" \
  "$WINE" "$tests" --gtest_filter='Package.*' || status=1
cp "$stand_in" "$WINEPREFIX/drive_c/package/$package/Talvex.000"
TALVEX_PACKAGE="C:\\package\\$package" TALVEX_LINKS_OUT="$(winepath_of "$scratch/links")" \
  TALVEX_VIDEOS_OUT="$(winepath_of "$scratch/videos")" \
  "$WINE" "$tests" --gtest_filter='-Package.*' || status=1

# The installed kit's first recording: compressed with the installed MJPEG compressor.
for video in "$scratch"/videos/*.avi; do
  if [ ! -f "$video" ]; then
    echo "no recording of the installed kit"
    status=1
    continue
  fi
  codec=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name \
    -of default=noprint_wrappers=1:nokey=1 "$video")
  if [ "$codec" != mjpeg ]; then
    echo "$(basename "$video"): codec '$codec', expected mjpeg"
    status=1
  else
    echo "$(basename "$video"): mjpeg"
  fi
done

# The shortcuts as the install left them: target, working directory, icon, arguments.
dir='C:\program files\Talvex\Talvex v3'
check_link() {  # link file, target name, icon (yes/no), arguments
  local file=$scratch/links/$1 info
  if [ ! -f "$file" ]; then
    echo "missing shortcut $1"
    status=1
    return
  fi
  # "Name<tabs>: value" lines as "Name: value".
  info=$(lnkinfo "$file" | sed -E 's/^[[:space:]]+//; s/[[:space:]]+: /: /')
  expect() {
    if ! grep -qixF -- "$1" <<<"$info"; then
      echo "$file: no '$1' in:"
      echo "$info"
      status=1
    fi
  }
  refuse() {
    if grep -qi -- "^$1: " <<<"$info"; then
      echo "$file: unexpected '$1' in:"
      echo "$info"
      status=1
    fi
  }
  expect "Local path: $dir\\$2"
  expect "Working directory: $dir"
  if [ "$3" = yes ]; then expect "Icon location: $dir\\Talvex.ico"; else refuse "Icon location"; fi
  if [ -n "$4" ]; then expect "Command line arguments: $4"; else refuse "Command line arguments"; fi
}
if [ $status -eq 0 ]; then
  check_link ReadMe.lnk README.html no ""
  check_link Talvex.lnk Talvex.exe yes ""
  check_link Uninstall.lnk Talvex_inst.exe yes "-u"
  check_link Inspector.lnk Talvex_insp.exe yes ""
fi
exit $status
