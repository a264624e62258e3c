#!/usr/bin/env bash
# Checks the MJPEG recordings that the filters test left in FOLDER with independent tools:
# ffprobe must see one MJPEG video stream of WIDTHxHEIGHT with a frame count in the range
# of the file's .expect companion ("min max"), and ffmpeg must decode it without a message.
set -euo pipefail
folder=${1:?usage: check_avi.sh FOLDER WIDTH HEIGHT}
width=${2:?}
height=${3:?}
status=0
count=0
for avi in "$folder"/*.avi; do
  [ -f "$avi" ] || continue
  count=$((count + 1))
  name=$(basename "$avi")
  read -r min max <"$avi.expect"
  max=${max%$'\r'}
  [[ "$min" =~ ^[0-9]+$ && "$max" =~ ^[0-9]+$ ]] || { echo "$name: bad $avi.expect"; exit 1; }
  probe=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,nb_read_frames -of default=noprint_wrappers=1 "$avi")
  field() { sed -n "s/^$1=//p" <<<"$probe"; }
  frames=$(field nb_read_frames)
  [[ "$frames" =~ ^[0-9]+$ ]] || frames=-1
  if [ "$(field codec_name)" != mjpeg ] || [ "$(field width)" != "$width" ] ||
    [ "$(field height)" != "$height" ] || [ "$frames" -lt "$min" ] || [ "$frames" -gt "$max" ]; then
    echo "$name: expected mjpeg ${width}x$height with $min..$max frames, ffprobe says:"
    echo "$probe"
    status=1
  fi
  errors=$(ffmpeg -v error -nostdin -i "$avi" -f null - 2>&1) || status=1
  if [ -n "$errors" ]; then
    echo "$name: ffmpeg could not decode it cleanly:"
    echo "$errors"
    status=1
  fi
  echo "$name: mjpeg ${width}x$height, $frames frames (expected $min..$max)"
done
if [ "$count" -eq 0 ]; then
  echo "no recordings in $folder"
  exit 1
fi
exit "$status"
