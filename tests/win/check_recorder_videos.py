#!/usr/bin/env python3
"""Checks the videos that recorder_dshow_test left, folder by folder, against the
expect.txt beside them. Each frame of the Replay camera carries its number in the picture
(the grey of its left half counts sixteens, that of its right half ones, 0-255 looping);
ffmpeg decodes every frame of every video.

  check_recorder_videos.py OUTPUT_FOLDER

expect.txt lines: "first N T" (the first frame's number is N within T), "at_least N"
(frames in all videos together), "consecutive" (the numbers run on by one, across the
videos in name order: no frame lost or doubled; a camera frame late by up to two periods
may repeat or skip one), "videos N", "first_name_ends HH-MM-SS", "second_name_starts
HH-MM-SS"."""
import pathlib
import subprocess
import sys

W, H = 160, 120


def numbers(video):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(video), "-f", "rawvideo",
                          "-pix_fmt", "gray", "-"], capture_output=True, check=True).stdout
    size = W * H
    out = []
    for f in range(len(raw) // size):
        frame = raw[f * size:(f + 1) * size]
        row = frame[(H // 2) * W:(H // 2 + 1) * W]
        high = sum(row[10:W // 2 - 10]) / (W // 2 - 20)
        low = sum(row[W // 2 + 10:W - 10]) / (W // 2 - 20)
        out.append(int(high // 16) * 16 + int(low // 16))
    return out


def main():
    failures = []
    for expect in sorted(pathlib.Path(sys.argv[1]).glob("*/expect.txt")):
        folder = expect.parent
        videos = sorted(folder.glob("Talvex_Camera_*.avi"))
        all_numbers = []
        for v in videos:
            all_numbers += numbers(v)
        print(f"{folder.name}: {[v.name for v in videos]}: {len(all_numbers)} frames, "
              f"numbers {all_numbers[:3]} ... {all_numbers[-3:]}")

        def check(ok, what):
            print(("ok    " if ok else "FAIL  ") + f"{folder.name}: {what}")
            if not ok:
                failures.append(what)

        for line in expect.read_text().split("\n"):
            words = line.split()
            if not words:
                continue
            if words[0] == "videos":
                check(len(videos) == int(words[1]), f"{len(videos)} videos, {words[1]} expected")
            elif words[0] == "first":
                want, within = int(words[1]), int(words[2])
                got = all_numbers[0] if all_numbers else -1000
                off = min((got - want) % 256, (want - got) % 256)
                check(off <= within, f"first frame {got}, {want} expected within {within}")
            elif words[0] == "at_least":
                check(len(all_numbers) >= int(words[1]),
                      f"{len(all_numbers)} frames, at least {words[1]} expected")
            elif words[0] == "consecutive":
                steps = [(b - a) % 256 for a, b in zip(all_numbers, all_numbers[1:])]
                bad = [i for i, s in enumerate(steps) if s not in (0, 1, 2)]
                repeats = steps.count(0) + steps.count(2)
                check(not bad and repeats <= max(2, len(steps) // 20),
                      f"numbers run on by one (steps off at {bad[:5]}, {repeats} late frames)")
            elif words[0] == "first_name_ends":
                check(bool(videos) and videos[0].name[-12:-4] == words[1],
                      f"first video ends at {words[1]}: {videos[0].name if videos else None}")
            elif words[0] == "second_name_starts":
                check(len(videos) > 1 and videos[1].name[25:33] == words[1],
                      f"second video starts at {words[1]}: {videos[1].name if len(videos) > 1 else None}")
    if failures:
        print(f"{len(failures)} checks failed")
        return 1
    return 0


sys.exit(main())
