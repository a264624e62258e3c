#!/usr/bin/env python3
"""The seconds before a motion event, in the real capture program under Wine.

  pre_event_e2e.py WINE BIN_DIR WORK_DIR

The Replay camera plays 256 numbered frames at 15 a second: each frame's number is in its
top rows as eight black or white blocks (Gray code, so that the passes see too little
change to call it motion), and frames 150 to 209 also show a white block that jumps across
the lower half from frame to frame, the event (moving, so that whichever two passes the
detector compares see it). With pre_event=3 the motion video must begin about 3 s (45 frames) before
the frame that triggered it, which the passes see within a second of frame 150: between
frames 100 and 130, where without the pre-event it would begin at 150 or later. Its frames
run on one by one. Prints the numbers found.
"""
import os
import subprocess
import sys

from wine_e2e import close_talvex, fresh, start_talvex, test_devices, wait_for

WINE, BIN, WORK = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
W, H, BLOCK_W, BLOCK_H = 160, 120, 20, 12
EVENT_FIRST, EVENT_LAST, FRAMES = 150, 209, 256


def gray(n):
    return n ^ (n >> 1)


def from_gray(g):
    n = 0
    while g:
        n ^= g
        g >>= 1
    return n


def frame_bmp(number):
    rows = []
    code = gray(number)
    for y in range(H):  # top row first; written bottom-up below
        row = bytearray()
        for x in range(W):
            if y < BLOCK_H:
                v = 255 if (code >> (7 - x // BLOCK_W)) & 1 else 0
            elif (EVENT_FIRST <= number <= EVENT_LAST and y >= H // 2 and
                  (number * 13) % 120 <= x < (number * 13) % 120 + 40):
                v = 255
            else:
                v = 96
            row += bytes((v, v, v))
        rows.append(bytes(row))
    pixels = b"".join(reversed(rows))
    header = (b"BM" + (54 + len(pixels)).to_bytes(4, "little") + b"\0\0\0\0" +
              (54).to_bytes(4, "little") + (40).to_bytes(4, "little") +
              W.to_bytes(4, "little") + H.to_bytes(4, "little") + (1).to_bytes(2, "little") +
              (24).to_bytes(2, "little") + b"\0" * 24)
    return header + pixels


def numbers(video):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-f", "rawvideo", "-pix_fmt",
                          "gray", "-"], capture_output=True, check=True).stdout
    out = []
    for f in range(len(raw) // (W * H)):
        frame = raw[f * W * H:(f + 1) * W * H]
        code = 0
        for bit in range(8):
            x, y = bit * BLOCK_W + BLOCK_W // 2, BLOCK_H // 2
            code = (code << 1) | (1 if frame[y * W + x] > 128 else 0)
        out.append(from_gray(code))
    return out


def main():
    folder, frames = fresh(WORK, "pre_event"), fresh(WORK, "pre_event_frames")
    for n in range(FRAMES):
        with open(os.path.join(frames, f"frame_{n:03d}.bmp"), "wb") as f:
            f.write(frame_bmp(n))
    line2 = ("1.4 -1 -1 Talvex_Replay_Camera Talvex_MJPEG_Compressor 1 0 _ 0 _ 21 _ _ _ 1 "
             "12.500000 2 >")
    line3 = ("talvex-ext 1 pre_event=3 keep_free_mb=0 max_age_days=0 light_filter=0 warm_up=0 "
             "web_port=0 web_user= web_realm= web_password= on_event= >")
    with open(os.path.join(folder, "Talvex.cfg"), "wb") as f:
        f.write(b"/* Don't edit by hand. Use Talvex to change. */\n" + line2.encode() + b"\n" +
                line3.encode())
    env = dict(os.environ, TALVEX_TESTCAM_FRAMES="Z:" + frames.replace("/", "\\"))

    def listed():
        return sorted(n for n in os.listdir(folder) if n.startswith("Talvex_Camera_"))

    with test_devices(WINE, BIN):
        program = start_talvex(WINE, BIN, folder, env)
        try:
            wait_for(listed, 45)
        finally:
            close_talvex(WINE, program)
    videos = listed()
    if not videos:
        print("FAIL  no motion video within 45 s")
        return 1
    found = numbers(os.path.join(folder, videos[0]))
    print(f"{videos[0]}: {len(found)} frames, numbers {found[:4]} ... {found[-4:]}")
    failures = []
    first = found[0] if found else -1
    if not EVENT_FIRST - 50 <= first <= EVENT_FIRST - 20:
        failures.append(f"the first frame is {first}, not about 3 s before frame {EVENT_FIRST}")
    steps = [(b - a) % FRAMES for a, b in zip(found, found[1:])]
    if any(s not in (0, 1, 2) for s in steps):  # a camera frame late by a period repeats or skips
        failures.append(f"the frames do not run on one by one: steps {sorted(set(steps))}")
    if len(found) < 45 + 2 * 15 - 10:
        failures.append(f"{len(found)} frames: less than the 3 s before and the 2 s after")
    for f in failures:
        print("FAIL  " + f)
    if not failures:
        print(f"ok    the video begins at frame {first}, {EVENT_FIRST - first} frames "
              f"({(EVENT_FIRST - first) / 15:.1f} s) before the event's first frame")
    return 1 if failures else 0


sys.exit(main())
