#!/usr/bin/env python3
"""Checks the videos a Windows test left in a folder with an independent reader, ffprobe:
each parses, has one video stream of the expected size and a codec we write, and lasts as
long as its name says, within a tolerance in seconds (third argument, 1.5 by default: the
names count whole seconds)."""
import datetime
import json
import pathlib
import re
import subprocess
import sys

NAME = re.compile(r"^Talvex_Camera_(\d+)-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)_"
                  r"(\d+)-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)\.avi$")


def probe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-show_entries",
         "stream=codec_name,width,height,nb_read_frames:format=duration", "-of", "json",
         str(path)], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    folder = pathlib.Path(sys.argv[1])
    minimum = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    tolerance = float(sys.argv[3]) if len(sys.argv) > 3 else 1.5
    videos = sorted(folder.glob("Talvex_Camera_*.avi"))
    failures = []
    if len(videos) < minimum:
        failures.append(f"{len(videos)} videos in {folder}, expected at least {minimum}")
    for video in videos:
        m = NAME.match(video.name)
        if not m:
            failures.append(f"{video.name}: name does not parse")
            continue
        n = [int(x) for x in m.groups()]
        start = datetime.datetime(*n[0:6])
        end = datetime.datetime(*n[6:12])
        named = (end - start).total_seconds()
        info = probe(video)
        streams = info.get("streams", [])
        if len(streams) != 1:
            failures.append(f"{video.name}: {len(streams)} streams")
            continue
        s = streams[0]
        duration = float(info["format"].get("duration", 0))
        frames = int(s.get("nb_read_frames", 0))
        print(f"{video.name}: {s['codec_name']} {s['width']}x{s['height']} "
              f"{frames} frames {duration:.2f} s (named {named:.0f} s)")
        if s["codec_name"] not in ("mjpeg", "rawvideo"):
            failures.append(f"{video.name}: codec {s['codec_name']}")
        if (s["width"], s["height"]) != (320, 240):
            failures.append(f"{video.name}: size {s['width']}x{s['height']}")
        # A recording cut within its first second (the program closing) may hold no frame
        # yet; any longer one must.
        if frames < 1 and named >= 2:
            failures.append(f"{video.name}: {frames} decodable frames")
        if abs(duration - named) > tolerance:
            failures.append(f"{video.name}: lasts {duration:.2f} s, named {named:.0f} s")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
