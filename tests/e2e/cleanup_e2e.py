#!/usr/bin/env python3
"""A disk that never fills: the real capture program under Wine with its video folder on a
small tmpfs.

  cleanup_e2e.py WINE BIN_DIR WORK_DIR [SECONDS]

The Replay camera plays uncompressed 160 x 120 frames with a bar that moves from frame to
frame, so motion recordings of 3 s follow one another for as long as the run lasts (about
0.9 MB a second). With keep_free_mb=8 the program keeps 8 MB free on the 40 MB drive:
recording never stops, the free space never falls below the target by more than one
video, the oldest videos go first, a read-only video and every other file stay, 050 is
logged once per clean-up and never with 046, and every video left plays (ffprobe). With a
two-line configuration file the same drive fills up and nothing is deleted. Prints the
run's figures. Exits 77 (skipped) when no tmpfs can be mounted.
"""
import os
import re
import subprocess
import sys
import time

from wine_e2e import close_talvex, fresh, log, start_talvex, test_devices

WINE, BIN, WORK = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
SECONDS = int(sys.argv[4]) if len(sys.argv) > 4 else 150
W, H, FRAMES = 160, 120, 30
DRIVE_MB, KEEP_FREE_MB = 40, 8
MIB = 1 << 20
NAME = re.compile(r"^Talvex_Camera_(\d{4})-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)_"
                  r"(\d{4})-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)(_\d+)?\.avi$")
OLD_READ_ONLY = "Talvex_Camera_2020-01-01_10-00-00_2020-01-01_10-00-30.avi"
OTHERS = ["Talvex_unrecovered_2020-01-01_09-00-00.avi", "Talvex_2020-01-01_10-00-05.bmp",
          "notes.txt", "Talvex_Camera_2020-01-01_10-00-00.avi"]
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def frame_bmp(number):
    rows = []
    left = (number * 23) % (W - 40)
    for _ in range(H):
        row = bytearray()
        for x in range(W):
            v = 255 if left <= x < left + 40 else 96
            row += bytes((v, v, v))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = (b"BM" + (54 + len(pixels)).to_bytes(4, "little") + b"\0\0\0\0" +
              (54).to_bytes(4, "little") + (40).to_bytes(4, "little") +
              W.to_bytes(4, "little") + H.to_bytes(4, "little") + (1).to_bytes(2, "little") +
              (24).to_bytes(2, "little") + b"\0" * 24)
    return header + pixels


def write_config(folder, extended):
    line2 = "1.4 -1 -1 Talvex_Replay_Camera <none> 1 0 . 0 _ 21 _ _ _ 1 12.500000 3 >"
    text = "/* Don't edit by hand. Use Talvex to change. */\n" + line2
    if extended:
        text += ("\ntalvex-ext 1 pre_event=1 keep_free_mb=%d max_age_days=0 light_filter=0 "
                 "warm_up=0 web_port=0 web_user= web_realm= web_password= on_event= >"
                 % KEEP_FREE_MB)
    with open(os.path.join(folder, "Talvex.cfg"), "wb") as f:
        f.write(text.encode())


def free_bytes(folder):
    st = os.statvfs(folder)
    return st.f_bavail * st.f_frsize


def videos(folder):
    return sorted(n for n in os.listdir(folder) if NAME.match(n))


def times(name):
    g = [int(x) for x in NAME.match(name).groups()[:12]]
    return time.mktime((*g[:6], 0, 0, -1)), time.mktime((*g[6:12], 0, 0, -1))


def probe(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                        "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                       capture_output=True, text=True)
    try:
        return int(r.stdout.strip() or 0), r.stderr.strip()
    except ValueError:
        return 0, r.stdout + r.stderr


def start(folder, frames):
    env = dict(os.environ, TALVEX_TESTCAM_FRAMES="Z:" + frames.replace("/", "\\"))
    return start_talvex(WINE, BIN, folder, env)


def mounted(folder):
    return subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % DRIVE_MB, "tmpfs",
                           folder]).returncode == 0


def watch(folder, program, seconds, until=None):
    """Polls the folder: every video name seen, the lowest free space, and when each
    video first appeared."""
    seen, lowest = {}, free_bytes(folder)
    end = time.time() + seconds
    while time.time() < end and program.poll() is None:
        lowest = min(lowest, free_bytes(folder))
        for n in videos(folder):
            if n not in seen:
                seen[n] = os.path.getsize(os.path.join(folder, n))
        if until and until():
            break
        time.sleep(0.1)
    return seen, lowest


