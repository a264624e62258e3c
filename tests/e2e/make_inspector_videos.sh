#!/usr/bin/env bash
# Makes the recordings the inspector's end-to-end tests play: MJPEG AVIs of a moving test
# picture, 320 x 240 at 2 frames per second, one of three minutes and one of four seconds.
set -euo pipefail
out=${1:?usage: make_inspector_videos.sh FOLDER}
mkdir -p "$out"
make() {  # name, seconds
  [ -s "$out/$1" ] && return
  ffmpeg -v error -y -f lavfi -i "testsrc=size=320x240:rate=2" -t "$2" \
    -c:v mjpeg -q:v 8 -pix_fmt yuvj420p "$out/$1.part.avi"
  mv "$out/$1.part.avi" "$out/$1"
}
make long.avi 180
make short.avi 4
