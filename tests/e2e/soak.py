#!/usr/bin/env python3
"""The capture program for MINUTES on the test camera with motion detection, "Capture
Frames" and FTP to a local pyftpdlib server. Every 10 s it prints the process's handle
count, thread count and memory as Windows counts them; at the end it checks that every
motion recording that started produced a video that ffprobe and ffmpeg read whole, and
that the program did not grow.

Growth is judged from the lowest figures of three samples after a warm-up of WARM_UP
seconds to the lowest of the last three (work in flight only ever adds to a sample). The
program may grow by what the platform itself keeps of the uploads it made meanwhile,
measured in the same run by talvex_platform_share against the same server, plus a small
margin; anything more fails the run. Runs shorter than MIN_JUDGED_MINUTES are not judged.

  soak.py WINE BIN_DIR WORK_DIR MINUTES
"""
import logging
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

WINE, BIN, WORK, MINUTES = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3]), float(sys.argv[4])
WARM_UP = 30  # seconds: libraries, the graph and the first recording settle
MIN_JUDGED_MINUTES = 2
# Beside the platform's share: a recording's files, an upload in flight, the log.
MARGIN = {"handles": 20, "threads": 2, "private_kb": 4096}
# Uploads the platform's share is measured over, at most; scaled to the program's count.
SHARE_ROUNDS = 200
# The test cameras and the product's compressor.
FILTERS = ["Z:" + os.path.join(BIN, dll).replace("/", "\\")
           for dll in ("talvex_filters.dll", "talvex_codec.dll")]


def scrambled(password):  # the configuration file's key 'c': every byte plus one
    return "c" + "".join(chr(ord(c) + 1) for c in password)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=nb_read_frames", "-of", "default=nw=1", path],
                         capture_output=True, text=True).stdout
    frames = re.search(r"nb_read_frames=(\d+)", out)
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                            capture_output=True, text=True).stderr.strip()
    return (int(frames.group(1)) if frames else 0), errors


def figures(stats):
    """The numbers of one talvex_process_stats line, or None."""
    found = dict(re.findall(r"(\w+)=(-?\d+)", stats))
    if not all(k in found for k in MARGIN):
        return None
    return {k: int(found[k]) for k in MARGIN}


def judge_growth(samples, uploads_at, share):
    """The failures of the growth check: samples are (seconds, figures) in order,
    uploads_at the seconds of every upload the server received, share the platform's
    figures over share["rounds"] uploads."""
    base = [f for t, f in samples if WARM_UP <= t][:3]
    last = samples[-3:]
    if len(samples) < 8 or not base:
        return ["too few samples to judge growth"]
    base_end = [t for t, f in samples if WARM_UP <= t][len(base) - 1]
    uploads = len([t for t in uploads_at if t > base_end])
    failures = []
    for key, margin in MARGIN.items():
        before = min(f[key] for f in base)
        after = min(f[key] for _, f in last)
        platform = max(0, math.ceil(share[key] * uploads / max(1, share["rounds"])))
        allowed = platform + margin
        print(f"{key}: {before} -> {after} ({after - before:+d}); allowed {allowed} "
              f"(the platform's share of {uploads} uploads {platform}, margin {margin})")
        if after - before > allowed:
            failures.append(f"{key} grew by {after - before}, more than {allowed}")
    return failures


def platform_share(port, uploads):
    """What the platform keeps of min(uploads, SHARE_ROUNDS) uploads by itself."""
    rounds = max(1, min(uploads, SHARE_ROUNDS))
    out = subprocess.run([WINE, os.path.join(BIN, "talvex_platform_share.exe"), str(rounds),
                          "127.0.0.1", str(port), "camera", "s3cret", "cam/share.jpg"],
                         capture_output=True, text=True).stdout
    found = figures(out)
    if found is None:
        return None
    found["rounds"] = rounds
    print(f"the platform's own share of {rounds} uploads: {out.strip()}")
    return found


