#!/usr/bin/env python3
"""Checks the videos a Windows test left in a folder with an independent reader, ffprobe:
each parses, has one video stream of the expected size and the codec the test configured,
lasts as long as its name says, within a second, and holds frames for that time.

  check_videos.py FOLDER CODECS [--count N | --at-least N] [--motion-duration D]
                  [--runs S] [--tolerance T]

CODECS is the codec of every video ("mjpeg" for "Talvex MJPEG Compressor", "rawvideo" for
no compressor), or a comma-separated list with one codec per video in name order (then
exactly that many videos). --count and --at-least set how many videos there are (at least
one by default). --motion-duration D: each video is a motion recording of D seconds,
whose name spans D seconds, or one more for the passes' own time. --runs S: each video
recorded for the whole run of S seconds, until the program closed. --tolerance T: how far
the duration and the frames may be from the name, 1.5 s by default (the names count whole
seconds)."""
import argparse
import datetime
import fractions
import json
import pathlib
import re
import subprocess
import sys

NAME = re.compile(r"^Talvex_Camera_(\d+)-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)_"
                  r"(\d+)-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)\.avi$")

# Frames may fall short of the time a recording ran by the graph's start and stop: two
# passes of 250 ms in a motion recording, a second in a run's recording (its start-up and
# its close).
MOTION_FRAMES_SHORT = 0.5
RUN_FRAMES_SHORT = 1.0


def probe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-show_entries",
         "stream=codec_name,width,height,avg_frame_rate,nb_read_frames:format=duration",
         "-of", "json", str(path)], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def frame_rate(text):
    try:
        rate = fractions.Fraction(text)
    except (ValueError, ZeroDivisionError):
        return 0.0
    return float(rate)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("codecs")
    count = parser.add_mutually_exclusive_group()
    count.add_argument("--count", type=int)
    count.add_argument("--at-least", type=int, default=1)
    parser.add_argument("--motion-duration", type=int)
    parser.add_argument("--runs", type=float)
    parser.add_argument("--tolerance", type=float, default=1.5)
    args = parser.parse_args()

    codecs = args.codecs.split(",")
    videos = sorted(args.folder.glob("Talvex_Camera_*.avi"))
    failures = []
    if len(codecs) > 1 and args.count is None:
        args.count = len(codecs)
    if args.count is not None and len(videos) != args.count:
        failures.append(f"{len(videos)} videos in {args.folder}, expected {args.count}")
    elif args.count is None and len(videos) < args.at_least:
        failures.append(f"{len(videos)} videos in {args.folder}, expected at least "
                        f"{args.at_least}")
    for i, video in enumerate(videos):
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
        rate = frame_rate(s.get("avg_frame_rate", "0"))
        held = frames / rate if rate > 0 else 0.0
        print(f"{video.name}: {s['codec_name']} {s['width']}x{s['height']} "
              f"{frames} frames at {rate:.2f}/s ({held:.2f} s), lasts {duration:.2f} s "
              f"(named {named:.0f} s)")
        expected_codec = codecs[i] if len(codecs) > 1 and i < len(codecs) else codecs[0]
        if s["codec_name"] != expected_codec:
            failures.append(f"{video.name}: codec {s['codec_name']}, expected {expected_codec}")
        if (s["width"], s["height"]) != (320, 240):
            failures.append(f"{video.name}: size {s['width']}x{s['height']}")
        if abs(duration - named) > args.tolerance:
            failures.append(f"{video.name}: lasts {duration:.2f} s, named {named:.0f} s")
        # Every recording holds frames for the time its name gives, within the tolerance
        # of the duration above.
        if frames < 1 or held < named - args.tolerance:
            failures.append(f"{video.name}: {frames} decodable frames ({held:.2f} s), "
                            f"named {named:.0f} s")
        if args.motion_duration is not None:
            d = args.motion_duration
            if not d <= named <= d + 1:
                failures.append(f"{video.name}: named {named:.0f} s, motion duration {d} s")
            if held < d - MOTION_FRAMES_SHORT:
                failures.append(f"{video.name}: frames for {held:.2f} s, motion duration {d} s")
        if args.runs is not None:
            if held < args.runs - RUN_FRAMES_SHORT:
                failures.append(f"{video.name}: frames for {held:.2f} s of a run of "
                                f"{args.runs:.0f} s")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
