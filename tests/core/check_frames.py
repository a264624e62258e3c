#!/usr/bin/env python3
"""Reads our frame files and snapshot with an independent reader (Pillow) and checks them
against the picture tests/core/frame_samples.cpp draws."""
import os
import subprocess
import sys
import tempfile

from PIL import Image


def expected(x, y, bits):
    b, g, r = (x * 7) & 0xFF, (y * 5) & 0xFF, (x + y) & 0xFF
    if bits == 16:  # 5 bits a channel; Pillow widens them to 8 bits its own way
        return tuple((v >> 3) for v in (r, g, b))
    return (r, g, b)


def main():
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([sys.argv[1]], cwd=folder, check=True)
        for name, bits in (("frame_16.bmp", 16), ("frame_24.bmp", 24), ("frame_32.bmp", 32),
                           ("frame_top_down.bmp", 24)):
            image = Image.open(os.path.join(folder, name))
            image.load()
            if image.size != (320, 240):
                failures.append(f"{name}: size {image.size}")
                continue
            rgb = image.convert("RGB")
            for x, y in ((0, 0), (319, 0), (0, 239), (123, 45), (319, 239)):
                got = rgb.getpixel((x, y))
                if bits == 16:
                    got = tuple(v >> 3 for v in got)
                if got != expected(x, y, bits):
                    failures.append(f"{name} ({x},{y}): {got} != {expected(x, y, bits)}")
        snapshot = Image.open(os.path.join(folder, "Talvex.jpg"))
        snapshot.load()
        print(f"Talvex.jpg: {snapshot.format} {snapshot.size} dpi {snapshot.info.get('dpi')}")
        if snapshot.size != (240, 180):
            failures.append(f"snapshot size {snapshot.size}")
        if tuple(round(v) for v in snapshot.info.get("dpi", (0, 0))) != (72, 72):
            failures.append(f"snapshot density {snapshot.info.get('dpi')}")
        if snapshot.info.get("progressive"):
            failures.append("snapshot is progressive")
        # Lossy, so compare the mean error over the crop with the picture's top-left.
        rgb = snapshot.convert("RGB")
        error = 0
        for y in range(0, 180, 3):
            for x in range(0, 240, 3):
                got = rgb.getpixel((x, y))
                error += sum(abs(a - b) for a, b in zip(got, expected(x, y, 24)))
        mean = error / (60 * 80 * 3)
        print(f"snapshot mean error per channel: {mean:.2f}")
        if mean > 12:
            failures.append(f"snapshot differs from the frame's top-left: {mean:.2f}")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