def main():
    home = tempfile.mkdtemp()
    os.mkdir(os.path.join(home, "cam"))
    authorizer = DummyAuthorizer()
    authorizer.add_user("camera", "s3cret", home, perm="elradfmw")
    uploads_at = []  # seconds since the start, appended by the server's one thread

    class CountingHandler(FTPHandler):
        def on_file_received(self, file):
            if os.path.basename(file).startswith("soak.jpg"):
                uploads_at.append(time.time() - started)

    CountingHandler.authorizer = authorizer
    logging.basicConfig(level=logging.WARNING)  # the server's warnings only, not every command
    server = FTPServer(("127.0.0.1", 0), CountingHandler)
    port = server.address[1]
    started = time.time()  # set again as the program starts, before its first upload
    threading.Thread(target=server.serve_forever, daemon=True).start()

    folder = os.path.join(WORK, "soak")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    line = (f"1.4 -1 -1 Talvex_Test_Camera Talvex_MJPEG_Compressor 1 0 _ 1 127.0.0.1 {port} "
            f"camera {scrambled('s3cret')} cam/soak.jpg 1 7.500000 5 >")
    with open(os.path.join(folder, "Talvex.cfg"), "wb") as f:
        f.write(b"/* Don't edit by hand. Use Talvex to change. */\n" + line.encode())

    for dll in FILTERS:
        subprocess.run([WINE, "regsvr32", "/s", dll])
    talvex = subprocess.Popen([WINE, os.path.join(BIN, "Talvex.exe")], cwd=folder,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    started = time.time()
    end = started + MINUTES * 60
    starts, recording, next_sample = 0, False, started + 10
    samples = []
    recording_file = os.path.join(folder, "Talvex_tmp.avi")
    while time.time() < end and talvex.poll() is None:
        # A recording starts with its temporary file and is saved by renaming it.
        now_recording = os.path.exists(recording_file)
        if now_recording and not recording:
            starts += 1
        recording = now_recording
        if time.time() >= next_sample:
            next_sample += 10
            stats = subprocess.run([WINE, os.path.join(BIN, "talvex_process_stats.exe"),
                                    "Talvex.exe"], capture_output=True, text=True).stdout.strip()
            if figures(stats):
                samples.append((time.time() - started, figures(stats)))
            videos = len([n for n in os.listdir(folder) if n.startswith("Talvex_Camera_")])
            print(f"t={time.time() - started:.0f}s {stats} videos={videos} recordings={starts}",
                  flush=True)
        time.sleep(0.25)
    alive = talvex.poll() is None
    in_progress = os.path.exists(recording_file)
    talvex.send_signal(signal.SIGKILL)
    talvex.wait()
    for dll in FILTERS:
        subprocess.run([WINE, "regsvr32", "/u", "/s", dll])

    failures = []
    if not alive:
        failures.append("the program ended by itself")
    if MINUTES >= MIN_JUDGED_MINUTES:
        share = platform_share(port, len(uploads_at))
        if share is None:
            failures.append("the platform's share could not be measured")
        else:
            failures += judge_growth(samples, list(uploads_at), share)
    else:
        print(f"growth not judged: shorter than {MIN_JUDGED_MINUTES} minutes")
    server.close_all()
    videos = sorted(n for n in os.listdir(folder) if n.startswith("Talvex_Camera_"))
    for n in videos:
        frames, errors = probe(os.path.join(folder, n))
        if frames == 0 or errors:
            failures.append(f"{n}: {frames} frames {errors[:200]}")
    expected = starts - (1 if in_progress else 0)
    if len(videos) != expected:
        failures.append(f"{expected} motion recordings finished, {len(videos)} videos")
    snapshot = os.path.join(home, "cam", "soak.jpg")
    if not os.path.exists(snapshot) or open(snapshot, "rb").read(2) != b"\xff\xd8":
        failures.append("no snapshot reached the FTP server")
    log = open(os.path.join(folder, "Talvex.log"), "rb").read().decode("latin-1")
    print(f"{len(videos)} videos of {expected} motion recordings, all checked by ffprobe/ffmpeg")
    print("log entries:", len(log.splitlines()) - 2)
    for f in failures:
        print("FAIL", f)
    shutil.rmtree(home, ignore_errors=True)
    return 1 if failures else 0


sys.exit(main())