def design_run(frames):
    """The two-line file: the drive fills and nothing is deleted."""
    folder = fresh(WORK, "cleanup_design")
    if not mounted(folder):
        return False
    try:
        write_config(folder, extended=False)
        with open(os.path.join(folder, "ballast"), "wb") as f:
            f.write(b"\0" * ((DRIVE_MB - 12) * MIB))
        program = start(folder, frames)
        seen, lowest = watch(folder, program, 90, until=lambda: "(046)" in log(folder))
        time.sleep(2)
        close_talvex(WINE, program)
        left = set(videos(folder))
        print(f"two-line file: {len(seen)} videos made, lowest free {lowest / MIB:.2f} MB")
        check(len(seen) >= 2, "two-line file: videos were recorded")
        check("(046)" in log(folder), "two-line file: the drive filled (046)")
        check(set(seen) <= left, "two-line file: no video was deleted")
        check("(050)" not in log(folder), "two-line file: no 050")
    finally:
        subprocess.run(["umount", "-l", folder])
    return True


def cleanup_run(frames):
    folder = fresh(WORK, "cleanup")
    if not mounted(folder):
        return False
    try:
        write_config(folder, extended=True)
        for name, size in [(OLD_READ_ONLY, MIB)] + [(n, 100 * 1024) for n in OTHERS]:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"\0" * size)
        os.chmod(os.path.join(folder, OLD_READ_ONLY), 0o444)
        target = KEEP_FREE_MB * MIB  # an hour counts at most a tenth of the drive: 4 MB
        program = start(folder, frames)
        began = time.time()
        seen, lowest = watch(folder, program, SECONDS)
        minutes = (time.time() - began) / 60
        alive = program.poll() is None
        close_talvex(WINE, program)
        left = videos(folder)
        text = log(folder)
        deleted = [n for n in seen if n not in left]
        made = [n for n in seen if n != OLD_READ_ONLY]
        largest = max([seen[n] for n in made] + [0])
        ordered = sorted(made, key=times)
        gaps = [times(b)[0] - times(a)[1] for a, b in zip(ordered, ordered[1:])]
        longest_gap = max(gaps + [0])
        print(f"figures: {minutes:.1f} minutes recorded, {len(made)} videos made, "
              f"{len(deleted)} deleted, {text.count('(050)')} clean-ups logged; lowest free "
              f"{lowest / MIB:.2f} MB against the target of {target / MIB:.0f} MB (largest "
              f"video {largest / MIB:.2f} MB); longest gap between two videos {longest_gap:.0f} s")
        check(alive, "the program ran the whole time")
        check(len(made) >= SECONDS // 6, f"recording never stopped ({len(made)} videos)")
        check(longest_gap <= 3, f"no gap between videos over 3 s (longest {longest_gap:.0f} s)")
        check(len(deleted) >= 3, f"old videos were deleted ({len(deleted)})")
        check(lowest >= target - largest - 512 * 1024,
              f"free space never below the target by more than one video "
              f"({lowest / MIB:.2f} MB)")
        remaining = [n for n in left if n != OLD_READ_ONLY]
        if deleted and remaining:
            check(max(times(n)[0] for n in deleted) <= min(times(n)[0] for n in remaining),
                  "the oldest videos went first")
        check(OLD_READ_ONLY in left, "the read-only video is still there")
        check(all(os.path.exists(os.path.join(folder, n)) for n in OTHERS),
              "every other file is still there")
        check("(050)" in text, "050 logged")
        check(text.count("(050)") <= len(deleted), "050 once per clean-up, not per file")
        check("(046)" not in text, "no recording lost (no 046)")
        for n in remaining:
            got, errors = probe(os.path.join(folder, n))
            if got == 0 or errors:
                check(False, f"{n} plays ({got} frames, {errors})")
        check(True, f"the {len(remaining)} videos left were probed")
    finally:
        os.chmod(os.path.join(folder, OLD_READ_ONLY), 0o644) if os.path.exists(
            os.path.join(folder, OLD_READ_ONLY)) else None
        subprocess.run(["umount", "-l", folder])
    return True


def main():
    os.makedirs(WORK, exist_ok=True)
    frames = fresh(WORK, "cleanup_frames")
    for n in range(FRAMES):
        with open(os.path.join(frames, f"frame_{n:03d}.bmp"), "wb") as f:
            f.write(frame_bmp(n))
    probe_folder = fresh(WORK, "cleanup_probe")
    if not mounted(probe_folder):
        print("no tmpfs can be mounted here (not root?): skipped")
        return 77
    subprocess.run(["umount", "-l", probe_folder])
    with test_devices(WINE, BIN):
        cleanup_run(frames)
        design_run(frames)
    for f in failures:
        print("FAIL  " + f)
    return 1 if failures else 0


sys.exit(main())
